#include "AppFixture.h"

namespace cau::testing {
namespace {

using RunState = TfrmAtualizaPush::RunState;
using StartUp = TfrmAtualizaPush::StartUp;

class RunTest : public HostFolder {
 protected:
  TestForm& Ready(std::vector<std::string> args = {}) {
    TestForm& form = MakeForm(std::move(args));
    EXPECT_EQ(form.FormCreate(), StartUp::Ready);
    return form;
  }
  // The pane after the start-up's two lines.
  std::vector<std::string> RunLines() const {
    auto lines = Pane();
    lines.erase(lines.begin(), lines.begin() + 2);
    return lines;
  }
  void ExpectCancelledDisplay(TestForm& form) {
    EXPECT_EQ(form.Run(), RunState::Cancelled);
    EXPECT_EQ(form.lbStatus.Caption(), "Operação Cancelada");
    EXPECT_EQ(form.lbOperacao.Caption(), "Cancelado");
    EXPECT_EQ(form.btnFim.Caption(), "Fim");
    EXPECT_EQ(desktop_.hourglass, (std::vector<bool>{true, false}));
  }
};

TEST_F(RunTest, CompleteRunWalksEveryStepAndShowsTheEnd) {
  TestForm& form = Ready();
  std::vector<std::string> labels;
  form.escopo = [&] {
    labels.push_back(form.lbOperacao.Caption());
    EXPECT_EQ(form.btnFim.Caption(), "Cancela");
    form.ProgressBar1.SetMax(4);
    form.pgbTotal.SetProgress(20);
  };
  form.historicos = [&] { labels.push_back(form.lbOperacao.Caption()); };
  form.descadastra = [&] { labels.push_back(form.lbOperacao.Caption()); };
  form.avisos = [&] { labels.push_back(form.lbOperacao.Caption()); };
  form.btnIniciarClick();

  EXPECT_FALSE(form.btnIniciar.Visible());
  // No new cases: no question, no registration step, the label still went by 2/5.
  EXPECT_TRUE(desktop_.boxes.empty());
  EXPECT_EQ(form.steps,
            (std::vector<std::string>{"escopo", "historicos", "descadastra", "avisos"}));
  EXPECT_EQ(labels, (std::vector<std::string>{"1/5", "3/5", "4/5", "5/5"}));
  EXPECT_EQ(RunLines(), (std::vector<std::string>{">Login: ana", "< Logout", "Fim"}));
  EXPECT_EQ(form.Run(), RunState::Complete);
  EXPECT_EQ(form.lbStatus.Caption(), "Fim");
  EXPECT_EQ(form.lbOperacao.Caption(), "");
  EXPECT_EQ(form.pgbTotal.Progress(), 100);
  EXPECT_EQ(form.ProgressBar1.Position(), 4);
  EXPECT_EQ(form.btnFim.Caption(), "Fim");
  EXPECT_EQ(desktop_.hourglass, (std::vector<bool>{true, false}));
  EXPECT_EQ(service_->script->logins.size(), 1u);
  EXPECT_EQ(service_->script->logouts, std::vector<std::string>{"S1"});
}

TEST_F(RunTest, FailedLoginGoesStraightToLogoutAndEndsCancelled) {
  service_->script->login = []() -> std::string { throw SoapFault("Senha inválida", "", "", ""); };
  WriteIni("ana", "segredo", "[CAUPUSH]\r\nsyncPush=1\r\n");
  TestForm& form = Ready();
  form.btnIniciarClick();
  EXPECT_TRUE(form.steps.empty());  // no step, no resynchronisation
  EXPECT_EQ(RunLines(),
            (std::vector<std::string>{"*Erro: [Login] Senha inválida",
                                      "*Não foi possível abrir uma sessão com o servidor.",
                                      "*Operação Cancelada.", "Fim"}));
  EXPECT_TRUE(service_->script->logouts.empty());
  ExpectCancelledDisplay(form);
}

TEST_F(RunTest, RegistrationQuestion) {
  struct Case {
    std::vector<std::string> args;
    std::deque<MsgAnswer> answers;
    bool asked, registered;
  };
  const Case cases[] = {
      {{}, {MsgAnswer::Yes}, true, true},
      {{}, {MsgAnswer::No}, true, false},
      {{"-AUTOSTART"}, {}, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.size());
    TearDown();
    SetUp();
    desktop_.answers = c.answers;
    TestForm& form = Ready(c.args);
    form.escopo = [&] { *form.ListaCadastrar = {"26.1", "26.2", "26.3"}; };
    if (c.args.empty())
      form.btnIniciarClick();
    else
      form.FormShow();  // -AUTOSTART starts the run by itself
    EXPECT_EQ(form.Run(), RunState::Complete);
    EXPECT_EQ(!desktop_.boxes.empty(), c.asked);
    if (c.asked) {
      EXPECT_EQ(desktop_.boxes[0].text, "3 Processos serão cadastrados. Deseja continuar?");
      EXPECT_EQ(desktop_.boxes[0].caption, "Atenção");
      EXPECT_EQ(desktop_.boxes[0].icon, MsgIcon::Question);
      EXPECT_EQ(desktop_.boxes[0].buttons, MsgButtons::YesNo);
    }
    const bool registered =
        std::find(form.steps.begin(), form.steps.end(), "cadastra") != form.steps.end();
    EXPECT_EQ(registered, c.registered);
    const auto lines = RunLines();
    const bool refused =
        std::find(lines.begin(), lines.end(),
                  "3 processos para cadastramento recusados pelo usuário.") != lines.end();
    EXPECT_EQ(refused, c.asked && !c.registered);
    // Answering No does not cancel: the run goes on with 3/5.
    EXPECT_NE(std::find(form.steps.begin(), form.steps.end(), "historicos"), form.steps.end());
  }
}

TEST_F(RunTest, EndButtonDuringMovementImportSkipsTheRestButLogsOut) {
  TestForm& form = Ready();
  form.historicos = [&] {
    desktop_.onProcessMessages = [&] { form.btnFimClick(); };
    desktop_.ProcessMessages();  // the step's own test point
  };
  form.btnIniciarClick();
  EXPECT_EQ(form.steps, (std::vector<std::string>{"escopo", "historicos"}));
  EXPECT_TRUE(desktop_.closed);
  EXPECT_EQ(service_->script->logouts.size(), 1u);
  EXPECT_EQ(RunLines(),
            (std::vector<std::string>{">Login: ana", "< Logout", "*Operação Cancelada.", "Fim"}));
  ExpectCancelledDisplay(form);
}

TEST_F(RunTest, StepThatThrowsBecomesARedLineAndTheRunWindsDown) {
  TestForm& form = Ready();
  form.descadastra = [] { throw TransportError("Erro HTTP 503 Service Unavailable"); };
  form.btnIniciarClick();
  EXPECT_EQ(form.steps, (std::vector<std::string>{"escopo", "historicos", "descadastra"}));
  EXPECT_EQ(RunLines(),
            (std::vector<std::string>{">Login: ana", "*Erro HTTP 503 Service Unavailable",
                                      "< Logout", "*Operação Cancelada.", "Fim"}));
  ExpectCancelledDisplay(form);
}

TEST_F(RunTest, Resynchronisation) {
  struct Case {
    const char* name;
    std::string ini;
    std::int32_t registered;  // QtdCadastrados after the scan; the server reports 7
    bool runs;
    bool logoutFails = false;  // then no count came: procsAtual is an earlier run's (0)
  };
  const Case cases[] = {
      {"counts agree", "", 7, false},
      {"host asks, counts agree", "[CAUPUSH]\r\nsyncPush=1\r\n", 7, true},
      {"server counts fewer", "", 8, true},
      {"logout failed", "", 8, false, true},
      {"logout failed, host asks", "[CAUPUSH]\r\nsyncPush=1\r\n", 8, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    WriteIni("ana", "segredo", c.ini);
    if (c.logoutFails)
      service_->script->logout = []() -> AvisoLogoutVO { throw TransportError("Erro HTTP 502"); };
    TestForm& form = Ready();
    form.escopo = [&] { form.QtdCadastrados = c.registered; };
    form.btnIniciarClick();
    const bool ran = form.steps.back() == "resinc";
    EXPECT_EQ(ran, c.runs);
    const auto lines = RunLines();
    EXPECT_EQ(std::find(lines.begin(), lines.end(),
                        "Necessário realizar a resincronização dos processos.") != lines.end(),
              c.runs);
    EXPECT_EQ(form.Run(), RunState::Complete);
    EXPECT_FALSE(form.Config->SyncPushRequested());  // the request is removed
  }
}

}  // namespace
}  // namespace cau::testing
