// The program as a process while the host's stations, or another exclusive
// user, hold the lock file dados/lock: it ends at start-up with the lock's
// message and touches nothing; once they let go it starts.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <map>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "support/Process.h"

namespace cau {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

using test::Finished;
using test::LockHolder;
using test::ReadFile;
using test::RunProcess;

const std::string kStations =
    "[AVISO] O banco de dados está em uso por outro usuário.\n\n"
    "Feche as estações em execução do Causarium e tente novamente.\n";
const std::string kExclusive =
    "[AVISO] Outro usuário está utilizando o banco de dados exclusivamente\n";

// Every file of the installation with its bytes.
std::map<std::string, std::string> Snapshot(const fs::path& host) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(host))
    if (entry.is_regular_file())
      files[fs::relative(entry.path(), host).string()] = ReadFile(entry.path());
  return files;
}

// Whether some process holds a lock on `file` that a write lock would meet.
bool LockedElsewhere(const fs::path& file) {
  const int fd = ::open(file.c_str(), O_RDWR);
  if (fd < 0)
    return false;
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  const bool locked = ::fcntl(fd, F_GETLK, &fl) == 0 && fl.l_type != F_UNLCK;
  ::close(fd);
  return locked;
}

class StationsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("XDG_CONFIG_HOME", (root_.path() / "config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (root_.path() / "data").c_str(), 1);
    const Finished made =
        RunProcess({test::BinPath("mkhost"), host_.string(), "--cases", "12", "--user", "advogado",
                    "--password", "segredo", "--scenario", scenario_.string()},
                   root_.path());
    ASSERT_EQ(made.status, 0) << made.err;
    fs::copy_file(test::BinPath("VuzaZoz"), host_ / "VuzaZoz");
  }

  Finished Start(const std::string& url) {
    return RunProcess({(host_ / "VuzaZoz").string(), "-CONSOLE", "-AUTOSTART", "-URL", url},
                      root_.path());
  }

  test::TempDir root_{"cau-stations"};
  fs::path host_ = root_.path() / "host";
  fs::path lock_ = host_ / "dados" / "lock";
  fs::path scenario_ = root_.path() / "scenario.json";
};

TEST_F(StationsTest, HeldLockEndsTheStartWithItsMessageAndChangesNothing) {
  test::Pushsim sim({}, scenario_.string());
  ASSERT_TRUE(sim.Running());
  const struct {
    LockHolder::Mode mode;
    std::string message;
  } holders[] = {{LockHolder::Mode::Read, kStations}, {LockHolder::Mode::Write, kExclusive}};
  for (const auto& h : holders) {
    SCOPED_TRACE(h.message);
    {
      LockHolder other(lock_, h.mode);
      ASSERT_TRUE(other.Holding());
      const auto before = Snapshot(host_);
      const Finished f = Start(sim.Url());
      EXPECT_EQ(f.status, 2) << f.out << f.err;
      EXPECT_EQ(f.out, "== Atenção ==\n" + h.message) << "nothing else happens";
      EXPECT_TRUE(Snapshot(host_) == before) << "a host file changed";
    }
    // Once the other side lets go, the program starts and runs.
    const Finished f = Start(sim.Url());
    EXPECT_EQ(f.status, 0) << f.out << f.err;
  }
}

TEST_F(StationsTest, SecondCopyEndsAndTheFirstRunsOn) {
  // The first copy waits for its login, holding the lock meanwhile.
  test::Pushsim sim({"--fault", "login:delay=2500,times=1"}, scenario_.string());
  ASSERT_TRUE(sim.Running());
  auto first = std::async(std::launch::async, [&] { return Start(sim.Url()); });
  const auto until = std::chrono::steady_clock::now() + 20s;
  while (!LockedElsewhere(lock_) && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(20ms);
  ASSERT_TRUE(LockedElsewhere(lock_));

  const Finished second = Start(sim.Url());
  EXPECT_EQ(second.status, 2) << second.out << second.err;
  EXPECT_EQ(second.out, "== Atenção ==\n" + kExclusive);

  const Finished f = first.get();
  EXPECT_EQ(f.status, 0) << f.out << f.err;
  EXPECT_NE(f.out.find("< Logout\nFim\n"), std::string::npos) << f.out;
  EXPECT_FALSE(LockedElsewhere(lock_));
}

}  // namespace
}  // namespace cau
