// The desktop of the window front end: message boxes, the event loop, the
// hourglass, painting at once and the browser, for the main window's view.
#pragma once

#include <string>

#include "app/Desktop.h"

class QWidget;

namespace cau {

class MainWindow;

class QtDesktop : public Desktop {
 public:
  QtDesktop() = default;
  ~QtDesktop() override;
  QtDesktop(const QtDesktop&) = delete;
  QtDesktop& operator=(const QtDesktop&) = delete;

  // The view that boxes belong to, that repaints and that closes (null:
  // none, boxes stand alone).
  void Attach(MainWindow* view) { view_ = view; }

  MsgAnswer MessageBox(const std::string& text, const std::string& caption, MsgIcon icon,
                       MsgButtons buttons) override;
  void ProcessMessages() override;
  void SetHourglass(bool busy) override;
  void RepaintNow(const Control& control) override;
  void OpenInBrowser(const std::string& address) override;

  // The notices window and the update dialog: placeholders that hold no
  // notices and show nothing until those windows are wired in here.
  int NoticeCount() override;
  void ShowNotices() override;
  void ShowHtml(const std::string& html) override;
  void CheckForUpdate(const std::string& address) override;

  void CloseMainWindow() override;

 private:
  QWidget* BoxParent() const;

  MainWindow* view_ = nullptr;
  bool busy_ = false;
};

}  // namespace cau
