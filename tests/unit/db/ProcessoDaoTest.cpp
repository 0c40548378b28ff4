// The case table object on a real sample table: opening (and why it fails),
// scans, lookups, the error line of OUTROS, new cases, movements and
// parties. Every table passes the engine's check after the writes.
#include "db/processoCauDao.h"

#include <gtest/gtest.h>

#include "HostSchema.h"
#include "config/Errors.h"

namespace cau::db {
namespace {

namespace fs = std::filesystem;
using testing::AddRows;
using testing::CheckProblems;
using testing::Create;
using testing::HostDir;
using testing::ProcessoSchema;
using testing::Records;
using testing::Row;

const FixedClock kClock(LocalTime{2011, 3, 11, 9, 15, 42, 0});

class ProcessoDaoTest : public ::testing::Test {
 protected:
  void SetUp() override { path = Create(host, "PROCESSO", ProcessoSchema()); }
  void TearDown() override { EXPECT_EQ(CheckProblems(path), ""); }

  std::unique_ptr<TProcessoDao> Open() {
    auto dao = std::make_unique<TProcessoDao>(host.Folder(), kClock);
    EXPECT_TRUE(dao->Opened()) << dao->OpenError();
    return dao;
  }
  std::string Header(int pasta, int trib, const std::string& chave, const char* memo) {
    return "chave= " + RecordKey(pasta, trib, chave) + "&" + memo;
  }

  HostDir host;
  fs::path path;
};

TEST_F(ProcessoDaoTest, OpensTheTableOfTheGivenFolderOrOfTheDefaultOne) {
  AddRows(path, {{{"CODPASTA", "1"}, {"CODTRIB", "5"}, {"CHAVEPROC", "aqui"}}});
  {
    TProcessoDao dao(host.Folder() + "VuzaZoz", kClock, "/nao/existe/");
    ASSERT_TRUE(dao.Opened()) << dao.OpenError();
    EXPECT_EQ(dao.BaseDir(), host.Folder());
    EXPECT_EQ(dao.OpenError(), "");
    dao.First();
    EXPECT_EQ(dao.ChaveProc(), "aqui");
  }
  // Without orgaos.xml the default installation is used, whatever was given.
  HostDir other;
  Create(other, "PROCESSO", ProcessoSchema());
  AddRows(other.Table("PROCESSO.DBF"), {{{"CODPASTA", "1"}, {"CHAVEPROC", "padrao"}}});
  fs::remove(host.Folder() + "orgaos.xml");
  TProcessoDao dao(host.Folder(), kClock, other.Folder());
  ASSERT_TRUE(dao.Opened()) << dao.OpenError();
  EXPECT_EQ(dao.BaseDir(), other.Folder());
  dao.First();
  EXPECT_EQ(dao.ChaveProc(), "padrao");
}

TEST(ProcessoDaoOpenTest, ATableThatCannotBeOpenedSaysWhy) {
  struct Case {
    const char* name;
    void (*spoil)(const HostDir&);
    const char* reason;
  };
  const Case cases[] = {
      {"missing table", [](const HostDir&) {}, "não encontrada"},
      {"damaged table",
       [](const HostDir& h) {
         Create(h, "PROCESSO", ProcessoSchema());
         std::string bytes = xbase::testing::ReadAll(h.Table("PROCESSO.DBF"));
         xbase::testing::WriteAll(h.Table("PROCESSO.DBF"), bytes.substr(0, 40));
       },
       "PROCESSO.DBF"},
      {"no tag PRIMARYKEY",
       [](const HostDir& h) {
         xbase::TableSchema s = ProcessoSchema();
         s.tags.erase(s.tags.begin());
         Create(h, "PROCESSO", s);
       },
       "PRIMARYKEY"},
      {"a tag the engine cannot maintain",
       [](const HostDir& h) {
         Create(h, "PROCESSO", ProcessoSchema());
         std::string cdx = xbase::testing::ReadAll(h.Table("PROCESSO.CDX"));
         std::size_t at = cdx.find("DTOS(DTULTTRAM)");
         ASSERT_NE(at, std::string::npos);
         cdx.replace(at, 4, "DTOX");
         xbase::testing::WriteAll(h.Table("PROCESSO.CDX"), cdx);
       },
       "DTOX(DTULTTRAM)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HostDir host;
    c.spoil(host);
    TProcessoDao dao(host.Folder(), kClock);
    EXPECT_FALSE(dao.Opened());
    EXPECT_NE(dao.OpenError().find(c.reason), std::string::npos) << dao.OpenError();
    EXPECT_TRUE(dao.Eof());
    EXPECT_EQ(dao.RecordCount(), 0);
    EXPECT_THROW(dao.First(), Error);
    EXPECT_THROW(dao.Locate(1, "x"), Error);
  }
}

TEST_F(ProcessoDaoTest, AScanVisitsEveryRecordOnceInTagOrder) {
  AddRows(path, {{{"CODPASTA", "2"}, {"CODTRIB", "1"}, {"CHAVEPROC", "c"}},
                 {{"CODPASTA", "1"}, {"CODTRIB", "9"}, {"CHAVEPROC", "b"}, {"SUSPENSO", "T"}},
                 {{"CODPASTA", "1"}, {"CODTRIB", "9"}, {"CHAVEPROC", "A"}, {"ESTADOPUSH", "3"}}});
  auto dao = Open();
  EXPECT_EQ(dao->RecordCount(), 3);
  std::vector<std::string> seen;
  for (dao->First(); !dao->Eof(); dao->Next()) {
    seen.push_back(std::to_string(dao->CodPasta()) + "/" + std::to_string(dao->CodTrib()) + "/" +
                   dao->ChaveProc() + "/" + dao->EstadoPush() + (dao->Suspenso() ? "/S" : ""));
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"1/9/A/3", "1/9/b//S", "2/1/c/"}));
  EXPECT_FALSE(dao->LacksEstadoPush());
}

TEST(ProcessoDaoOpenTest, AHostWithoutThePushStateField) {
  HostDir host;
  Create(host, "PROCESSO", ProcessoSchema(false));
  TProcessoDao dao(host.Folder(), kClock);
  ASSERT_TRUE(dao.Opened()) << dao.OpenError();
  EXPECT_TRUE(dao.LacksEstadoPush());
}

TEST_F(ProcessoDaoTest, SetMsgErroRewritesOneLine) {
  const std::string h = Header(1, 5, "abc", "Outros");
  std::string lower = h;
  for (char& ch : lower)
    ch = char(std::tolower(static_cast<unsigned char>(ch)));
  struct Case {
    const char* name;
    std::string before, message, after;
  };
  const std::vector<Case> cases = {
      {"empty memo", "", "falhou", h + "\r\nMsgErro=11/03/2011 - 09:15 -[PUSH]- falhou\r\n"},
      {"cleared in place", h + "\r\nA=1\r\nMsgErro=11/03/2011 - 09:15 -[PUSH]- x\r\nB=2\r\n", "",
       h + "\r\nA=1\r\nMsgErro=\r\nB=2\r\n"},
      {"a header in other case counts", lower + "\r\nA=1\r\n", "",
       lower + "\r\nA=1\r\nMsgErro=\r\n"},
      {"header put first, line added last", "A=1\r\nsem igual\r\n", "",
       h + "\r\nA=1\r\nsem igual\r\nMsgErro=\r\n"},
      {"name compared without case, first one replaced", h + "\r\nmsgerro=velho\r\nMSGERRO=2\r\n",
       "novo", h + "\r\nMsgErro=11/03/2011 - 09:15 -[PUSH]- novo\r\nMSGERRO=2\r\n"},
      {"a message is one line", "", "linha 1\r\nlinha 2",
       h + "\r\nMsgErro=11/03/2011 - 09:15 -[PUSH]- linha 1  linha 2\r\n"},
      {"a lone LF inside a line is kept", h + "\r\nNota=a\nb\r\n", "",
       h + "\r\nNota=a\nb\r\nMsgErro=\r\n"},
  };
  AddRows(path, {{{"CODPASTA", "1"}, {"CODTRIB", "5"}, {"CHAVEPROC", "abc"}}});
  auto dao = Open();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dao->First();
    dao->SetOutros(c.before);
    dao->SetMsgErro(c.message);
    EXPECT_EQ(dao->GetOutros(), c.after);
    dao->SaveAndNext();
    EXPECT_EQ(Records(path)[0]["OUTROS"], c.after);
  }
}

TEST_F(ProcessoDaoTest, LocateAndLocateForImport) {
  AddRows(path,
          {
              {{"CODPASTA", "1"}, {"CODTRIB", "5"}, {"CHAVEPROC", " 0001234-56.2010.5.01.0001 "}},
              {{"CODPASTA", "1"}, {"CODTRIB", "5"}, {"CHAVEPROC", "X-1"}, {"ESTADOPUSH", "1"}},
              {{"CODPASTA", "2"}, {"CODTRIB", "5"}, {"CHAVEPROC", "X-1"}, {"ESTADOPUSH", "5"}},
              {{"CODPASTA", "3"}, {"CODTRIB", "6"}, {"CHAVEPROC", "Y-1"}, {"ESTADOPUSH", "1"}},
          });
  struct Case {
    const char* name;
    bool forImport;
    int trib;
    std::string number;
    bool found;
    int pasta;  // of the record found
    const char* state;
  };
  const std::vector<Case> cases = {
      {"stored with blanks, asked without", false, 5, "0001234-56.2010.5.01.0001", true, 1, ""},
      {"asked with blanks", false, 5, " 0001234-56.2010.5.01.0001", false, 0, ""},
      {"another court", false, 6, "0001234-56.2010.5.01.0001", false, 0, ""},
      {"letter case differs", false, 5, "x-1", false, 0, ""},
      {"any state: the first copy", false, 5, "X-1", true, 1, "1"},
      {"import skips state 1 for a later copy", true, 5, "X-1", true, 2, "5"},
      {"import: only copy in state 1", true, 6, "Y-1", false, 0, ""},
      {"import: blank number", true, 5, "  ", false, 0, ""},
  };
  auto dao = Open();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dao->First();
    bool found =
        c.forImport ? dao->LocateForImport(c.trib, c.number) : dao->Locate(c.trib, c.number);
    EXPECT_EQ(found, c.found);
    EXPECT_EQ(dao->CodPasta(), c.pasta);
    EXPECT_EQ(dao->CodTrib(), c.found ? c.trib : 0);
    EXPECT_EQ(dao->EstadoPush(), c.state);
  }
  // A blank number leaves the record pointer where it was: the pending
  // change lands on the second record, not on the first.
  dao->First();
  dao->Next();
  EXPECT_FALSE(dao->LocateForImport(5, ""));
  dao->SetEstadoPush("2");
  dao->Next();
  auto rows = Records(path);
  EXPECT_EQ(rows[0]["ESTADOPUSH"], "");
  EXPECT_EQ(rows[1]["ESTADOPUSH"], "2");
  // A state set during a scan is written by the lookup's first move.
  ASSERT_TRUE(dao->Locate(6, "Y-1"));
  dao->SetEstadoPush("");
  ASSERT_TRUE(dao->Locate(5, "X-1"));
  EXPECT_EQ(Records(path)[3]["ESTADOPUSH"], "");
}

TEST_F(ProcessoDaoTest, AppendProcessoWritesTheMemoHeadersAndStamps) {
  AddRows(path, {{{"CODPASTA", "9"}, {"CODTRIB", "9"}, {"CHAVEPROC", "z"}, {"ESTADOPUSH", "3"}}});
  auto dao = Open();
  dao->First();
  ASSERT_TRUE(dao->AppendProcesso(12, 5, "abc-1"));
  EXPECT_EQ(dao->CodPasta(), 12);
  EXPECT_EQ(dao->CodTrib(), 5);
  EXPECT_EQ(dao->ChaveProc(), "abc-1");
  EXPECT_EQ(dao->EstadoPush(), "3");  // kept from the loaded record
  // The new record is current: a state set now lands on it.
  dao->SetEstadoPush("3");
  dao->SaveAndNext();

  // A value the field cannot hold: refused, nothing added.
  EXPECT_FALSE(dao->AppendProcesso(12345, 5, "grande"));
  EXPECT_NE(dao->LastError(), "");
  dao->First();
  EXPECT_EQ(dao->RecordCount(), 2);
  dao.reset();

  auto rows = Records(path);
  ASSERT_EQ(rows.size(), 2u);
  auto& r = rows[1];
  EXPECT_EQ(r["CODPASTA"], "12");
  EXPECT_EQ(r["CHAVEPROC"], "abc-1");
  EXPECT_EQ(r["TRAMITA"], Header(12, 5, "abc-1", "Tramita") + "\r\n");
  EXPECT_EQ(r["ANOTACAO"], Header(12, 5, "abc-1", "Anotacao") + "\r\n");
  EXPECT_EQ(r["OUTROS"], Header(12, 5, "abc-1", "Outros") + "\r\n");
  EXPECT_EQ(r["VISTO"], "T");
  EXPECT_EQ(r["INICIOCOB"], "20110311");
  EXPECT_EQ(r["ESTADOPUSH"], "3");
  EXPECT_EQ(r["DTULTTRAM"], "");
}

TEST_F(ProcessoDaoTest, SaveMovements) {
  const std::string before =
      Header(1, 5, "abc", "Tramita") + "\r\nDt_1=05/03/2011\r\nHr_1=10:00\r\nTxt_1=Antigo\r\n";
  AddRows(path, {{{"CODPASTA", "1"},
                  {"CODTRIB", "5"},
                  {"CHAVEPROC", "abc"},
                  {"VISTO", "T"},
                  {"TRAMITA", before}},
                 {{"CODPASTA", "2"},
                  {"CODTRIB", "5"},
                  {"CHAVEPROC", "sem"},
                  {"VISTO", "T"},
                  {"DTULTTRAM", "20100101"}}});
  struct Case {
    const char* name;
    int pasta;
    std::vector<std::pair<std::string, std::string>> movements;
    std::string tramita, dtulttram, visto;
  };
  const std::vector<Case> cases = {
      {"only known movements: VISTO stays",
       1,
       {{"2011-03-05 10:00", "antigo"}},
       before,
       "20110305",
       "T"},
      {"a movement is added",
       1,
       {{"2011-03-09 14:05:00", "Conclusos"}, {"2011-03-09T14:05:00", "CONCLUSOS"}},
       before.substr(0, before.find("Dt_1")) +
           "Dt_1=09/03/2011\r\nHr_1=14:05\r\nTxt_1=Conclusos\r\n"
           "Dt_2=05/03/2011\r\nHr_2=10:00\r\nTxt_2=Antigo\r\n",
       "20110309",
       "F"},
      {"no movements at all", 2, {}, Header(2, 5, "sem", "Tramita") + "\r\n", "", "T"},
  };
  auto dao = Open();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(dao->Locate(5, c.pasta == 1 ? "abc" : "sem"));
    dao->LoadMovements();
    for (const auto& [stamp, text] : c.movements)
      dao->AddMovement(stamp, text);
    dao->SaveMovements();
    auto r = Records(path)[std::size_t(c.pasta - 1)];
    EXPECT_EQ(r["TRAMITA"], c.tramita);
    EXPECT_EQ(r["DTULTTRAM"], c.dtulttram);
    EXPECT_EQ(r["VISTO"], c.visto);
    EXPECT_EQ(r["DTULTCONS"], "20110311");
    EXPECT_EQ(r["HRULTCONS"], "09:15");
  }
}

TEST_F(ProcessoDaoTest, PartiesHearingAndMemos) {
  AddRows(path, {{{"CODPASTA", "1"},
                  {"CODTRIB", "5"},
                  {"CHAVEPROC", "abc"},
                  {"PARTEA", "  Autor  "},
                  {"PARTEB", "Réu"},
                  {"PARTEC", "Terceiro"}}});
  auto dao = Open();
  dao->First();
  EXPECT_EQ(dao->GetParte(0), "Autor");
  EXPECT_EQ(dao->GetParte(1), "Autor");
  EXPECT_EQ(dao->GetParte(2), "Réu");
  EXPECT_EQ(dao->GetParte(3), "Terceiro");
  EXPECT_EQ(dao->GetParte(4), "Autor");

  dao->SetParte(2, "Reclamado", "   ");    // names blank: nothing written
  dao->SetParte(3, " ", "Fulano");         // title blank: nothing written
  dao->SetParte(4, "Quarto", "Beltrano");  // no such slot: nothing written
  dao->SetParte(1, " Reclamante", "José da Silva ");
  dao->SetProxAudiencia("20110412", "14:30");
  dao->SetAnotacao("nota do usuário");
  dao->SetTramita("texto livre");
  dao.reset();  // the destructor writes the pending change

  auto r = Records(path)[0];
  EXPECT_EQ(r["TITPARTEA"], " Reclamante");
  EXPECT_EQ(r["PARTEA"], "José da Silva");  // stored untrimmed; the read trims the right
  EXPECT_EQ(r["TITPARTEB"], "");
  EXPECT_EQ(r["PARTEB"], "Réu");
  EXPECT_EQ(r["PARTEC"], "Terceiro");
  EXPECT_EQ(r["DTPROXAUD"], "20110412");
  EXPECT_EQ(r["HRPROXAUD"], "14:30");
  EXPECT_EQ(r["ANOTACAO"], "nota do usuário");
  EXPECT_EQ(r["TRAMITA"], "texto livre");
}

TEST_F(ProcessoDaoTest, ADamagedMemoIsReportedAndNotOverwritten) {
  AddRows(path, {{{"CODPASTA", "1"}, {"CODTRIB", "5"}, {"CHAVEPROC", "abc"}, {"OUTROS", "dados"}}});
  // Point the memo field past the end of the memo file.
  std::string dbf = xbase::testing::ReadAll(path);
  auto t = xbase::Table::Open(path, xbase::Table::Options{.readOnly = true});
  const auto& f = t->fields()[std::size_t(t->FieldIndex("OUTROS"))];
  std::size_t at = std::size_t(t->dbf().headerLength() + f.offset);
  t.reset();
  dbf.replace(at, 4, std::string("\x7f\x7f\x7f\x00", 4));
  xbase::testing::WriteAll(path, dbf);

  auto dao = Open();
  dao->First();
  EXPECT_THROW(dao->SetMsgErro("x"), Error);
  EXPECT_THROW(dao->GetOutros(), Error);
  dao.reset();
  EXPECT_EQ(xbase::testing::ReadAll(path), dbf);
  // The table is damaged on purpose: restore a sound one for the check.
  fs::remove(path);
  fs::remove(host.Table("PROCESSO.FPT"));
  fs::remove(host.Table("PROCESSO.CDX"));
  Create(host, "PROCESSO", ProcessoSchema());
}

}  // namespace
}  // namespace cau::db
