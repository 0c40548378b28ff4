// The window front end as a whole: the desktop, the main window model and
// its view, from the start-up checks to the end of the program.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/atualizaPush.h"
#include "ui/qt/MainWindow.h"
#include "ui/qt/QtDesktop.h"

namespace cau {

// True when a window can be shown: DISPLAY, WAYLAND_DISPLAY or
// QT_QPA_PLATFORM is set.
bool HasDisplay();

// Needs a QApplication. Start runs the start-up checks and, unless they
// ended the program, shows the window centred (its show handler follows
// from the event loop); Finish runs the destroy handler and gives the exit
// status.
class WindowFront {
 public:
  explicit WindowFront(FormEnvironment environment);
  ~WindowFront();
  WindowFront(const WindowFront&) = delete;
  WindowFront& operator=(const WindowFront&) = delete;

  TfrmAtualizaPush::StartUp Start();
  int Finish();

  TfrmAtualizaPush& Form() { return *form_; }
  MainWindow& View() { return *view_; }
  QtDesktop& Desk() { return desktop_; }

 private:
  QtDesktop desktop_;
  std::unique_ptr<TfrmAtualizaPush> form_;
  std::unique_ptr<MainWindow> view_;
  TfrmAtualizaPush::StartUp startUp_ = TfrmAtualizaPush::StartUp::Ended;
};

// Runs the program with its window until the window is closed; the exit
// status as ExitStatus gives it.
int RunWindow(int& argc, char** argv, const std::vector<std::string>& args,
              const std::string& exePath);

}  // namespace cau
