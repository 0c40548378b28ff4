// The push queue pass, the folder lookup that creates the folder when it is
// missing, and the automatic appointment of a case. Every table passes the
// engine's check after the writes.
#include <gtest/gtest.h>

#include "HostSchema.h"
#include "config/Utils.h"
#include "db/agendaCauDao.h"
#include "db/pastaCauDao.h"
#include "db/pushAuxCauDao.h"

namespace cau::db {
namespace {

namespace fs = std::filesystem;
using testing::AddRows;
using testing::CheckProblems;
using testing::Create;
using testing::HostDir;
using testing::Records;
using testing::Row;

TEST(PushAuxDaoTest, ThePassHandsOverEveryRowAndMarksItDeleted) {
  struct Case {
    const char* name;
    std::string forExpr;
    std::vector<Row> rows;
    std::vector<std::string> handed;
  };
  const std::vector<Row> three = {{{"CODTRIB", "7"}, {"CHAVEPROC", "  b-2  "}},
                                  {{"CODTRIB", "3"}, {"CHAVEPROC", "z-9"}},
                                  {{"CODTRIB", "7"}, {"CHAVEPROC", "a-1"}}};
  const std::vector<Case> cases = {
      {"empty table", "", {}, {}},
      // The tag holds the number as stored: "  b-2" sorts before "a-1".
      {"three rows in tag order, trimmed", "", three, {"3.z-9", "7.b-2", "7.a-1"}},
      {"rows that leave the tag when deleted", "!DELETED()", three, {"3.z-9", "7.b-2", "7.a-1"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HostDir host;
    fs::path path = Create(host, "PushAux", testing::PushAuxSchema(c.forExpr));
    AddRows(path, c.rows);
    std::vector<std::string> handed;
    {
      TPushAuxDao queue(host.Folder());
      ASSERT_TRUE(queue.Opened()) << queue.OpenError();
      for (queue.First(); !queue.Eof(); queue.Next()) {
        handed.push_back(std::to_string(queue.CodTrib()) + "." + queue.ChaveProc());
        queue.Delete();  // the properties stay
        EXPECT_EQ(std::to_string(queue.CodTrib()) + "." + queue.ChaveProc(), handed.back());
      }
    }
    EXPECT_EQ(handed, c.handed);
    auto rows = Records(path);
    EXPECT_EQ(rows.size(), c.rows.size());
    for (auto& r : rows)
      EXPECT_EQ(r["*"], "*");
    EXPECT_EQ(CheckProblems(path), "");
  }
}

TEST(PastaDaoTest, GetOrCreateFolder) {
  struct Case {
    const char* name;
    std::vector<std::pair<int, std::string>> folders;
    int expected;
    bool created;
  };
  const std::vector<Case> cases = {
      {"empty table", {}, 1, true},
      {"codes 4, 5, 6", {{4, "A"}, {5, "B"}, {6, "C"}}, 7, true},
      {"codes 1, 10, 20", {{1, "A"}, {10, "B"}, {20, "C"}}, 4, true},
      {"stored in lower case with a blank", {{1, "A"}, {8, " _novos_push "}}, 8, false},
      {"another name with the same start", {{1, "_NOVOS_PUSH2"}}, 2, true},
      {"the same name", {{3, "X"}, {1, "_NOVOS_PUSH"}}, 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HostDir host;
    fs::path path = Create(host, "PASTA", testing::PastaSchema());
    std::vector<Row> rows;
    for (const auto& [code, name] : c.folders)
      rows.push_back({{"CODPASTA", std::to_string(code)}, {"NOME", name}});
    AddRows(path, rows);
    {
      TPastaDao pastas(host.Folder());
      ASSERT_TRUE(pastas.Opened()) << pastas.OpenError();
      EXPECT_EQ(pastas.GetOrCreateFolder("_NOVOS_PUSH"), c.expected);
      // Found afterwards, without another record.
      EXPECT_EQ(pastas.GetOrCreateFolder("_novos_push"), c.expected);
      EXPECT_EQ(pastas.RecordCount(), long(c.folders.size() + (c.created ? 1 : 0)));
    }
    auto stored = Records(path);
    if (c.created) {
      EXPECT_EQ(stored.back()["CODPASTA"], std::to_string(c.expected));
      EXPECT_EQ(stored.back()["NOME"], "_NOVOS_PUSH");
    }
    EXPECT_EQ(CheckProblems(path), "");
  }
  // Accented letters are compared as they are: "PASTA Ú" is not "pasta ú".
  HostDir host;
  fs::path path = Create(host, "PASTA", testing::PastaSchema());
  AddRows(path, {{{"CODPASTA", "1"}, {"NOME", "pasta ú"}}});
  TPastaDao pastas(host.Folder());
  EXPECT_EQ(pastas.GetOrCreateFolder("PASTA Ú"), 2);
  EXPECT_EQ(pastas.GetOrCreateFolder("PASTA ú"), 1);
  pastas.Close();
  EXPECT_EQ(CheckProblems(path), "");
}

TEST(PastaDaoTest, ARefusedFolderGivesMinusOne) {
  // Codes 1 to 9 taken in an N(1) field: the next code does not fit.
  xbase::TableSchema narrow = testing::PastaSchema();
  narrow.fields[0].length = 1;
  HostDir host;
  fs::path path = Create(host, "PASTA", narrow);
  std::vector<Row> rows;
  for (int i = 1; i <= 9; ++i)
    rows.push_back({{"CODPASTA", std::to_string(i)}, {"NOME", "P" + std::to_string(i)}});
  AddRows(path, rows);
  TPastaDao pastas(host.Folder());
  EXPECT_EQ(pastas.GetOrCreateFolder("_NOVOS_PUSH"), -1);
  EXPECT_NE(pastas.LastError(), "");
  pastas.First();
  EXPECT_EQ(pastas.RecordCount(), 9);
  pastas.Close();
  EXPECT_EQ(Records(path).size(), 9u);
  EXPECT_EQ(CheckProblems(path), "");
}

class AgendaDaoTest : public ::testing::Test {
 protected:
  void SetUp() override { path = Create(host, "AGENDA", testing::AgendaSchema()); }
  void TearDown() override { EXPECT_EQ(CheckProblems(path), ""); }
  HostDir host;
  fs::path path;
};

TEST_F(AgendaDaoTest, SaveAutomaticKeepsOneAppointmentPerCase) {
  AddRows(path, {{{"DATA", "20110301"},
                  {"HORA", "09:00"},
                  {"CODTRIB", "5"},
                  {"CHAVEPROC", "abc"},
                  {"COMPROMISS", "do usuário"}}});
  TAgendaDao agenda(host.Folder());
  ASSERT_TRUE(agenda.Opened()) << agenda.OpenError();
  EXPECT_FALSE(agenda.LocateAutomatic(5, "abc"));  // the user's own is not automatic

  struct Step {
    const char* name;
    std::string number, date, time, description;
    long count;
  };
  const std::vector<Step> steps = {
      {"added beside the user's appointment", "abc", "20110412", "14:30", " Audiência ", 2},
      {"second save changes the same one", "abc", "20110105", "08:00", "Adiada", 2},
      {"letter case makes another case", "ABC", "20110412", "10:00", "Outra", 3},
      {"inner blanks make another case", "a bc", "20110412", "11:00", "Mais", 4},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.name);
    EXPECT_TRUE(agenda.SaveAutomatic(5, 12, s.description, s.time, s.date, s.number));
    EXPECT_EQ(agenda.RecordCount(), s.count);
    ASSERT_TRUE(agenda.LocateAutomatic(5, s.number));
    EXPECT_EQ(agenda.Compromisso(), Trim(s.description));
    EXPECT_EQ(agenda.CodPasta(), 12);
    EXPECT_EQ(agenda.ChaveProc(), s.number);
  }
  auto rows = Records(path);
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0]["COMPROMISS"], "do usuário");
  EXPECT_EQ(rows[0]["AUTOMATICO"], "");
  EXPECT_EQ(rows[1]["DATA"], "20110105");
  EXPECT_EQ(rows[1]["HORA"], "08:00");
  EXPECT_EQ(rows[1]["COMPROMISS"], "Adiada");
  EXPECT_EQ(rows[1]["AUTOMATICO"], "*");
  EXPECT_EQ(rows[1]["CODTRIB"], "5");
}

}  // namespace
}  // namespace cau::db
