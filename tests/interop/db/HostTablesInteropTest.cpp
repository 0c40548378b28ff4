// The host's tables after a run's writes through the table objects read the
// same in an independent reader (dbfread) as in our engine, their key tags
// walk in the same order for another independent reader (XBase::Index), and
// they pass the engine's check.
#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>

#include "../../unit/db/HostSchema.h"
#include "../xbase/Run.h"
#include "db/agendaCauDao.h"
#include "db/pastaCauDao.h"
#include "db/processoCauDao.h"
#include "db/pushAuxCauDao.h"

namespace cau::db {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using testing::AddRows;
using testing::Create;
using testing::HostDir;
using xbase::testing::Quote;
using xbase::testing::RunCommand;

const std::string kDbfread =
    std::string("/usr/bin/python3 ") + CAU_TEST_SOURCE_DIR + "/tests/interop/xbase/dbfread_dump.py";
const std::string kReadTag =
    std::string("/usr/bin/perl ") + CAU_TEST_SOURCE_DIR + "/tests/unit/xbase_cdx/read_tag.pl";

// Our value of one field in the shape the other reader prints it.
json Expected(char type, const std::string& text) {
  if (type == 'N')
    return text.empty() ? json(nullptr) : json(std::stod(text));
  if (type == 'L')
    return text == "T" ? json(true) : text == "F" ? json(false) : json(nullptr);
  if (type == 'D')
    return text.empty()
               ? json(nullptr)
               : json(text.substr(0, 4) + "-" + text.substr(4, 2) + "-" + text.substr(6, 2));
  return json(text);
}

void SameAsIndependentReader(const fs::path& dbf) {
  SCOPED_TRACE(dbf.string());
  auto run = RunCommand(kDbfread + " " + Quote(dbf.string()));
  ASSERT_EQ(run.status, 0);
  json theirs = json::parse(run.out);
  auto ours = testing::Records(dbf);
  auto t = xbase::Table::Open(dbf, xbase::Table::Options{.readOnly = true});
  ASSERT_EQ(theirs.size(), ours.size());
  for (std::size_t i = 0; i < ours.size(); ++i) {
    EXPECT_EQ(theirs[i]["deleted"].get<bool>(), ours[i].count("*") == 1) << "record " << i + 1;
    ASSERT_EQ(theirs[i]["values"].size(), t->fields().size());
    for (const auto& f : t->fields()) {
      json want = Expected(f.type, ours[i][f.name]);
      ASSERT_TRUE(theirs[i]["values"].contains(f.name)) << f.name;
      const json& got = theirs[i]["values"][f.name];
      bool same = want.is_number() && got.is_number()
                      ? std::fabs(want.get<double>() - got.get<double>()) < 1e-9
                      : want == got || (want == json("") && got.is_null());
      EXPECT_TRUE(same) << "record " << i + 1 << " field " << f.name << ": ours " << want
                        << ", theirs " << got;
    }
  }
}

void TagWalksTheSame(const fs::path& dbf, const std::string& tag, const char* type) {
  SCOPED_TRACE(dbf.string() + " " + tag);
  fs::path cdx = dbf;
  cdx.replace_extension(".CDX");
  auto run = RunCommand(kReadTag + " " + Quote(cdx.string()) + " " + tag + " " + type);
  ASSERT_EQ(run.status, 0);
  auto t = xbase::Table::Open(dbf, xbase::Table::Options{.readOnly = true});
  t->SelectTag(t->FindTag(tag));
  std::string ours;
  for (t->GoTop(); !t->Eof(); t->Skip(1))
    ours += std::to_string(t->RecNo()) + "\n";
  EXPECT_EQ(run.out, ours);
}

TEST(HostTablesInterop, ARunsWritesReadTheSameElsewhere) {
  HostDir host;
  fs::path processo = Create(host, "PROCESSO", testing::ProcessoSchema());
  fs::path pasta = Create(host, "PASTA", testing::PastaSchema());
  fs::path agenda = Create(host, "AGENDA", testing::AgendaSchema());
  fs::path pushAux = Create(host, "PushAux", testing::PushAuxSchema());
  std::vector<testing::Row> cases;
  for (int i = 0; i < 40; ++i) {
    cases.push_back({{"CODPASTA", std::to_string(1 + i % 3)},
                     {"CODTRIB", std::to_string(10 + i % 4)},
                     {"CHAVEPROC", "1." + std::to_string(100000 + i * 7) + "-45.2010.5.01.0001"},
                     {"ESTADOPUSH", i % 5 == 0 ? "3" : ""},
                     {"DTDISTRIB", "20100315"},
                     {"VALORCAUSA", "1234.56"}});
  }
  AddRows(processo, cases);
  AddRows(pasta, {{{"CODPASTA", "1"}, {"NOME", "Trabalhista"}},
                  {{"CODPASTA", "2"}, {"NOME", "Cível"}},
                  {{"CODPASTA", "3"}, {"NOME", "Execuções"}}});
  AddRows(pushAux, {{{"CODTRIB", "11"}, {"CHAVEPROC", "1.100007-45.2010.5.01.0001"}},
                    {{"CODTRIB", "10"}, {"CHAVEPROC", "1.100000-45.2010.5.01.0001"}}});

  const FixedClock clock(LocalTime{2011, 3, 11, 9, 15, 0, 0});
  {
    TProcessoDao processos(host.Folder(), clock);
    TPastaDao pastas(host.Folder());
    TAgendaDao agendas(host.Folder());
    ASSERT_TRUE(processos.Opened() && pastas.Opened() && agendas.Opened());
    // The scan: suspended state changes, then movements, hearings and parties.
    for (processos.First(); !processos.Eof(); processos.Next()) {
      if (processos.EstadoPush() == "3")
        processos.SetEstadoPush("2");
    }
    for (int i = 0; i < 40; i += 3) {
      std::string number = "1." + std::to_string(100000 + i * 7) + "-45.2010.5.01.0001";
      ASSERT_TRUE(processos.LocateForImport(10 + i % 4, number));
      processos.SetMsgErro(i % 2 ? "" : "Falha na publicação: ação rescisória");
      processos.SetEstadoPush("3");
      processos.SetProxAudiencia("20110412", "14:30");
      if (processos.GetParte(1).empty())
        processos.SetParte(1, "Reclamante", "José Araújo & Cia");
      processos.LoadMovements();
      for (int m = 0; m < 1 + i % 5; ++m) {
        processos.AddMovement(
            "2011-03-0" + std::to_string(1 + m) + " 1" + std::to_string(m) + ":05",
            "Movimentação nº " + std::to_string(m) + std::string(100 * m, 'x'));
      }
      processos.SaveMovements();
      ASSERT_TRUE(agendas.SaveAutomatic(10 + i % 4, processos.CodPasta(), "Audiência", "14:30",
                                        "20110412", number));
    }
    int32_t novos = pastas.GetOrCreateFolder("_NOVOS_PUSH");
    ASSERT_EQ(novos, 4);
    ASSERT_TRUE(processos.AppendProcesso(novos, 12, "2.0009999-11.2011.5.02.0003"));
    processos.SetEstadoPush("3");
    processos.SaveAndNext();
    TPushAuxDao queue(host.Folder());
    for (queue.First(); !queue.Eof(); queue.Next())
      queue.Delete();
  }

  for (const fs::path& table : {processo, pasta, agenda, pushAux}) {
    SameAsIndependentReader(table);
    EXPECT_EQ(testing::CheckProblems(table), "");
  }
  TagWalksTheSame(processo, "PRIMARYKEY", "C");
  TagWalksTheSame(processo, "ESTADO", "C");
  TagWalksTheSame(processo, "PROXAUD", "C");
  TagWalksTheSame(agenda, "PRIMARYKEY", "C");
  TagWalksTheSame(pasta, "NOME", "C");
  TagWalksTheSame(pushAux, "PRIMARYKEY", "C");
}

}  // namespace
}  // namespace cau::db
