// The main window as the user meets it: the real view and Qt desktop over
// the real window model, on Qt's offscreen platform, on a host made by
// mkhost, against pushsim. Every window test saves a screenshot.
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>
#include <QTimer>
#include <QUrl>

#include "BuildInfo.h"
#include "log/HotLog.h"
#include "support/Process.h"
#include "ui/qt/WindowFront.h"

namespace cau {
namespace {

namespace fs = std::filesystem;
using StartUp = TfrmAtualizaPush::StartUp;
using RunState = TfrmAtualizaPush::RunState;

// One application object for the whole test program, offscreen.
class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    app_ = std::make_unique<QApplication>(argc_, argv_);
    // The update check at every show meets a server without a newer version.
    updateDir_ = std::make_unique<test::TempDir>("gui-main-update");
    const fs::path scenario = updateDir_->path() / "no-update.json";
    test::WriteFile(scenario, "{}");
    updates_ = std::make_unique<test::Pushsim>(std::vector<std::string>{}, scenario.string());
    ::setenv("CAU_UPDATE_SERVER", updates_->Root().c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("CAU_UPDATE_SERVER");
    updates_.reset();
    updateDir_.reset();
    app_.reset();
  }

 private:
  char name_[16] = "gui_main_tests";
  char* argv_[2] = {name_, nullptr};
  int argc_ = 1;
  std::unique_ptr<QApplication> app_;
  std::unique_ptr<test::TempDir> updateDir_;
  std::unique_ptr<test::Pushsim> updates_;
};
[[maybe_unused]] const auto* const kQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

void SaveShot(QWidget& widget, const std::string& name) {
  const fs::path dir = CAU_SCREENSHOT_DIR;
  fs::create_directories(dir);
  const fs::path file = dir / ("main-" + name + ".png");
  EXPECT_TRUE(widget.grab().save(QString::fromStdString(file.string()))) << file;
}

struct PaneLine {
  QString text;
  QColor color;
};

std::vector<PaneLine> PaneLines(const QTextEdit& pane) {
  std::vector<PaneLine> lines;
  for (QTextBlock b = pane.document()->begin(); b.isValid(); b = b.next()) {
    const QTextBlock::iterator first = b.begin();
    const QColor color =
        first.atEnd() ? QColor() : first.fragment().charFormat().foreground().color();
    lines.push_back({b.text(), color});
  }
  return lines;
}

const PaneLine* FindLine(const std::vector<PaneLine>& lines, const QString& text) {
  for (const PaneLine& line : lines)
    if (line.text == text)
      return &line;
  return nullptr;
}

// What a message box showed before it was answered.
struct SeenBox {
  QString title, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  QStringList labels;  // the buttons' texts
};

// Answers the next message box that comes up with `answer`, keeping what it
// showed (and a screenshot of it when `shot` is given). Stops looking when
// it goes out of scope.
class BoxAnswerer {
 public:
  explicit BoxAnswerer(QMessageBox::StandardButton answer, std::string shot = {}) {
    QObject::connect(&poll_, &QTimer::timeout, [this, answer, shot] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box)
        return;
      poll_.stop();
      seen = {box->windowTitle(), box->text(), box->icon(), box->standardButtons(), {}};
      for (QAbstractButton* button : box->buttons())
        seen.labels << button->text();
      if (!shot.empty())
        SaveShot(*box, shot);
      box->button(answer)->click();
    });
    poll_.start(5);
  }
  SeenBox seen;

 private:
  QTimer poll_;
};

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = dir_.path();
    host_ = root_ / "host";
    ::setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (root_ / "data").c_str(), 1);
    const test::Finished made =
        test::RunProcess({test::BinPath("mkhost"), host_.string(), "--cases", "12", "--user",
                          "advogado", "--password", "segredo", "--scenario", Scenario()},
                         root_);
    ASSERT_EQ(made.status, 0) << made.err;
  }
  void TearDown() override { front_.reset(); }

  std::string Scenario() const { return (root_ / "scenario.json").string(); }

  // A new window front end for `args`, not yet started.
  WindowFront& Open(std::vector<std::string> args) {
    front_.reset();
    front_ = std::make_unique<WindowFront>(
        FormEnvironment{std::move(args), (host_ / "VuzaZoz").string(), &log_, nullptr, nullptr});
    return *front_;
  }

  // Starts the window and lets its show handler run (with -AUTOSTART, the
  // whole run).
  void StartAndShow(WindowFront& front) {
    ASSERT_EQ(front.Start(), StartUp::Ready);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&front.View()));
    front.View().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&front.View()));
    QCoreApplication::processEvents();
  }

  static bool RunEnds(const TfrmAtualizaPush& form) {
    return QTest::qWaitFor(
        [&] { return form.Run() == RunState::Complete || form.Run() == RunState::Cancelled; },
        60000);
  }

  test::TempDir dir_{"gui-main"};
  fs::path root_, host_;
  THotLog log_;
  std::unique_ptr<WindowFront> front_;
};

template <typename W>
W* Find(QWidget& view, const char* name) {
  W* widget = view.findChild<W*>(QString::fromLatin1(name));
  EXPECT_NE(widget, nullptr) << name;
  return widget;
}

TEST_F(MainWindowTest, LayoutCaptionsAndLookOfTheControls) {
  WindowFront& front = Open({});
  StartAndShow(front);
  MainWindow& view = front.View();
  TfrmAtualizaPush& form = front.Form();

  EXPECT_EQ(view.centralWidget()->size(), QSize(506, 417));
  EXPECT_EQ(view.minimumSize(), view.maximumSize());
  EXPECT_TRUE(view.windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(view.windowFlags() & Qt::WindowMaximizeButtonHint);
  const QPoint offCentre =
      view.frameGeometry().center() - view.screen()->availableGeometry().center();
  EXPECT_LE(offCentre.manhattanLength(), 2);
  EXPECT_EQ(view.windowTitle(), "PUSH CAU - Atualizador de Processos via PUSH");

  // Every control where the model puts it; labels that size themselves at
  // their corner, the right-aligned one by its right edge.
  for (Control* control : form.Controls()) {
    QWidget* widget = view.WidgetFor(*control);
    if (!widget)
      continue;
    const Bounds& b = control->GetBounds();
    if (b.width > 0)
      EXPECT_EQ(widget->geometry(), QRect(b.left, b.top, b.width, b.height)) << control->Name();
    else if (control->GetAlignment() == Alignment::Right)
      EXPECT_EQ(QPoint(widget->geometry().right() + 1, widget->y()), QPoint(b.left, b.top))
          << control->Name();
    else
      EXPECT_EQ(widget->pos(), QPoint(b.left, b.top)) << control->Name();
  }
  auto* group = Find<QGroupBox>(view, "gbSituacao");
  auto* notices = Find<QPushButton>(view, "btnMsg");
  auto* procs = Find<QLabel>(view, "lbProcs");
  auto* operation = Find<QLabel>(view, "lbOperacao");
  ASSERT_TRUE(group && notices && procs && operation);
  EXPECT_EQ(notices->parentWidget(), group);
  EXPECT_EQ(notices->geometry(), QRect(215, 28, 48, 25));
  EXPECT_EQ(procs->parentWidget(), group);
  EXPECT_EQ(operation->geometry().right() + 1, 497);
  EXPECT_EQ(Find<QPushButton>(view, "btnFim")->geometry(), QRect(395, 292, 89, 31));

  const std::vector<std::pair<const char*, QString>> captions = {
      {"Label1", "Usuário:"},
      {"lbTitulo", "advogado"},
      {"lbOperacao", "..."},
      {"lbStatus", "Pronto"},
      {"Label2", "Processos cadastrados:"},
      {"Label3", "Máx. procs. cadastrados:"},
      {"Label4", "Máx. procs. mês anterior:"},
  };
  for (const auto& [name, caption] : captions)
    EXPECT_EQ(Find<QLabel>(view, name)->text(), caption) << name;
  EXPECT_EQ(Find<QPushButton>(view, "btnIniciar")->text(), "Conectar");
  EXPECT_EQ(Find<QPushButton>(view, "btnFim")->text(), "Fim");
  EXPECT_TRUE(group->title().startsWith("Situação")) << group->title().toStdString();

  // Look: bold values with their hints, the small user name, the hidden
  // debug and notice buttons, the banner.
  EXPECT_TRUE(procs->font().bold());
  EXPECT_FALSE(Find<QLabel>(view, "Label2")->font().bold());
  EXPECT_EQ(procs->toolTip(), "Número de processos cadastrados atualmente");
  EXPECT_EQ(Find<QLabel>(view, "lbMaxProcsAnt")->toolTip(),
            "Número máximo de processos cadastrados no mês anterior");
  EXPECT_LT(Find<QLabel>(view, "lbTitulo")->font().pointSize(), view.font().pointSize());
  for (const char* debug : {"btnLogin", "btnEscopo", "btnCadastra", "btnHistoricos",
                            "btnDescadastra", "btnAvisos", "btnLogout", "btnMsg"})
    EXPECT_FALSE(Find<QPushButton>(view, debug)->isVisible()) << debug;
  EXPECT_EQ(Find<QLabel>(view, "Image1")->pixmap().size(), QSize(488, 67));

  // The log pane: read-only, never focused, white once shown.
  QTextEdit* pane = view.LogPane();
  EXPECT_TRUE(pane->isReadOnly());
  EXPECT_EQ(pane->focusPolicy(), Qt::NoFocus);
  EXPECT_EQ(pane->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(pane->palette().color(QPalette::Base), QColor(Qt::white));
  EXPECT_TRUE(pane->toPlainText().startsWith(">>Inicializando "))
      << pane->toPlainText().toStdString();

  // The end button comes first.
  EXPECT_EQ(view.focusWidget(), Find<QPushButton>(view, "btnFim"));

  // The menus and their items, in order.
  std::vector<QStringList> menus;
  for (QAction* top : view.menuBar()->actions()) {
    QStringList items{top->text()};
    for (QAction* item : top->menu()->actions())
      items << item->text();
    menus.push_back(items);
  }
  EXPECT_EQ(menus,
            (std::vector<QStringList>{{"Opções", "Resincroniza", "Sair"},
                                      {"Ajuda", "Procura nova versão...", "Suporte", "Sobre"}}));
  SaveShot(view, "layout");
}

TEST_F(MainWindowTest, DebugModeShowsTheStepButtonsWhichRunTheirSteps) {
  test::Pushsim sim({}, Scenario());
  ASSERT_TRUE(sim.Running());
  WindowFront& front = Open({"-debug", "-URL", sim.Url()});
  StartAndShow(front);
  MainWindow& view = front.View();

  EXPECT_EQ(view.windowTitle(), "PUSH CAU - Atualizador de Processos via PUSH [DEBUG]");
  const std::vector<std::pair<const char*, QString>> buttons = {{"btnLogin", "Login"},
                                                                {"btnEscopo", "Escopo"},
                                                                {"btnCadastra", "Cadastra"},
                                                                {"btnHistoricos", "Historicos"},
                                                                {"btnDescadastra", "Descadastra"},
                                                                {"btnAvisos", "Avisos"},
                                                                {"btnLogout", "Logout"}};
  for (const auto& [name, caption] : buttons) {
    QPushButton* button = Find<QPushButton>(view, name);
    EXPECT_TRUE(button->isVisible()) << name;
    EXPECT_EQ(button->text(), caption) << name;
  }
  EXPECT_FALSE(Find<QPushButton>(view, "btnIniciar")->isVisible());
  EXPECT_TRUE(view.LogPane()->toPlainText().startsWith(">>Inicializando [DEBUG] "));

  QTest::mouseClick(Find<QPushButton>(view, "btnLogin"), Qt::LeftButton);
  EXPECT_NE(FindLine(PaneLines(*view.LogPane()), ">Login: advogado"), nullptr)
      << view.LogPane()->toPlainText().toStdString();
  SaveShot(view, "debug");
  QTest::mouseClick(Find<QPushButton>(view, "btnLogout"), Qt::LeftButton);
  const std::vector<PaneLine> lines = PaneLines(*view.LogPane());
  const PaneLine* logout = FindLine(lines, "< Logout");
  ASSERT_NE(logout, nullptr);
  EXPECT_EQ(logout->color, view.palette().color(QPalette::WindowText));
  EXPECT_EQ(front.Finish(), 1);  // steps alone are no run
}

TEST_F(MainWindowTest, CompleteRunShowsItsLinesGaugeAndHourglass) {
  test::Pushsim sim({}, Scenario());
  ASSERT_TRUE(sim.Running());
  WindowFront& front = Open({"-AUTOSTART", "-URL", sim.Url()});
  std::vector<bool> busyAtLine;
  QObject::connect(front.View().LogPane(), &QTextEdit::textChanged, [&busyAtLine] {
    const QCursor* cursor = QApplication::overrideCursor();
    busyAtLine.push_back(cursor && cursor->shape() == Qt::WaitCursor);
  });
  StartAndShow(front);
  ASSERT_TRUE(RunEnds(front.Form()));
  MainWindow& view = front.View();

  EXPECT_EQ(front.Form().Run(), RunState::Complete);
  const std::vector<PaneLine> lines = PaneLines(*view.LogPane());
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().text, "Fim");
  EXPECT_NE(FindLine(lines, ">Login: advogado"), nullptr);
  for (const PaneLine& line : lines)
    EXPECT_EQ(line.color, view.palette().color(QPalette::WindowText)) << line.text.toStdString();

  EXPECT_EQ(Find<QLabel>(view, "lbStatus")->text(), "Fim");
  EXPECT_EQ(Find<QLabel>(view, "lbOperacao")->text(), "");
  EXPECT_EQ(Find<QPushButton>(view, "btnFim")->text(), "Fim");
  EXPECT_FALSE(Find<QPushButton>(view, "btnIniciar")->isVisible());
  auto* gauge = Find<QProgressBar>(view, "pgbTotal");
  EXPECT_EQ(gauge->value(), 100);
  const QColor bar = gauge->grab().toImage().pixelColor(4, gauge->height() / 2);
  EXPECT_EQ(bar, QColor(0xA6, 0xCA, 0xF0)) << bar.name().toStdString();  // sky blue

  // The hourglass while the run went on, the usual pointer afterwards.
  EXPECT_NE(std::find(busyAtLine.begin(), busyAtLine.end(), true), busyAtLine.end());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  SaveShot(view, "run-complete");
  EXPECT_EQ(front.Finish(), 0);
}

TEST_F(MainWindowTest, RefusedLoginGivesRedLinesAndACancelledRun) {
  test::Pushsim sim({"--fault", "login:fault=Conta bloqueada"}, Scenario());
  ASSERT_TRUE(sim.Running());
  WindowFront& front = Open({"-AUTOSTART", "-URL", sim.Url()});
  StartAndShow(front);
  ASSERT_TRUE(RunEnds(front.Form()));
  MainWindow& view = front.View();

  const QColor red(255, 0, 0), normal = view.palette().color(QPalette::WindowText);
  const std::vector<PaneLine> lines = PaneLines(*view.LogPane());
  const std::vector<std::pair<QString, QColor>> expected = {
      {"Erro: [Login] Conta bloqueada", red},
      {"Não foi possível abrir uma sessão com o servidor.", red},
      {"Operação Cancelada.", red},
      {"Fim", normal}};
  for (const auto& [text, color] : expected) {
    const PaneLine* line = FindLine(lines, text);
    ASSERT_NE(line, nullptr) << text.toStdString() << "\n"
                             << view.LogPane()->toPlainText().toStdString();
    EXPECT_EQ(line->color, color) << text.toStdString();
  }
  EXPECT_EQ(lines.front().color, normal);
  EXPECT_EQ(Find<QLabel>(view, "lbStatus")->text(), "Operação Cancelada");
  EXPECT_EQ(Find<QLabel>(view, "lbOperacao")->text(), "Cancelado");
  SaveShot(view, "run-refused");
  EXPECT_EQ(front.Finish(), 1);
}

TEST_F(MainWindowTest, EscFimSairAndTheCloseBoxEndTheProgram) {
  const std::vector<std::pair<std::string, std::function<void(MainWindow&)>>> ways = {
      {"esc", [](MainWindow& v) { QTest::keyClick(&v, Qt::Key_Escape); }},
      {"fim",
       [](MainWindow& v) { QTest::mouseClick(Find<QPushButton>(v, "btnFim"), Qt::LeftButton); }},
      {"sair", [](MainWindow& v) { v.findChild<QAction*>("itmSair")->trigger(); }},
      {"close-box", [](MainWindow& v) { v.close(); }},
  };
  for (const auto& [how, end] : ways) {
    WindowFront& front = Open({});
    StartAndShow(front);
    if (how == "esc")
      SaveShot(front.View(), "before-esc");
    end(front.View());
    EXPECT_FALSE(front.View().isVisible()) << how;
    EXPECT_TRUE(front.Form().Cancelado) << how;
    EXPECT_EQ(front.Finish(), 1) << how;  // no run
    EXPECT_EQ(PaneLines(*front.View().LogPane()).back().text, "<< Encerrando") << how;
  }
}

TEST_F(MainWindowTest, EscDuringARunCancelsItAfterTheLogout) {
  test::Pushsim sim({}, Scenario());
  ASSERT_TRUE(sim.Running());
  WindowFront& front = Open({"-AUTOSTART", "-URL", sim.Url()});
  // Esc once the scope step lets the window's messages in.
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (front.Form().lbStatus.Caption() != "Conectando com o servidor...")
      return;
    watch.stop();
    SaveShot(front.View(), "esc-during-run");
    QTest::keyClick(&front.View(), Qt::Key_Escape);
  });
  watch.start(0);
  ASSERT_EQ(front.Start(), StartUp::Ready);
  ASSERT_TRUE(RunEnds(front.Form()));

  EXPECT_EQ(front.Form().Run(), RunState::Cancelled);
  EXPECT_FALSE(front.View().isVisible());
  const std::vector<PaneLine> lines = PaneLines(*front.View().LogPane());
  EXPECT_NE(FindLine(lines, "< Logout"), nullptr)
      << front.View().LogPane()->toPlainText().toStdString();
  EXPECT_NE(FindLine(lines, "Operação Cancelada."), nullptr);
  EXPECT_EQ(front.Finish(), 1);
}

TEST_F(MainWindowTest, ResyncMenuAsksAndCancelDoesNothing) {
  WindowFront& front = Open({});
  StartAndShow(front);
  const int lines = front.View().LogPane()->document()->blockCount();
  BoxAnswerer answer(QMessageBox::Cancel, "resync-question");
  front.View().findChild<QAction*>("itmResinc")->trigger();

  EXPECT_EQ(answer.seen.title, "Atenção");
  EXPECT_EQ(answer.seen.text,
            "Todos os processos do Causarium serão resincronizados agora\npara garantir que "
            "estão devidamente cadastrados.\n Deseja continuar?");
  EXPECT_EQ(answer.seen.icon, QMessageBox::Question);
  EXPECT_EQ(answer.seen.buttons, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
  QStringList labels = answer.seen.labels;
  labels.sort();
  EXPECT_EQ(labels, (QStringList{"Cancelar", "Não", "Sim"}));
  EXPECT_EQ(front.View().LogPane()->document()->blockCount(), lines);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  SaveShot(front.View(), "resync-cancelled");
}

TEST_F(MainWindowTest, StartUpRefusalIsAnErrorBoxAndNoWindow) {
  fs::remove(host_ / "Causarium.exe");
  WindowFront& front = Open({});
  BoxAnswerer answer(QMessageBox::Ok, "start-up-refused");
  EXPECT_EQ(front.Start(), StartUp::Ended);
  const SeenBox& seen = answer.seen;
  EXPECT_EQ(seen.title, "Atenção");
  EXPECT_EQ(seen.text, "Causarium não foi encontrado.");
  EXPECT_EQ(seen.icon, QMessageBox::Critical);
  EXPECT_EQ(seen.buttons, QMessageBox::Ok);
  EXPECT_FALSE(front.View().isVisible());
  EXPECT_EQ(front.Finish(), 2);
}

TEST_F(MainWindowTest, StartUpStopLeavesTheWindowToReadTheLog) {
  for (const fs::path& file : fs::directory_iterator(host_ / "dados"))
    if (file.filename().string().rfind("AGENDA.", 0) == 0 ||
        file.filename().string().rfind("agenda.", 0) == 0)
      fs::remove(file);
  WindowFront& front = Open({"-AUTOSTART"});
  ASSERT_EQ(front.Start(), StartUp::Stopped);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&front.View()));
  QCoreApplication::processEvents();
  MainWindow& view = front.View();

  const std::vector<PaneLine> lines = PaneLines(*view.LogPane());
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().text, "Não foi possível abrir o Banco de dados. (Agenda de Compromissos)");
  EXPECT_EQ(lines.back().color, QColor(255, 0, 0));
  QPushButton* start = Find<QPushButton>(view, "btnIniciar");
  EXPECT_TRUE(start->isVisible());
  EXPECT_FALSE(start->isEnabled());
  EXPECT_EQ(front.Form().Run(), RunState::Idle);  // no run, -AUTOSTART or not
  SaveShot(view, "start-up-stopped");
  EXPECT_EQ(front.Finish(), 1);
}

TEST_F(MainWindowTest, BoxAnswersFollowTheButtonPressed) {
  WindowFront& front = Open({});
  StartAndShow(front);
  struct Case {
    MsgIcon icon;
    MsgButtons buttons;
    QMessageBox::StandardButton press;
    QMessageBox::Icon shown;
    MsgAnswer answer;
  };
  const Case cases[] = {
      {MsgIcon::Warning, MsgButtons::Ok, QMessageBox::Ok, QMessageBox::Warning, MsgAnswer::Ok},
      {MsgIcon::Question, MsgButtons::YesNoCancel, QMessageBox::Cancel, QMessageBox::Question,
       MsgAnswer::Cancel},
      {MsgIcon::Information, MsgButtons::YesNo, QMessageBox::Yes, QMessageBox::Information,
       MsgAnswer::Yes},
      {MsgIcon::None, MsgButtons::YesNoCancel, QMessageBox::No, QMessageBox::NoIcon, MsgAnswer::No},
  };
  for (const Case& c : cases) {
    BoxAnswerer answer(c.press);
    EXPECT_EQ(front.Desk().MessageBox("linha 1\r\nlinha 2", "Título", c.icon, c.buttons), c.answer);
    const SeenBox& seen = answer.seen;
    EXPECT_EQ(seen.icon, c.shown);
    EXPECT_EQ(seen.text, "linha 1\nlinha 2");
    EXPECT_EQ(seen.title, "Título");
  }
  SaveShot(front.View(), "boxes");
}

class LinkRecorder : public QObject {
  Q_OBJECT
 public:
  std::vector<QUrl> opened;
 public slots:
  void Open(const QUrl& url) { opened.push_back(url); }
};

TEST_F(MainWindowTest, SupportOpensTheContactPageInTheBrowser) {
  LinkRecorder browser;
  QDesktopServices::setUrlHandler("http", &browser, "Open");
  WindowFront& front = Open({});
  StartAndShow(front);
  front.View().findChild<QAction*>("itmSuporte")->trigger();
  QDesktopServices::unsetUrlHandler("http");
  EXPECT_EQ(browser.opened, std::vector<QUrl>{QUrl(CAU_SITE_URL "/contato.html")});
  SaveShot(front.View(), "support");
}

// The entry picks the terminal front end when there is no display, or
// with -CONSOLE when there is one.
TEST(EntryTest, TerminalWithoutDisplayOrWithConsoleSwitch) {
  test::TempDir dir("gui-entry");
  const fs::path host = dir.path() / "host";
  ::setenv("XDG_CONFIG_HOME", (dir.path() / "config").c_str(), 1);
  ::setenv("XDG_DATA_HOME", (dir.path() / "data").c_str(), 1);
  const fs::path scenario = dir.path() / "scenario.json";
  ASSERT_EQ(test::RunProcess({test::BinPath("mkhost"), host.string(), "--cases", "4", "--user",
                              "advogado", "--password", "segredo", "--scenario", scenario.string()},
                             dir.path())
                .status,
            0);
  fs::copy_file(test::BinPath("VuzaZoz"), host / "VuzaZoz");
  test::Pushsim sim({}, scenario.string());
  ASSERT_TRUE(sim.Running());

  const char* names[] = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
  std::vector<std::optional<std::string>> saved;
  for (const char* name : names) {
    const char* value = std::getenv(name);
    saved.push_back(value ? std::optional<std::string>(value) : std::nullopt);
    ::unsetenv(name);
  }
  const test::Finished bare =
      test::RunProcess({(host / "VuzaZoz").string(), "-AUTOSTART", "-URL", sim.Url()}, dir.path());
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  const test::Finished switched = test::RunProcess(
      {(host / "VuzaZoz").string(), "-CONSOLE", "-AUTOSTART", "-URL", sim.Url()}, dir.path());
  for (std::size_t i = 0; i < saved.size(); ++i) {
    if (saved[i])
      ::setenv(names[i], saved[i]->c_str(), 1);
    else
      ::unsetenv(names[i]);
  }
  for (const test::Finished* f : {&bare, &switched}) {
    EXPECT_EQ(f->status, 0) << f->out << f->err;
    EXPECT_NE(f->out.find("< Logout\nFim\n"), std::string::npos) << f->out;
  }
}

}  // namespace
}  // namespace cau

#include "MainWindowTest.moc"
