// The main window's view: one widget per control of the window model, kept
// in step through the model's observer, and every click, menu choice, Esc
// and the close box handed to the model's handlers. No rule lives here.
#pragma once

#include <unordered_map>

#include <QMainWindow>

#include "app/Controls.h"

class QAction;
class QCloseEvent;
class QMenu;
class QPushButton;
class QShowEvent;
class QTextEdit;

namespace cau {

class TfrmAtualizaPush;

class MainWindow final : public QMainWindow, public ControlObserver {
  Q_OBJECT

 public:
  // Builds the widgets of `form`'s controls and observes them; `form`
  // outlives the view.
  explicit MainWindow(TfrmAtualizaPush& form);
  ~MainWindow() override;

  // The widget or the menu entry that shows `control`; null when none does.
  QWidget* WidgetFor(const Control& control) const;
  QAction* ActionFor(const Control& control) const;
  QTextEdit* LogPane() const { return log_; }

  // Shows the window in the middle of its screen.
  void ShowCentred();
  void RepaintNow(const Control& control);

  void Changed(const Control& control) override;
  void LineAdded(const TLogPane& pane, const LogLine& line) override;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  QPushButton* AddButton(Control& control, QWidget* parent, void (TfrmAtualizaPush::*click)());
  QAction* AddItem(QMenu* menu, Control& control, void (TfrmAtualizaPush::*click)());
  void Place(Control& control, QWidget* widget);
  // Runs a handler of the model; a failure it lets out is reported in a box.
  void Forward(void (TfrmAtualizaPush::*handler)());
  void Render(const Control& control, QWidget* widget);

  TfrmAtualizaPush& form_;
  std::unordered_map<const Control*, QWidget*> widgets_;
  std::unordered_map<const Control*, QAction*> actions_;
  QTextEdit* log_ = nullptr;
  bool shown_ = false;
};

}  // namespace cau
