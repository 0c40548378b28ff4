// The unregistrations kept beside cauPush.cfg until the service accepts them.
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
  fs::path QueuePath() const { return tmp_.path() / "dados" / "cauPushDescadastrar.cfg"; }

  test::TempDir tmp_;
};

TEST_F(PendingUnregistrationsTest, TheQueueHasAFileOfItsOwn) {
  TcauPushCfg cfg(AppDir());
  EXPECT_EQ(cfg.QueuePath(), QueuePath());
  EXPECT_EQ(cfg.GetPendingUnregistrations(), Keys{});

  const std::string others = "; estado do push\r\n[CAUPUSH]\r\nlastIdAviso=41\r\n";
  WriteFile(CfgPath(), others);
  cfg.SetPendingUnregistrations({"17.1.0001-ação", "5.x", "17.2"});
  EXPECT_EQ(ReadFile(QueuePath()),
            "[DESCADASTRAR]\r\n1=17.1.0001-a\xE7\xE3o\r\n2=5.x\r\n3=17.2\r\n");  // Windows-1252
  EXPECT_EQ(ReadFile(CfgPath()), others);
  EXPECT_EQ(cfg.GetPendingUnregistrations(), (Keys{"17.1.0001-ação", "5.x", "17.2"}));

  cfg.SetLastIdHistorico(9);
  cfg.SetPendingUnregistrations({"5.x"});
  EXPECT_EQ(cfg.GetPendingUnregistrations(), Keys{"5.x"});
  EXPECT_EQ(cfg.GetLastIdHistorico(), 9);
  EXPECT_EQ(cfg.GetLastIdAviso(), 41);

  cfg.SetPendingUnregistrations({});
  EXPECT_EQ(ReadFile(QueuePath()), "");
  EXPECT_EQ(cfg.GetPendingUnregistrations(), Keys{});
}

TEST_F(PendingUnregistrationsTest, AQueueKeptInTheStateFileMovesToItsOwnFile) {
  // Where earlier versions kept it, hand-edited: several copies, odd lines.
  WriteFile(CfgPath(),
            "[descadastrar]\r\n 3 = 17.c \r\n1=17.a\r\nx=17.nao\r\n0=17.zero\r\n2=\r\n1=17.dup\r\n"
            "[CAUPUSH]\r\n4=17.outra\r\n[ Descadastrar ]\r\n4=17.d\r\nsem igual\r\n");
  TcauPushCfg cfg(AppDir());
  EXPECT_EQ(cfg.GetPendingUnregistrations(), (Keys{"17.a", "17.c", "17.d"}));

  cfg.SetPendingUnregistrations(cfg.GetPendingUnregistrations());
  EXPECT_EQ(ReadFile(QueuePath()), "[DESCADASTRAR]\r\n1=17.a\r\n2=17.c\r\n3=17.d\r\n");
  EXPECT_EQ(ReadFile(CfgPath()), "[CAUPUSH]\r\n4=17.outra\r\n");

  // Emptied before its first write of its own, the queue stays empty.
  WriteFile(CfgPath(), "[DESCADASTRAR]\r\n1=17.a\r\n");
  fs::remove(QueuePath());
  cfg.SetPendingUnregistrations({});
  EXPECT_TRUE(fs::exists(QueuePath()));
  EXPECT_EQ(cfg.GetPendingUnregistrations(), Keys{});

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
    EXPECT_EQ(e.path(), QueuePath().string());
  }
}

}  // namespace
}  // namespace cau
