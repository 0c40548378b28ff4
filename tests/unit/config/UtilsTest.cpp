#include "config/Utils.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>

#include "BuildInfo.h"
#include "TestSupport.h"

namespace cau {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

TEST(Utils, TextRoutines) {
  const struct {
    const char* call;
    std::function<std::string()> run;
    std::string expected;
  } cases[] = {
      {"NormalizeDate 9/3/2011", [] { return NormalizeDate("9/3/2011"); }, "09/03/2011"},
      {"NormalizeDate 09.03.11", [] { return NormalizeDate("09.03.11"); }, "09/03/2011"},
      {"NormalizeDate 09-03-75", [] { return NormalizeDate("09-03-75"); }, "09/03/1975"},
      {"NormalizeDate 09/13/2011", [] { return NormalizeDate("09/13/2011"); }, "erro"},
      {"NormalizeDate with a time", [] { return NormalizeDate("09/03/2011 14:05"); }, "erro"},
      {"NormalizeDate empty", [] { return NormalizeDate(""); }, "erro"},
      {"NormalizeDate blanks", [] { return NormalizeDate("   "); }, "erro"},
      {"NormalizeDate 1/1/19", [] { return NormalizeDate("1/1/19"); }, "01/01/19"},
      {"NormalizeDate 31/02/2011", [] { return NormalizeDate("31/02/2011"); }, "31/02/2011"},
      {"NormalizeDate 1/1/49", [] { return NormalizeDate("1/1/49"); }, "01/01/2049"},
      {"NormalizeDate 1/1/50", [] { return NormalizeDate("1/1/50"); }, "01/01/1950"},
      {"NormalizeDate blanks and no-break spaces",
       [] { return NormalizeDate(" \t09/03/\u00A02011\u00A0 "); }, "09/03/2011"},
      {"NormalizeDate dots and dashes", [] { return NormalizeDate("9.3-2011"); }, "erro"},
      {"NormalizeDate letters", [] { return NormalizeDate("ab/cd/2011"); }, "erro"},
      {"NormalizeDate accents count as one character", [] { return NormalizeDate("09/03/11é"); },
       "09/03/2011"},
      {"NormalizeDate too short", [] { return NormalizeDate("1/1/"); }, "erro"},
      {"DateToKey 31/02/2011", [] { return DateToKey("31/02/2011"); }, "20110231"},
      {"DateToKey 09/03/1949", [] { return DateToKey("09/03/1949"); }, "erro"},
      {"DateToKey 09/03/1950", [] { return DateToKey("09/03/1950"); }, "19500309"},
      {"DateToKey empty", [] { return DateToKey(""); }, ""},
      {"DateToKey month 13", [] { return DateToKey("09/13/2011"); }, "erro"},
      {"DateToKey day 0", [] { return DateToKey("00/03/2011"); }, "erro"},
      {"DateToKey day 32", [] { return DateToKey("32/03/2011"); }, "erro"},
      {"DateToKey not a date", [] { return DateToKey("erro"); }, "erro"},
      {"DateToKey short", [] { return DateToKey("9/3/2011"); }, "erro"},
      {"TextAfter", [] { return TextAfter("Dt_1=09/03/2011", "="); }, "09/03/2011"},
      {"TextAfter at the end", [] { return TextAfter("abc=", "="); }, ""},
      {"TextAfter trims", [] { return TextAfter("a =  b c  ", "="); }, "b c"},
      {"TextAfter untrimmed", [] { return TextAfter("a =  b ", "=", false); }, "  b "},
      {"TextAfter first occurrence", [] { return TextAfter("a=b=c", "="); }, "b=c"},
      {"TextAfter missing", [] { return TextAfter("abc", "="); }, ""},
      {"TextAfter empty separator", [] { return TextAfter("abc", ""); }, ""},
      {"TextAfter long separator",
       [] { return TextAfter("url: novaVersaoUrl=http://x", "novaVersaoUrl="); }, "http://x"},
      {"TextBefore", [] { return TextBefore(" Dt_1 =09/03/2011", "="); }, "Dt_1"},
      {"TextBefore at the start", [] { return TextBefore("=abc", "="); }, ""},
      {"TextBefore missing", [] { return TextBefore("abc", "="); }, ""},
      {"RemoveAll", [] { return RemoveAll("14:05", ":"); }, "1405"},
      {"RemoveAll without overlap", [] { return RemoveAll("aaaab", "aa"); }, "b"},
      {"RemoveAll of nothing", [] { return RemoveAll("abc", ""); }, "abc"},
      {"RemoveAll of a character", [] { return RemoveAll("a\u00A0b\u00A0", "\u00A0"); }, "ab"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.run(), c.expected) << c.call;
}

TEST(Utils, VersionText) {
  EXPECT_EQ(FormatVersion(0, 9, 9, 1, false, false), "0.9.9.1");
  EXPECT_EQ(FormatVersion(0, 9, 9, 1, true, false), "0.9.9.1 (debug)");
  EXPECT_EQ(FormatVersion(0, 9, 9, 1, false, true), "0.9.9.1 (pre-release)");
  EXPECT_EQ(FormatVersion(10, 0, 2, 33, true, true), "10.0.2.33 (debug,pre-release)");
  EXPECT_EQ(
      ExeVersion(),
      FormatVersion(CAU_VERSION_MAJOR, CAU_VERSION_MINOR, CAU_VERSION_PATCH, CAU_VERSION_TWEAK,
                    std::string_view(CAU_BUILD_TYPE) == "Debug", CAU_PRERELEASE));
}

class ShellMoveTest : public ::testing::Test {
 protected:
  test::TempDir tmp_;
};

TEST_F(ShellMoveTest, MovesFilesAndFolders) {
  const fs::path root = tmp_.path();
  WriteFile(root / "a.txt", "A");
  EXPECT_TRUE(ShellMove(root / "a.txt", root / "novo" / "b.txt"));  // missing folders made
  EXPECT_EQ(ReadFile(root / "novo" / "b.txt"), "A");
  EXPECT_FALSE(fs::exists(root / "a.txt"));

  WriteFile(root / "pasta" / "sub" / "x.dbf", "X");
  EXPECT_TRUE(ShellMove(root / "pasta", root / "destino"));
  EXPECT_EQ(ReadFile(root / "destino" / "sub" / "x.dbf"), "X");
  EXPECT_FALSE(fs::exists(root / "pasta"));

  // Nothing is replaced and nothing comes from nowhere.
  WriteFile(root / "c.txt", "C");
  EXPECT_FALSE(ShellMove(root / "c.txt", root / "novo" / "b.txt"));
  EXPECT_EQ(ReadFile(root / "novo" / "b.txt"), "A");
  EXPECT_EQ(ReadFile(root / "c.txt"), "C");
  EXPECT_FALSE(ShellMove(root / "nada", root / "d.txt"));
}

TEST_F(ShellMoveTest, MovesAcrossFileSystems) {
  struct stat shm {
  }, here{};
  if (::stat("/dev/shm", &shm) != 0 || ::stat(tmp_.path().c_str(), &here) != 0 ||
      shm.st_dev == here.st_dev)
    GTEST_SKIP() << "no second file system at /dev/shm";
  test::ScopedEnv env("TMPDIR", "/dev/shm");
  test::TempDir other;
  WriteFile(other.path() / "pasta" / "sub" / "x.dbf", "X");
  WriteFile(other.path() / "f.txt", "F");
  EXPECT_TRUE(ShellMove(other.path() / "pasta", tmp_.path() / "pasta"));
  EXPECT_TRUE(ShellMove(other.path() / "f.txt", tmp_.path() / "f.txt"));
  EXPECT_EQ(ReadFile(tmp_.path() / "pasta" / "sub" / "x.dbf"), "X");
  EXPECT_EQ(ReadFile(tmp_.path() / "f.txt"), "F");
  EXPECT_TRUE(fs::is_empty(other.path()));
}

class SpecialFolderTest : public test::IsolatedHomeTest {};

TEST_F(SpecialFolderTest, DocumentsConfigurationAndData) {
  EXPECT_EQ(SpecialFolderPath(5), Home().string());  // no documents folder configured
  WriteFile(ConfigDir() / "user-dirs.dirs",
            "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Mesa\"\n"
            "XDG_DOCUMENTS_DIR=\"$HOME/Documentos\"\n");
  EXPECT_EQ(SpecialFolderPath(5), (Home() / "Documentos").string());
  {
    test::ScopedEnv env("XDG_DOCUMENTS_DIR", "/srv/docs");
    EXPECT_EQ(SpecialFolderPath(5), "/srv/docs");
  }
  EXPECT_EQ(SpecialFolderPath(26), ConfigDir().string());
  EXPECT_EQ(SpecialFolderPath(28), DataDirHome().string());
  EXPECT_EQ(SpecialFolderPath(12345), "");
  test::ScopedEnv relative("XDG_DATA_HOME", "relative/is/ignored");
  EXPECT_EQ(SpecialFolderPath(28), (Home() / ".local" / "share").string());
}

}  // namespace
}  // namespace cau
