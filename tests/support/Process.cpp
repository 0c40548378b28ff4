#include "Process.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

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
  static int serial = 0;
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
  port_ = line.starts_with("port ") ? std::atoi(line.c_str() + 5) : 0;
}

Pushsim::~Pushsim() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
}

std::string Pushsim::Root() const {
  return "http://127.0.0.1:" + std::to_string(port_);
}

std::string Pushsim::Url() const {
  return Root() + "/PushServer/services/PushService";
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
