// Real processes for the tests: running a tool or the program to its end,
// and the stand-in service for the life of an object.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace cau::test {

std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::string& bytes);

// A built tool or program: CAU_BIN_DIR + "/" + name.
std::string BinPath(const std::string& name);

struct Finished {
  int status = -1;  // exit status; -1 when killed or it did not end in time
  std::string out, err;
};

// Runs args[0] with `args` (stdin from /dev/null), standard output and error
// into files under `dir`; kills it after `limit`.
Finished RunProcess(std::vector<std::string> args, const std::filesystem::path& dir,
                    std::chrono::seconds limit = std::chrono::seconds(120));

// pushsim on a free loopback port, stopped with SIGTERM on destruction.
class Pushsim {
 public:
  // `scenario` empty: tools/pushsim/examples/basic.json.
  explicit Pushsim(std::vector<std::string> extra = {}, std::string scenario = {});
  ~Pushsim();
  Pushsim(const Pushsim&) = delete;
  Pushsim& operator=(const Pushsim&) = delete;

  bool Running() const { return port_ > 0; }
  int Port() const { return port_; }
  // The service's address, as -URL takes it.
  std::string Url() const;
  // The server's root, "http://127.0.0.1:PORT".
  std::string Root() const;

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

// A fresh folder under the system's temporary folder, removed on destruction.
class TempDir {
 public:
  explicit TempDir(const std::string& prefix);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace cau::test
