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
  // What it wrote first on its output ("port N" once it listens).
  const std::string& FirstLine() const { return firstLine_; }
  // Ends it with SIGTERM unless it ended already; its exit status (128 +
  // signal when a signal ended it). Later calls return the same.
  int Stop();
  // The service's address, as -URL takes it.
  std::string Url() const;
  // The server's root, "http://127.0.0.1:PORT".
  std::string Root() const;

 private:
  pid_t pid_ = -1;
  int port_ = 0;
  int exit_ = -1;
  std::string firstLine_;
};

// Another process holding a POSIX record lock over the whole of `file`
// (created when missing) until destroyed: a read lock is how the host's
// stations hold dados/lock, a write lock how an exclusive user does.
class LockHolder {
 public:
  enum class Mode { Read, Write };
  LockHolder(const std::filesystem::path& file, Mode mode);
  ~LockHolder();  // lets go and waits for the process to end
  LockHolder(const LockHolder&) = delete;
  LockHolder& operator=(const LockHolder&) = delete;

  // The process took the lock (false: it could not, and has ended).
  bool Holding() const { return holding_; }

 private:
  pid_t pid_ = -1;
  int release_ = -1;  // closing it lets the process go
  bool holding_ = false;
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
