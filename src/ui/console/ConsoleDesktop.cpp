#include "ui/console/ConsoleDesktop.h"

#include <signal.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>

#include "app/atualizaPush.h"
#include "ui/autoupdate.h"

namespace cau {

namespace {

// Set by the SIGINT handler; the only thing a handler may touch.
volatile std::sig_atomic_t gInterrupted = 0;

extern "C" void OnInterrupt(int) {
  gInterrupted = 1;
}

void CatchInterrupt() {
  struct sigaction action = {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  // A second Ctrl-C, during a call that does not return, ends the program.
  action.sa_flags = SA_RESTART | SA_RESETHAND;
  sigaction(SIGINT, &action, nullptr);
}

std::string WithNewlines(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
      continue;
    out += text[i];
  }
  return out;
}

std::string ReadLine(std::FILE* in) {
  std::string line;
  for (int c = std::fgetc(in); c != EOF && c != '\n'; c = std::fgetc(in))
    line += static_cast<char>(c);
  return line;
}

}  // namespace

ConsoleStreams StandardStreams() {
  ConsoleStreams s;
  s.outIsTerminal = isatty(STDOUT_FILENO) == 1;
  s.errIsTerminal = isatty(STDERR_FILENO) == 1;
  s.inIsTerminal = isatty(STDIN_FILENO) == 1;
  return s;
}

ConsoleDesktop::ConsoleDesktop(ConsoleStreams streams) : io_(streams) {}

void ConsoleDesktop::Attach(TfrmAtualizaPush* form) {
  if (form_)
    form_->SetObserver(nullptr);  // what the window does from now on is not shown
  form_ = form;
  if (form_)
    form_->SetObserver(this);
}

void ConsoleDesktop::RequestCancel() {
  gInterrupted = 1;
}

void ConsoleDesktop::ProcessMessages() {
  if (gInterrupted && form_) {
    gInterrupted = 0;
    ClearProgress();
    std::fputs("Cancelando...\n", io_.err);
    form_->btnFimClick();
  }
}

void ConsoleDesktop::Print(const std::string& text) {
  ClearProgress();
  std::fputs(text.c_str(), io_.out);
  std::fflush(io_.out);
}

MsgAnswer ConsoleDesktop::MessageBox(const std::string& text, const std::string& caption,
                                     MsgIcon icon, MsgButtons buttons) {
  const char* mark = icon == MsgIcon::Error     ? "[ERRO] "
                     : icon == MsgIcon::Warning ? "[AVISO] "
                                                : "";
  Print("== " + caption + " ==\n" + mark + WithNewlines(text) + "\n");
  if (buttons == MsgButtons::Ok)
    return MsgAnswer::Ok;
  if (!io_.inIsTerminal) {
    Print("(sem terminal: Não)\n");
    return MsgAnswer::No;
  }
  const char* prompt = buttons == MsgButtons::YesNo ? "[s/n] " : "[s/n/c] ";
  for (;;) {
    std::fputs(prompt, io_.err);
    std::fflush(io_.err);
    const std::string answer = ReadLine(io_.in);
    if (std::feof(io_.in) || gInterrupted)
      return buttons == MsgButtons::YesNo ? MsgAnswer::No : MsgAnswer::Cancel;
    const char c = answer.empty() ? '\0' : answer[0];
    if (c == 's' || c == 'S')
      return MsgAnswer::Yes;
    if (c == 'n' || c == 'N')
      return MsgAnswer::No;
    if (buttons == MsgButtons::YesNoCancel && (c == 'c' || c == 'C'))
      return MsgAnswer::Cancel;
  }
}

void ConsoleDesktop::OpenInBrowser(const std::string& address) {
  notices_.OpenInBrowser(address);
}

void ConsoleDesktop::ShowNotices() {
  for (const std::string& notice : notices_.Notices())
    Print("Aviso: " + notice + "\n");
}

void ConsoleDesktop::CheckForUpdate(const std::string& address) {
  if (exePath_.empty())
    return;
  try {
    HttpUpdateClient client;
    RunUpdateCheck(aux_, client, exePath_, address, &aux_);
  } catch (const std::exception& e) {
    Print("[AVISO] Atualização: " + WithNewlines(e.what()) + "\n");
  }
}

MsgAnswer ConsoleDesktop::AuxLines::MessageBox(const std::string& text, const std::string&,
                                               MsgIcon icon, MsgButtons) {
  const char* mark = icon == MsgIcon::Warning || icon == MsgIcon::Error ? "[AVISO] " : "";
  owner_.Print(std::string(mark) + WithNewlines(text) + "\n");
  return MsgAnswer::Ok;
}

bool ConsoleDesktop::AuxLines::ShellOpen(const std::string& address) {
  owner_.Print("Abra no navegador: " + address + "\n");
  return true;
}

// The update dialog's statuses while it is shown.
void ConsoleDesktop::AuxLines::Changed(const Control& control) {
  if (control.Name() == "frmAutoUpdate")
    dialogShown_ = control.Visible();
  else if (dialogShown_ && control.Name() == "lbStatus")
    owner_.Print("Atualização: " + control.Caption() + "\n");
}

void ConsoleDesktop::ShowHtml(const std::string& html) {
  Print(WithNewlines(html) + "\n");
}

void ConsoleDesktop::LineAdded(const TLogPane&, const LogLine& line) {
  const std::string text = WithNewlines(line.text);
  if (line.color == Color::Red) {
    if (io_.outIsTerminal)
      Print("\033[31m[ERRO] " + text + "\033[0m\n");
    else
      Print("[ERRO] " + text + "\n");
  } else {
    Print(text + "\n");
  }
  DrawProgress();
}

void ConsoleDesktop::Changed(const Control& control) {
  if (!form_)
    return;
  if (&control == &form_->lbOperacao || &control == &form_->lbStatus ||
      &control == &form_->ProgressBar1 || &control == &form_->pgbTotal)
    DrawProgress();
}

void ConsoleDesktop::RepaintNow(const Control& control) {
  Changed(control);
}

void ConsoleDesktop::ClearProgress() {
  if (progressShown_) {
    std::fputs("\r\033[K", io_.err);
    progressShown_ = false;
  }
}

void ConsoleDesktop::DrawProgress() {
  if (!io_.errIsTerminal || !form_ || form_->Run() != TfrmAtualizaPush::RunState::Running)
    return;
  std::string line = "\r\033[K" + form_->lbOperacao.Caption() + " " +
                     std::to_string(form_->pgbTotal.Progress()) + "% " + form_->lbStatus.Caption();
  if (form_->ProgressBar1.Position() > 0)
    line += " (" + std::to_string(form_->ProgressBar1.Position()) + "/" +
            std::to_string(form_->ProgressBar1.Max()) + ")";
  std::fputs(line.c_str(), io_.err);
  std::fflush(io_.err);
  progressShown_ = true;
}

int RunConsole(const std::vector<std::string>& args, const std::string& exePath) {
  ConsoleDesktop desktop;
  desktop.SetExecutable(exePath);
  TfrmAtualizaPush form(desktop, FormEnvironment{args, exePath, nullptr, nullptr, nullptr});
  desktop.Attach(&form);
  CatchInterrupt();

  if (form.FormCreate() == TfrmAtualizaPush::StartUp::Ended) {
    desktop.Attach(nullptr);  // the window was never shown: its closing line stays in the file
    return 2;
  }
  desktop.CreateNotices();
  form.FormShow();
  // A terminal has no Connect button to press: the run starts unless the
  // start-up stopped or the window was closed.
  if (form.Run() == TfrmAtualizaPush::RunState::Idle && !form.Cancelado && !desktop.Closed())
    form.btnIniciarClick();
  const int status = form.Run() == TfrmAtualizaPush::RunState::Complete ? 0 : 1;
  form.FormClose();
  form.FormDestroy();
  desktop.DestroyNotices();
  desktop.Attach(nullptr);
  return status;
}

}  // namespace cau
