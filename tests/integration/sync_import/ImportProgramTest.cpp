// The program as a process on a sample installation (mkhost) against the
// stand-in service: a movement import of a few hundred cases over several
// pages, the cases found through the bar registration, hearings, notices,
// importing the same movements again, and an import interrupted by a fault.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "../../unit/db/HostSchema.h"
#include "support/Process.h"

namespace cau {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;
using Record = std::map<std::string, std::string>;
using test::Finished;
using test::Pushsim;
using test::ReadFile;
using test::RunProcess;
using test::WriteFile;

constexpr int kCases = 250;
constexpr int kTrib = 1;  // TJSP in mkhost's court list

std::string Number(int i) {
  char text[64];
  std::snprintf(text, sizeof text, "1.%07d-00.2020.8.26.0001", i);
  return text;
}

int Folder(int i) {
  return 1 + i % 4;  // mkhost's folders 1 to 4
}

std::string Header(int pasta, int trib, const std::string& numero) {
  char key[160];
  std::snprintf(key, sizeof key, "%4d%4d%-100s", pasta, trib, numero.c_str());
  return "chave= " + std::string(key) + "&Tramita\r\n";
}

// What the host has before the import: every other case one movement.
std::string OldTramita(int i) {
  return i % 2 == 0
             ? Header(Folder(i), kTrib, Number(i)) + "Dt_1=01/10/2026\r\nTxt_1=Distribuído\r\n"
             : "";
}

// The memo after the import of the case's two movements.
std::string NewTramita(int i) {
  std::string t = Header(Folder(i), kTrib, Number(i)) +
                  "Dt_1=20/11/2026\r\nHr_1=16:40\r\n"
                  "Txt_1=<span class=\"push\">Conclusos<br>Despacho</span>\r\n"
                  "Dt_2=03/11/2026\r\nHr_2=10:15\r\n"
                  "Txt_2=<span class=\"push\">Juntada de petição " +
                  std::to_string(i) + "</span>\r\n";
  if (i % 2 == 0)
    t += "Dt_3=01/10/2026\r\nTxt_3=Distribuído\r\n";
  return t;
}

json Movements(int i) {
  return json::array({{{"id", 1000 + 2 * i},
                       {"date", "2026-11-03"},
                       {"time", "10:15"},
                       {"text", "Juntada de petição " + std::to_string(i)}},
                      {{"id", 1001 + 2 * i},
                       {"date", "2026-11-20"},
                       {"time", "16:40"},
                       {"text", "Conclusos\nDespacho"}}});
}

bool HasHearing(int i) {
  return i % 50 == 3;
}

class ImportProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("import-program-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_);
    host_ = root_ / "host";
    ::setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (root_ / "data").c_str(), 1);
    ::setenv("LC_ALL", "C", 1);
    const Finished made =
        RunProcess({test::BinPath("mkhost"), host_.string(), "--cases", "0", "--courts", "2",
                    "--user", "advogado", "--password", "segredo"},
                   root_);
    ASSERT_EQ(made.status, 0) << made.out << made.err;
    fs::copy_file(test::BinPath("VuzaZoz"), host_ / "VuzaZoz");
    std::vector<db::testing::Row> rows;
    for (int i = 0; i < kCases; ++i)
      rows.push_back({{"CODPASTA", std::to_string(Folder(i))},
                      {"CODTRIB", std::to_string(kTrib)},
                      {"CHAVEPROC", Number(i)},
                      {"ESTADOPUSH", "3"},
                      {"VISTO", "T"},
                      {"TRAMITA", OldTramita(i)}});
    db::testing::AddRows(host_ / "dados" / "PROCESSO.DBF", rows);
  }
  void TearDown() override {
    ::unsetenv("LC_ALL");
    fs::remove_all(root_);
  }

  // The scenario: every host case monitored with two new movements.
  json Scenario(bool withExtras) {
    json cases = json::array();
    for (int i = 0; i < kCases; ++i) {
      json c = {{"codOrgao", "TJSP"},
                {"codProcesso", Number(i)},
                {"monitored", true},
                {"historicos", Movements(i)}};
      if (HasHearing(i) && withExtras)
        c["sdtAudiencia"] = "2030-03-15 14:30:00";
      cases.push_back(c);
    }
    json s = {{"accounts", json::array({{{"user", "advogado"}, {"password", "segredo"}}})},
              {"scope", json::array({{{"codOrgao", "TJSP"}, {"tipoProcesso", {"1"}}},
                                     {{"codOrgao", "TJRJ"}, {"tipoProcesso", {"1"}}}})},
              {"cases", cases}};
    if (withExtras) {
      json oab = json::array();
      for (int k = 0; k < 3; ++k)
        oab.push_back({{"codOrgao", "TJRJ"},
                       {"codProcesso", "1.09000" + std::to_string(k) + "-00.2026.8.19.0001"},
                       {"historicos", json::array({{{"id", 5000 + k},
                                                    {"date", "2026-11-10"},
                                                    {"time", "11:05"},
                                                    {"text", "Audiência designada"}}})}});
      s["oab"] = oab;
      const auto notice = [](int id, const char* tipo, int i, const char* text) {
        return json{{"id", id},           {"tipoAviso", tipo},
                    {"codOrgao", "TJSP"}, {"codProcesso", Number(i)},
                    {"txtAviso", text},   {"sdtAviso", ""}};
      };
      json notices = json::array();
      notices.push_back(notice(1, "ALERTA", 0, "Manutenção"));
      notices.push_back(notice(2, "PROCESSO", 10, "Número inválido"));
      notices.back()["estadoProcesso"] = "ERRO";
      notices.push_back(notice(3, "PROCESSO", 11, ""));
      notices.back()["estadoProcesso"] = "DESCADASTRADO";
      notices.push_back(notice(4, "AUDIENCIA_INC", 12, "Conciliação"));
      notices.back()["sdtAviso"] = "2030-06-01 09:00:00";
      notices.push_back(notice(5, "AUDIENCIA_EXC", 3, "Instrução"));
      notices.back()["sdtAviso"] = "2030-03-15 14:30:00";
      s["notices"] = notices;
    }
    const fs::path path = root_ / "scenario.json";
    WriteFile(path, s.dump(1));
    return s;
  }

  Finished Run(const Pushsim& sim) {
    return RunProcess({(host_ / "VuzaZoz").string(), "-CONSOLE", "-AUTOSTART", "-URL", sim.Url()},
                      root_);
  }

  std::vector<Record> Table(const std::string& file) {
    return db::testing::Records(host_ / "dados" / file);
  }
  std::map<std::string, Record> CasesByNumber() {
    std::map<std::string, Record> out;
    for (Record& r : Table("PROCESSO.DBF")) {
      EXPECT_EQ(out.count(r["CHAVEPROC"]), 0u) << "twice: " << r["CHAVEPROC"];
      out[r["CHAVEPROC"]] = r;
    }
    return out;
  }

  std::string StateValue(const std::string& key) {
    std::smatch m;
    const std::string cfg = ReadFile(host_ / "dados" / "cauPush.cfg");
    return std::regex_search(cfg, m, std::regex(key + "=([^\r\n]*)")) ? m[1].str() : "";
  }
  void SetStateValue(const std::string& key, const std::string& value) {
    const std::string cfg = ReadFile(host_ / "dados" / "cauPush.cfg");
    WriteFile(host_ / "dados" / "cauPush.cfg",
              std::regex_replace(cfg, std::regex(key + "=[^\r\n]*"), key + "=" + value));
  }

  // The historicosN requests of the request log: (aPartir, offset).
  std::vector<std::pair<long, long>> PageRequests(const fs::path& log) {
    std::vector<std::pair<long, long>> out;
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);) {
      const json j = json::parse(line);
      if (j.value("op", json()) == "historicosN" && !j.contains("injected"))
        out.emplace_back(j["args"]["aPartir"].get<long>(), j["args"]["offset"].get<long>());
    }
    return out;
  }

  // Every case's movement memo as an independent reader (dbfread) sees it.
  std::map<std::string, std::string> IndependentTramitas() {
    const Finished read =
        RunProcess({"/usr/bin/python3",
                    std::string(CAU_TEST_SOURCE_DIR) + "/tests/interop/xbase/dbfread_dump.py",
                    (host_ / "dados" / "PROCESSO.DBF").string()},
                   root_);
    EXPECT_EQ(read.status, 0) << read.err;
    std::map<std::string, std::string> out;
    for (const json& r : json::parse(read.out.empty() ? "[]" : read.out)) {
      std::string number = r["values"]["CHAVEPROC"].get<std::string>();
      number.erase(number.find_last_not_of(' ') + 1);
      out[number] = r["values"]["TRAMITA"].is_string() ? r["values"]["TRAMITA"].get<std::string>()
                                                       : std::string();
    }
    return out;
  }

  void ExpectTablesCheck() {
    const Finished check =
        RunProcess({test::BinPath("xbase"), "check", (host_ / "dados").string()}, root_);
    EXPECT_EQ(check.status, 0) << check.out << check.err;
  }

  fs::path root_, host_;
};

TEST_F(ImportProgramTest, AFullImportOverSeveralPagesAndAgain) {
  Scenario(true);
  const fs::path log = root_ / "requests.log";
  Pushsim sim({"--log", log.string()}, (root_ / "scenario.json").string());
  ASSERT_TRUE(sim.Running());

  const Finished first = Run(sim);
  ASSERT_EQ(first.status, 0) << first.out << first.err;
  EXPECT_EQ(first.out.find("[ERRO]"), std::string::npos) << first.out;
  // 253 cases listed: pages of 100 until an empty one.
  std::vector<long> offsets;
  for (const auto& [aPartir, offset] : PageRequests(log))
    offsets.push_back(offset);
  EXPECT_EQ(offsets, (std::vector<long>{0, 100, 200, 300}));
  EXPECT_EQ(StateValue("lastIdHistorico"), "5002");
  EXPECT_EQ(StateValue("lastIdAviso"), "5");
  ExpectTablesCheck();

  std::map<std::string, Record> cases = CasesByNumber();
  ASSERT_EQ(cases.size(), static_cast<std::size_t>(kCases) + 3);
  for (int i = 0; i < kCases; ++i) {
    SCOPED_TRACE(Number(i));
    Record& r = cases[Number(i)];
    EXPECT_EQ(r["TRAMITA"], NewTramita(i));
    EXPECT_EQ(r["DTULTTRAM"], "202611201640");
    EXPECT_EQ(r["VISTO"], "F");
    EXPECT_EQ(r["ESTADOPUSH"], i == 10 ? "5" : i == 11 ? "0" : "3");
    EXPECT_EQ(r["DTPROXAUD"], HasHearing(i) ? "20300315" : i == 12 ? "20300601" : "");
  }
  std::map<std::string, std::string> ours;
  for (auto& [number, r] : cases)
    ours[number] = r["TRAMITA"];
  EXPECT_EQ(IndependentTramitas(), ours);
  EXPECT_NE(cases[Number(10)]["OUTROS"].find(" -[PUSH]- Número inválido\r\n"), std::string::npos);

  // The bar-registration cases, in a folder of their own.
  int newFolder = 0;
  for (Record& f : Table("PASTA.DBF"))
    if (f["NOME"] == "_NOVOS_PUSH")
      newFolder = std::stoi(f["CODPASTA"]);
  ASSERT_EQ(newFolder, 5);
  for (int k = 0; k < 3; ++k) {
    const std::string number = "1.09000" + std::to_string(k) + "-00.2026.8.19.0001";
    SCOPED_TRACE(number);
    Record& r = cases[number];
    EXPECT_EQ(r["CODPASTA"], "5");
    EXPECT_EQ(r["CODTRIB"], "5");
    EXPECT_EQ(r["ESTADOPUSH"], "3");
    EXPECT_EQ(r["TRAMITA"], Header(5, 5, number) +
                                "Dt_1=10/11/2026\r\nHr_1=11:05\r\n"
                                "Txt_1=<span class=\"push\">Audiência designada</span>\r\n");
    EXPECT_NE(first.out.find("Novo Processo " + number + " incluído na pasta _NOVOS_PUSH\n"),
              std::string::npos);
  }

  // One automatic appointment per case with a hearing; the notices updated them.
  std::map<std::string, Record> appointments;
  for (Record& a : Table("AGENDA.DBF")) {
    EXPECT_EQ(a["AUTOMATICO"], "*");
    appointments[a["CHAVEPROC"]] = a;
  }
  EXPECT_EQ(appointments.size(), 6u);
  for (int i : {3, 53, 103, 153, 203}) {
    Record& a = appointments[Number(i)];
    EXPECT_EQ(a["DATA"], "20300315");
    EXPECT_EQ(a["HORA"], "14:30");
    EXPECT_EQ(a["CODPASTA"], std::to_string(Folder(i)));
    EXPECT_EQ(a["COMPROMISS"],
              i == 3 ? "Audiência CANCELADA [PUSH] Instrução" : "Audiência [PUSH]");
  }
  EXPECT_EQ(appointments[Number(12)]["COMPROMISS"], "Conciliação");
  EXPECT_EQ(appointments[Number(12)]["DATA"], "20300601");

  // The same movements once more: TRAMITA stays as it is, nothing is created twice.
  SetStateValue("lastIdHistorico", "0");
  const Finished again = Run(sim);
  ASSERT_EQ(again.status, 0) << again.out << again.err;
  EXPECT_NE(again.out.find("100 processo(s) com andamento(s)\n"), std::string::npos);
  ExpectTablesCheck();
  std::map<std::string, Record> after = CasesByNumber();
  ASSERT_EQ(after.size(), cases.size());
  for (auto& [number, r] : after)
    EXPECT_EQ(r["TRAMITA"], cases[number]["TRAMITA"]) << number;
  EXPECT_EQ(Table("AGENDA.DBF").size(), 6u);
  EXPECT_EQ(Table("PASTA.DBF").size(), 5u);
}

TEST_F(ImportProgramTest, AFaultOnTheThirdPageLosesNothingAndRepeatsNothing) {
  Scenario(false);
  const fs::path log = root_ / "requests.log";
  Pushsim sim({"--log", log.string(), "--fault", "historicosN:status=500,skip=2,times=1"},
              (root_ / "scenario.json").string());
  ASSERT_TRUE(sim.Running());

  const Finished cut = Run(sim);
  EXPECT_EQ(cut.status, 1) << cut.out << cut.err;
  EXPECT_NE(cut.out.find("[ERRO] [Historico] "), std::string::npos) << cut.out;
  EXPECT_NE(cut.out.find("[ERRO] Operação de atualização dos andamentos não realizada.\n"),
            std::string::npos)
      << cut.out;
  // The end of the second page: case 199's newest movement.
  EXPECT_EQ(StateValue("lastIdHistorico"), "1399");
  ExpectTablesCheck();
  std::map<std::string, Record> cases = CasesByNumber();
  for (int i = 0; i < kCases; ++i)
    EXPECT_EQ(cases[Number(i)]["TRAMITA"], i < 200 ? NewTramita(i) : OldTramita(i)) << i;

  const Finished rest = Run(sim);
  ASSERT_EQ(rest.status, 0) << rest.out << rest.err;
  EXPECT_EQ(rest.out.find("[ERRO]"), std::string::npos) << rest.out;
  EXPECT_EQ(StateValue("lastIdHistorico"), "1499");
  const auto requests = PageRequests(log);
  ASSERT_GE(requests.size(), 4u);
  EXPECT_EQ(requests[2], (std::pair<long, long>{1399, 0}));  // the next run's first request
  ExpectTablesCheck();
  cases = CasesByNumber();
  ASSERT_EQ(cases.size(), static_cast<std::size_t>(kCases));
  for (int i = 0; i < kCases; ++i)
    EXPECT_EQ(cases[Number(i)]["TRAMITA"], NewTramita(i)) << i;
}

}  // namespace
}  // namespace cau
