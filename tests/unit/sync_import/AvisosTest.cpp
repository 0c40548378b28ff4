// The service's notices on a started window: what each kind and state does
// to a case and the log, lastIdAviso, the pages and their failures.
#include "ImportFixture.h"

namespace cau::testing {
namespace {

AvisoVO Aviso(std::int32_t id, TipoAviso tipo, std::string texto = "",
              std::string processo = "1.100", std::string quando = "") {
  AvisoVO a;
  a.id = id;
  a.tipoAviso = tipo;
  a.txtAviso = std::move(texto);
  a.codOrgao = "TJSP";
  a.codProcesso = std::move(processo);
  a.sdtAviso = std::move(quando);
  return a;
}

AvisoVO Estado(EstadoProcesso estado, std::string texto = "", std::string processo = "1.100") {
  AvisoVO a = Aviso(3, TipoAviso::PROCESSO, std::move(texto), std::move(processo));
  a.estadoProcesso = estado;
  return a;
}

class AvisosTest : public ImportFixture {
 protected:
  void SetUp() override {
    ImportFixture::SetUp();
    // State "1": a notice finds the case whatever its state.
    AddCases({{{"CODPASTA", "3"}, {"CODTRIB", "26"}, {"CHAVEPROC", "1.100"}, {"ESTADOPUSH", "1"}}});
  }
};

TEST_F(AvisosTest, EveryKindAndState) {
  using E = EstadoProcesso;
  using T = TipoAviso;
  struct Case {
    const char* name;
    AvisoVO aviso;
    bool debug;
    std::string estado;   // ESTADOPUSH afterwards
    std::string msgErro;  // the end of OUTROS
    Lines pane;
    std::string compromisso;  // the automatic appointment, empty for none
  };
  const std::string hearing = "2027-03-15 14:30:00";
  const std::vector<Case> cases = {
      {"EM_CADASTRAMENTO", Estado(E::EM_CADASTRAMENTO), false, "2", "", {}, ""},
      {"EM_CADASTRAMENTO_2", Estado(E::EM_CADASTRAMENTO_2), false, "2", "", {}, ""},
      {"CADASTRADO", Estado(E::CADASTRADO), false, "3", "", {}, ""},
      {"EM_DESCADASTRAMENTO", Estado(E::EM_DESCADASTRAMENTO), false, "1", "", {}, ""},
      {"EM_DESCADASTRAMENTO_2", Estado(E::EM_DESCADASTRAMENTO_2), false, "1", "", {}, ""},
      {"DESCADASTRADO", Estado(E::DESCADASTRADO), false, "0", "", {}, ""},
      {"ERRO",
       Estado(E::ERRO, "Número inválido"),
       false,
       "5",
       "MsgErro=02/04/2026 - 09:00 -[PUSH]- Número inválido\r\n",
       {},
       ""},
      {"ERRO in debug mode",
       Estado(E::ERRO, "Número inválido"),
       true,
       "5",
       "MsgErro=02/04/2026 - 09:00 -[PUSH]- Número inválido\r\n",
       {"aviso erro: TJSP.1.100 Número inválido"},
       ""},
      {"state of a case the host lacks", Estado(E::CADASTRADO, "t", "9.9"), false, "1", "", {}, ""},
      {"state of a case the host lacks, debug mode",
       Estado(E::CADASTRADO, "t", "9.9"),
       true,
       "1",
       "",
       {"*Processo não encontrado para aviso: TJSP.9.9 t"},
       ""},
      {"ALERTA",
       Aviso(3, T::ALERTA, "Manutenção"),
       false,
       "1",
       "",
       {"AVISO ALERTA: Manutenção"},
       ""},
      {"COBRANCA", Aviso(3, T::COBRANCA, "Fatura"), false, "1", "", {"AVISO COBRANÇA: Fatura"}, ""},
      {"URL", Aviso(3, T::URL, "http://x"), false, "1", "", {"AVISO URL: http://x"}, ""},
      {"hearing set, blank text",
       Aviso(3, T::AUDIENCIA_INC, " ", "1.100", hearing),
       false,
       "1",
       "",
       {" Audiência alterada TJSP.1.100 : 15/03/2027"},
       "Audiência [PUSH]"},
      {"hearing cancelled",
       Aviso(3, T::AUDIENCIA_EXC, "Conciliação", "1.100", hearing),
       false,
       "1",
       "",
       {" Audiência alterada TJSP.1.100 : 15/03/2027"},
       "Audiência CANCELADA [PUSH] Conciliação"},
      {"hearing cancelled, already marked",
       Aviso(3, T::AUDIENCIA_EXC, "x Audiência CANCELADA [PUSH] y", "1.100", hearing),
       false,
       "1",
       "",
       {" Audiência alterada TJSP.1.100 : 15/03/2027"},
       "x Audiência CANCELADA [PUSH] y"},
      {"hearing of a case the host lacks",
       Aviso(3, T::AUDIENCIA_INC, "", "9.9", hearing),
       false,
       "1",
       "",
       {"audiência para processo não encontrado TJSP.9.9"},
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestForm& form =
        Ready(c.debug ? std::vector<std::string>{"-DEBUG"} : std::vector<std::string>{});
    AvisoVO aviso = c.aviso;
    form.ApplyAviso(aviso);
    EXPECT_EQ(StepLines(), c.pane);
    EXPECT_TRUE(desktop_.updateChecks.empty());
    EXPECT_NE(StateFile().find("lastIdAviso=3\r\n"), std::string::npos);
    Record r = CaseRecord("1.100");
    EXPECT_EQ(r["ESTADOPUSH"], c.estado);
    const std::string outros = r["OUTROS"];
    EXPECT_EQ(outros.substr(outros.size() - std::min(outros.size(), c.msgErro.size())), c.msgErro);
    const std::vector<Record> agenda = Records("AGENDA.DBF");
    if (c.compromisso.empty()) {
      EXPECT_TRUE(agenda.empty());
    } else {
      ASSERT_EQ(agenda.size(), 1u);
      EXPECT_EQ(agenda[0].at("COMPROMISS"), c.compromisso);
      EXPECT_EQ(agenda[0].at("DATA"), "20270315");
    }
    TearDown();
    SetUp();
  }
}

TEST_F(AvisosTest, AVersionNoticeRunsTheMenusVersionCheck) {
  TestForm& form = Ready();
  form.Verificaatualizao1Click();
  AvisoVO aviso = Aviso(8, TipoAviso::VERSAO);
  form.ApplyAviso(aviso);
  ASSERT_EQ(desktop_.updateChecks.size(), 2u);
  EXPECT_EQ(desktop_.updateChecks[1], desktop_.updateChecks[0]);
  EXPECT_TRUE(StepLines().empty());
}

TEST_F(AvisosTest, PagesAndLastIdAviso) {
  struct Case {
    const char* name;
    std::vector<ArrayOfAvisoVO> pages;
    int notices;  // in the notices window
    std::vector<std::int64_t> requests;
    std::string lastId;
    Lines pane;
    bool button;
  };
  const auto alert = [](std::int32_t id) { return Aviso(id, TipoAviso::ALERTA, "a"); };
  const std::vector<Case> cases = {
      {"empty first page", {}, 2, {40}, "40", {"Nenhum aviso"}, false},
      // A lower id is handled and leaves the stored value.
      {"two pages",
       {{alert(45), alert(12), alert(47)}, {alert(48)}},
       0,
       {40, 47, 48},
       "48",
       {"AVISO ALERTA: a", "AVISO ALERTA: a", "AVISO ALERTA: a",
        "3 cadastramento(s) efetivado(s) [a47]", "AVISO ALERTA: a",
        "1 cadastramento(s) efetivado(s) [a48]"},
       false},
      {"notices waiting in the window",
       {{alert(41)}},
       2,
       {40, 41},
       "41",
       {"AVISO ALERTA: a", "1 cadastramento(s) efetivado(s) [a41]"},
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(dir_ / "dados" / "cauPush.cfg", "[CAUPUSH]\r\nlastIdAviso=40\r\n");
    auto calls = std::make_shared<std::size_t>(0);
    Service().avisos = [pages = c.pages, calls](const PageCall&) {
      const std::size_t n = (*calls)++;
      return n < pages.size() ? pages[n] : ArrayOfAvisoVO{};
    };
    desktop_.notices = c.notices;
    TestForm& form = Ready();
    form.TfrmAtualizaPush::btnAvisosClick();
    std::vector<std::int64_t> requests;
    for (const PageCall& p : Service().avisoPages) {
      EXPECT_EQ(p.sessionId, "S9");
      EXPECT_EQ(p.limite, 100);
      requests.push_back(p.aPartir);
    }
    EXPECT_EQ(requests, c.requests);
    EXPECT_EQ(StepLines(), c.pane);
    EXPECT_NE(StateFile().find("lastIdAviso=" + c.lastId + "\r\n"), std::string::npos);
    EXPECT_EQ(form.lbStatus.Caption(), "Fim.");
    EXPECT_EQ(form.pgbTotal.Progress(), 100);
    EXPECT_FALSE(form.Cancelado);
    EXPECT_EQ(form.btnMsg.Visible(), c.button);
    EXPECT_EQ(form.btnMsg.Caption(), c.button ? "2" : "0");
    TearDown();
    SetUp();
  }
}

TEST_F(AvisosTest, AFailedPageOrACancelStopsAfterTheLastNoticeHandled) {
  struct Case {
    const char* name;
    int failAt;   // request that fails, -1 none
    bool cancel;  // the end button during the first page
    Lines pane;
    std::string lastId;
  };
  const Lines failed = {"*Erro. Não foi possível receber as mensagens de aviso. ",
                        "*Connection reset"};
  Lines afterPage = {"AVISO ALERTA: a", "AVISO ALERTA: a", "2 cadastramento(s) efetivado(s) [a6]"};
  afterPage.insert(afterPage.end(), failed.begin(), failed.end());
  const std::vector<Case> cases = {
      {"first request", 0, false, failed, "3"},
      {"second request", 1, false, afterPage, "6"},
      {"cancelled after the first notice",
       -1,
       true,
       {"AVISO ALERTA: a", "1 cadastramento(s) efetivado(s) [a4]"},
       "4"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(dir_ / "dados" / "cauPush.cfg", "[CAUPUSH]\r\nlastIdAviso=3\r\n");
    auto calls = std::make_shared<int>(0);
    TestForm* formPtr = nullptr;
    Service().avisos = [&, calls, c](const PageCall&) {
      const int n = (*calls)++;
      if (n == c.failAt)
        throw TransportError("Connection reset");
      if (c.cancel && n == 0)
        desktop_.onProcessMessages = [&formPtr] { formPtr->Cancelado = true; };
      return n == 0 ? ArrayOfAvisoVO{Aviso(4, TipoAviso::ALERTA, "a"),
                                     Aviso(6, TipoAviso::ALERTA, "a")}
                    : ArrayOfAvisoVO{Aviso(9, TipoAviso::ALERTA, "a")};
    };
    TestForm& form = Ready();
    formPtr = &form;
    form.TfrmAtualizaPush::btnAvisosClick();
    EXPECT_EQ(StepLines(), c.pane);
    EXPECT_TRUE(form.Cancelado);
    EXPECT_EQ(form.lbStatus.Caption() == "Fim.", c.cancel);
    EXPECT_NE(StateFile().find("lastIdAviso=" + c.lastId + "\r\n"), std::string::npos)
        << StateFile();
    TearDown();
    SetUp();
  }
}

}  // namespace
}  // namespace cau::testing
