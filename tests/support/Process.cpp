#include "Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

namespace cau::test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string BinPath(const std::string& name) {
  return std::string(CAU_BIN_DIR) + "/" + name;
}

namespace {

[[noreturn]] void Exec(std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (auto& a : args)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  ::execv(argv[0], argv.data());
  ::_exit(127);
}

}  // namespace

Finished RunProcess(std::vector<std::string> args, const fs::path& dir,
                    std::chrono::seconds limit) {
  static std::atomic<int> serial = 0;  // runs may overlap from several threads
  const std::string tag = std::to_string(::getpid()) + "-" + std::to_string(++serial);
  const fs::path outFile = dir / ("stdout-" + tag + ".txt");
  const fs::path errFile = dir / ("stderr-" + tag + ".txt");
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (!std::freopen(outFile.c_str(), "w", stdout) ||
        !std::freopen(errFile.c_str(), "w", stderr) || !std::freopen("/dev/null", "r", stdin))
      ::_exit(126);
    Exec(args);
  }
  Finished f;
  if (pid < 0)
    return f;
  int raw = 0;
  const auto until = std::chrono::steady_clock::now() + limit;
  while (::waitpid(pid, &raw, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > until) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &raw, 0);
      break;
    }
    std::this_thread::sleep_for(10ms);
  }
  f.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  f.out = ReadFile(outFile);
  f.err = ReadFile(errFile);
  fs::remove(outFile);
  fs::remove(errFile);
  return f;
}

Pushsim::Pushsim(std::vector<std::string> extra, std::string scenario) {
  if (scenario.empty())
    scenario = std::string(CAU_TEST_SOURCE_DIR) + "/tools/pushsim/examples/basic.json";
  std::vector<std::string> args = {BinPath("pushsim"), "--port", "0", "--scenario", scenario};
  args.insert(args.end(), extra.begin(), extra.end());
  int out[2];
  if (::pipe(out) != 0)
    return;
  pid_ = ::fork();
  if (pid_ == 0) {
    ::dup2(out[1], STDOUT_FILENO);
    ::close(out[0]);
    ::close(out[1]);
    Exec(args);
  }
  ::close(out[1]);
  std::string line;
  const auto until = std::chrono::steady_clock::now() + 10s;
  while (pid_ > 0 && line.find('\n') == std::string::npos &&
         std::chrono::steady_clock::now() < until) {
    pollfd p{out[0], POLLIN, 0};
    if (::poll(&p, 1, 100) > 0) {
      char buf[64];
      const auto n = ::read(out[0], buf, sizeof buf);
      if (n <= 0)
        break;
      line.append(buf, static_cast<std::size_t>(n));
    }
  }
  ::close(out[0]);
  firstLine_ = line.substr(0, line.find('\n'));
  port_ = firstLine_.starts_with("port ") ? std::atoi(firstLine_.c_str() + 5) : 0;
}

Pushsim::~Pushsim() {
  Stop();
}

int Pushsim::Stop() {
  if (pid_ > 0) {
    int raw = 0;
    if (::waitpid(pid_, &raw, WNOHANG) == 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, &raw, 0);
    }
    pid_ = -1;
    exit_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  }
  return exit_;
}

std::string Pushsim::Root() const {
  return "http://127.0.0.1:" + std::to_string(port_);
}

std::string Pushsim::Url() const {
  return Root() + "/PushServer/services/PushService";
}

LockHolder::LockHolder(const fs::path& file, Mode mode) {
  int ready[2], release[2];
  if (::pipe(ready) != 0)
    return;
  if (::pipe(release) != 0) {
    ::close(ready[0]);
    ::close(ready[1]);
    return;
  }
  pid_ = ::fork();
  if (pid_ == 0) {
    ::close(ready[0]);
    ::close(release[1]);
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT, 0666);
    struct flock fl {};
    fl.l_type = mode == Mode::Read ? F_RDLCK : F_WRLCK;
    fl.l_whence = SEEK_SET;
    const char ok = (fd >= 0 && ::fcntl(fd, F_SETLK, &fl) == 0) ? 1 : 0;
    (void)!::write(ready[1], &ok, 1);
    char c;
    (void)!::read(release[0], &c, 1);  // returns when the parent closes its end
    ::_exit(0);
  }
  ::close(ready[1]);
  ::close(release[0]);
  release_ = release[1];
  char ok = 0;
  holding_ = pid_ > 0 && ::read(ready[0], &ok, 1) == 1 && ok == 1;
  ::close(ready[0]);
}

LockHolder::~LockHolder() {
  if (release_ >= 0)
    ::close(release_);
  if (pid_ > 0)
    ::waitpid(pid_, nullptr, 0);
}

TempDir::TempDir(const std::string& prefix) {
  std::string pattern = (fs::temp_directory_path() / (prefix + "-XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr)
    throw std::runtime_error("mkdtemp failed: " + pattern);
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

}  // namespace cau::test
