// The desktop of the window front end: message boxes, the event loop, the
// hourglass, painting at once and the browser, for the main window's view.
#pragma once

#include <memory>
#include <string>

#include "app/Desktop.h"
#include "ui/AuxDesktop.h"
#include "ui/mostraAvisos.h"

class QWidget;

namespace cau {

class MainWindow;
class MostraAvisosView;

// Also the desktop of the notices window and the update dialog.
class QtDesktop : public Desktop, public AuxDesktop {
 public:
  // `exePath`: the executable that an update replaces (empty: none, the
  // update check does nothing).
  explicit QtDesktop(std::string exePath = {});
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

  // The notices window and the update dialog.
  int NoticeCount() override;
  void ShowNotices() override;
  void ShowHtml(const std::string& html) override;
  void CheckForUpdate(const std::string& address) override;
  bool ShellOpen(const std::string& address) override;

  // The notices window's life: created after the main window's start-up
  // (its notices loaded), destroyed at the end (its notices saved).
  void CreateNotices(QWidget* mainWindow);
  void DestroyNotices();
  TfrmMostraAvisos& Notices() { return notices_; }
  MostraAvisosView* NoticesView() const { return noticesView_.get(); }

  void CloseMainWindow() override;

 private:
  QWidget* BoxParent() const;

  MainWindow* view_ = nullptr;
  bool busy_ = false;
  std::string exePath_;
  TfrmMostraAvisos notices_{*this};
  std::unique_ptr<MostraAvisosView> noticesView_;
};

}  // namespace cau
