#include <gtest/gtest.h>

#include <sys/stat.h>

#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "AuxRecorder.h"
#include "TestSigning.h"
#include "config/Errors.h"
#include "support/Process.h"
#include "ui/UpdateSignature.h"
#include "ui/autoupdate.h"

namespace cau {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

constexpr const char* kCheck = "http://update.test/checaversao.php?origem=VUZAZOZ&versao=0.9.9.1";
constexpr const char* kTitle = "Push Causarium";

// Answers each Get from a queue and keeps what was asked.
class ScriptedClient : public UpdateClient {
 public:
  HttpGetResponse Get(const std::string& address, const DownloadProgress& progress) override {
    requests.push_back(address);
    if (answers.empty())
      throw TransportError("Falha na conexão com o servidor: sem resposta");
    HttpGetResponse r = answers.front();
    answers.pop_front();
    if (progress && !r.body.empty()) {
      progress(static_cast<std::int64_t>(r.body.size() / 2), r.announced < 0 ? 0 : r.announced);
      progress(static_cast<std::int64_t>(r.body.size()), r.announced < 0 ? 0 : r.announced);
    }
    return r;
  }
  void Disconnect() override { ++disconnects; }

  std::deque<HttpGetResponse> answers;
  std::vector<std::string> requests;
  int disconnects = 0;
};

HttpGetResponse Ok(std::string body) {
  HttpGetResponse r;
  r.status = 200;
  r.statusText = "OK";
  r.announced = static_cast<std::int64_t>(body.size());
  r.body = std::move(body);
  return r;
}

const std::string kNewVersion =
    "novo executável\x7f"
    "ELF";

class AutoUpdateTest : public ::testing::Test {
 protected:
  AutoUpdateTest() {
    WriteFile(exe_, "velho");
    fs::permissions(exe_, fs::perms(0750));
    dialog_.SetObserver(&desktop_);
  }
  ~AutoUpdateTest() override { dialog_.SetObserver(nullptr); }

  // A check that announces `url` with `signature`, then the download `file`.
  void Announce(const std::string& signature, HttpGetResponse file,
                const std::string& url = "http://update.test/downloads/VuzaZoz") {
    client_.answers.push_back(
        Ok("versao=1.0.0.0\nassinatura=" + signature + "\nnovaVersaoUrl=" + url + "  \r\n"));
    client_.answers.push_back(std::move(file));
  }

  test::TempDir dir_{"autoupdate"};
  fs::path exe_ = dir_.path() / "VuzaZoz";
  test::AuxRecorder desktop_;
  ScriptedClient client_;
  TfrmAutoUpdate dialog_{desktop_, client_, exe_, UpdatePublicKey()};
};

TEST_F(AutoUpdateTest, AnswersWithoutAnAddressDoNothing) {
  for (const std::string body :
       {"novaVersaoUrl=", "novaVersaoUrl=  \r\n", "versaoAtual=0.9.9.1\n", ""}) {
    client_.answers = {Ok(body)};
    client_.requests.clear();
    dialog_.ChecaVersao(kCheck);
    EXPECT_EQ(client_.requests, std::vector<std::string>{kCheck}) << body;
    EXPECT_EQ(dialog_.GetPhase(), TfrmAutoUpdate::Phase::Finished) << body;
  }
  EXPECT_FALSE(desktop_.EverShown());
  EXPECT_TRUE(desktop_.boxes.empty());
  EXPECT_EQ(ReadFile(exe_), "velho");
}

TEST_F(AutoUpdateTest, SignedDownloadReplacesTheExecutableAndKeepsTheBackup) {
  WriteFile(dir_.path() / "VuzaZoz.bak", "backup of an earlier update");
  Announce(test::SignWithTestKey(kNewVersion), Ok(kNewVersion));
  dialog_.ChecaVersao(kCheck);

  ASSERT_EQ(client_.requests.size(), 2u);
  EXPECT_EQ(client_.requests[1], "http://update.test/downloads/VuzaZoz");  // trimmed
  EXPECT_EQ(ReadFile(exe_), kNewVersion);
  EXPECT_EQ(ReadFile(dir_.path() / "VuzaZoz.bak"), "velho");
  EXPECT_EQ(fs::status(exe_).permissions(), fs::perms(0750));
  EXPECT_EQ(desktop_.statuses,
            (std::vector<std::string>{"Verificando atualizações...", "Nova versão encontrada.",
                                      "Recebendo nova versão...", "atualizado."}));
  ASSERT_EQ(desktop_.boxes.size(), 1u);
  EXPECT_EQ(desktop_.boxes[0].text,
            "É necessário reiniciar o programa para que as atualizações tomem efeito.");
  EXPECT_EQ(desktop_.boxes[0].caption, "Atualizado com sucesso");
  EXPECT_EQ(desktop_.boxes[0].icon, MsgIcon::Information);
  EXPECT_EQ(desktop_.shown, (std::vector<bool>{true, false}));
  EXPECT_EQ(desktop_.messagePoints, 2);
  EXPECT_EQ(dialog_.ProgressBar1.Position(), static_cast<int>(kNewVersion.size()));
  EXPECT_EQ(dialog_.ProgressBar1.Max(), static_cast<int>(kNewVersion.size()));
  EXPECT_EQ(dialog_.GetPhase(), TfrmAutoUpdate::Phase::Finished);
  // Only the executable and its backup are left in the folder.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path()), fs::directory_iterator()), 2);
}

TEST_F(AutoUpdateTest, DownloadsThatDoNotVerifyInstallNothing) {
  HttpGetResponse truncated = Ok(kNewVersion.substr(0, 5));
  truncated.announced = static_cast<std::int64_t>(kNewVersion.size());
  truncated.truncated = true;
  struct Case {
    const char* what;
    std::string signature;
    HttpGetResponse file;
  };
  const std::vector<Case> cases = {
      {"no signature", "", Ok(kNewVersion)},
      {"signature of other bytes", test::SignWithTestKey("outro"), Ok(kNewVersion)},
      {"not base64", "!!!", Ok(kNewVersion)},
      {"empty body", test::SignWithTestKey(""), Ok("")},
      {"truncated body", test::SignWithTestKey(kNewVersion.substr(0, 5)), truncated},
  };
  for (const Case& c : cases) {
    desktop_.boxes.clear();
    Announce(c.signature, c.file);
    dialog_.ChecaVersao(kCheck);
    ASSERT_EQ(desktop_.boxes.size(), 1u) << c.what;
    EXPECT_EQ(desktop_.boxes[0].text,
              "A nova versão recebida não pôde ser verificada e não foi instalada.")
        << c.what;
    EXPECT_EQ(ReadFile(exe_), "velho") << c.what;
    EXPECT_FALSE(fs::exists(dir_.path() / "VuzaZoz.bak")) << c.what;
    EXPECT_FALSE(dialog_.Window.Visible()) << c.what;
  }
}

TEST_F(AutoUpdateTest, StatusesOtherThan200AreShownWithTheirReason) {
  HttpGetResponse noContent;
  noContent.status = 204;
  noContent.statusText = "No Content";
  client_.answers = {noContent};
  dialog_.ChecaVersao(kCheck);
  HttpGetResponse partial;
  partial.status = 203;
  partial.statusText = "Non-Authoritative Information";
  Announce(test::SignWithTestKey(kNewVersion), partial);
  dialog_.ChecaVersao(kCheck);

  ASSERT_EQ(desktop_.boxes.size(), 2u);
  EXPECT_EQ(desktop_.boxes[0].text, "Erro [204] No Content");
  EXPECT_EQ(desktop_.boxes[1].text,
            "Erro no download da atualização. 203 Non-Authoritative Information");
  for (const test::Box& box : desktop_.boxes) {
    EXPECT_EQ(box.caption, kTitle);
    EXPECT_EQ(box.icon, MsgIcon::None);
  }
  EXPECT_EQ(ReadFile(exe_), "velho");
  EXPECT_FALSE(dialog_.Window.Visible());
}

TEST_F(AutoUpdateTest, FailedRequestGoesToTheCallerWithTheDialogClosed) {
  client_.answers.push_back(Ok("assinatura=x\nnovaVersaoUrl=http://update.test/downloads/VuzaZoz"));
  EXPECT_THROW(dialog_.ChecaVersao(kCheck), TransportError);  // the download's connection fails
  EXPECT_FALSE(dialog_.Window.Visible());
  EXPECT_EQ(ReadFile(exe_), "velho");
}

TEST_F(AutoUpdateTest, CancelAfterTheEndOnlyClosesTheDialog) {
  client_.answers = {Ok("versaoAtual=0.9.9.1")};
  dialog_.ChecaVersao(kCheck);
  dialog_.Window.SetVisible(true);
  dialog_.btnCancelaClick();
  EXPECT_EQ(client_.disconnects, 0);
  EXPECT_FALSE(dialog_.Window.Visible());
  EXPECT_EQ(desktop_.statuses.back(), "Verificando atualizações...");
}

TEST_F(AutoUpdateTest, CancelWhileTheDialogWaitsStopsBeforeTheDownload) {
  Announce(test::SignWithTestKey(kNewVersion), Ok(kNewVersion));
  desktop_.onMessages = [this] { dialog_.btnCancelaClick(); };
  dialog_.ChecaVersao(kCheck);
  EXPECT_EQ(client_.disconnects, 1);
  EXPECT_EQ(client_.requests.size(), 1u);
  EXPECT_EQ(desktop_.statuses.back(), "Cancelando...");
  EXPECT_EQ(ReadFile(exe_), "velho");
  EXPECT_TRUE(desktop_.boxes.empty());
}

TEST(UpdateAnswer, AddressAndSignature) {
  struct Case {
    std::string body, url, signature;
  };
  const std::vector<Case> cases = {
      {"novaVersaoUrl=http://h/f  \r\n", "http://h/f", ""},
      {"assinatura=c2ln\r\nnovaVersaoUrl=http://h/f", "http://h/f", "c2ln"},
      {"x=1\n  assinatura= c2ln \nnovaVersaoUrl=http://h/f", "http://h/f", "c2ln"},
      {"novaVersaoUrl=http://h/f\nassinatura=c2ln", "http://h/f\nassinatura=c2ln", ""},
      {"assinatura=c2ln\n", "", "c2ln"},
  };
  for (const Case& c : cases) {
    const UpdateAnswer a = ParseUpdateAnswer(c.body);
    EXPECT_EQ(a.url, c.url) << c.body;
    if (!a.url.empty()) {
      EXPECT_EQ(a.signature, c.signature) << c.body;
    }
  }
}

TEST(UpdateSignature, VerifiesOnlyTheSignedBytesWithTheRightKey) {
  const std::string data = "conteúdo";
  const std::string good = test::SignWithTestKey(data);
  EXPECT_TRUE(VerifyUpdateSignature(data, good, UpdatePublicKey()));
  EXPECT_FALSE(VerifyUpdateSignature(data + " ", good, UpdatePublicKey()));
  EXPECT_FALSE(VerifyUpdateSignature(data, good, std::string(64, '0')));
  EXPECT_FALSE(VerifyUpdateSignature(data, good, "abc"));
  EXPECT_FALSE(VerifyUpdateSignature(data, good.substr(0, good.size() - 4), UpdatePublicKey()));
  EXPECT_FALSE(VerifyUpdateSignature(data, good + "AAAA", UpdatePublicKey()));
}

}  // namespace
}  // namespace cau
