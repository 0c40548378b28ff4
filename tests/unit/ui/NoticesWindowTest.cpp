#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "AuxRecorder.h"
#include "support/Process.h"
#include "ui/mostraAvisos.h"

namespace cau {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

class NoticesWindowTest : public ::testing::Test {
 protected:
  NoticesWindowTest() { form_.SetObserver(&desktop_); }
  ~NoticesWindowTest() override { form_.SetObserver(nullptr); }

  test::TempDir dir_{"notices"};
  fs::path file_ = dir_.path() / "avisos.txt";
  test::AuxRecorder desktop_;
  TfrmMostraAvisos form_{desktop_, file_};
};

// Two notices in Windows-1252, one with a link, as the server step leaves them.
const std::string kTwoNotices =
    "Processo 0001 cadastrado com sucesso\r\n"
    "Aten\xE7\xE3o: <a href=\"http://www.vexo.example/cobranca\">boleto</a>\r\n";

TEST_F(NoticesWindowTest, NoticesListedInFileOrderAndWrittenBackUnchanged) {
  WriteFile(file_, kTwoNotices);
  form_.FormCreate();
  ASSERT_EQ(form_.NoticeCount(), 2);
  EXPECT_EQ(form_.Notices()[1], "Atenção: <a href=\"http://www.vexo.example/cobranca\">boleto</a>");
  EXPECT_FALSE(form_.Window.Visible());

  form_.ShowNotices();
  EXPECT_TRUE(form_.Window.Visible());
  EXPECT_EQ(form_.HTMLViewer1.Html(),
            "<style type=\"text/css\">\r\n"
            "ul { list-style-type:none; padding:3px 0 20px 0; border-top:2px; margin:10px 0 }\r\n"
            "li a:hover { background-color:#3C72B0; color:#FFFFFF;}\r\n"
            "li { padding: 5px; margin: 2px; border: solid 1px; }\r\n"
            "</style>\r\n"
            "<ul>\r\n"
            "<li>Processo 0001 cadastrado com sucesso</li>\r\n"
            "<li>Atenção: <a href=\"http://www.vexo.example/cobranca\">boleto</a></li>\r\n"
            "</ul>\r\n"
            "<p></p><a href=\"#removeAviso\">Limpa mensagens</a>");

  WriteFile(file_, "changed meanwhile\r\n");
  form_.FormDestroy();
  EXPECT_EQ(ReadFile(file_), kTwoNotices);
  EXPECT_TRUE(desktop_.boxes.empty());
}

TEST_F(NoticesWindowTest, LinesEndedByLineFeedOrNothingAreRead) {
  WriteFile(file_, "um\nbyte indefinido \x81\r\ntr\xEAs");
  form_.FormCreate();
  EXPECT_EQ(form_.Notices(), (std::vector<std::string>{"um", "byte indefinido \u0081", "três"}));
  form_.FormDestroy();
  EXPECT_EQ(ReadFile(file_), "um\r\nbyte indefinido \x81\r\ntr\xEAs\r\n");
}

TEST_F(NoticesWindowTest, ClearingEmptiesThePageAndExitRemovesTheFile) {
  WriteFile(file_, kTwoNotices);
  form_.FormCreate();
  form_.ShowNotices();
  form_.HTMLViewer1HotSpotClick("about:blank#removeAviso");
  EXPECT_EQ(form_.NoticeCount(), 0);
  EXPECT_EQ(form_.HTMLViewer1.Html(), "");
  EXPECT_TRUE(fs::exists(file_));  // only in memory until the exit
  form_.FormDestroy();
  EXPECT_FALSE(fs::exists(file_));
}

TEST_F(NoticesWindowTest, WithoutFileNothingIsShownAndNothingWritten) {
  form_.FormCreate();
  EXPECT_EQ(form_.NoticeCount(), 0);
  form_.ShowNotices();
  EXPECT_FALSE(desktop_.EverShown());
  form_.FormDestroy();
  EXPECT_FALSE(fs::exists(file_));
  EXPECT_TRUE(desktop_.boxes.empty());
}

TEST_F(NoticesWindowTest, LinkRules) {
  struct Case {
    std::string target;
    bool opened;
  };
  const std::vector<Case> cases = {
      {"http://www.vexo.example/tutpush", true},
      {"about:blank?go=http://www.vexo.example", true},  // "http://" anywhere
      {"https://www.vexo.example/seguro", false},
      {"mailto:suporte@vexo.example", false},
      {"#outro", false},
  };
  WriteFile(file_, kTwoNotices);
  form_.FormCreate();
  for (const Case& c : cases) {
    desktop_.opened.clear();
    form_.HTMLViewer1HotSpotClick(c.target);
    EXPECT_EQ(desktop_.opened.size(), c.opened ? 1u : 0u) << c.target;
    if (c.opened) {
      EXPECT_EQ(desktop_.opened[0], c.target);
    }
    EXPECT_EQ(form_.NoticeCount(), 2) << c.target;
  }
  EXPECT_TRUE(desktop_.boxes.empty());
}

TEST_F(NoticesWindowTest, BrowserThatCannotStartGetsABoxAndChangesNothing) {
  WriteFile(file_, kTwoNotices);
  form_.FormCreate();
  form_.ShowNotices();
  const std::string page = form_.HTMLViewer1.Html();
  desktop_.openSucceeds = false;
  form_.HTMLViewer1HotSpotClick("http://www.vexo.example/");
  form_.OpenInBrowser("http://www.vexo.example/contato.html");
  ASSERT_EQ(desktop_.boxes.size(), 2u);
  for (const test::Box& box : desktop_.boxes) {
    EXPECT_EQ(box.text, "Não foi possível abrir o programa de navegação padrão do seu computador");
    EXPECT_EQ(box.caption, "Atenção");
    EXPECT_EQ(box.icon, MsgIcon::Information);
  }
  EXPECT_EQ(form_.HTMLViewer1.Html(), page);
  EXPECT_EQ(form_.NoticeCount(), 2);
}

TEST_F(NoticesWindowTest, AboutPageReplacesThePageAndKeepsTheNotices) {
  WriteFile(file_, kTwoNotices);
  form_.FormCreate();
  form_.ShowHtml("<h3>Sobre</h3>");
  EXPECT_TRUE(form_.Window.Visible());
  EXPECT_EQ(form_.HTMLViewer1.Html(), "<h3>Sobre</h3>");
  form_.FormDestroy();
  EXPECT_EQ(ReadFile(file_), kTwoNotices);
}

TEST_F(NoticesWindowTest, UnreadableFileIsReportedAndLeftAlone) {
  fs::create_directory(file_);  // a folder where the file should be
  form_.FormCreate();
  ASSERT_EQ(desktop_.boxes.size(), 1u);
  EXPECT_NE(desktop_.boxes[0].text.find("avisos.txt"), std::string::npos);
  EXPECT_EQ(form_.NoticeCount(), 0);
  form_.FormDestroy();
  EXPECT_TRUE(fs::is_directory(file_));
}

TEST_F(NoticesWindowTest, WindowNeverCreatedLeavesTheFileAlone) {
  WriteFile(file_, kTwoNotices);
  { TfrmMostraAvisos other(desktop_, file_); }
  EXPECT_EQ(ReadFile(file_), kTwoNotices);
}

}  // namespace
}  // namespace cau
