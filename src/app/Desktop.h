// What the main window needs from the desktop it runs on: message boxes,
// the message loop, the pointer, repainting, the browser, the notices window
// and closing. Each front end implements it; so do the tests.
#pragma once

#include <string>

namespace cau {

class Control;

enum class MsgIcon { None, Error, Warning, Question, Information };
enum class MsgButtons { Ok, YesNo, YesNoCancel };
enum class MsgAnswer { Ok, Yes, No, Cancel };

class Desktop {
 public:
  virtual ~Desktop() = default;

  // Shows a box and waits for the answer.
  virtual MsgAnswer MessageBox(const std::string& text, const std::string& caption, MsgIcon icon,
                               MsgButtons buttons) = 0;
  // Lets pending window messages (and with them the end button) run.
  virtual void ProcessMessages() = 0;
  // true: the hourglass pointer; false: the default one.
  virtual void SetHourglass(bool busy) = 0;
  // Paints `control` at once, without waiting for the message loop.
  virtual void RepaintNow(const Control& control) = 0;
  virtual void OpenInBrowser(const std::string& address) = 0;

  // The notices window: how many notices it holds, show them, or show a
  // page of HTML in place of what it showed.
  virtual int NoticeCount() = 0;
  virtual void ShowNotices() = 0;
  virtual void ShowHtml(const std::string& html) = 0;

  // Looks for a newer version at `address` (the update dialog's check).
  virtual void CheckForUpdate(const std::string& address) = 0;

  // Closes the main window, which ends the program once the handler that
  // asked for it (and a run under way) has returned.
  virtual void CloseMainWindow() = 0;
};

}  // namespace cau
