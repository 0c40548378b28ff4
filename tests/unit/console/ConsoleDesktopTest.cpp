#include "ui/console/ConsoleDesktop.h"

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "app/atualizaPush.h"
#include "log/HotLog.h"

namespace cau {
namespace {

std::string Contents(std::FILE* f) {
  std::fflush(f);
  std::rewind(f);
  std::string text;
  for (int c = std::fgetc(f); c != EOF; c = std::fgetc(f))
    text += static_cast<char>(c);
  return text;
}

// Temporary files standing in for the terminal; closed only after the form
// and the desktop that write to them are gone.
struct TempStreams {
  TempStreams() {
    io.out = std::tmpfile();
    io.err = std::tmpfile();
    io.in = std::tmpfile();
  }
  ~TempStreams() {
    for (std::FILE* f : {io.out, io.err, io.in})
      std::fclose(f);
  }
  TempStreams(const TempStreams&) = delete;
  TempStreams& operator=(const TempStreams&) = delete;
  ConsoleStreams io;
};

class ConsoleDesktopTest : public ::testing::Test {
 protected:
  ~ConsoleDesktopTest() override { desktop_.Attach(nullptr); }

  TempStreams files_;
  ConsoleStreams& io_ = files_.io;
  ConsoleDesktop desktop_{io_};
  THotLog log_;  // never started: the file stays out of these tests
  TfrmAtualizaPush form_{desktop_, FormEnvironment{{}, "/nowhere/VuzaZoz", &log_, nullptr, {}}};
};

TEST_F(ConsoleDesktopTest, PaneLinesOnStandardOutputWithErrorsMarked) {
  desktop_.Attach(&form_);
  form_.AddLog("> a1 h2");
  form_.AddErro("Erro no logout. falhou\r\nsegunda linha");
  EXPECT_EQ(Contents(io_.out), "> a1 h2\n[ERRO] Erro no logout. falhou\nsegunda linha\n");
  EXPECT_EQ(Contents(io_.err), "");  // no progress line without a terminal
}

TEST_F(ConsoleDesktopTest, BoxesPrintedAndQuestionsAnsweredNoWithoutTerminal) {
  EXPECT_EQ(desktop_.MessageBox("Causarium não foi encontrado.", "Atenção", MsgIcon::Error,
                                MsgButtons::Ok),
            MsgAnswer::Ok);
  EXPECT_EQ(desktop_.MessageBox("3 Processos serão cadastrados. Deseja continuar?", "Atenção",
                                MsgIcon::Question, MsgButtons::YesNo),
            MsgAnswer::No);
  const std::string out = Contents(io_.out);
  EXPECT_NE(out.find("== Atenção ==\n[ERRO] Causarium não foi encontrado.\n"), std::string::npos);
  EXPECT_NE(out.find("3 Processos serão cadastrados. Deseja continuar?\n"), std::string::npos);
}

TEST_F(ConsoleDesktopTest, QuestionsReadTheTerminal) {
  io_.inIsTerminal = true;
  std::fputs("talvez\ns\nn\n", io_.in);
  std::rewind(io_.in);
  ConsoleDesktop desktop(io_);
  EXPECT_EQ(desktop.MessageBox("?", "Atenção", MsgIcon::Question, MsgButtons::YesNo),
            MsgAnswer::Yes);  // an answer it does not know is asked again
  EXPECT_EQ(desktop.MessageBox("?", "Atenção", MsgIcon::Question, MsgButtons::YesNo),
            MsgAnswer::No);
  EXPECT_EQ(desktop.MessageBox("?", "Atenção", MsgIcon::Question, MsgButtons::YesNoCancel),
            MsgAnswer::Cancel);  // end of input
}

TEST_F(ConsoleDesktopTest, InterruptPressesTheEndButtonAtTheNextMessagePoint) {
  desktop_.Attach(&form_);
  desktop_.RequestCancel();
  EXPECT_FALSE(form_.Cancelado);  // nothing happens inside the signal handler
  desktop_.ProcessMessages();
  EXPECT_TRUE(form_.Cancelado);
  EXPECT_TRUE(desktop_.Closed());
  desktop_.ProcessMessages();  // once only
}

}  // namespace
}  // namespace cau
