// Lookups through the tables' maps against the walk from the top, on random
// tables: duplicates, every push state, several folders and courts, numbers
// that differ in letter case or blanks, deleted records, and PRIMARYKEY tags
// with a FOR clause, in descending order or unique.
//
// Two copies of one table get the same random operations, one object
// walking. After each operation both must agree on the result, the record
// they are on and what they loaded; at the end both files hold the same
// records and pass the engine's check.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <sstream>

#include "../db/HostSchema.h"
#include "config/Errors.h"
#include "db/agendaCauDao.h"
#include "db/pastaCauDao.h"
#include "db/processoCauDao.h"

namespace cau::db {
namespace {

namespace fs = std::filesystem;
using testing::AddRows;
using testing::CheckProblems;
using testing::Create;
using testing::HostDir;
using testing::Records;
using testing::Row;
using xbase::TableSchema;
using xbase::TagSchema;

const FixedClock kClock(LocalTime{2011, 3, 11, 9, 15, 42, 0});

struct Variant {
  const char* name;
  std::function<void(TagSchema&)> tune;  // of the PRIMARYKEY tag
};

std::vector<Variant> Variants(const std::string& forExpr) {
  return {{"plain", [](TagSchema&) {}},
          {"for", [=](TagSchema& t) { t.forExpr = forExpr; }},
          {"descending", [](TagSchema& t) { t.descending = true; }},
          {"unique", [](TagSchema& t) { t.unique = true; }}};
}

// Two host folders with the same table; `fast` looks up through its map,
// `walk` from the top.
template <typename Dao>
struct Twin {
  HostDir fastHost, walkHost;
  std::unique_ptr<Dao> fast, walk;
  fs::path fastPath, walkPath;
};

// Marks about one record in ten deleted.
void DeleteSome(const fs::path& dbf, std::mt19937& rng) {
  auto t = xbase::Table::Open(dbf);
  for (uint32_t r = 1; r <= t->RecordCount(); ++r) {
    if (rng() % 10 == 0) {
      t->Go(r);
      t->SetDeleted(true);
    }
  }
  t->Close();
}

template <typename Dao, typename Make>
void Prepare(Twin<Dao>& twin, const std::string& base, const TableSchema& schema,
             const std::vector<Row>& rows, std::mt19937& rng, Make make) {
  twin.fastPath = Create(twin.fastHost, base, schema);
  AddRows(twin.fastPath, rows);
  DeleteSome(twin.fastPath, rng);
  for (const fs::path& file : fs::directory_iterator(twin.fastHost.Dados()))
    fs::copy_file(file, twin.walkHost.Dados() / file.filename());
  twin.walkPath = twin.walkHost.Table(base + ".DBF");
  twin.fast = make(twin.fastHost.Folder());
  twin.walk = make(twin.walkHost.Folder());
  ASSERT_TRUE(twin.fast->Opened()) << twin.fast->OpenError();
  twin.walk->UseWalkingLookups(true);
}

// What an operation did, as one line: its result or error, then where the
// table is and the loaded properties.
template <typename Dao>
std::string Outcome(Dao& dao, const std::function<std::string(Dao&)>& op,
                    const std::function<std::string(Dao&)>& loaded) {
  std::ostringstream s;
  try {
    s << op(dao);
  } catch (const Error& e) {
    s << "error";
  }
  s << " | rec " << dao.RecNo() << (dao.Eof() ? " eof" : "") << " | " << loaded(dao);
  return s.str();
}

template <typename Dao>
void Compare(Twin<Dao>& twin, int steps,
             const std::function<std::function<std::string(Dao&)>(std::string& name)>& pick,
             const std::function<std::string(Dao&)>& loaded) {
  for (int i = 0; i < steps; ++i) {
    std::string name;
    auto op = pick(name);
    std::string fast = Outcome<Dao>(*twin.fast, op, loaded);
    std::string walk = Outcome<Dao>(*twin.walk, op, loaded);
    ASSERT_EQ(fast, walk) << "step " << i << ": " << name;
  }
  twin.fast.reset();
  twin.walk.reset();
  EXPECT_EQ(Records(twin.fastPath), Records(twin.walkPath));
  EXPECT_EQ(CheckProblems(twin.fastPath), "");
}

// Case numbers that collide after trimming or upper-casing, and some that
// never match because the argument is not trimmed.
const std::vector<std::string> kNumbers = {"1.0001234-56.2010.5.01.0001",
                                           " 1.0001234-56.2010.5.01.0001 ",
                                           "1.0001234-56.2010.5.01.0001 ",
                                           "2.abc",
                                           "2.ABC",
                                           "2.a bc",
                                           "3.Ação",
                                           "3.AÇÃO",
                                           "4.7",
                                           "4.77",
                                           "",
                                           " "};
const std::vector<std::string> kStates = {"", "0", "1", "2", "3", "5", "4"};

template <typename T>
const T& Any(const std::vector<T>& v, std::mt19937& rng) {
  return v[rng() % v.size()];
}

class LookupTest : public ::testing::TestWithParam<int> {};

TEST_P(LookupTest, CaseLookupsAgreeWithTheWalk) {
  for (const Variant& variant : Variants("CODPASTA <> 2")) {
    SCOPED_TRACE(variant.name);
    std::mt19937 rng(unsigned(GetParam()) * 7919u + 1u);
    TableSchema schema = testing::ProcessoSchema();
    variant.tune(schema.tags[0]);
    std::vector<Row> rows;
    for (int i = 0; i < 160; ++i) {
      rows.push_back({{"CODPASTA", std::to_string(1 + rng() % 4)},
                      {"CODTRIB", std::to_string(1 + rng() % 3)},
                      {"CHAVEPROC", Any(kNumbers, rng)},
                      {"ESTADOPUSH", Any(kStates, rng)},
                      {"SUSPENSO", rng() % 5 == 0 ? "T" : "F"}});
    }
    Twin<TProcessoDao> twin;
    Prepare(twin, "PROCESSO", schema, rows, rng, [](const std::string& folder) {
      return std::make_unique<TProcessoDao>(folder, kClock);
    });
    if (::testing::Test::HasFatalFailure())
      return;
    using Op = std::function<std::string(TProcessoDao&)>;
    auto pick = [&](std::string& name) -> Op {
      int trib = int(rng() % 4);  // 0: a court no case has
      std::string number = Any(kNumbers, rng);
      std::string state = Any(kStates, rng);
      int pasta = 1 + int(rng() % 5);
      switch (rng() % 10) {
        case 0:
        case 1:
        case 2:
          name = "Locate " + std::to_string(trib) + " '" + number + "'";
          return [=](TProcessoDao& d) { return std::to_string(d.Locate(trib, number)); };
        case 3:
        case 4:
        case 5:
          name = "LocateForImport " + std::to_string(trib) + " '" + number + "'";
          return [=](TProcessoDao& d) { return std::to_string(d.LocateForImport(trib, number)); };
        case 6:
          name = "SetEstadoPush '" + state + "'";
          return [=](TProcessoDao& d) {
            d.SetEstadoPush(state);
            return std::string("set");
          };
        case 7:
          name = "AppendProcesso";
          return [=](TProcessoDao& d) {
            return std::to_string(d.AppendProcesso(pasta, trib, number));
          };
        case 8:
          name = "movements";
          return [](TProcessoDao& d) {
            d.LoadMovements();
            d.AddMovement("2011-03-09 14:05:00", "Juntada");
            d.SaveMovements();
            return std::string("saved");
          };
        default:
          name = "Next";
          return [](TProcessoDao& d) {
            d.Next();
            return std::string("next");
          };
      }
    };
    Compare<TProcessoDao>(twin, 400, pick, [](TProcessoDao& d) {
      return std::to_string(d.CodPasta()) + " " + std::to_string(d.CodTrib()) + " '" +
             d.ChaveProc() + "' '" + d.EstadoPush() + "' " + std::to_string(d.Suspenso());
    });
  }
}

TEST_P(LookupTest, AutomaticAppointmentLookupsAgreeWithTheWalk) {
  for (const Variant& variant : Variants("CODPASTA <> 2")) {
    SCOPED_TRACE(variant.name);
    std::mt19937 rng(unsigned(GetParam()) * 104729u + 3u);
    TableSchema schema = testing::AgendaSchema();
    variant.tune(schema.tags[0]);
    const std::vector<std::string> dates = {"20110301", "20110302", "20110415", "20120101"};
    const std::vector<std::string> times = {"", "09:00", "14:30"};
    std::vector<Row> rows;
    for (int i = 0; i < 120; ++i) {
      rows.push_back({{"DATA", Any(dates, rng)},
                      {"HORA", Any(times, rng)},
                      {"CODPASTA", std::to_string(1 + rng() % 3)},
                      {"CODTRIB", std::to_string(1 + rng() % 3)},
                      {"CHAVEPROC", Any(kNumbers, rng)},
                      {"AUTOMATICO", rng() % 2 ? "*" : (rng() % 2 ? " " : " *")},
                      {"COMPROMISS", "c" + std::to_string(i)}});
    }
    Twin<TAgendaDao> twin;
    Prepare(twin, "AGENDA", schema, rows, rng,
            [](const std::string& folder) { return std::make_unique<TAgendaDao>(folder); });
    if (::testing::Test::HasFatalFailure())
      return;
    using Op = std::function<std::string(TAgendaDao&)>;
    auto pick = [&](std::string& name) -> Op {
      int trib = int(rng() % 4);
      std::string number = Any(kNumbers, rng);
      std::string date = Any(dates, rng);
      std::string time = Any(times, rng);
      int pasta = 1 + int(rng() % 3);
      switch (rng() % 6) {
        case 0:
        case 1:
        case 2:
          name = "LocateAutomatic " + std::to_string(trib) + " '" + number + "'";
          return [=](TAgendaDao& d) { return std::to_string(d.LocateAutomatic(trib, number)); };
        case 3:
        case 4:
          // Moves the appointment within the tag (DATA+HORA).
          name = "SaveAutomatic " + std::to_string(trib) + " '" + number + "' " + date;
          return [=](TAgendaDao& d) {
            return std::to_string(d.SaveAutomatic(trib, pasta, " Audiência ", time, date, number));
          };
        default:
          name = "Next";
          return [](TAgendaDao& d) {
            d.Next();
            return std::string("next");
          };
      }
    };
    Compare<TAgendaDao>(twin, 300, pick, [](TAgendaDao& d) {
      return std::to_string(d.CodPasta()) + " " + std::to_string(d.CodTrib()) + " '" +
             d.ChaveProc() + "' '" + d.Compromisso() + "'";
    });
  }
}

TEST_P(LookupTest, FolderLookupsAgreeWithTheWalk) {
  for (const Variant& variant : Variants("CODPASTA <> 3")) {
    SCOPED_TRACE(variant.name);
    std::mt19937 rng(unsigned(GetParam()) * 31337u + 5u);
    TableSchema schema = testing::PastaSchema();
    variant.tune(schema.tags[0]);
    const std::vector<std::string> names = {"_NOVOS_PUSH", "_novos_push ", " _NOVOS_PUSH", "Ação",
                                            "AÇÃO",        "ação",         "Clientes",     "Outra"};
    std::vector<Row> rows;
    int count = int(rng() % 12);
    for (int i = 0; i < count; ++i) {
      // Codes with gaps and repeats, some just above the record count.
      rows.push_back({{"CODPASTA", std::to_string(1 + rng() % (count + 4))},
                      {"NOME", rng() % 3 ? Any(names, rng) : "p" + std::to_string(i)}});
    }
    Twin<TPastaDao> twin;
    Prepare(twin, "PASTA", schema, rows, rng,
            [](const std::string& folder) { return std::make_unique<TPastaDao>(folder); });
    if (::testing::Test::HasFatalFailure())
      return;
    using Op = std::function<std::string(TPastaDao&)>;
    int fresh = 0;
    auto pick = [&](std::string& name) -> Op {
      std::string folder = rng() % 3 ? Any(names, rng) : "Nova " + std::to_string(fresh++);
      switch (rng() % 4) {
        case 0:
        case 1:
        case 2:
          name = "GetOrCreateFolder '" + folder + "'";
          return [=](TPastaDao& d) { return std::to_string(d.GetOrCreateFolder(folder)); };
        default:
          name = "First";
          return [](TPastaDao& d) {
            d.First();
            return std::string("first");
          };
      }
    };
    Compare<TPastaDao>(twin, 60, pick, [](TPastaDao& d) {
      return std::to_string(d.CodPasta()) + " '" + d.Nome() + "'";
    });
  }
}

INSTANTIATE_TEST_SUITE_P(Seeds, LookupTest, ::testing::Range(1, 5));

}  // namespace
}  // namespace cau::db
