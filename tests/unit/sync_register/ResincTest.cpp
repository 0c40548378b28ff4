// The resynchronisation: its own session and scope step, the selection of
// the registered cases, the batches and the report of cases out of step.
#include "RegisterFixture.h"

namespace cau::testing {
namespace {

class ResincTest : public RegisterFixture {
 protected:
  TestForm& Started() {
    TestForm& form = Ready();
    form.IdSessao.clear();
    Script().escopo = [] { return ArrayOfEscopoVO{{"TJXX", {"1"}}}; };
    return form;
  }
  // The lines after the scope step's court line.
  Lines AfterScope() const {
    Lines lines = StepLines();
    const auto court = std::find_if(lines.begin(), lines.end(), [](const std::string& l) {
      return l.find("tribunais PUSH autorizados.") != std::string::npos;
    });
    EXPECT_NE(court, lines.end());
    if (court != lines.end())
      lines.erase(lines.begin(), court + 1);
    return lines;
  }
};

TEST_F(ResincTest, RegisteredCasesAreSentAgainAndThoseOutOfStepReported) {
  std::vector<Caso> casos;
  for (int i = 1; i <= 40; ++i)
    casos.push_back({1, 17, "1." + std::to_string(1000 + i), i % 2 ? "3" : "2"});
  casos.push_back({2, 17, "1.ultimo", "3"});
  casos.push_back({2, 17, "1.suspenso", "3", true});  // the scan queues it instead
  casos.push_back({2, 17, "1.branco", ""});
  casos.push_back({2, 17, "1.erro", "5"});
  casos.push_back({2, 17, "9.outrotipo", "3"});  // counted, but not of the court's kinds
  casos.push_back({2, 99, "1.forA", "3"});
  AddCasos(casos);
  WriteIni("ana", "segredo", "[CAUPUSH]\r\nsyncPush=1\r\n");
  TestForm& form = Started();
  Script().cadastra = [](const ArrayOfProcessoVO& sent) {
    ArrayOfAvisoVO avisos = Answer(sent, EstadoProcesso::CADASTRADO);
    if (sent.size() == 20 && sent[0].codProcesso == "1.1001") {
      avisos[3].estadoProcesso = EstadoProcesso::EM_CADASTRAMENTO;
      avisos[7].estadoProcesso = EstadoProcesso::EM_CADASTRAMENTO;
      avisos[9].estadoProcesso = EstadoProcesso::ERRO;
    }
    return avisos;
  };
  form.TfrmAtualizaPush::Resincroniza();

  EXPECT_EQ(Script().logins.size(), 1u);
  EXPECT_EQ(Sizes(Script().cadastras), (std::vector<std::size_t>{20, 20, 1}));
  EXPECT_EQ(Script().cadastras[0].sessionId, "S1");
  EXPECT_EQ(Script().cadastras[2].processos[0].codProcesso, "1.ultimo");
  EXPECT_EQ(Script().cadastras[2].processos[0].codOrgao, "TJXX");
  EXPECT_EQ(AfterScope(),
            (Lines{"Foi encontrado 1 processo para descadastrar.",
                   "Foi encontrado 1 novo processo ainda não cadastrado.",
                   "Iniciando sincronização de processos.", "Sincronizando processos com servidor.",
                   "[.] Verificando cadastramento de 20 processo(s). Faltam 21...",
                   "*Atenção! Processo desincronizado. Pode ter perdido andamentos TJXX.1.1004",
                   "*Atenção! Processo desincronizado. Pode ter perdido andamentos TJXX.1.1008",
                   "*Algo errado. TJXX.1.1010",
                   "[.] Verificando cadastramento de 20 processo(s). Faltam 1...",
                   "[.] Verificando cadastramento de 1 processo(s).",
                   "*Atenção! Foram encontrados 3 processos desincronizados", "< Logout"}));
  EXPECT_EQ(Script().logouts, Lines{"S1"});
  EXPECT_FALSE(form.Config->SyncPushRequested());
  EXPECT_EQ(desktop_.hourglass, (std::vector<bool>{true, false}));
  EXPECT_EQ(form.lbStatus.Caption(), "Processos enviados para cadastramento.");
  // The scope step's scan left its queues, which this operation does not send.
  EXPECT_EQ(*form.ListaDescadastrar, Lines{"17.1.suspenso"});
  EXPECT_EQ(*form.ListaCadastrar, Lines{"17.1.branco"});
  EXPECT_TRUE(Script().descadastras.empty());
}

TEST_F(ResincTest, NothingToCheckIsInStep) {
  AddCasos({{1, 17, "1.novo", ""}, {1, 17, "1.erro", "5"}});
  TestForm& form = Started();
  form.TfrmAtualizaPush::Resincroniza();
  EXPECT_TRUE(Script().cadastras.empty());
  EXPECT_EQ(AfterScope(),
            (Lines{"Foi encontrado 1 novo processo ainda não cadastrado.",
                   "Iniciando sincronização de processos.", "Sincronização ok.", "< Logout"}));
}

TEST_F(ResincTest, WithoutAScopeItEndsWithoutLogout) {
  AddCasos({{1, 17, "1.a", "3"}});
  WriteIni("ana", "segredo", "[CAUPUSH]\r\nsyncPush=1\r\n");
  TestForm& form = Started();
  Script().escopo = []() -> ArrayOfEscopoVO { throw SoapFault("Sessão inválida", "", "", ""); };
  form.TfrmAtualizaPush::Resincroniza();
  const Lines lines = StepLines();
  EXPECT_EQ(Lines(lines.end() - 2, lines.end()),
            (Lines{"*[Escopo] Sessão inválida",
                   "*Não foi possível realizar a sincronização dos processos. [Escopo não "
                   "encontrado]"}));
  EXPECT_TRUE(Script().logouts.empty());
  EXPECT_TRUE(Script().cadastras.empty());
  EXPECT_TRUE(form.Config->SyncPushRequested());  // the run sequence removes the request
  EXPECT_EQ(desktop_.hourglass, (std::vector<bool>{true, false}));
}

TEST_F(ResincTest, FailedBatchIsReportedAndTheSessionStillEnds) {
  std::vector<Caso> casos;
  for (int i = 1; i <= 25; ++i)
    casos.push_back({1, 17, "1." + std::to_string(100 + i), "3"});
  AddCasos(casos);
  TestForm& form = Started();
  Script().cadastra = [calls = 0](const ArrayOfProcessoVO& sent) mutable {
    if (++calls == 2)
      throw TransportError("tempo esgotado");
    return Answer(sent, EstadoProcesso::EM_CADASTRAMENTO);
  };
  form.TfrmAtualizaPush::Resincroniza();
  const Lines lines = AfterScope();
  ASSERT_GE(lines.size(), 4u);
  // Twenty out of step, then the failure; the five unchecked are not called in step.
  EXPECT_EQ(Lines(lines.end() - 3, lines.end()),
            (Lines{"*Erro ao enviar lista de processos para cadastro PUSH.\r\ntempo esgotado",
                   "*Atenção! Foram encontrados 20 processos desincronizados", "< Logout"}));
  EXPECT_TRUE(form.Cancelado);
  EXPECT_EQ(Script().cadastras.size(), 2u);

  // Cancelled before (the menu after a cancelled run): nothing is sent, and
  // nothing is called in step.
  Script().cadastras.clear();
  form.TfrmAtualizaPush::Resincroniza();
  EXPECT_TRUE(Script().cadastras.empty());
  const Lines again = StepLines();
  EXPECT_EQ(again.back(), "< Logout");
  EXPECT_EQ(std::count(again.begin(), again.end(), "Sincronização ok."), 0);
}

}  // namespace
}  // namespace cau::testing
