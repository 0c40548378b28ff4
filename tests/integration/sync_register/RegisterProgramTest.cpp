// Registration, unregistration and resynchronisation as the real program
// runs them in the terminal front end, on a host made by mkhost, against the
// stand-in service on loopback, whose request log shows every batch.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "config/Cp1252.h"
#include "config/cauPushCfg.h"
#include "db/xbase/Table.h"
#include "support/Process.h"

namespace cau {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using Lines = std::vector<std::string>;

// A case of the host's table; court 1 is "TJSP" in mkhost's court list.
struct Caso {
  std::string chave;
  std::string estado;
  bool suspenso = false;
};

// "1.0000001-01.2026" and so on: kind "1", numbered from `first`.
Lines Numbers(int n, int first = 1) {
  Lines numbers;
  for (int i = first; i < first + n; ++i) {
    std::ostringstream s;
    s << "1." << std::setw(7) << std::setfill('0') << i << "-01.2026";
    numbers.push_back(s.str());
  }
  return numbers;
}

class RegisterProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("XDG_CONFIG_HOME", (root_.path() / "config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (root_.path() / "data").c_str(), 1);
    const test::Finished made =
        test::RunProcess({test::BinPath("mkhost"), host_.string(), "--cases", "0", "--courts", "2",
                          "--user", "advogado", "--password", "segredo"},
                         root_.path());
    ASSERT_EQ(made.status, 0) << made.err;
    fs::copy_file(test::BinPath("VuzaZoz"), host_ / "VuzaZoz");
  }

  void AddCasos(const std::vector<Caso>& casos) {
    auto t = xbase::Table::Open(host_ / "dados" / "PROCESSO.DBF");
    for (const Caso& c : casos) {
      t->AppendStart();
      t->Blank();
      xbase::Value n;
      n.type = xbase::ValueType::Numeric;
      n.number = 1;
      t->SetValue(t->FieldIndex("CODPASTA"), n);
      t->SetValue(t->FieldIndex("CODTRIB"), n);
      t->SetRaw(t->FieldIndex("CHAVEPROC"), c.chave);
      t->SetRaw(t->FieldIndex("ESTADOPUSH"), c.estado);
      t->SetRaw(t->FieldIndex("SUSPENSO"), c.suspenso ? "T" : "F");
      t->Append();
    }
    t->Close();
  }

  void AddFila(const Lines& numbers) {
    auto t = xbase::Table::Open(host_ / "dados" / "PushAux.DBF");
    for (const std::string& number : numbers) {
      t->AppendStart();
      t->Blank();
      xbase::Value n;
      n.type = xbase::ValueType::Numeric;
      n.number = 1;
      t->SetValue(t->FieldIndex("CODTRIB"), n);
      t->SetRaw(t->FieldIndex("CHAVEPROC"), number);
      t->Append();
    }
    t->Close();
  }

  // The service: the account, the scope "TJSP" with the kind "1", and the
  // cases it monitors; `extra` replaces or adds top-level keys.
  std::string Scenario(const Lines& monitored, const json& extra = json::object()) {
    json cases = json::array();
    for (const std::string& number : monitored)
      cases.push_back({{"codOrgao", "TJSP"}, {"codProcesso", number}, {"monitored", true}});
    json scenario = {{"accounts", {{{"user", "advogado"}, {"password", "segredo"}}}},
                     {"scope", {{{"codOrgao", "TJSP"}, {"tipoProcesso", {"1"}}}}},
                     {"cases", cases}};
    scenario.update(extra);
    const fs::path path = root_.path() / "scenario.json";
    test::WriteFile(path, scenario.dump());
    return path.string();
  }

  test::Finished Run(const test::Pushsim& sim) {
    test::Finished f = test::RunProcess(
        {(host_ / "VuzaZoz").string(), "-CONSOLE", "-AUTOSTART", "-URL", sim.Url()}, root_.path());
    const test::Finished check = test::RunProcess(
        {test::BinPath("xbase"), "check", (host_ / "dados").string()}, root_.path());
    EXPECT_EQ(check.status, 0) << check.out << check.err;
    return f;
  }

  // The cases of each call of `op` in the request log, as "court.number".
  std::vector<Lines> Batches(const std::string& op) const {
    std::vector<Lines> batches;
    std::ifstream in(log_);
    for (std::string line; std::getline(in, line);) {
      const json request = json::parse(line);
      if (request.value("op", json()) != op)
        continue;
      Lines cases;
      for (const json& p : request["args"]["processos"])
        cases.push_back(p["codOrgao"].get<std::string>() + "." +
                        p["codProcesso"].get<std::string>());
      batches.push_back(cases);
    }
    return batches;
  }

  static std::vector<std::size_t> Sizes(const std::vector<Lines>& batches) {
    std::vector<std::size_t> sizes;
    for (const Lines& b : batches)
      sizes.push_back(b.size());
    return sizes;
  }

  // Number -> push state of every case.
  std::map<std::string, std::string> Estados() const {
    std::map<std::string, std::string> out;
    auto t = xbase::Table::Open(host_ / "dados" / "PROCESSO.DBF",
                                xbase::Table::Options{.readOnly = true});
    const int chave = t->FieldIndex("CHAVEPROC"), estado = t->FieldIndex("ESTADOPUSH");
    for (t->GoTop(); !t->Eof(); t->Skip(1)) {
      std::string number(t->RawField(chave)), state(t->RawField(estado));
      number.erase(number.find_last_not_of(' ') + 1);
      state.erase(state.find_last_not_of(' ') + 1);
      out[number] = state;
    }
    return out;
  }

  // The memo `field` of the case numbered `number`, as stored.
  std::string Memo(const std::string& number, const std::string& field) const {
    auto t = xbase::Table::Open(host_ / "dados" / "PROCESSO.DBF",
                                xbase::Table::Options{.readOnly = true});
    const int chave = t->FieldIndex("CHAVEPROC"), memo = t->FieldIndex(field);
    for (t->GoTop(); !t->Eof(); t->Skip(1)) {
      std::string stored(t->RawField(chave));
      if (stored.erase(stored.find_last_not_of(' ') + 1) == number)
        return t->MemoText(memo);
    }
    return {};
  }

  Lines Pending() const { return TcauPushCfg(host_.string()).GetPendingUnregistrations(); }

  std::vector<std::string> LogArgs() const { return {"--log", log_.string()}; }

  test::TempDir root_{"sync-register"};
  fs::path host_ = root_.path() / "host";
  fs::path log_ = root_.path() / "requests.jsonl";
};

bool Has(const std::string& out, const std::string& text) {
  return out.find(text) != std::string::npos;
}

Lines WithCourt(const Lines& numbers, const std::string& court = "TJSP") {
  Lines keys;
  for (const std::string& n : numbers)
    keys.push_back(court + "." + n);
  return keys;
}

TEST_F(RegisterProgramTest, NewCasesGoInTwentiesAndSuspendedOnesLeave) {
  const Lines novos = Numbers(45), suspensos = Numbers(25, 100);
  std::vector<Caso> casos;
  for (const std::string& n : novos)
    casos.push_back({n, ""});
  for (const std::string& n : suspensos)
    casos.push_back({n, "3", true});
  AddCasos(casos);
  // The service already monitors the first new case: it answers CADASTRADO.
  json cases = json::array();
  for (const std::string& n : suspensos)
    cases.push_back({{"codOrgao", "TJSP"}, {"codProcesso", n}, {"monitored", true}});
  cases.push_back(
      {{"codOrgao", "TJSP"},
       {"codProcesso", novos[0]},
       {"monitored", true},
       {"historicos",
        {{{"id", 7}, {"date", "2026-11-03"}, {"time", "10:15"}, {"text", "Juntada de petição"}}}}});
  test::Pushsim sim(LogArgs(), Scenario({}, {{"cases", cases}}));
  ASSERT_TRUE(sim.Running());

  const test::Finished f = Run(sim);
  EXPECT_EQ(f.status, 0) << f.out << f.err;
  EXPECT_EQ(Sizes(Batches("cadastraN")), (std::vector<std::size_t>{20, 20, 5}));
  EXPECT_EQ(Batches("consultaN"), std::vector<Lines>{{"TJSP." + novos[0]}});
  const std::string tramita = Memo(novos[0], "TRAMITA");
  EXPECT_NE(tramita.find("Juntada de peti\xE7\xE3o"), std::string::npos)
      << tramita;  // Windows-1252
  const std::vector<Lines> descadastros = Batches("descadastraN");
  EXPECT_EQ(Sizes(descadastros), (std::vector<std::size_t>{20, 5}));
  Lines sent = descadastros.at(0);
  sent.insert(sent.end(), descadastros.at(1).begin(), descadastros.at(1).end());
  EXPECT_EQ(sent, WithCourt(suspensos));
  for (const char* line : {"Foram encontrados 25 processos para descadastrar.\n",
                           "Foram encontrados 45 novos processos ainda não cadastrados.\n",
                           "[+]20 processo(s) enviados para cadastramento. Faltam 25...\n",
                           "[+]20 processo(s) enviados para cadastramento. Faltam 5...\n",
                           "[+]5 processo(s) enviados para cadastramento.\n",
                           "[-]Descadastrado: TJSP.1.0000100-01.2026\n",
                           "[-]20 processo(s) descadastrado(s).  Faltam 5...\n",
                           "[-]5 processo(s) descadastrado(s). \n"})
    EXPECT_TRUE(Has(f.out, line)) << line << "\n" << f.out;
  EXPECT_EQ(Pending(), Lines{});
  // The notices of the answers and of the stream set the states.
  const auto estados = Estados();
  for (const std::string& n : novos)
    EXPECT_EQ(estados.at(n), "3") << n;
  for (const std::string& n : suspensos)
    EXPECT_EQ(estados.at(n), "0") << n;
}

TEST_F(RegisterProgramTest, FailedUnregistrationIsSentByTheNextRun) {
  const Lines suspensos = Numbers(25, 300);
  std::vector<Caso> casos;
  for (const std::string& n : suspensos)
    casos.push_back({n, "2", true});
  AddCasos(casos);
  Lines args = LogArgs();
  args.insert(args.end(), {"--fault", "descadastraN:status=500,times=1"});
  test::Pushsim sim(args, Scenario(suspensos));
  ASSERT_TRUE(sim.Running());

  test::Finished f = Run(sim);
  EXPECT_EQ(f.status, 1) << f.out << f.err;
  EXPECT_TRUE(Has(f.out, "[ERRO] Erro ao enviar lista de processos para descadastramento PUSH."))
      << f.out;
  EXPECT_FALSE(Has(f.out, "[-]Descadastrado:")) << f.out;
  EXPECT_TRUE(Has(f.out, "< Logout\n")) << f.out;
  Lines keys;
  for (const std::string& n : suspensos)
    keys.push_back("1." + n);
  EXPECT_EQ(Pending(), keys);
  for (const auto& [n, estado] : Estados())
    EXPECT_EQ(estado, "") << n;  // blanked by the scan: no later scan finds them

  f = Run(sim);
  EXPECT_EQ(f.status, 0) << f.out << f.err;
  const std::vector<Lines> descadastros = Batches("descadastraN");
  ASSERT_EQ(Sizes(descadastros), (std::vector<std::size_t>{20, 20, 5}));
  Lines sent = descadastros[1];
  sent.insert(sent.end(), descadastros[2].begin(), descadastros[2].end());
  EXPECT_EQ(sent, WithCourt(suspensos));
  EXPECT_TRUE(Has(f.out, "[-]5 processo(s) descadastrado(s). \n")) << f.out;
  EXPECT_EQ(Pending(), Lines{});
}

TEST_F(RegisterProgramTest, CancelledRunLeavesItsQueueForTheNext) {
  AddCasos({{"1.0000001-01.2026", "3", true}});
  AddFila({"1.0000002-01.2026"});
  // The service sends movements of a case the host does not have; the
  // second page request fails, so the run ends before unregistering.
  Lines args = LogArgs();
  args.insert(args.end(), {"--fault", "historicosN:status=500,skip=1,times=1"});
  const json lost = {{"codOrgao", "TJSP"},
                     {"codProcesso", "1.0000003-01.2026"},
                     {"monitored", true},
                     {"historicos", {{{"id", 101}, {"date", "2026-11-03"}, {"text", "Juntada"}}}}};
  const json kept = {
      {"codOrgao", "TJSP"}, {"codProcesso", "1.0000001-01.2026"}, {"monitored", true}};
  test::Pushsim sim(args, Scenario({}, {{"cases", {kept, lost}}}));
  ASSERT_TRUE(sim.Running());

  test::Finished f = Run(sim);
  EXPECT_EQ(f.status, 1) << f.out << f.err;
  EXPECT_TRUE(Has(f.out, "[ERRO] [Historico] ")) << f.out;
  EXPECT_TRUE(Batches("descadastraN").empty());
  const Lines queued = {"1.1.0000001-01.2026", "1.1.0000002-01.2026", "1.1.0000003-01.2026"};
  EXPECT_EQ(Pending(), queued);

  f = Run(sim);
  EXPECT_EQ(f.status, 0) << f.out << f.err;
  EXPECT_EQ(Batches("descadastraN"),
            (std::vector<Lines>{
                {"TJSP.1.0000001-01.2026", "TJSP.1.0000002-01.2026", "TJSP.1.0000003-01.2026"}}));
  EXPECT_EQ(Pending(), Lines{});
}

TEST_F(RegisterProgramTest, FewerCasesOnTheServerStartAResynchronisation) {
  const Lines registrados = Numbers(41, 500);
  std::vector<Caso> casos;
  for (const std::string& n : registrados)
    casos.push_back({n, "3"});
  AddCasos(casos);
  // The service lost two of them.
  const Lines monitored(registrados.begin() + 2, registrados.end());
  test::Pushsim sim(LogArgs(), Scenario(monitored));
  ASSERT_TRUE(sim.Running());

  const test::Finished f = Run(sim);
  EXPECT_EQ(f.status, 0) << f.out << f.err;
  EXPECT_EQ(Sizes(Batches("cadastraN")), (std::vector<std::size_t>{20, 20, 1}));
  for (const std::string& line :
       {std::string("Necessário realizar a resincronização dos processos.\n"),
        std::string("[.] Verificando cadastramento de 20 processo(s). Faltam 21...\n"),
        std::string("[.] Verificando cadastramento de 1 processo(s).\n"),
        "[ERRO] Atenção! Processo desincronizado. Pode ter perdido andamentos TJSP." +
            registrados[0] + "\n",
        "[ERRO] Atenção! Processo desincronizado. Pode ter perdido andamentos TJSP." +
            registrados[1] + "\n",
        std::string("[ERRO] Atenção! Foram encontrados 2 processos desincronizados\n")})
    EXPECT_TRUE(Has(f.out, line)) << line << "\n" << f.out;
  EXPECT_EQ(Estados().at(registrados[0]), "2");
}

}  // namespace
}  // namespace cau
