#include "ui/qt/MostraAvisosView.h"

#include <QCloseEvent>
#include <QFont>
#include <QScreen>
#include <QTextBrowser>
#include <QTextDocument>
#include <QUrl>
#include <QVBoxLayout>

#include "ui/mostraAvisos.h"

namespace cau {

namespace {

QString Q(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

MostraAvisosView::MostraAvisosView(TfrmMostraAvisos& form, QWidget* mainWindow)
    : QWidget(nullptr, Qt::Tool), form_(form), mainWindow_(mainWindow) {
  setObjectName(Q(form_.Window.Name()));
  setWindowTitle(Q(form_.Window.Caption()));
  QFont font;
  font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("DejaVu Sans")});
  font.setPointSize(8);
  setFont(font);
  const Bounds& size = form_.Window.GetBounds();
  resize(size.width, size.height);

  browser_ = new QTextBrowser(this);
  browser_->setObjectName(Q(form_.HTMLViewer1.Name()));
  browser_->setOpenLinks(false);
  browser_->setOpenExternalLinks(false);
  browser_->setFrameShape(QFrame::NoFrame);
  browser_->setTextInteractionFlags(Qt::TextBrowserInteraction);
  QFont page;
  page.setFamilies({QStringLiteral("Verdana"), QStringLiteral("DejaVu Sans")});
  browser_->document()->setDefaultFont(page);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(browser_);
  connect(browser_, &QTextBrowser::anchorClicked, this, [this](const QUrl& target) {
    form_.HTMLViewer1HotSpotClick(target.toString().toStdString());
  });

  form_.SetObserver(this);
  browser_->setHtml(Q(form_.HTMLViewer1.Html()));
  setVisible(form_.Window.Visible());
}

MostraAvisosView::~MostraAvisosView() {
  form_.SetObserver(nullptr);
}

void MostraAvisosView::Changed(const Control& control) {
  if (&control == &form_.HTMLViewer1) {
    browser_->setHtml(Q(form_.HTMLViewer1.Html()));
  } else if (&control == &form_.Window) {
    if (control.Visible() && !isVisible())
      ShowCentred();
    else if (!control.Visible() && isVisible())
      hide();
  }
}

void MostraAvisosView::ShowCentred() {
  show();
  QRect frame = frameGeometry();
  if (mainWindow_ && mainWindow_->isVisible())
    frame.moveCenter(mainWindow_->frameGeometry().center());
  else if (const QScreen* where = screen())
    frame.moveCenter(where->availableGeometry().center());
  move(frame.topLeft());
  raise();
}

void MostraAvisosView::closeEvent(QCloseEvent* event) {
  QWidget::closeEvent(event);
  form_.Window.SetVisible(false);
}

}  // namespace cau
