#include "ui/qt/QtDesktop.h"

#include <utility>

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QString>
#include <QUrl>

#include <utility>

#include "app/atualizaPush.h"
#include "ui/UpdateSignature.h"
#include "ui/autoupdate.h"
#include "ui/qt/AutoUpdateView.h"
#include "ui/qt/MainWindow.h"
#include "ui/qt/MostraAvisosView.h"

namespace cau {

namespace {

QMessageBox::Icon IconOf(MsgIcon icon) {
  switch (icon) {
    case MsgIcon::Error:
      return QMessageBox::Critical;
    case MsgIcon::Warning:
      return QMessageBox::Warning;
    case MsgIcon::Question:
      return QMessageBox::Question;
    case MsgIcon::Information:
      return QMessageBox::Information;
    case MsgIcon::None:
      break;
  }
  return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons ButtonsOf(MsgButtons buttons) {
  switch (buttons) {
    case MsgButtons::YesNo:
      return QMessageBox::Yes | QMessageBox::No;
    case MsgButtons::YesNoCancel:
      return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case MsgButtons::Ok:
      break;
  }
  return QMessageBox::Ok;
}

MsgAnswer AnswerOf(int button, MsgButtons buttons) {
  switch (button) {
    case QMessageBox::Yes:
      return MsgAnswer::Yes;
    case QMessageBox::No:
      return MsgAnswer::No;
    case QMessageBox::Cancel:
      return MsgAnswer::Cancel;
    case QMessageBox::Ok:
      return MsgAnswer::Ok;
    default:
      break;
  }
  // Closed without a button: what Esc means for these buttons.
  return buttons == MsgButtons::YesNo         ? MsgAnswer::No
         : buttons == MsgButtons::YesNoCancel ? MsgAnswer::Cancel
                                              : MsgAnswer::Ok;
}

}  // namespace

QtDesktop::QtDesktop(std::string exePath) : exePath_(std::move(exePath)) {}

QtDesktop::~QtDesktop() {
  SetHourglass(false);
  noticesView_.reset();
}

QWidget* QtDesktop::BoxParent() const {
  return view_ && view_->isVisible() ? view_ : nullptr;
}

MsgAnswer QtDesktop::MessageBox(const std::string& text, const std::string& caption, MsgIcon icon,
                                MsgButtons buttons) {
  QString body = QString::fromStdString(text);
  body.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  QMessageBox box(IconOf(icon), QString::fromStdString(caption), body, ButtonsOf(buttons),
                  BoxParent());
  box.setTextFormat(Qt::PlainText);
  for (const auto& [button, label] :
       {std::pair{QMessageBox::Yes, "Sim"}, std::pair{QMessageBox::No, "Não"},
        std::pair{QMessageBox::Cancel, "Cancelar"}, std::pair{QMessageBox::Ok, "OK"}})
    if (QAbstractButton* shown = box.button(button))
      shown->setText(QString::fromUtf8(label));
  // The hourglass of a run must not hide the pointer from the box.
  if (busy_)
    QApplication::setOverrideCursor(Qt::ArrowCursor);
  const int button = box.exec();
  if (busy_)
    QApplication::restoreOverrideCursor();
  return AnswerOf(button, buttons);
}

void QtDesktop::ProcessMessages() {
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void QtDesktop::SetHourglass(bool busy) {
  if (busy == busy_)
    return;
  busy_ = busy;
  if (busy)
    QApplication::setOverrideCursor(Qt::WaitCursor);
  else
    QApplication::restoreOverrideCursor();
}

void QtDesktop::RepaintNow(const Control& control) {
  if (view_)
    view_->RepaintNow(control);
}

void QtDesktop::OpenInBrowser(const std::string& address) {
  notices_.OpenInBrowser(address);
}

bool QtDesktop::ShellOpen(const std::string& address) {
  return QDesktopServices::openUrl(QUrl(QString::fromStdString(address)));
}

// ---- Notices window and update dialog ----

void QtDesktop::CreateNotices(QWidget* mainWindow) {
  notices_.FormCreate();
  noticesView_ = std::make_unique<MostraAvisosView>(notices_, mainWindow);
}

void QtDesktop::DestroyNotices() {
  noticesView_.reset();
  notices_.FormDestroy();
}

int QtDesktop::NoticeCount() {
  return notices_.NoticeCount();
}

void QtDesktop::ShowNotices() {
  notices_.ShowNotices();
}

void QtDesktop::ShowHtml(const std::string& html) {
  notices_.ShowHtml(html);
}

// The dialog exists for one check; a failed request gets the program's
// error box.
void QtDesktop::CheckForUpdate(const std::string& address) {
  if (exePath_.empty())
    return;
  try {
    HttpUpdateClient client;
    TfrmAutoUpdate dialog(*this, client, exePath_, UpdatePublicKey());
    AutoUpdateView view(dialog);
    dialog.ChecaVersao(address);
  } catch (const std::exception& e) {
    MessageBox(e.what(), std::string(kApplicationTitle), MsgIcon::Error, MsgButtons::Ok);
  }
}

// ----

void QtDesktop::CloseMainWindow() {
  if (view_)
    view_->close();
}

}  // namespace cau
