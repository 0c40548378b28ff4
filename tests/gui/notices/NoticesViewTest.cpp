// The notices window and the update dialog as the user meets them: the real
// views over the real models on Qt's offscreen platform, links clicked with
// the mouse, the dialog over real HTTP against pushsim. Each test saves a
// screenshot of the window it checked.
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextList>

#include "AuxRecorder.h"
#include "TestSigning.h"
#include "config/Utils.h"
#include "support/Process.h"
#include "ui/UpdateSignature.h"
#include "ui/autoupdate.h"
#include "ui/mostraAvisos.h"
#include "ui/qt/AutoUpdateView.h"
#include "ui/qt/MostraAvisosView.h"

namespace cau {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    app_ = std::make_unique<QApplication>(argc_, argv_);
  }
  void TearDown() override { app_.reset(); }

 private:
  char name_[20] = "gui_notices_tests";
  char* argv_[2] = {name_, nullptr};
  int argc_ = 1;
  std::unique_ptr<QApplication> app_;
};
[[maybe_unused]] const auto* const kQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

void SaveShot(QWidget& widget, const std::string& name) {
  const fs::path dir = CAU_SCREENSHOT_DIR;
  fs::create_directories(dir);
  const fs::path file = dir / (name + ".png");
  EXPECT_TRUE(widget.grab().save(QString::fromStdString(file.string()))) << file;
}

std::vector<std::string> ListItems(const QTextDocument& doc) {
  std::vector<std::string> items;
  for (QTextBlock b = doc.begin(); b.isValid(); b = b.next())
    if (b.textList())
      items.push_back(b.text().trimmed().toStdString());
  return items;
}

// Clicks the middle of the first occurrence of `text` in the browser.
void ClickText(QTextBrowser& browser, const QString& text) {
  const QTextCursor found = browser.document()->find(text);
  ASSERT_FALSE(found.isNull()) << text.toStdString();
  QTextCursor middle(browser.document());
  middle.setPosition((found.selectionStart() + found.selectionEnd()) / 2);
  const QPoint at = browser.cursorRect(middle).center();
  QTest::mouseClick(browser.viewport(), Qt::LeftButton, Qt::NoModifier, at);
}

const std::string kNotices =
    "Processo 0001 cadastrado com sucesso\r\n"
    "Boleto dispon\xEDvel: <a href=\"http://www.vexo.example/boleto\">abrir boleto</a> ou "
    "<a href=\"https://www.vexo.example/seguro\">p\xE1gina segura</a>\r\n";

class NoticesViewTest : public ::testing::Test {
 protected:
  NoticesViewTest() {
    WriteFile(file_, kNotices);
    form_.FormCreate();
    view_ = std::make_unique<MostraAvisosView>(form_, nullptr);
  }
  ~NoticesViewTest() override { view_.reset(); }

  QTextBrowser& Browser() { return *view_->Browser(); }
  void Show() {
    form_.ShowNotices();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view_.get()));
  }

  test::TempDir dir_{"gui-notices"};
  fs::path file_ = dir_.path() / "avisos.txt";
  test::AuxRecorder desktop_;
  TfrmMostraAvisos form_{desktop_, file_};
  std::unique_ptr<MostraAvisosView> view_;
};

TEST_F(NoticesViewTest, TwoNoticesAreTwoListItemsInFileOrder) {
  EXPECT_FALSE(view_->isVisible());
  EXPECT_EQ(form_.NoticeCount(), 2);
  Show();
  EXPECT_TRUE(view_->isVisible());
  EXPECT_EQ(view_->windowTitle(), "Avisos - Atualizador Push");
  EXPECT_EQ(view_->size(), QSize(546, 290));
  EXPECT_FALSE(Browser().openLinks());
  EXPECT_FALSE(Browser().openExternalLinks());
  EXPECT_EQ(ListItems(*Browser().document()),
            (std::vector<std::string>{"Processo 0001 cadastrado com sucesso",
                                      "Boleto disponível: abrir boleto ou página segura"}));
  EXPECT_TRUE(Browser().toPlainText().contains("Limpa mensagens"));
  SaveShot(*view_, "notices-two");

  form_.FormDestroy();  // the exit without clearing
  EXPECT_EQ(ReadFile(file_), kNotices);
}

TEST_F(NoticesViewTest, HttpLinkOpensThroughTheDesktopAndHttpsIsIgnored) {
  Show();
  ClickText(Browser(), "abrir boleto");
  ClickText(Browser(), "página segura");
  EXPECT_EQ(desktop_.opened, std::vector<std::string>{"http://www.vexo.example/boleto"});
  EXPECT_TRUE(desktop_.boxes.empty());
  EXPECT_EQ(ListItems(*Browser().document()).size(), 2u);  // the page stays
  SaveShot(*view_, "notices-links");
}

TEST_F(NoticesViewTest, ClearingBlanksThePageAndTheExitRemovesTheFile) {
  Show();
  ClickText(Browser(), "Limpa mensagens");
  EXPECT_EQ(form_.NoticeCount(), 0);
  EXPECT_TRUE(Browser().toPlainText().isEmpty());
  SaveShot(*view_, "notices-cleared");
  form_.FormDestroy();
  EXPECT_FALSE(fs::exists(file_));
}

TEST_F(NoticesViewTest, CloseBoxHidesTheWindowUntilShownAgain) {
  Show();
  view_->close();
  EXPECT_FALSE(form_.Window.Visible());
  form_.ShowNotices();
  EXPECT_TRUE(view_->isVisible());
}

// The dialog during a real check that finds a signed version, on a copy of
// the program.
TEST(AutoUpdateViewTest, DialogShownWhileDownloadingThenCancelOnlyCloses) {
  test::TempDir dir("gui-update");
  const fs::path exe = dir.path() / "VuzaZoz";
  fs::copy_file(test::BinPath("VuzaZoz"), exe);
  const std::string newVersion(200000, 'n');
  fs::create_directories(dir.path() / "downloads");
  WriteFile(dir.path() / "downloads" / "VuzaZoz", newVersion);
  const fs::path scenario = dir.path() / "scenario.json";
  WriteFile(scenario, nlohmann::json{{"update",
                                      {{"version", "99.0.0.0"},
                                       {"file", "VuzaZoz"},
                                       {"folder", "downloads"},
                                       {"signature", test::SignWithTestKey(newVersion)}}}}
                          .dump());
  test::Pushsim sim({}, scenario.string());
  ASSERT_TRUE(sim.Running());

  test::AuxRecorder desktop;
  HttpUpdateClient client;
  TfrmAutoUpdate dialog(desktop, client, exe, UpdatePublicKey());
  AutoUpdateView view(dialog);
  EXPECT_EQ(view.windowTitle(), "Atualização automática");
  EXPECT_EQ(view.size(), QSize(417, 68));
  EXPECT_EQ(view.Progress()->geometry(), QRect(16, 12, 385, 17));
  EXPECT_EQ(view.Cancel()->geometry(), QRect(328, 33, 75, 25));
  EXPECT_EQ(view.Status()->pos(), QPoint(16, 32));

  QStringList seen;
  desktop.onMessages = [&] {
    EXPECT_TRUE(view.isVisible());
    seen << view.Status()->text();
    if (seen.size() == 1) {
      EXPECT_EQ(view.Cancel()->text(), "Cancela");
      SaveShot(view, "update-dialog");
    }
  };
  dialog.ChecaVersao(sim.Root() + "/checaversao.php?origem=VUZAZOZ&versao=" + ExeVersion());
  EXPECT_EQ(seen, (QStringList{"Nova versão encontrada.", "Recebendo nova versão..."}));
  EXPECT_FALSE(view.isVisible());
  EXPECT_EQ(view.Status()->text(), "atualizado.");
  EXPECT_EQ(view.Progress()->value(), static_cast<int>(newVersion.size()));
  EXPECT_EQ(ReadFile(exe), newVersion);

  // "Cancela" once the phase is over only closes the dialog.
  dialog.Window.SetVisible(true);
  QTest::mouseClick(view.Cancel(), Qt::LeftButton);
  EXPECT_FALSE(view.isVisible());
  EXPECT_EQ(view.Status()->text(), "atualizado.");
  EXPECT_EQ(dialog.GetPhase(), TfrmAutoUpdate::Phase::Finished);
}

}  // namespace
}  // namespace cau
