#include "ui/qt/AutoUpdateView.h"

#include <QCloseEvent>
#include <QFont>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

#include "ui/autoupdate.h"

namespace cau {

namespace {

QString Q(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void Place(QWidget* widget, const Control& control) {
  const Bounds& b = control.GetBounds();
  if (b.width > 0 && b.height > 0)
    widget->setGeometry(b.left, b.top, b.width, b.height);
  else
    widget->move(b.left, b.top);
  widget->setObjectName(Q(control.Name()));
}

}  // namespace

AutoUpdateView::AutoUpdateView(TfrmAutoUpdate& form)
    : QWidget(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      form_(form) {
  setObjectName(Q(form_.Window.Name()));
  setWindowTitle(Q(form_.Window.Caption()));
  QFont font;
  font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("DejaVu Sans")});
  font.setPointSize(8);
  setFont(font);
  setFixedSize(form_.Window.GetBounds().width, form_.Window.GetBounds().height);

  progress_ = new QProgressBar(this);
  Place(progress_, form_.ProgressBar1);
  progress_->setTextVisible(false);
  status_ = new QLabel(this);
  Place(status_, form_.lbStatus);
  cancel_ = new QPushButton(this);
  Place(cancel_, form_.btnCancela);
  connect(cancel_, &QPushButton::clicked, this, [this] { form_.btnCancelaClick(); });

  form_.SetObserver(this);
  const Control* const initial[] = {&form_.ProgressBar1, &form_.lbStatus, &form_.btnCancela,
                                    &form_.Window};
  for (const Control* c : initial)
    Changed(*c);
}

AutoUpdateView::~AutoUpdateView() {
  form_.SetObserver(nullptr);
}

void AutoUpdateView::Changed(const Control& control) {
  if (&control == &form_.ProgressBar1) {
    progress_->setRange(0, form_.ProgressBar1.Max());
    progress_->setValue(form_.ProgressBar1.Position());
  } else if (&control == &form_.lbStatus) {
    status_->setText(Q(control.Caption()));
    status_->adjustSize();
  } else if (&control == &form_.btnCancela) {
    cancel_->setText(Q(control.Caption()));
  } else if (&control == &form_.Window) {
    if (control.Visible() && !isVisible()) {
      show();
      if (const QScreen* where = screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(where->availableGeometry().center());
        move(frame.topLeft());
      }
    } else if (!control.Visible() && isVisible()) {
      hide();
    }
  }
}

// The close box counts as "Cancela".
void AutoUpdateView::closeEvent(QCloseEvent* event) {
  QWidget::closeEvent(event);
  if (form_.Window.Visible())
    form_.btnCancelaClick();
}

}  // namespace cau
