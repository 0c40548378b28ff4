// The terminal front end: log lines on standard output as they are added
// (error lines marked "[ERRO] ", in red on a terminal), the step, status and
// progress as one updating line on standard error when that is a terminal,
// message boxes printed with their caption, questions asked on the terminal
// or answered No without one. Ctrl-C presses the end button.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "app/Controls.h"
#include "app/Desktop.h"

namespace cau {

class TfrmAtualizaPush;

struct ConsoleStreams {
  std::FILE* out = stdout;
  std::FILE* err = stderr;
  std::FILE* in = stdin;
  bool outIsTerminal = false;
  bool errIsTerminal = false;
  bool inIsTerminal = false;
};

// The standard streams, each marked by whether it is a terminal.
ConsoleStreams StandardStreams();

class ConsoleDesktop final : public Desktop, public ControlObserver {
 public:
  explicit ConsoleDesktop(ConsoleStreams streams = StandardStreams());

  // The window whose controls are shown and whose end button Ctrl-C presses.
  void Attach(TfrmAtualizaPush* form);
  // Asks ProcessMessages to press the end button (what Ctrl-C does).
  void RequestCancel();
  bool Closed() const { return closed_; }

  MsgAnswer MessageBox(const std::string& text, const std::string& caption, MsgIcon icon,
                       MsgButtons buttons) override;
  void ProcessMessages() override;
  void SetHourglass(bool) override {}
  void RepaintNow(const Control& control) override;
  void OpenInBrowser(const std::string& address) override;
  int NoticeCount() override { return 0; }
  void ShowNotices() override {}
  void ShowHtml(const std::string& html) override;
  void CheckForUpdate(const std::string&) override {}
  void CloseMainWindow() override { closed_ = true; }

  void Changed(const Control& control) override;
  void LineAdded(const TLogPane& pane, const LogLine& line) override;

 private:
  void ClearProgress();
  void DrawProgress();
  void Print(const std::string& text);

  ConsoleStreams io_;
  TfrmAtualizaPush* form_ = nullptr;
  bool closed_ = false;
  bool progressShown_ = false;
};

// Runs the program in the terminal: start-up, the run, the end. Returns the
// exit status: 0 after a complete run, 1 after a cancelled or failed one, 2
// when the start-up ended the program.
int RunConsole(const std::vector<std::string>& args, const std::string& exePath);

}  // namespace cau
