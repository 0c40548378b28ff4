// The scope step on a started window: the court list from orgaos.xml, the
// code of a court's short name, and what a scope answer leaves in the
// lists, the log pane and the buttons.
#include "AppFixture.h"

namespace cau::testing {
namespace {

using StartUp = TfrmAtualizaPush::StartUp;
using Lines = std::vector<std::string>;

class EscopoTest : public HostFolder {
 protected:
  TestForm& Ready(const std::string& orgaos) {
    WriteFile(dir_ / "orgaos.xml", orgaos);
    TestForm& form = MakeForm();
    EXPECT_EQ(form.FormCreate(), StartUp::Ready);
    form.IdSessao = "S9";
    return form;
  }
  // The pane after the start-up's two lines.
  Lines StepLines() const {
    auto lines = Pane();
    lines.erase(lines.begin(), lines.begin() + 2);
    return lines;
  }
};

constexpr const char* kCourts =
    "<orgaos><orgao id=\"k17\" nomeReduzido=\"TJXX\" nome=\"Tribunal X\"/>"
    "<orgao id=\"k5\" nomeReduzido=\"TRT1\"/><orgao id=\"k0\" nomeReduzido=\"ZERO\"/>"
    "<orgao id=\"k9\" nomeReduzido=\"tjxx\"/></orgaos>";

TEST_F(EscopoTest, CourtListFromTheFile) {
  struct Case {
    const char* name;
    std::string xml;
    Lines list, pane;
  };
  const std::vector<Case> cases = {
      {"document order, duplicates kept, other names ignored",
       kCourts,
       {"17=TJXX", "5=TRT1", "0=ZERO", "9=tjxx"},
       {}},
      {"any first character, the code as written",
       "<lista><x id=\"é42\" nomeReduzido=\"TJÉ\"/><y id=\"0007\" nomeReduzido=\"\"/>"
       "<z id=\"k-3\" nomeReduzido=\"NEG\"/></lista>",
       {"42=TJÉ", "007=", "-3=NEG"},
       {}},
      {"children described wrongly are named and left out",
       "<orgaos><orgao nomeReduzido=\"A\"/><orgao id=\"k1\"/><orgao id=\"kx1\" nomeReduzido=\"B\"/>"
       "<orgao id=\"k\" nomeReduzido=\"C\"/><orgao id=\"k99999999999\" nomeReduzido=\"D\"/>"
       "<orgao id=\"k8\" nomeReduzido=\"E\"/></orgaos>",
       {"8=E"},
       {"*orgaos.xml: o órgão 1 não tem o atributo id.",
        "*orgaos.xml: o órgão 2 não tem o atributo nomeReduzido.",
        "*orgaos.xml: o órgão 3 tem o id \"kx1\", que não é um código numérico.",
        "*orgaos.xml: o órgão 4 tem o id \"k\", que não é um código numérico.",
        "*orgaos.xml: o órgão 5 tem o id \"k99999999999\", que não é um código numérico."}},
      {"an empty root", "<orgaos/>", {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestForm& form = Ready(c.xml);
    EXPECT_EQ(*form.CarregaOrgaos(), c.list);
    EXPECT_EQ(StepLines(), c.pane);
    TearDown();
    SetUp();
  }
}

TEST_F(EscopoTest, CodeOfAShortName) {
  TestForm& form = Ready(kCourts);
  EXPECT_EQ(form.CodigoDoOrgao("TJXX"), -1);  // no list before the first scope step
  form.ListaOrgaos = form.CarregaOrgaos();
  form.ListaOrgaos->push_back("x=NAOCODIGO");
  form.ListaOrgaos->push_back("12=TJÉ");
  const std::vector<std::pair<std::string, std::int32_t>> cases = {
      {"TJXX", 17},       // the first of two equal names
      {"tjxx", 17},       // letters compared without their case
      {"tRt1", 5},        //
      {"ZERO", 0},        //
      {"TJÉ", 12},        //
      {"tjé", -1},        // only a to z change case
      {"TJX", -1},        // whole names only
      {"", -1},           //
      {"NAOCODIGO", -1},  // a line without a numeric code is passed over
  };
  for (const auto& [name, code] : cases)
    EXPECT_EQ(form.CodigoDoOrgao(name), code) << name;
}

TEST_F(EscopoTest, ScopeAnswers) {
  struct Case {
    const char* name;
    std::string xml;
    std::function<ArrayOfEscopoVO()> answer;
    Lines cadastrar, descadastrar;  // what the scans add
    Lines pane, escopo;
    std::string cadastraCaption, descadastraCaption;
    bool cadastraEnabled, cancelado, scanned;
    int gauge;
  };
  const auto answer = [](ArrayOfEscopoVO a) { return [a] { return a; }; };
  const std::vector<Case> cases = {
      {"types text, courts the list lacks or codes 0",
       kCourts,
       answer({{"tjxx", {"A", "B"}}, {"ZERO", {}}, {"NOVO", {"C"}}, {"TRT1", {}}}),
       {},
       {},
       {"4 tribunais PUSH autorizados.  tjxx (A,B,) ZERO () NOVO (C,) TRT1 ()"},
       {"17=A,B,", "5="},
       "Cadastra",
       "Descadastra",
       false,
       false,
       true,
       20},
      {"one to register, three to unregister",
       kCourts,
       answer({{"TJXX", {"1"}}}),
       {"17.1"},
       {"17.a", "17.b", "17.c"},
       {"1 tribunais PUSH autorizados.  TJXX (1,)",
        "Foram encontrados 3 processos para descadastrar.",
        "Foi encontrado 1 novo processo ainda não cadastrado."},
       {"17=1,"},
       "Cadastra (1)",
       "Descadastra (3)",
       true,
       false,
       true,
       20},
      {"one to unregister, two to register",
       kCourts,
       answer({{"TRT1", {"2", "3"}}}),
       {"5.1", "5.2"},
       {"5.a"},
       {"1 tribunais PUSH autorizados.  TRT1 (2,3,)",
        "Foi encontrado 1 processo para descadastrar.",
        "Foram encontrados 2 novos processos ainda não cadastrados."},
       {"5=2,3,"},
       "Cadastra (2)",
       "Descadastra (1)",
       true,
       false,
       true,
       20},
      {"an empty court list goes on",
       "<orgaos/>",
       answer({{"TJXX", {"1"}}}),
       {},
       {},
       {"*Não foram encontrados orgãos habilitados para consulta PUSH ou arquivo orgaos.xml está "
        "corrompido. Entre em contato com a VEXO.",
        "1 tribunais PUSH autorizados.  TJXX (1,)"},
       {},
       "Cadastra",
       "Descadastra",
       false,
       false,
       true,
       20},
      {"an empty scope ends the step, not the run",
       kCourts,
       answer({}),
       {"17.1"},
       {"17.a"},
       {"*"},
       {},
       "Cadastra",
       "Descadastra",
       true,
       false,
       false,
       0},
      {"a fault cancels",
       kCourts,
       []() -> ArrayOfEscopoVO { throw SoapFault("Sessão expirada", "", "", ""); },
       {"17.1"},
       {},
       {"*[Escopo] Sessão expirada"},
       {},
       "Cadastra",
       "Descadastra",
       true,
       true,
       false,
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    service_->script->escopo = c.answer;
    TestForm& form = Ready(c.xml);
    form.duplicados = [&] { EXPECT_TRUE(form.steps == Lines{"duplicados"}); };
    form.busca = [&] {
      for (const auto& k : c.cadastrar)
        form.ListaCadastrar->push_back(k);
      for (const auto& k : c.descadastrar)
        form.ListaDescadastrar->push_back(k);
    };
    form.pgbTotal.SetProgress(50);
    form.TfrmAtualizaPush::btnEscopoClick();

    EXPECT_EQ(service_->script->escopos, Lines{"S9"});
    EXPECT_EQ(form.lbStatus.Caption(), "Conectando com o servidor...");
    EXPECT_EQ(StepLines(), c.pane);
    ASSERT_TRUE(form.ListaEscopo);
    EXPECT_EQ(*form.ListaEscopo, c.escopo);
    EXPECT_EQ(form.steps, c.scanned ? (Lines{"duplicados", "busca"}) : Lines{});
    EXPECT_EQ(form.btnCadastra.Caption(), c.cadastraCaption);
    EXPECT_EQ(form.btnCadastra.Enabled(), c.cadastraEnabled);
    EXPECT_EQ(form.btnDescadastra.Caption(), c.descadastraCaption);
    EXPECT_EQ(form.Cancelado, c.cancelado);
    EXPECT_EQ(form.pgbTotal.Progress(), c.gauge);
    TearDown();
    SetUp();
  }
}

TEST_F(EscopoTest, ASecondStepRebuildsTheListsAndCountsWhatTheQueuesHold) {
  TestForm& form = Ready(kCourts);
  service_->script->escopo = [] { return ArrayOfEscopoVO{{"TJXX", {"1"}}, {"TRT1", {}}}; };
  form.busca = [&] { form.ListaCadastrar->push_back("17." + std::to_string(form.steps.size())); };
  form.TfrmAtualizaPush::btnEscopoClick();
  service_->script->escopo = [] { return ArrayOfEscopoVO{{"TRT1", {"4"}}}; };
  form.TfrmAtualizaPush::btnEscopoClick();

  EXPECT_EQ(*form.ListaEscopo, Lines{"5=4,"});
  EXPECT_EQ(*form.ListaOrgaos, (Lines{"17=TJXX", "5=TRT1", "0=ZERO", "9=tjxx"}));
  EXPECT_EQ(form.btnCadastra.Caption(), "Cadastra (2)");
  EXPECT_EQ(StepLines(), (Lines{"2 tribunais PUSH autorizados.  TJXX (1,) TRT1 ()",
                                "Foi encontrado 1 novo processo ainda não cadastrado.",
                                "1 tribunais PUSH autorizados.  TRT1 (4,)",
                                "Foram encontrados 2 novos processos ainda não cadastrados."}));
}

}  // namespace
}  // namespace cau::testing
