// The update dialog's view: a fixed dialog with the progress bar, the
// status and "Cancela", rendering the model and forwarding the button.
#pragma once

#include <QWidget>

#include "app/Controls.h"

class QCloseEvent;
class QLabel;
class QProgressBar;
class QPushButton;

namespace cau {

class TfrmAutoUpdate;

class AutoUpdateView final : public QWidget, public ControlObserver {
  Q_OBJECT

 public:
  // `form` outlives the view.
  explicit AutoUpdateView(TfrmAutoUpdate& form);
  ~AutoUpdateView() override;

  QProgressBar* Progress() const { return progress_; }
  QLabel* Status() const { return status_; }
  QPushButton* Cancel() const { return cancel_; }

  void Changed(const Control& control) override;
  void LineAdded(const TLogPane&, const LogLine&) override {}

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  TfrmAutoUpdate& form_;
  QProgressBar* progress_ = nullptr;
  QLabel* status_ = nullptr;
  QPushButton* cancel_ = nullptr;
};

}  // namespace cau
