// The movement import on a started window: paging and lastIdHistorico,
// where each case of a page goes (found, found by its previous number,
// created in _NOVOS_PUSH, queued for unregistration), and what is written
// into a case.
#include <cstdio>

#include "ImportFixture.h"

namespace cau::testing {
namespace {

using db::testing::Row;

// A memo header line of a case (the key of folder, court and number).
std::string Header(int pasta, int trib, const std::string& numero, const std::string& memo) {
  char key[160];
  std::snprintf(key, sizeof key, "%4d%4d%-100s", pasta, trib, numero.c_str());
  return "chave= " + std::string(key) + "&" + memo + "\r\n";
}

// `n` cases the host does not have, movement ids from `firstId` up.
ArrayOfProcessoVO UnknownCases(int page, int n, std::int32_t firstId) {
  ArrayOfProcessoVO cases;
  for (int i = 0; i < n; ++i)
    cases.push_back(Caso("TJSP", "9." + std::to_string(page) + "-" + std::to_string(i),
                         {Mov(firstId + i, "2026-03-01 10:00", "x")}));
  return cases;
}

// Answers the n-th request (from 0) with pages[n], then empty pages; the
// request numbered `failAt` fails.
std::function<ArrayOfProcessoVO(const PageCall&)> Pages(std::vector<ArrayOfProcessoVO> pages,
                                                        int failAt = -1) {
  auto calls = std::make_shared<int>(0);
  return [pages = std::move(pages), calls, failAt](const PageCall&) {
    const int n = (*calls)++;
    if (n == failAt)
      throw TransportError("HTTP 500 Internal Server Error");
    return n < static_cast<int>(pages.size()) ? pages[static_cast<std::size_t>(n)]
                                              : ArrayOfProcessoVO{};
  };
}

class HistoricosTest : public ImportFixture {
 protected:
  std::vector<std::tuple<std::int64_t, std::int64_t, std::int64_t>> Requests() {
    std::vector<std::tuple<std::int64_t, std::int64_t, std::int64_t>> out;
    for (const PageCall& p : Service().historicoPages) {
      EXPECT_EQ(p.sessionId, "S9");
      out.emplace_back(p.aPartir, p.limite, p.offset);
    }
    return out;
  }
};

TEST_F(HistoricosTest, PagesOfAHundredUntilAnEmptyOne) {
  struct Case {
    const char* name;
    std::vector<ArrayOfProcessoVO> pages;
    std::vector<std::tuple<std::int64_t, std::int64_t, std::int64_t>> requests;
    std::string lastId;
    Lines pane;
  };
  const std::vector<Case> cases = {
      {"empty first page", {}, {{50, 100, 0}}, "50", {"Nenhuma atualização nos processos."}},
      // The second page's ids are lower: the highest id of all pages so far counts.
      {"two pages",
       {UnknownCases(0, 100, 1000), UnknownCases(1, 3, 10)},
       {{50, 100, 0}, {1099, 100, 100}, {1099, 100, 200}},
       "1099",
       {"100 processo(s) com andamento(s)", "100 processos não localizados serão descadastrados.",
        "3 processo(s) com andamento(s)", "3 processos não localizados serão descadastrados."}},
      {"only lower ids than the stored one",
       {UnknownCases(0, 1, 7)},
       {{50, 100, 0}, {50, 100, 100}},
       "50",
       {"1 processo(s) com andamento(s)", "1 processo não localizado será descadastrado."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(dir_ / "dados" / "cauPush.cfg", "[CAUPUSH]\r\nlastIdHistorico=50\r\n");
    Service().historicos = Pages(c.pages);
    TestForm& form = Ready();
    form.TfrmAtualizaPush::btnHistoricosClick();
    EXPECT_EQ(Requests(), c.requests);
    EXPECT_EQ(StepLines(), c.pane);
    EXPECT_NE(StateFile().find("lastIdHistorico=" + c.lastId + "\r\n"), std::string::npos)
        << StateFile();
    EXPECT_FALSE(form.Cancelado);
    EXPECT_FALSE(form.btnHistoricos.Enabled());
    EXPECT_EQ(form.pgbTotal.Progress(), 60);
    EXPECT_EQ(form.lbStatus.Caption(), "Verificando atualizações de andamentos.");
    EXPECT_EQ(form.ProgressBar1.Position(), 0);
    TearDown();
    SetUp();
  }
}

TEST_F(HistoricosTest, AFailedRequestKeepsTheLastCompletePage) {
  struct Case {
    const char* name;
    int failAt;
    std::string lastId;
    Lines before;  // the lines ahead of the two red ones
  };
  const std::vector<Case> cases = {
      {"first request", 0, "50", {}},
      {"third request",
       2,
       "1102",
       {"2 processo(s) com andamento(s)", "2 processos não localizados serão descadastrados.",
        "3 processo(s) com andamento(s)", "3 processos não localizados serão descadastrados."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(dir_ / "dados" / "cauPush.cfg", "[CAUPUSH]\r\nlastIdHistorico=50\r\n");
    Service().historicos = Pages(
        {UnknownCases(0, 2, 1000), UnknownCases(1, 3, 1100), UnknownCases(2, 1, 1200)}, c.failAt);
    TestForm& form = Ready();
    form.TfrmAtualizaPush::btnHistoricosClick();
    Lines expected = c.before;
    expected.push_back("*[Historico] HTTP 500 Internal Server Error");
    expected.push_back("*Operação de atualização dos andamentos não realizada.");
    EXPECT_EQ(StepLines(), expected);
    EXPECT_EQ(form.lbStatus.Caption(), "Erro de comunicação. Operação não realizada");
    EXPECT_TRUE(form.Cancelado);
    EXPECT_TRUE(form.btnHistoricos.Enabled());
    EXPECT_EQ(form.pgbTotal.Progress(), 0);
    EXPECT_NE(StateFile().find("lastIdHistorico=" + c.lastId + "\r\n"), std::string::npos)
        << StateFile();
    TearDown();
    SetUp();
  }
}

TEST_F(HistoricosTest, CancellingStopsBetweenPages) {
  Service().historicos = Pages({UnknownCases(0, 2, 1000), UnknownCases(1, 2, 1100)});
  TestForm& form = Ready();
  desktop_.onProcessMessages = [&form] { form.Cancelado = true; };
  form.TfrmAtualizaPush::btnHistoricosClick();
  // The page under way is finished and the next request made; none after it.
  EXPECT_EQ(Requests().size(), 2u);
  EXPECT_EQ(form.ListaDescadastrar->size(), 2u);
  EXPECT_NE(StateFile().find("lastIdHistorico=1001\r\n"), std::string::npos);
}

TEST_F(HistoricosTest, WhereEachCaseOfAPageGoes) {
  AddCases({{{"CODPASTA", "3"}, {"CODTRIB", "26"}, {"CHAVEPROC", "1.100"}},
            {{"CODPASTA", "3"}, {"CODTRIB", "26"}, {"CHAVEPROC", "1.200"}, {"ESTADOPUSH", "3"}},
            {{"CODPASTA", "4"}, {"CODTRIB", "26"}, {"CHAVEPROC", "1.300"}, {"ESTADOPUSH", "1"}},
            {{"CODPASTA", "4"}, {"CODTRIB", "26"}, {"CHAVEPROC", "1.400"}, {"ESTADOPUSH", "1"}},
            {{"CODPASTA", "4"}, {"CODTRIB", "5"}, {"CHAVEPROC", "1.800"}, {"ESTADOPUSH", "5"}}});
  const auto oab = [](ProcessoVO p) {
    p.codTipoVinculo = "OAB";
    return p;
  };
  ProcessoVO renumbered = Caso("tjsp", "1.201", {Mov(12, "2026-03-01 10:00", "b")});
  renumbered.codProcessoAnt = "1.200";
  ProcessoVO lowerOab = Caso("TJSP", "1.900", {Mov(19, "2026-03-01 10:00", "c")});
  lowerOab.codTipoVinculo = "oab";  // only "OAB" exactly creates a case
  Service().historicos = Pages({{
      Caso("TJSP", "1.100", {Mov(11, "2026-03-01 10:00", "a")}),
      renumbered,
      Caso("TJSP", "1.300", {Mov(99, "2026-03-01 10:00", "d"), Mov(98, "2026-03-01 11:00", "e")}),
      oab(Caso("TJSP", "1.400", {Mov(14, "2026-03-01 10:00", "f")})),
      oab(Caso("TJSP", "1.500", {Mov(15, "2026-03-01 10:00", "g")})),
      oab(Caso("XX", "1.600", {Mov(16, "2026-03-01 10:00", "h")})),
      Caso("ZZ", "1.700", {Mov(17, "2026-03-01 10:00", "i")}),
      Caso("TRT1", "1.800", {Mov(18, "2026-03-01 10:00", "j")}),
      lowerOab,
  }});
  TestForm& form = Ready();
  form.TfrmAtualizaPush::btnHistoricosClick();

  EXPECT_EQ(
      StepLines(),
      (Lines{"9 processo(s) com andamento(s)", "Novos andamentos em TJSP.1.100  [11]",
             "Novos andamentos em tjsp.1.200  [12]",
             "Novo Processo 1.400 incluído na pasta _NOVOS_PUSH",
             "Novos andamentos em TJSP.1.400  [14]",
             "Novo Processo 1.500 incluído na pasta _NOVOS_PUSH",
             "Novos andamentos em TJSP.1.500  [15]", "*Órgão desconhecido para o processo XX.1.600",
             "Novos andamentos em TRT1.1.800  [18]",
             "4 processos não localizados serão descadastrados."}));
  EXPECT_EQ(*form.ListaDescadastrar, (Lines{"26.1.300", "-1.1.600", "-1.1.700", "26.1.900"}));
  EXPECT_NE(StateFile().find("lastIdHistorico=99\r\n"), std::string::npos);

  // Records: the five cases, then the two created, in the new folder 1.
  const std::vector<Record> records = Records("PROCESSO.DBF");
  ASSERT_EQ(records.size(), 7u);
  std::vector<std::tuple<std::string, std::string, std::string, std::string>> placed;
  for (Record r : records)
    placed.emplace_back(r["CODPASTA"], r["CODTRIB"], r["CHAVEPROC"], r["ESTADOPUSH"]);
  using T = std::tuple<std::string, std::string, std::string, std::string>;
  EXPECT_EQ(placed, (std::vector<T>{{"3", "26", "1.100", "3"},
                                    {"3", "26", "1.200", "3"},
                                    {"4", "26", "1.300", "1"},
                                    {"4", "26", "1.400", "1"},
                                    {"4", "5", "1.800", "3"},
                                    {"1", "26", "1.400", "3"},
                                    {"1", "26", "1.500", "3"}}));
  const std::vector<Record> folders = Records("PASTA.DBF");
  ASSERT_EQ(folders.size(), 1u);
  EXPECT_EQ(folders[0].at("CODPASTA"), "1");
  EXPECT_EQ(folders[0].at("NOME"), "_NOVOS_PUSH");
}

TEST_F(HistoricosTest, AMissingCaseIsQueuedOnceAndCountedWhenReallyAdded) {
  const auto missing = [](const char* numero, std::int32_t id) {
    return Caso("TJSP", numero, {Mov(id, "2026-03-01 10:00", "x")});
  };
  Service().historicos = Pages(
      {{missing("1.300", 1), missing("1.300", 2), missing("1.301", 3)}, {missing("1.300", 4)}});
  TestForm& form = Ready();
  form.TfrmAtualizaPush::btnHistoricosClick();
  EXPECT_EQ(StepLines(), (Lines{"3 processo(s) com andamento(s)",
                                "2 processos não localizados serão descadastrados.",
                                "1 processo(s) com andamento(s)"}));
  EXPECT_EQ(*form.ListaDescadastrar, (Lines{"26.1.300", "26.1.301"}));
  EXPECT_NE(StateFile().find("lastIdHistorico=4\r\n"), std::string::npos);
}

TEST_F(HistoricosTest, APageIsOnDiskBeforeLastIdHistoricoPassesIt) {
  AddCases({{{"CODPASTA", "3"}, {"CODTRIB", "26"}, {"CHAVEPROC", "1.100"}}});
  ProcessoVO hearing = Caso("TJSP", "1.100");
  hearing.sdtAudiencia = "2026-05-10 14:30";
  // The page's last case has no movements; the next request fails.
  Service().historicos =
      Pages({{Caso("TJSP", "9.1", {Mov(7, "2026-03-01 10:00", "x")}), hearing}}, 1);
  TestForm& form = Ready();
  form.TfrmAtualizaPush::btnHistoricosClick();
  EXPECT_NE(StateFile().find("lastIdHistorico=7\r\n"), std::string::npos);
  // Read while the window still has the table open.
  const std::vector<Record> onDisk = db::testing::Records(Table("PROCESSO.DBF"));
  ASSERT_EQ(onDisk.size(), 1u);
  EXPECT_EQ(onDisk[0].at("ESTADOPUSH"), "3");
  EXPECT_EQ(onDisk[0].at("DTPROXAUD"), "20260510");
}

TEST_F(HistoricosTest, MovementsPartiesAndErrorLineOfACase) {
  const std::string tramita = Header(3, 26, "1.100", "Tramita") +
                              "Dt_1=05/03/2026\r\nHr_1=10:00\r\nTxt_1=Conclusos\r\n"
                              "Dt_2=01/02/2026\r\nTxt_2=Distribuído\r\n";
  const std::string outros = Header(3, 26, "1.100", "Outros") +
                             "VARA=1\r\nMsgErro=11/03/2011 - 09:15 -[PUSH]- x\r\nFIM=2\r\n";
  AddCases({{{"CODPASTA", "3"},
             {"CODTRIB", "26"},
             {"CHAVEPROC", "1.100"},
             {"VISTO", "T"},
             {"TRAMITA", tramita},
             {"OUTROS", outros}}});
  ProcessoVO caso = Caso("TJSP", "1.100",
                         {Mov(21, "2026-03-20 16:40:00", "Juntada\r\nde petição\rpelo autor\nfim"),
                          Mov(22, "2026-03-01 08:05", "Despacho\n\nPublicado"),
                          Mov(20, "2026-03-05 10:00", "Conclusos")});
  caso.partes = {{"AUTOR", {"Maria", "José"}, {}},
                 {"RÉU", {"Empresa"}, {}},
                 {"", {"Sem título"}, {}},
                 {"TERCEIRO", {"Quarto"}, {}}};
  TestForm& form = Ready();
  for (int round = 0; round < 2; ++round) {
    ProcessoVO copy = caso;
    EXPECT_EQ(form.ApplyProcesso(copy), 22);
  }
  EXPECT_EQ(StepLines(), (Lines{"Novos andamentos em TJSP.1.100  [22]",
                                "Novos andamentos em TJSP.1.100  [22]"}));

  Record r = CaseRecord("1.100");
  // Newest first; an entry with the key of an older one goes after it; the
  // second round added nothing.
  EXPECT_EQ(r["TRAMITA"],
            Header(3, 26, "1.100", "Tramita") +
                "Dt_1=20/03/2026\r\nHr_1=16:40\r\n"
                "Txt_1=<span class=\"push\">Juntada<br>de petição<br>pelo autor<br>fim</span>\r\n"
                "Dt_2=05/03/2026\r\nHr_2=10:00\r\nTxt_2=Conclusos\r\n"
                "Dt_3=05/03/2026\r\nHr_3=10:00\r\nTxt_3=<span class=\"push\">Conclusos</span>\r\n"
                "Dt_4=01/03/2026\r\nHr_4=08:05\r\n"
                "Txt_4=<span class=\"push\">Despacho<br><br>Publicado</span>\r\n"
                "Dt_5=01/02/2026\r\nTxt_5=Distribuído\r\n");
  EXPECT_EQ(r["DTULTTRAM"], "202603201640");
  EXPECT_EQ(r["VISTO"], "F");
  EXPECT_EQ(r["DTULTCONS"], "20260402");
  EXPECT_EQ(r["HRULTCONS"], "09:00");
  EXPECT_EQ(r["ESTADOPUSH"], "3");
  EXPECT_EQ(r["OUTROS"], Header(3, 26, "1.100", "Outros") + "VARA=1\r\nMsgErro=\r\nFIM=2\r\n");
  // Three slots; a party without a title writes nothing.
  EXPECT_EQ(r["TITPARTEA"], "AUTOR");
  EXPECT_EQ(r["PARTEA"], "Maria\r\nJosé\r\n");
  EXPECT_EQ(r["TITPARTEB"], "RÉU");
  EXPECT_EQ(r["PARTEB"], "Empresa\r\n");
  EXPECT_EQ(r["TITPARTEC"], "");
  EXPECT_EQ(r["PARTEC"], "");
}

TEST_F(HistoricosTest, PartiesOnlyIntoACaseWithoutAFirstParty) {
  AddCases({{{"CODPASTA", "3"},
             {"CODTRIB", "26"},
             {"CHAVEPROC", "1.100"},
             {"TITPARTEA", "AUTORA"},
             {"PARTEA", "Fulana"}}});
  ProcessoVO caso = Caso("TJSP", "1.100");
  caso.partes = {{"AUTOR", {"Maria"}, {}}, {"RÉU", {"Empresa"}, {}}};
  TestForm& form = Ready();
  EXPECT_EQ(form.ApplyProcesso(caso), 0);
  Record r = CaseRecord("1.100");
  EXPECT_EQ(r["TITPARTEA"], "AUTORA");
  EXPECT_EQ(r["PARTEA"], "Fulana");
  EXPECT_EQ(r["PARTEB"], "");
  EXPECT_EQ(r["ESTADOPUSH"], "3");
}

TEST_F(HistoricosTest, AHearingWithoutMovements) {
  const std::string tramita = Header(3, 26, "1.100", "Tramita") + "Dt_1=05/03/2026\r\nTxt_1=a\r\n";
  AddCases({{{"CODPASTA", "3"}, {"CODTRIB", "26"}, {"CHAVEPROC", "1.100"}, {"TRAMITA", tramita}}});
  ProcessoVO caso = Caso("TJSP", "1.100");
  caso.sdtAudiencia = "2026-05-10 14:30:00";
  TestForm& form = Ready();
  EXPECT_EQ(form.ApplyProcesso(caso), 0);
  EXPECT_EQ(caso.sdtAudiencia, "");
  EXPECT_EQ(StepLines(), (Lines{" Audiência alterada TJSP.1.100 : 10/05/2026"}));
  Record r = CaseRecord("1.100");
  EXPECT_EQ(r["ESTADOPUSH"], "3");
  EXPECT_EQ(r["DTPROXAUD"], "20260510");
  EXPECT_EQ(r["HRPROXAUD"], "14:30:00");
  EXPECT_EQ(r["TRAMITA"], tramita);
  EXPECT_EQ(r["DTULTCONS"], "");
  const std::vector<Record> agenda = Records("AGENDA.DBF");
  ASSERT_EQ(agenda.size(), 1u);
  EXPECT_EQ(agenda[0].at("COMPROMISS"), "Audiência [PUSH]");
}

}  // namespace
}  // namespace cau::testing
