// The duplicate check, the registration scan with the push queue pass, and
// the registration step's batches.
#include <regex>

#include "RegisterFixture.h"

namespace cau::testing {
namespace {

class CadastroTest : public RegisterFixture {};

TEST_F(CadastroTest, ScanOutcomePerStateSuspensionAndKind) {
  // Court 5 has the types "11,", court 17 "1,2,", court 99 is out of scope.
  struct Row {
    Caso caso;
    bool cadastrar, descadastrar;
    std::string estadoDepois;
  };
  const std::vector<Row> rows = {
      {{1, 5, "1.k", ""}, true, false, ""},  // "1" occurs in "11,"
      {{1, 5, "2.k", ""}, false, false, ""},
      {{1, 17, ".vazio", ""}, false, false, ""},  // an empty kind never matches
      {{1, 17, "1.a", ""}, true, false, ""},
      {{1, 17, "1.b", "0"}, true, false, "0"},
      {{1, 17, "1.c", "", true}, false, false, ""},
      {{1, 17, "1.d", "2"}, false, false, "2"},
      {{1, 17, "1.e", "2", true}, false, true, ""},
      {{1, 17, "1.f", "3"}, false, false, "3"},  // counted
      {{1, 17, "1.g", "3", true}, false, true, ""},
      {{1, 17, "1.h", "1"}, false, false, "1"},
      {{1, 17, "1.i", "1", true}, false, false, "1"},
      {{1, 17, "1.j", "5", true}, false, false, "5"},
      {{1, 17, "1.l", "4"}, false, false, "4"},
      {{1, 17, "11.m", ""}, false, false, ""},   // "11" is not in "1,2,"
      {{1, 17, "7.n", "3"}, false, false, "3"},  // the kind matters only for registration
      {{1, 17, "7.o", "3", true}, false, true, ""},
      {{1, 17, "semponto", ""}, false, false, ""},
      {{1, 99, "1.p", "3", true}, false, false, "3"},
      {{1, 99, "1.q", ""}, false, false, ""},
  };
  std::vector<Caso> casos;
  Lines cadastrar, descadastrar;
  for (const Row& r : rows) {
    casos.push_back(r.caso);
    const std::string key = std::to_string(r.caso.trib) + "." + r.caso.chave;
    if (r.cadastrar)
      cadastrar.push_back(key);
    if (r.descadastrar)
      descadastrar.push_back(key);
  }
  AddCasos(casos);
  TestForm& form = Ready();
  form.TfrmAtualizaPush::BuscaParaCadastrar();

  EXPECT_EQ(*form.ListaCadastrar, cadastrar);
  EXPECT_EQ(*form.ListaDescadastrar, descadastrar);
  EXPECT_EQ(form.QtdCadastrados, 2);
  EXPECT_EQ(form.lbStatus.Caption(), "cad (3) - desc (3)");
  EXPECT_EQ(StepLines(), Lines{});
  // The blanked states are already matched by the kept queue.
  EXPECT_EQ(Pending(), descadastrar);
  CheckTables();
  const auto estados = Estados();
  for (const Row& r : rows) {
    const std::string id = "1/" + std::to_string(r.caso.trib) + "." + r.caso.chave;
    EXPECT_EQ(estados.at(id), r.estadoDepois) << id;
  }
}

TEST_F(CadastroTest, DuplicatesAfterTheFirstCopyAreSuspended) {
  AddCasos({
      {1, 17, "1.dup", ""},
      {2, 17, "1.DUP", "3"},  // same court and number in another folder, letters in upper case
      {3, 17, "1.dup", "2"},
      {1, 17, "1.cinco", "5"},  // copies in "5" or "1" take no part
      {2, 17, "1.cinco", ""},
      {1, 17, "1.um", "1"},
      {2, 17, "1.um", ""},
      {1, 17, "9.fora", ""},  // out of kind: not checked
      {2, 17, "9.fora", ""},
      {1, 5, "1.dup", ""},  // another court
  });
  TestForm& form = Ready();
  form.TfrmAtualizaPush::ProcuraDuplicados();
  EXPECT_EQ(StepLines(), (Lines{"*Processo duplicado: 1.DUP suspendido do push",
                                "*Processo duplicado: 1.dup suspendido do push"}));
  CheckTables();
  const auto estados = Estados();
  EXPECT_EQ(estados.at("1/17.1.dup"), "");
  EXPECT_EQ(estados.at("2/17.1.DUP"), "5");
  EXPECT_EQ(estados.at("3/17.1.dup"), "5");
  for (const char* kept : {"2/17.1.cinco", "2/17.1.um", "2/17.9.fora", "1/5.1.dup"})
    EXPECT_EQ(estados.at(kept), "") << kept;
  for (auto& r : db::testing::Records(Table("PROCESSO.DBF"))) {
    const bool suspended = r["ESTADOPUSH"] == "5" && r["CHAVEPROC"] != "1.cinco";
    EXPECT_EQ(r["OUTROS"].find(" -[PUSH]- Processo duplicado.\r\n") != std::string::npos, suspended)
        << r["CODPASTA"] << r["CHAVEPROC"] << r["OUTROS"];
  }
}

TEST_F(CadastroTest, ScansReadFromTheFileMeetWhatAWalkMeets) {
  // Added out of tag order (folder first), with copies that differ in case
  // (accented letters too), every state, suspended or not, kinds with and
  // without accents, blanks around numbers and courts out of scope.
  AddCasos({
      {3, 17, "1.a", ""},       {1, 17, "1.A", "3"},          {2, 17, "1.a", "2", true},
      {2, 17, "1.ação", ""},    {1, 17, "1.AÇÃO", "0"},       {4, 5, "ç.x", ""},
      {1, 5, "Ç.x", "3"},       {2, 5, "ç.y", "3", true},     {1, 17, "  2.pad  ", ""},
      {2, 17, "2.pad", "1"},    {3, 17, "2.pad", "5"},        {1, 17, "semponto", ""},
      {1, 17, ".vazio", "3"},   {1, 99, "1.fora", "3", true}, {1, 0, "1.zero", ""},
      {5, 17, "1.b", "4"},      {5, 17, "1.B", ""},           {2, 5, "11.c", "3"},
      {1, 5, "1.d", "2", true}, {3, 5, "1.d", "0"},
  });
  const fs::path dados = dir_ / "dados", saved = root_ / "saved";
  fs::copy(dados, saved, fs::copy_options::recursive);
  struct Outcome {
    Lines cadastrar, descadastrar, lines;
    int qtd = 0;
    std::vector<std::map<std::string, std::string>> records;
  };
  const auto run = [&](bool walk) {
    TestForm& form = Ready({"17=1,2,", "5=11,ç,", "05=1,"});
    form.ProcessoDao->UseWalkingLookups(walk);
    form.TfrmAtualizaPush::ProcuraDuplicados();
    form.TfrmAtualizaPush::BuscaParaCadastrar();
    Outcome o{*form.ListaCadastrar, *form.ListaDescadastrar, StepLines(), form.QtdCadastrados, {}};
    CheckTables();
    o.records = db::testing::Records(Table("PROCESSO.DBF"));
    const std::regex stamp("MsgErro=[0-9/]+ - [0-9:]+ ");
    for (auto& r : o.records)
      r["OUTROS"] = std::regex_replace(r["OUTROS"], stamp, "MsgErro=");
    return o;
  };
  const Outcome walked = run(true);
  fs::remove_all(dados);
  fs::copy(saved, dados, fs::copy_options::recursive);
  const Outcome read = run(false);

  EXPECT_EQ(read.cadastrar, walked.cadastrar);
  EXPECT_EQ(read.descadastrar, walked.descadastrar);
  EXPECT_EQ(read.lines, walked.lines);
  EXPECT_EQ(read.qtd, walked.qtd);
  EXPECT_EQ(read.records, walked.records);
  // The outcome itself, so that both ways cannot be wrong alike.
  EXPECT_EQ(walked.lines, (Lines{"*Processo duplicado: 1.a suspendido do push",
                                 "*Processo duplicado: 1.ação suspendido do push",
                                 "*Processo duplicado: 1.d suspendido do push",
                                 "*Processo duplicado: 1.a suspendido do push",
                                 "*Processo duplicado: 1.B suspendido do push"}));
  EXPECT_EQ(walked.cadastrar, (Lines{"17.2.pad", "17.1.AÇÃO", "5.ç.x"}));
  EXPECT_EQ(walked.descadastrar, (Lines{"5.1.d", "5.ç.y"}));
  EXPECT_EQ(walked.qtd, 4);
}

TEST_F(CadastroTest, PushQueuePassQueuesEachKeyOnceAndMarksEveryRow) {
  AddCasos({{1, 17, "1.novo", ""}, {1, 17, "1.susp", "3", true}});
  AddFila({{5, "x"}, {5, "X"}, {17, "1.novo"}, {17, "1.SUSP"}, {99, "  y  "}, {5, "x"}});
  TestForm& form = Ready();
  form.TfrmAtualizaPush::BuscaParaCadastrar();
  EXPECT_EQ(*form.ListaCadastrar, Lines{"17.1.novo"});
  // The rows come in tag order: "X" before "x".
  EXPECT_EQ(*form.ListaDescadastrar, (Lines{"17.1.susp", "5.X", "99.y"}));
  EXPECT_EQ(Pending(), (Lines{"17.1.susp", "5.X", "99.y"}));
  EXPECT_EQ(form.lbStatus.Caption(), "cad (1) - desc (3)");
  CheckTables();
  const auto fila = db::testing::Records(Table("PushAux.DBF"));
  ASSERT_EQ(fila.size(), 6u);
  for (const auto& row : fila)
    EXPECT_EQ(row.count("*"), 1u) << row.at("CHAVEPROC");
}

TEST_F(CadastroTest, UnreadablePushQueueIsReportedAndTheScanEnds) {
  AddCasos({{1, 17, "1.novo", ""}});
  fs::remove(Table("PushAux.DBF"));
  TestForm& form = Ready();
  form.TfrmAtualizaPush::BuscaParaCadastrar();
  const Lines lines = StepLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "*Erro na leitura da tabela PUSHAUX.dbf");
  EXPECT_NE(lines[1].find("PushAux.DBF"), std::string::npos) << lines[1];
  EXPECT_EQ(*form.ListaCadastrar, Lines{"17.1.novo"});
  EXPECT_EQ(form.lbStatus.Caption(), "cad (1) - desc (0)");
  EXPECT_FALSE(form.Cancelado);
}

// A key the state file cannot keep is not given up: the state stays, the
// push queue row stays, and the next scan finds them again.
TEST_F(CadastroTest, NothingIsGivenUpBeforeTheStateFileHoldsIt) {
  AddCasos({{1, 17, "1.susp", "3", true}});
  AddFila({{5, "x"}});
  TestForm& form = Ready();
  fs::create_directories(dir_ / "dados" / "cauPush.cfg");  // cannot be read or replaced
  EXPECT_THROW(form.TfrmAtualizaPush::BuscaParaCadastrar(), FileError);
  form.ListaEscopo = std::make_unique<TStringList>();  // the case out of scope now
  form.TfrmAtualizaPush::BuscaParaCadastrar();
  const Lines lines = StepLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "*Erro na leitura da tabela PUSHAUX.dbf");
  EXPECT_NE(lines[1].find("cauPush.cfg"), std::string::npos) << lines[1];
  CheckTables();
  EXPECT_EQ(Estados().at("1/17.1.susp"), "3");
  const auto fila = db::testing::Records(Table("PushAux.DBF"));
  ASSERT_EQ(fila.size(), 1u);
  EXPECT_EQ(fila[0].count("*"), 0u);
}

TEST_F(CadastroTest, BatchesOfTwentyWithTheirLines) {
  TestForm& form = Ready();
  *form.ListaCadastrar = Keys(45);
  form.ListaCadastrar->push_back("99.1.semorgao");
  Script().cadastra = [](const ArrayOfProcessoVO& sent) {
    ArrayOfAvisoVO avisos = Answer(sent);
    if (sent.front().codProcesso == "1.1")
      avisos[1].estadoProcesso = EstadoProcesso::CADASTRADO;
    return avisos;
  };
  Script().consulta = [](const ArrayOfProcessoVO& asked) { return asked; };
  form.TfrmAtualizaPush::btnCadastraClick();

  EXPECT_EQ(Sizes(Script().cadastras), (std::vector<std::size_t>{20, 20, 6}));
  EXPECT_EQ(StepLines(), (Lines{"[+]20 processo(s) enviados para cadastramento. Faltam 26...",
                                "[+]20 processo(s) enviados para cadastramento. Faltam 6...",
                                "[+]6 processo(s) enviados para cadastramento."}));
  const ProcessoVO& first = Script().cadastras[0].processos[0];
  EXPECT_EQ(first.codOrgao, "TJXX");
  EXPECT_EQ(first.codProcesso, "1.1");
  EXPECT_EQ(Script().cadastras[0].sessionId, "S9");
  const ProcessoVO& last = Script().cadastras[2].processos.back();
  EXPECT_EQ(last.codOrgao, "");
  EXPECT_EQ(last.codProcesso, "1.semorgao");
  // Only the case answered CADASTRADO is looked up, alone.
  ASSERT_EQ(Script().consultas.size(), 1u);
  ASSERT_EQ(Script().consultas[0].processos.size(), 1u);
  EXPECT_EQ(Script().consultas[0].processos[0].codProcesso, "1.2");
  EXPECT_EQ(Script().consultas[0].processos[0].codOrgao, "TJXX");

  EXPECT_TRUE(form.ListaCadastrar->empty());
  EXPECT_FALSE(form.Cancelado);
  EXPECT_EQ(form.pgbTotal.Progress(), 40);
  EXPECT_EQ(form.ProgressBar1.Max(), 46);
  EXPECT_EQ(form.lbStatus.Caption(), "Processos enviados para cadastramento.");
}

TEST_F(CadastroTest, FailuresCancelAndKeepWhatWasNotAccepted) {
  struct Case {
    const char* name;
    int failingCall;  // 1-based call of cadastraN, or 0 for consultaN in the first batch
    std::size_t left, cadastraCalls;
    Lines lines;
  };
  const std::string erro = "*Erro ao enviar lista de processos para cadastro PUSH.\r\nfalhou";
  const std::vector<Case> cases = {
      {"the first batch", 1, 45, 1, {erro}},
      {"the second batch",
       2,
       25,
       2,
       {"[+]20 processo(s) enviados para cadastramento. Faltam 25...", erro}},
      {"a lookup", 0, 25, 1, {"[+]20 processo(s) enviados para cadastramento. Faltam 25...", erro}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestForm& form = Ready();
    *form.ListaCadastrar = Keys(45);
    Script().cadastra = [&c, calls = 0](const ArrayOfProcessoVO& sent) mutable {
      if (++calls == c.failingCall)
        throw TransportError("falhou");
      return Answer(
          sent, c.failingCall == 0 ? EstadoProcesso::CADASTRADO : EstadoProcesso::EM_CADASTRAMENTO);
    };
    Script().consulta = [](const ArrayOfProcessoVO&) -> ArrayOfProcessoVO {
      throw SoapFault("falhou", "", "", "");
    };
    form.TfrmAtualizaPush::btnCadastraClick();
    EXPECT_EQ(Script().cadastras.size(), c.cadastraCalls);
    const Lines all = Keys(45);
    EXPECT_EQ(*form.ListaCadastrar, Lines(all.end() - static_cast<long>(c.left), all.end()));
    EXPECT_EQ(StepLines(), c.lines);
    EXPECT_TRUE(form.Cancelado);
    EXPECT_EQ(form.pgbTotal.Progress(), 40);
    TearDown();
    SetUp();
  }
}

}  // namespace
}  // namespace cau::testing
