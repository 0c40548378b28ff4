#include "config/cauPushCfg.h"

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "config/Errors.h"

namespace cau {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

class PushCfgTest : public ::testing::Test {
 protected:
  std::string AppDir() const { return tmp_.path().string() + "/"; }
  fs::path CfgPath() const { return tmp_.path() / "dados" / "cauPush.cfg"; }
  void SetUp() override { fs::create_directories(tmp_.path() / "dados"); }

  test::TempDir tmp_;
};

TEST_F(PushCfgTest, FreshInstallationReadsZero) {
  TcauPushCfg cfg(AppDir());
  EXPECT_EQ(cfg.File().Path(), CfgPath());
  EXPECT_EQ(cfg.GetLastIdAviso(), 0);
  EXPECT_EQ(cfg.GetLastIdHistorico(), 0);
  EXPECT_EQ(cfg.GetProcsAtual(), 0);
  EXPECT_EQ(cfg.GetMaxProcs(), 0);
  EXPECT_EQ(cfg.GetMaxProcsAnt(), 0);
  EXPECT_EQ(cfg.GetAtualizadoEm(), "");
  EXPECT_FALSE(fs::exists(CfgPath()));
}

TEST_F(PushCfgTest, WritesAtOnceAndReadsAfresh) {
  TcauPushCfg cfg(tmp_.path().string());  // no final "/"
  cfg.SetLastIdAviso(41);
  cfg.SetLastIdHistorico(9000000001);
  cfg.SetProcsAtual(120);
  cfg.SetMaxProcs(130);
  cfg.SetMaxProcsAnt(99);
  cfg.SetAtualizadoEm("2026-12-10 14:05:33.0");
  EXPECT_EQ(ReadFile(CfgPath()),
            "[CAUPUSH]\r\nlastIdAviso=41\r\nlastIdHistorico=9000000001\r\nprocsAtual=120\r\n"
            "maxProcs=130\r\nmaxProcsAnt=99\r\natualizadoEm=2026-12-10 14:05:33.0\r\n");

  TcauPushCfg other(AppDir());
  EXPECT_EQ(other.GetLastIdHistorico(), 9000000001);
  WriteFile(CfgPath(), "[caupush]\nLASTIDAVISO = 77\nmaxProcs=muitos\nprocsAtual=\n");
  EXPECT_EQ(cfg.GetLastIdAviso(), 77);  // nothing cached
  EXPECT_EQ(cfg.GetMaxProcs(), 0);      // not an integer
  EXPECT_EQ(cfg.GetProcsAtual(), 0);
}

TEST_F(PushCfgTest, FailedWriteNamesTheFile) {
  fs::remove(tmp_.path() / "dados");
  WriteFile(tmp_.path() / "dados", "not a folder");
  TcauPushCfg cfg(AppDir());
  EXPECT_EQ(cfg.GetLastIdAviso(), 0);
  try {
    cfg.SetLastIdAviso(5);
    FAIL() << "no error";
  } catch (const FileError& e) {
    EXPECT_EQ(e.path(), CfgPath().string());
    EXPECT_NE(std::string(e.what()).find("cauPush.cfg"), std::string::npos) << e.what();
  }
}

TEST_F(PushCfgTest, LogoutReportCarriesTheMaximumIntoANewMonth) {
  const struct {
    const char* stored;
    const char* received;
    std::int64_t maxProcsAnt;  // after the report; before it 7, maxProcs 50
  } cases[] = {
      {"2026-12-01 08:00:00.00", "2026-12-10 14:05:33.12", 7},  // same month
      {"2026-11-30 23:59:59.99", "2026-12-01 00:00:01.00", 50},
      {"2025-12-10 10:00:00.00", "2026-12-10 10:00:00.00", 50},  // a year later
      {"", "2026-12-10 10:00:00.00", 50},                        // fresh: zero date
      {"lixo", "2026-12-10 10:00:00.00", 50},
      {"", "lixo", 7},  // both the zero date
  };
  for (const auto& c : cases) {
    TcauPushCfg cfg(AppDir());
    cfg.SetAtualizadoEm(c.stored);
    cfg.SetMaxProcs(50);
    cfg.SetMaxProcsAnt(7);
    cfg.SaveLogoutReport(c.received, 44, 60);
    EXPECT_EQ(cfg.GetMaxProcsAnt(), c.maxProcsAnt) << c.stored << " -> " << c.received;
    EXPECT_EQ(cfg.GetAtualizadoEm(), c.received);
    EXPECT_EQ(cfg.GetMaxProcs(), 60);
    EXPECT_EQ(cfg.GetProcsAtual(), 44);
  }
}

TEST(ServerStamp, Parses) {
  const struct {
    const char* text;
    std::optional<LocalTime> expected;
  } cases[] = {
      {"2026-12-10 14:05:33.12", LocalTime{2026, 12, 10, 14, 5, 33, 120}},
      {"2026-12-10 14:05:33.5", LocalTime{2026, 12, 10, 14, 5, 33, 500}},
      {"2026-12-10 14:05:33", LocalTime{2026, 12, 10, 14, 5, 33, 0}},
      {"2026-1-2 4:05", LocalTime{2026, 1, 2, 4, 5, 0, 0}},
      {"2024-02-29", LocalTime{2024, 2, 29, 0, 0, 0, 0}},
      {"2026-02-29 10:00:00.00", std::nullopt},
      {"2026-13-01 10:00:00.00", std::nullopt},
      {"2026-12-10 24:00:00.00", std::nullopt},
      {"10/12/2026 14:05:33", std::nullopt},
      {"2026-12-10 14:05:33.12 extra", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) {
    const auto got = ParseServerStamp(c.text);
    ASSERT_EQ(got.has_value(), c.expected.has_value()) << c.text;
    if (got) {
      const LocalTime& e = *c.expected;
      EXPECT_EQ(std::tie(got->year, got->month, got->day, got->hour, got->minute, got->second,
                         got->millisecond),
                std::tie(e.year, e.month, e.day, e.hour, e.minute, e.second, e.millisecond))
          << c.text;
    }
  }
}

}  // namespace
}  // namespace cau
