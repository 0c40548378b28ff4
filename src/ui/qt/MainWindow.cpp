#include "ui/qt/MainWindow.h"

#include <exception>
#include <string>

#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QShowEvent>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <QTimer>

#include "app/atualizaPush.h"
#include "ui/qt/Banner.h"

namespace cau {

namespace {

QString Text(const std::string& text) {
  QString s = QString::fromStdString(text);
  s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return s;
}

QColor ColorOf(Color color, const QPalette& palette) {
  switch (color) {
    case Color::WindowText:
      return palette.color(QPalette::WindowText);
    case Color::Red:
      return QColor(255, 0, 0);
    case Color::White:
      return QColor(255, 255, 255);
    case Color::Light3D:
      return palette.color(QPalette::Midlight);  // the system's 3-D light
    case Color::SkyBlue:
      return QColor(0xA6, 0xCA, 0xF0);
    case Color::Default:
      break;
  }
  return {};
}

QString GaugeStyle(const QColor& bar) {
  return QStringLiteral(
             "QProgressBar { border: 1px solid #808080; background: #ffffff; color: #000000; "
             "text-align: center; } QProgressBar::chunk { background: %1; }")
      .arg(bar.name());
}

}  // namespace

MainWindow::MainWindow(TfrmAtualizaPush& form) : form_(form) {
  setObjectName(QString::fromStdString(form.Window.Name()));
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  QFont font;
  font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("DejaVu Sans Condensed"),
                    QStringLiteral("DejaVu Sans")});
  font.setPointSize(8);
  setFont(font);

  auto* client = new QWidget(this);
  const Bounds& area = form.Window.GetBounds();  // the client area
  client->setFixedSize(area.width, area.height);
  setCentralWidget(client);
  layout()->setSizeConstraint(QLayout::SetFixedSize);

  for (TLabel* label :
       {&form.Label1, &form.lbTitulo, &form.lbOperacao, &form.lbRede, &form.lbStatus})
    Place(*label, new QLabel(client));

  auto* gauge = new QProgressBar(client);
  gauge->setRange(0, 100);
  gauge->setFormat(QStringLiteral("%p%"));
  gauge->setAlignment(Qt::AlignCenter);
  Place(form.pgbTotal, gauge);
  auto* step = new QProgressBar(client);
  step->setTextVisible(false);
  Place(form.ProgressBar1, step);

  AddButton(form.btnLogin, client, &TfrmAtualizaPush::btnLoginClick);
  AddButton(form.btnEscopo, client, &TfrmAtualizaPush::btnEscopoClick);
  AddButton(form.btnCadastra, client, &TfrmAtualizaPush::btnCadastraClick);
  AddButton(form.btnHistoricos, client, &TfrmAtualizaPush::btnHistoricosClick);
  AddButton(form.btnDescadastra, client, &TfrmAtualizaPush::btnDescadastraClick);
  AddButton(form.btnAvisos, client, &TfrmAtualizaPush::btnAvisosClick);
  AddButton(form.btnLogout, client, &TfrmAtualizaPush::btnLogoutClick);

  log_ = new QTextEdit(client);
  log_->setReadOnly(true);
  log_->setFocusPolicy(Qt::NoFocus);
  log_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  log_->setLineWrapMode(QTextEdit::WidgetWidth);
  Place(form.mInfo, log_);

  auto* group = new QGroupBox(client);
  Place(form.gbSituacao, group);
  for (TLabel* label : {&form.Label2, &form.lbProcs, &form.Label3, &form.lbMaxProcs, &form.Label4,
                        &form.lbMaxProcsAnt})
    Place(*label, new QLabel(group));
  QPushButton* notices = AddButton(form.btnMsg, group, &TfrmAtualizaPush::btnMsgClick);
  notices->setIcon(DrawNoticeIcon());

  QPushButton* start = AddButton(form.btnIniciar, client, &TfrmAtualizaPush::btnIniciarClick);
  QPushButton* end = AddButton(form.btnFim, client, &TfrmAtualizaPush::btnFimClick);

  auto* banner = new QLabel(client);
  const Bounds& b = form.Image1.GetBounds();
  banner->setPixmap(DrawBanner(QSize(b.width, b.height)));
  Place(form.Image1, banner);

  QMenu* options = menuBar()->addMenu(QString());
  actions_[&form.Opcoes1] = options->menuAction();
  AddItem(options, form.itmResinc, &TfrmAtualizaPush::itmResincClick);
  AddItem(options, form.itmSair, &TfrmAtualizaPush::itmSairClick);
  QMenu* help = menuBar()->addMenu(QString());
  actions_[&form.Ajuda1] = help->menuAction();
  AddItem(help, form.Verificaatualizao1, &TfrmAtualizaPush::Verificaatualizao1Click);
  AddItem(help, form.itmSuporte, &TfrmAtualizaPush::itmSuporteClick);
  AddItem(help, form.Sobre1, &TfrmAtualizaPush::Sobre1Click);

  // The end button comes first in the tab order and is the cancel button.
  QWidget::setTabOrder(end, start);
  QWidget::setTabOrder(start, notices);
  QWidget* previous = notices;
  for (TButton* debug : {&form.btnLogin, &form.btnEscopo, &form.btnCadastra, &form.btnHistoricos,
                         &form.btnDescadastra, &form.btnAvisos, &form.btnLogout}) {
    QWidget::setTabOrder(previous, widgets_[debug]);
    previous = widgets_[debug];
  }
  end->setFocus();
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, end, &QPushButton::click);

  for (Control* control : form.Controls())
    Changed(*control);
  for (const LogLine& line : form.mInfo.Lines())
    LineAdded(form.mInfo, line);
  form_.SetObserver(this);
}

MainWindow::~MainWindow() {
  form_.SetObserver(nullptr);
}

QWidget* MainWindow::WidgetFor(const Control& control) const {
  const auto found = widgets_.find(&control);
  return found == widgets_.end() ? nullptr : found->second;
}

QAction* MainWindow::ActionFor(const Control& control) const {
  const auto found = actions_.find(&control);
  return found == actions_.end() ? nullptr : found->second;
}

void MainWindow::Place(Control& control, QWidget* widget) {
  widget->setObjectName(QString::fromStdString(control.Name()));
  const Bounds& b = control.GetBounds();
  if (b.width > 0 && b.height > 0)
    widget->setGeometry(b.left, b.top, b.width, b.height);
  else
    widget->move(b.left, b.top);
  widgets_[&control] = widget;
}

QPushButton* MainWindow::AddButton(Control& control, QWidget* parent,
                                   void (TfrmAtualizaPush::*click)()) {
  auto* button = new QPushButton(parent);
  button->setAutoDefault(false);
  Place(control, button);
  connect(button, &QPushButton::clicked, this, [this, click] { Forward(click); });
  return button;
}

QAction* MainWindow::AddItem(QMenu* menu, Control& control, void (TfrmAtualizaPush::*click)()) {
  QAction* action = menu->addAction(QString());
  action->setObjectName(QString::fromStdString(control.Name()));
  actions_[&control] = action;
  connect(action, &QAction::triggered, this, [this, click] { Forward(click); });
  return action;
}

void MainWindow::Forward(void (TfrmAtualizaPush::*handler)()) {
  try {
    (form_.*handler)();
  } catch (const std::exception& e) {
    QMessageBox::critical(isVisible() ? this : nullptr, QApplication::applicationName(),
                          QString::fromStdString(e.what()));
  }
}

void MainWindow::ShowCentred() {
  show();
  if (const QScreen* where = screen()) {
    QRect frame = frameGeometry();
    frame.moveCenter(where->availableGeometry().center());
    move(frame.topLeft());
  }
}

void MainWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (shown_ || event->spontaneous())
    return;
  shown_ = true;
  // The model's show handler runs once the window is on screen; with
  // -AUTOSTART the whole run happens inside it.
  QTimer::singleShot(0, this, [this] { Forward(&TfrmAtualizaPush::FormShow); });
}

void MainWindow::closeEvent(QCloseEvent* event) {
  Forward(&TfrmAtualizaPush::FormClose);
  event->accept();
}

void MainWindow::RepaintNow(const Control& control) {
  if (QWidget* widget = WidgetFor(control))
    widget->repaint();
}

void MainWindow::Changed(const Control& control) {
  if (&control == &form_.Window) {
    setWindowTitle(QString::fromStdString(control.Caption()));
    return;
  }
  if (QAction* action = ActionFor(control)) {
    action->setText(QString::fromStdString(control.Caption()));
    action->setVisible(control.Visible());
    action->setEnabled(control.Enabled());
    return;
  }
  if (QWidget* widget = WidgetFor(control))
    Render(control, widget);
}

void MainWindow::Render(const Control& control, QWidget* widget) {
  const QPalette base = palette();
  QFont font = this->font();
  font.setBold(control.Bold());
  if (control.SmallFont())
    font.setPointSize(7);
  widget->setFont(font);
  widget->setToolTip(QString::fromStdString(control.Hint()));
  widget->setEnabled(control.Enabled());

  if (auto* label = qobject_cast<QLabel*>(widget)) {
    if (label->pixmap().isNull())
      label->setText(Text(control.Caption()));
    if (const QColor color = ColorOf(control.FontColor(), base); color.isValid()) {
      QPalette p = label->palette();
      p.setColor(QPalette::WindowText, color);
      label->setPalette(p);
    }
    if (control.GetBounds().width == 0) {
      label->adjustSize();
      const Bounds& b = control.GetBounds();
      const int left =
          control.GetAlignment() == Alignment::Right ? b.left - label->width() : b.left;
      label->move(left, b.top);
    }
  } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
    button->setText(Text(control.Caption()));
  } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
    group->setTitle(Text(control.Caption()));
  } else if (auto* bar = qobject_cast<QProgressBar*>(widget)) {
    if (const auto* gauge = dynamic_cast<const TGauge*>(&control)) {
      bar->setValue(gauge->Progress());
      if (const QString style = GaugeStyle(ColorOf(control.FontColor(), base));
          bar->styleSheet() != style)
        bar->setStyleSheet(style);
    } else if (const auto* progress = dynamic_cast<const TProgressBar*>(&control)) {
      bar->setRange(0, progress->Max());
      bar->setValue(progress->Position());
    }
  } else if (auto* text = qobject_cast<QTextEdit*>(widget)) {
    QPalette p = text->palette();
    const QColor background = ColorOf(control.Background(), base);
    p.setColor(QPalette::Base, background.isValid() ? background : base.color(QPalette::Base));
    text->setPalette(p);
  }
  widget->setVisible(control.Visible());
}

void MainWindow::LineAdded(const TLogPane&, const LogLine& line) {
  QTextCursor cursor(log_->document());
  cursor.movePosition(QTextCursor::End);
  if (!log_->document()->isEmpty())
    cursor.insertBlock();
  QTextCharFormat format;
  format.setForeground(ColorOf(line.color, palette()));
  cursor.setCharFormat(format);
  cursor.insertText(Text(line.text), format);
  log_->setTextCursor(cursor);
  log_->ensureCursorVisible();
}

}  // namespace cau
