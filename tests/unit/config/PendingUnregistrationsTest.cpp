// The unregistrations kept in cauPush.cfg until the service accepts them.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "config/Errors.h"
#include "config/cauPushCfg.h"

namespace cau {
namespace {

namespace fs = std::filesystem;
using Keys = std::vector<std::string>;
using test::ReadFile;
using test::WriteFile;

class PendingUnregistrationsTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(tmp_.path() / "dados"); }
  std::string AppDir() const { return tmp_.path().string() + "/"; }
  fs::path CfgPath() const { return tmp_.path() / "dados" / "cauPush.cfg"; }

  test::TempDir tmp_;
};

TEST_F(PendingUnregistrationsTest, SectionIsReplacedAndTheRestOfTheFileKept) {
  TcauPushCfg cfg(AppDir());
  cfg.SetPendingUnregistrations({});
  EXPECT_FALSE(fs::exists(CfgPath()));  // nothing to keep, nothing written
  EXPECT_EQ(cfg.GetPendingUnregistrations(), Keys{});

  const std::string others =
      "; estado do push\n[CAUPUSH]\nlastIdAviso=41\n\n[OUTRA]\nchave=valor";  // no final line end
  WriteFile(CfgPath(), others);
  cfg.SetPendingUnregistrations({"17.1.0001-ação", "5.x", "17.2"});
  EXPECT_EQ(ReadFile(CfgPath()),
            others + "\n[DESCADASTRAR]\n1=17.1.0001-a\xE7\xE3o\n2=5.x\n3=17.2\n");  // Windows-1252
  EXPECT_EQ(cfg.GetPendingUnregistrations(), (Keys{"17.1.0001-ação", "5.x", "17.2"}));

  cfg.SetLastIdHistorico(9);  // the other keys stay writable beside the section
  cfg.SetPendingUnregistrations({"5.x"});
  EXPECT_EQ(cfg.GetPendingUnregistrations(), Keys{"5.x"});
  EXPECT_EQ(cfg.GetLastIdHistorico(), 9);
  EXPECT_EQ(cfg.GetLastIdAviso(), 41);

  cfg.SetPendingUnregistrations({});
  EXPECT_EQ(ReadFile(CfgPath()).find("DESCADASTRAR"), std::string::npos);
  EXPECT_EQ(cfg.GetLastIdHistorico(), 9);
}

TEST_F(PendingUnregistrationsTest, HandEditedSectionsRead) {
  WriteFile(CfgPath(),
            "[descadastrar]\r\n 3 = 17.c \r\n1=17.a\r\nx=17.nao\r\n0=17.zero\r\n2=\r\n1=17.dup\r\n"
            "[CAUPUSH]\r\n4=17.outra\r\n[ Descadastrar ]\r\n4=17.d\r\nsem igual\r\n");
  TcauPushCfg cfg(AppDir());
  EXPECT_EQ(cfg.GetPendingUnregistrations(), (Keys{"17.a", "17.c", "17.d"}));

  // A rewrite merges the copies into one section at the end.
  cfg.SetPendingUnregistrations(cfg.GetPendingUnregistrations());
  EXPECT_EQ(ReadFile(CfgPath()),
            "[CAUPUSH]\r\n4=17.outra\r\n[DESCADASTRAR]\r\n1=17.a\r\n2=17.c\r\n3=17.d\r\n");

  cfg.SetPendingUnregistrations({"17.linha\r\nquebrada"});
  EXPECT_EQ(cfg.GetPendingUnregistrations(), Keys{"17.linha  quebrada"});
}

TEST_F(PendingUnregistrationsTest, FailedWriteNamesTheFile) {
  fs::remove_all(tmp_.path() / "dados");
  WriteFile(tmp_.path() / "dados", "not a folder");
  TcauPushCfg cfg(AppDir());
  try {
    cfg.SetPendingUnregistrations({"17.a"});
    FAIL() << "no error";
  } catch (const FileError& e) {
    EXPECT_EQ(e.path(), CfgPath().string());
  }
}

}  // namespace
}  // namespace cau
