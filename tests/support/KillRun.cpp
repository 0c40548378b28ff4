#include "KillRun.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

namespace cau::test {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

KillResult RunAndKill(std::vector<std::string> args,
                      const std::vector<std::pair<std::string, std::string>>& env,
                      const fs::path& dir, std::chrono::microseconds killAfter,
                      const std::function<bool()>& armed, std::chrono::seconds limit) {
  const fs::path outFile = dir / ("killrun-" + std::to_string(::getpid()) + ".txt");
  std::vector<char*> argv;
  for (auto& a : args)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  KillResult r;
  std::fflush(nullptr);  // or the child's freopen writes the parent's pending output again
  const auto start = Clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    for (const auto& [name, value] : env)
      ::setenv(name.c_str(), value.c_str(), 1);
    if (!std::freopen(outFile.c_str(), "w", stdout) || !std::freopen("/dev/null", "r", stdin))
      ::_exit(126);
    ::dup2(STDOUT_FILENO, STDERR_FILENO);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  if (pid < 0)
    return r;
  int raw = 0;
  const auto giveUp = start + limit;
  bool waitingForArm = killAfter.count() > 0 && armed;
  auto killAt = killAfter.count() > 0 && !armed ? start + killAfter : giveUp;
  bool done = false;
  // Short waits until shortly before the moment, then a precise sleep.
  while (!done && Clock::now() + std::chrono::milliseconds(1) < killAt) {
    done = ::waitpid(pid, &raw, WNOHANG) == pid;
    if (!done && waitingForArm && armed()) {
      waitingForArm = false;
      killAt = std::min(giveUp, Clock::now() + killAfter);
    }
    if (!done)
      std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  if (!done) {
    std::this_thread::sleep_until(killAt);
    ::kill(pid, SIGKILL);  // harmless when it has just ended: it waits to be reaped
    ::waitpid(pid, &raw, 0);
  }
  r.elapsed = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
  r.killed = WIFSIGNALED(raw) && WTERMSIG(raw) == SIGKILL;
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = ReadFile(outFile);
  fs::remove(outFile);
  return r;
}

KillResult RunProgramAndKill(const HostRun& host, const Pushsim& sim,
                             const std::vector<std::pair<std::string, std::string>>& env,
                             std::chrono::microseconds killAfter,
                             const std::function<bool()>& armed) {
  return RunAndKill(
      {(host.Host() / "VuzaZoz").string(), "-CONSOLE", "-AUTOSTART", "-URL", sim.Url()}, env,
      host.Root(), killAfter, armed);
}

}  // namespace cau::test
