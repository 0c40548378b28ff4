// The terminal front end: log lines on standard output as they are added
// (error lines marked "[ERRO] ", in red on a terminal), the step, status and
// progress as one updating line on standard error when that is a terminal,
// message boxes printed with their caption, questions asked on the terminal
// or answered No without one. Ctrl-C presses the end button. The notices
// of "avisos.txt" are kept as the window front end keeps them; the update
// check reports what it does as lines, without a dialog.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "app/Controls.h"
#include "app/Desktop.h"
#include "ui/AuxDesktop.h"
#include "ui/mostraAvisos.h"

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
  int NoticeCount() override { return notices_.NoticeCount(); }
  void ShowNotices() override;
  void ShowHtml(const std::string& html) override;
  void CheckForUpdate(const std::string& address) override;
  void CloseMainWindow() override { closed_ = true; }

  // The executable that an update replaces (empty: no update check).
  void SetExecutable(std::string exePath) { exePath_ = std::move(exePath); }
  // The notices window's life: loaded after the main window's start-up,
  // written back at the end.
  void CreateNotices() { notices_.FormCreate(); }
  void DestroyNotices() { notices_.FormDestroy(); }

  void Changed(const Control& control) override;
  void LineAdded(const TLogPane& pane, const LogLine& line) override;

 private:
  void ClearProgress();
  void DrawProgress();
  void Print(const std::string& text);

  // The auxiliary windows' side: boxes and statuses as lines, the browser
  // as an address to open.
  class AuxLines final : public AuxDesktop, public ControlObserver {
   public:
    explicit AuxLines(ConsoleDesktop& owner) : owner_(owner) {}
    MsgAnswer MessageBox(const std::string& text, const std::string& caption, MsgIcon icon,
                         MsgButtons buttons) override;
    void ProcessMessages() override {}
    bool ShellOpen(const std::string& address) override;
    void Changed(const Control& control) override;
    void LineAdded(const TLogPane&, const LogLine&) override {}

   private:
    ConsoleDesktop& owner_;
    bool dialogShown_ = false;
  };

  ConsoleStreams io_;
  AuxLines aux_{*this};
  TfrmMostraAvisos notices_{aux_};
  std::string exePath_;
  TfrmAtualizaPush* form_ = nullptr;
  bool closed_ = false;
  bool progressShown_ = false;
};

// Runs the program in the terminal: start-up, the run, the end. Returns the
// exit status: 0 after a complete run, 1 after a cancelled or failed one, 2
// when the start-up ended the program.
int RunConsole(const std::vector<std::string>& args, const std::string& exePath);

}  // namespace cau
