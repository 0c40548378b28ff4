#include "db/TravaBanco.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "support/Process.h"

namespace cau {
namespace {

namespace fs = std::filesystem;

class TravaBancoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("trava-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "dados");
    appDir_ = dir_.string() + "/";
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path dir_;
  std::string appDir_;
};

TEST_F(TravaBancoTest, FreshInstallationCreatesAnEmptyFile) {
  DatabaseLock lock;
  std::string message;
  ASSERT_TRUE(TravaBanco(appDir_, lock, message));
  EXPECT_TRUE(lock.Held());
  EXPECT_TRUE(message.empty());
  EXPECT_EQ(fs::file_size(dir_ / "dados" / "lock"), 0u);
  lock.Release();
  EXPECT_TRUE(fs::exists(dir_ / "dados" / "lock"));
}

TEST_F(TravaBancoTest, LeftoverFileBlocksNothing) {
  std::ofstream(dir_ / "dados" / "LOCK") << "old";
  DatabaseLock lock;
  std::string message;
  ASSERT_TRUE(TravaBanco(appDir_, lock, message));
  EXPECT_FALSE(fs::exists(dir_ / "dados" / "lock"));  // the host's spelling is kept
  EXPECT_EQ(fs::file_size(dir_ / "dados" / "LOCK"), 3u);
}

TEST_F(TravaBancoTest, HeldElsewhere) {
  std::ofstream(dir_ / "dados" / "lock");
  const std::string stations =
      "O banco de dados está em uso por outro usuário.\r\n\r\n"
      "Feche as estações em execução do Causarium e tente novamente.";
  const std::string exclusive = "Outro usuário está utilizando o banco de dados exclusivamente";
  using Mode = test::LockHolder::Mode;
  struct Case {
    Mode mode;
    std::string expected;
  } cases[] = {{Mode::Read, stations}, {Mode::Write, exclusive}};
  for (const auto& c : cases) {
    DatabaseLock lock;
    std::string message;
    {
      test::LockHolder other(dir_ / "dados" / "lock", c.mode);
      ASSERT_TRUE(other.Holding());
      EXPECT_FALSE(TravaBanco(appDir_, lock, message));
      EXPECT_FALSE(lock.Held());
      EXPECT_EQ(message, c.expected);
    }
    // Once the other side lets go, the lock is ours.
    message.clear();
    EXPECT_TRUE(TravaBanco(appDir_, lock, message)) << message;
  }
}

TEST_F(TravaBancoTest, SecondCopyIsRefusedAndFirstKeepsItsLock) {
  DatabaseLock first, second;
  std::string message;
  ASSERT_TRUE(TravaBanco(appDir_, first, message));
  EXPECT_FALSE(TravaBanco(appDir_, second, message));
  EXPECT_EQ(message, "Outro usuário está utilizando o banco de dados exclusivamente");
  EXPECT_TRUE(first.Held());
  DatabaseLock third;
  EXPECT_FALSE(TravaBanco(appDir_, third, message));  // still held by the first
}

TEST_F(TravaBancoTest, MissingDataFolder) {
  fs::remove_all(dir_ / "dados");
  DatabaseLock lock;
  std::string message;
  EXPECT_FALSE(TravaBanco(appDir_, lock, message));
  EXPECT_EQ(message, "Não foi possível travar o banco de dados");
}

}  // namespace
}  // namespace cau
