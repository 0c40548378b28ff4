// The update dialog over real HTTP against the stand-in update server,
// replacing a copy of the program in a temporary folder; and the program
// itself, whose start-up check meets that server.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "AuxRecorder.h"
#include "TestSigning.h"
#include "config/Errors.h"
#include "config/Utils.h"
#include "support/Process.h"
#include "ui/UpdateSignature.h"
#include "ui/autoupdate.h"

namespace cau {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using test::Pushsim;
using test::ReadFile;
using test::WriteFile;

const std::string kNewVersion = std::string(
                                    "\x7f"
                                    "ELF nova vers\xC3\xA3o ") +
                                std::string(100000, 'x');

// A folder that refuses new entries and renames, root included (through the
// immutable flag); undone on destruction.
class FrozenFolder {
 public:
  explicit FrozenFolder(fs::path dir) : dir_(std::move(dir)) {
    fs::permissions(dir_, fs::perms(0555));
    if (::geteuid() == 0)
      immutable_ = SetImmutable(true);
  }
  ~FrozenFolder() {
    if (immutable_)
      SetImmutable(false);
    fs::permissions(dir_, fs::perms(0755));
  }
  // True when a new file really cannot be made in it.
  bool Holds() const {
    const fs::path probe = dir_ / "probe";
    const int fd = ::open(probe.c_str(), O_CREAT | O_WRONLY, 0600);
    if (fd < 0)
      return true;
    ::close(fd);
    ::unlink(probe.c_str());
    return false;
  }

 private:
  bool SetImmutable(bool on) {
    const int fd = ::open(dir_.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0)
      return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
      flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
      ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return ok;
  }
  fs::path dir_;
  bool immutable_ = false;
};

class UpdateFlowTest : public ::testing::Test {
 protected:
  UpdateFlowTest() {
    fs::create_directories(app_);
    fs::create_directories(server_ / "downloads");
    fs::copy_file(test::BinPath("VuzaZoz"), exe_);
    original_ = ReadFile(exe_);
    WriteFile(server_ / "downloads" / "VuzaZoz", kNewVersion);
  }

  // pushsim announcing a version newer than ours with `update` merged in.
  std::unique_ptr<Pushsim> Server(json update, std::vector<std::string> extra = {}) {
    json u = {{"version", "99.0.0.0"}, {"file", "VuzaZoz"}, {"folder", "downloads"}};
    u.update(update);
    const fs::path scenario = server_ / "scenario.json";
    WriteFile(scenario, json{{"update", u}}.dump());
    auto sim = std::make_unique<Pushsim>(std::move(extra), scenario.string());
    EXPECT_TRUE(sim->Running());
    return sim;
  }
  static std::string CheckAddress(const Pushsim& sim) {
    return sim.Root() + "/checaversao.php?origem=VUZAZOZ&versao=" + ExeVersion();
  }
  void Check(const Pushsim& sim) {
    HttpUpdateClient client;
    RunUpdateCheck(desktop_, client, exe_, CheckAddress(sim), &desktop_);
  }
  std::vector<std::string> BoxTexts() const {
    std::vector<std::string> texts;
    for (const test::Box& b : desktop_.boxes)
      texts.push_back(b.text);
    return texts;
  }

  test::TempDir dir_{"update-flow"};
  fs::path app_ = dir_.path() / "app";
  fs::path server_ = dir_.path() / "server";
  fs::path exe_ = app_ / "VuzaZoz";
  fs::path backup_ = app_ / "VuzaZoz.bak";
  std::string original_;
  test::AuxRecorder desktop_;
};

TEST_F(UpdateFlowTest, NoNewerVersionNeverShowsTheDialog) {
  auto sim = Server({{"version", ""}});  // answers "versaoAtual=" without the key
  Check(*sim);
  EXPECT_FALSE(desktop_.EverShown());
  EXPECT_TRUE(desktop_.boxes.empty());
  EXPECT_EQ(ReadFile(exe_), original_);
}

TEST_F(UpdateFlowTest, SignedDownloadReplacesTheCopyAndReplacesAnEarlierBackup) {
  WriteFile(backup_, "an earlier update's backup");
  fs::permissions(exe_, fs::perms(0751));
  auto sim = Server({{"signature", test::SignWithTestKey(kNewVersion)}});
  HttpUpdateClient client;
  TfrmAutoUpdate dialog(desktop_, client, exe_, UpdatePublicKey());
  dialog.SetObserver(&desktop_);
  dialog.ChecaVersao(CheckAddress(*sim));

  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"É necessário reiniciar o programa para que as "
                                                 "atualizações tomem efeito."});
  EXPECT_EQ(ReadFile(exe_), kNewVersion);
  EXPECT_EQ(ReadFile(backup_), original_);
  EXPECT_EQ(fs::status(exe_).permissions(), fs::perms(0751));
  EXPECT_EQ(dialog.ProgressBar1.Max(), static_cast<int>(kNewVersion.size()));
  EXPECT_EQ(dialog.ProgressBar1.Position(), static_cast<int>(kNewVersion.size()));
  EXPECT_EQ(desktop_.shown, (std::vector<bool>{true, false}));

  // "Cancela" once it is over only closes the dialog.
  dialog.Window.SetVisible(true);
  dialog.btnCancelaClick();
  EXPECT_FALSE(dialog.Window.Visible());
  EXPECT_EQ(dialog.lbStatus.Caption(), "atualizado.");
  dialog.SetObserver(nullptr);
}

TEST_F(UpdateFlowTest, DownloadsThatCannotBeVerifiedLeaveTheExecutable) {
  struct Case {
    const char* what;
    json update;
    std::vector<std::string> faults;
  };
  const std::vector<Case> cases = {
      {"no signature", json::object(), {}},
      {"bad signature", {{"signature", test::SignWithTestKey("other bytes")}}, {}},
      {"truncated body",
       {{"signature", test::SignWithTestKey(kNewVersion)}},
       {"--fault", "download:close"}},
  };
  for (const Case& c : cases) {
    desktop_.boxes.clear();
    auto sim = Server(c.update, c.faults);
    Check(*sim);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"A nova versão recebida não pôde ser "
                                                   "verificada e não foi instalada."})
        << c.what;
    EXPECT_EQ(ReadFile(exe_), original_) << c.what;
    EXPECT_FALSE(fs::exists(backup_)) << c.what;
  }
}

TEST_F(UpdateFlowTest, ClientMarksABodyCutShortOfItsAnnouncedLength) {
  auto sim = Server(json::object(), {"--fault", "download:close,times=1"});
  HttpUpdateClient client;
  std::int64_t lastTotal = -1;
  const HttpGetResponse cut =
      client.Get(sim->Root() + "/downloads/VuzaZoz",
                 [&](std::int64_t, std::int64_t total) { lastTotal = total; });
  EXPECT_TRUE(cut.truncated);
  EXPECT_EQ(cut.announced, static_cast<std::int64_t>(kNewVersion.size()));
  EXPECT_EQ(lastTotal, static_cast<std::int64_t>(kNewVersion.size()));
  EXPECT_LT(cut.body.size(), kNewVersion.size());

  const HttpGetResponse whole = client.Get(sim->Root() + "/downloads/VuzaZoz", {});
  EXPECT_FALSE(whole.truncated);
  EXPECT_TRUE(whole.body == kNewVersion) << whole.body.size();
  EXPECT_THROW(client.Get(sim->Root() + "/downloads/missing", {}), TransportError);  // 404
}

// Debug and pre-release builds carry blanks in their version text.
TEST_F(UpdateFlowTest, VersionTextWithBlanksReachesTheServer) {
  auto sim = Server({{"signature", test::SignWithTestKey(kNewVersion)}});
  HttpUpdateClient client;
  RunUpdateCheck(
      desktop_, client, exe_,
      sim->Root() + "/checaversao.php?origem=VUZAZOZ&versao=0.9.9.1 (debug,pre-release)");
  EXPECT_TRUE(ReadFile(exe_) == kNewVersion);
}

TEST_F(UpdateFlowTest, ReadOnlyFolderLeavesTheExecutable) {
  auto sim = Server({{"signature", test::SignWithTestKey(kNewVersion)}});
  FrozenFolder frozen(app_);
  if (!frozen.Holds())
    GTEST_SKIP() << "this file system cannot make a folder read-only here";
  Check(*sim);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"erro atualizando arquivo"});
  EXPECT_EQ(ReadFile(exe_), original_);
  EXPECT_FALSE(fs::exists(backup_));
}

TEST_F(UpdateFlowTest, FailedCheckGoesToTheCaller) {
  auto sim = Server(json::object(), {"--fault", "checaversao:status=404"});
  EXPECT_THROW(Check(*sim), TransportError);
  EXPECT_TRUE(desktop_.boxes.empty());
  EXPECT_EQ(ReadFile(exe_), original_);
}

// The program's own check at start, in the terminal, through CAU_UPDATE_SERVER.
TEST_F(UpdateFlowTest, ProgramStartUpInstallsASignedUpdate) {
  const fs::path host = dir_.path() / "host";
  const fs::path scenarioFile = dir_.path() / "host-scenario.json";
  const test::Finished made = test::RunProcess(
      {test::BinPath("mkhost"), host.string(), "--cases", "3", "--scenario", scenarioFile.string()},
      dir_.path());
  ASSERT_EQ(made.status, 0) << made.err;
  json scenario = json::parse(ReadFile(scenarioFile));
  scenario["update"] = {{"version", "99.0.0.0"},
                        {"file", "VuzaZoz"},
                        {"folder", (server_ / "downloads").string()},
                        {"signature", test::SignWithTestKey(kNewVersion)}};
  WriteFile(scenarioFile, scenario.dump());
  Pushsim sim({}, scenarioFile.string());
  ASSERT_TRUE(sim.Running());
  const fs::path program = host / "VuzaZoz";
  fs::copy_file(exe_, program);

  ::setenv("CAU_UPDATE_SERVER", sim.Root().c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", (dir_.path() / "config").c_str(), 1);
  ::setenv("XDG_DATA_HOME", (dir_.path() / "data").c_str(), 1);
  const test::Finished run =
      test::RunProcess({program.string(), "-CONSOLE", "-URL", sim.Url()}, host);
  ::unsetenv("CAU_UPDATE_SERVER");

  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("Atualização: Nova versão encontrada.\n"
                         "Atualização: Recebendo nova versão...\n"
                         "Atualização: atualizado.\n"
                         "É necessário reiniciar o programa para que as atualizações tomem "
                         "efeito.\n"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(ReadFile(program), kNewVersion);
  EXPECT_EQ(ReadFile(host / "VuzaZoz.bak"), original_);
}

}  // namespace
}  // namespace cau
