// The notices window's view: a tool window holding one text browser that
// shows the model's page. Links are never followed by the browser itself;
// each click goes to the model.
#pragma once

#include <QPointer>
#include <QWidget>

#include "app/Controls.h"

class QCloseEvent;
class QTextBrowser;

namespace cau {

class TfrmMostraAvisos;

class MostraAvisosView final : public QWidget, public ControlObserver {
  Q_OBJECT

 public:
  // `form` outlives the view; the window is centred on `mainWindow` (null:
  // on the screen) whenever it is shown.
  MostraAvisosView(TfrmMostraAvisos& form, QWidget* mainWindow);
  ~MostraAvisosView() override;

  QTextBrowser* Browser() const { return browser_; }

  void Changed(const Control& control) override;
  void LineAdded(const TLogPane&, const LogLine&) override {}

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void ShowCentred();

  TfrmMostraAvisos& form_;
  QPointer<QWidget> mainWindow_;  // not the parent: the window outlives no one
  QTextBrowser* browser_ = nullptr;
};

}  // namespace cau
