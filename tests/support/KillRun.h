// The program killed mid-run: started like HostRun::Run, ended with SIGKILL
// after a chosen delay, or by the engine's own cut hook at a chosen write
// (db/xbase/WriteCut.h), for the crash-recovery tests.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "support/HostRun.h"
#include "support/Process.h"

namespace cau::test {

struct KillResult {
  bool killed = false;  // SIGKILL ended it (else it ran to its end first)
  int status = -1;      // exit status when it ended by itself
  std::chrono::microseconds elapsed{0};
  std::string out;
};

// Runs args[0] with `args` and `env` added to the environment (stdin from
// /dev/null, output to a file under `dir`). With `killAfter` above zero it
// sends SIGKILL that long after the start, or, when `armed` is given, after
// `armed` (asked every few hundred microseconds) first returns true, unless
// the process ended before; in any case it is killed at `limit`.
KillResult RunAndKill(std::vector<std::string> args,
                      const std::vector<std::pair<std::string, std::string>>& env,
                      const std::filesystem::path& dir, std::chrono::microseconds killAfter,
                      const std::function<bool()>& armed = {},
                      std::chrono::seconds limit = std::chrono::seconds(300));

// The program of `host` as HostRun::Run starts it, through RunAndKill.
KillResult RunProgramAndKill(const HostRun& host, const Pushsim& sim,
                             const std::vector<std::pair<std::string, std::string>>& env,
                             std::chrono::microseconds killAfter,
                             const std::function<bool()>& armed = {});

}  // namespace cau::test
