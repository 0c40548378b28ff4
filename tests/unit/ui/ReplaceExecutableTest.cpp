// Putting a new executable in place: the backup holds the version replaced,
// and installing the same version again keeps that backup.
#include <filesystem>

#include <gtest/gtest.h>

#include "support/Process.h"
#include "ui/ReplaceExecutable.h"

namespace cau {
namespace {

namespace fs = std::filesystem;

TEST(ReplaceExecutable, BackupHoldsTheVersionReplacedEvenWhenInstalledTwice) {
  const test::TempDir dir("replace-exe");
  const fs::path exe = dir.path() / "VuzaZoz";
  test::WriteFile(exe, "old program");
  fs::permissions(exe, fs::perms::owner_all | fs::perms::group_read, fs::perm_options::replace);
  test::WriteFile(BackupPath(exe), "older backup");

  ReplaceExecutable(exe, "new program");
  EXPECT_EQ(test::ReadFile(exe), "new program");
  EXPECT_EQ(test::ReadFile(BackupPath(exe)), "old program");
  EXPECT_EQ(fs::status(exe).permissions(), fs::perms::owner_all | fs::perms::group_read);

  ReplaceExecutable(exe, "new program");
  EXPECT_EQ(test::ReadFile(exe), "new program");
  EXPECT_EQ(test::ReadFile(BackupPath(exe)), "old program");
  int files = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir.path()))
    ++files;
  EXPECT_EQ(files, 2);  // no temporary file left behind
}

}  // namespace
}  // namespace cau
