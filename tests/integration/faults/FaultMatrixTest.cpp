// Every service operation meets every fault the stand-in service can inject,
// in a whole run of the program on a sample installation: the run ends with
// the right status and red lines, the tables stay whole, the state file holds
// only what completed, and one clean run afterwards brings the tables to the
// state a run without the fault reaches.
//
// Built twice: a representative row per operation and per fault for the
// default suite, and with FAULT_MATRIX_SLOW the other rows (label "slow").
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <ostream>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/HostRun.h"
#include "support/Process.h"

namespace cau {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;
using test::Finished;
using test::HostRun;
using test::Pushsim;

constexpr int kPageSize = 100;
constexpr const char* kReceiveTimeoutMs = "5000";
constexpr const char* kResponseCap = "4194304";  // 4 MiB, far above a real page here

// What a fault does to the call and how the program words it.
struct Fault {
  std::string name;
  std::string rule;  // pushsim --fault keys
  bool transport;    // fails in the transport (not a readable answer)
  std::string says;  // part of the failure's message
};

const std::vector<Fault>& Faults() {
  static const std::vector<Fault> faults = {
      {"SoapFault", "fault=Falha simulada no servidor", false, "Falha simulada no servidor"},
      {"Http404", "status=404", true, "Erro HTTP 404"},
      // An HTML page with status 500 is an HTTP failure, not an unreadable SOAP answer.
      {"Http500", "status=500", true, "Erro HTTP 500"},
      {"Timeout", "delay=15000", true, "Tempo esgotado"},
      {"Closed", "close", true, "Falha na conexão com o servidor"},
      {"Malformed", "malformed", false, "Resposta inválida do servidor"},
      {"Truncated", "truncated", false, "Resposta inválida do servidor"},
      {"Oversize", "oversize=6291456", true, "maior que o limite"},
  };
  return faults;
}

// The operations; `skip` 1 makes a later call fail (a second batch or page),
// which matters most. `allFaults` false: only a fault the service did not
// act on and one whose answer was lost after it did.
struct Operation {
  std::string name;
  int skip;
  bool allFaults = true;
};

const std::vector<Operation>& Operations() {
  static const std::vector<Operation> operations = {
      {"login", 0},
      {"escopoN", 0},
      {"cadastraN", 1},
      {"consultaN", 1},
      {"historicosN", 1},
      {"descadastraN", 1},
      {"avisosN", 1},
      {"logout", 0},
      {"cadastraN", 0, false},
      {"consultaN", 0, false},
      {"historicosN", 0, false},
      {"descadastraN", 0, false},
      {"avisosN", 0, false},
  };
  return operations;
}

// The red lines the run writes when `op` fails (the failure's message follows
// the first), and the exit status: a failed logout does not cancel the run.
struct Outcome {
  int status;
  std::vector<std::string> red;
};

Outcome Expected(const std::string& op, bool transport) {
  const std::string cancelled = "Operação Cancelada.";
  if (op == "login")
    return {1,
            {transport ? "Erro de conexão com o servidor. Verifique se o acesso a internet está "
                         "funcionando e configurado corretamente."
                       : "Erro: [Login] ",
             "Não foi possível abrir uma sessão com o servidor.", cancelled}};
  if (op == "escopoN")
    return {1, {"[Escopo] ", cancelled}};
  if (op == "cadastraN" || op == "consultaN")
    return {1, {"Erro ao enviar lista de processos para cadastro PUSH.", cancelled}};
  if (op == "historicosN")
    return {1,
            {"[Historico] ", "Operação de atualização dos andamentos não realizada.", cancelled}};
  if (op == "descadastraN")
    return {1, {"Erro ao enviar lista de processos para descadastramento PUSH.", cancelled}};
  if (op == "avisosN")
    return {1, {"Erro. Não foi possível receber as mensagens de aviso. ", cancelled}};
  return {0, {"Erro no logout. "}};
}

struct Row {
  Operation op;
  Fault fault;
};

void PrintTo(const Row& row, std::ostream* out) {
  *out << row.op.name << " skip=" << row.op.skip << ", " << row.fault.rule;
}

// "historicosN_Closed" for a later call, "historicosNFirst_Closed" for the first.
std::string RowName(const ::testing::TestParamInfo<Row>& info) {
  const Operation& op = info.param.op;
  const bool repeated = op.name != "login" && op.name != "escopoN" && op.name != "logout";
  return op.name + (repeated && op.skip == 0 ? "First" : "") + "_" + info.param.fault.name;
}

// The subset of the default suite: every operation once and every fault
// once, on the calls that matter most.
bool InDefaultSuite(const Row& row) {
  if (row.op.skip == 0 && !row.op.allFaults)
    return false;
  static const std::map<std::string, std::string> pick = {
      {"login", "Http404"},       {"escopoN", "Malformed"},   {"cadastraN", "Closed"},
      {"consultaN", "Truncated"}, {"historicosN", "Timeout"}, {"descadastraN", "SoapFault"},
      {"avisosN", "Oversize"},    {"logout", "Http500"},
  };
  return pick.at(row.op.name) == row.fault.name;
}

std::vector<Row> Rows(bool full) {
  std::vector<Row> rows;
  for (const Operation& op : Operations()) {
    for (const Fault& fault : Faults()) {
      if (!op.allFaults && fault.name != "SoapFault" && fault.name != "Closed")
        continue;
      if (InDefaultSuite({op, fault}) != full)
        rows.push_back({op, fault});
    }
  }
  return rows;
}

// The cases kept queued for unregistration.
int PendingUnregistrations(const HostRun& host) {
  const std::string cfg = test::ReadFile(host.Dados() / "cauPushDescadastrar.cfg");
  const std::size_t section = cfg.find("[DESCADASTRAR]");
  if (section == std::string::npos)
    return 0;
  const std::size_t end = cfg.find("\n[", section);
  const std::string body = cfg.substr(section, end == std::string::npos ? end : end - section);
  return int(std::count(body.begin(), body.end(), '='));
}

long StateId(const HostRun& host, const std::string& key) {
  const std::string v = host.StateValue(key);
  return v.empty() ? 0 : std::stol(v);
}

// A case's OUTROS memo as runs with different histories may leave it: the
// time stamp of an error line ("MsgErro=dd/mm/yyyy - hh:mm -[PUSH]- ...",
// the time the error was written) blanked, and a cleared error line left
// out: every import writes "MsgErro=" (with the memo's header line when the
// memo was empty), so a case that a recovered run imported, where the run
// without the fault only set its state by a notice, differs by that line.
std::string Comparable(std::string outros) {
  static const std::regex stamp(R"(\r\nMsgErro=\d\d/\d\d/\d{4} - \d\d:\d\d -\[PUSH\]- )");
  outros = std::regex_replace(outros, stamp, "\r\nMsgErro=(hora) -[PUSH]- ");
  for (std::size_t at; (at = outros.find("\r\nMsgErro=\r\n")) != std::string::npos;)
    outros.erase(at + 2, 10);
  const std::size_t firstLine = outros.find("\r\n");
  if (firstLine + 2 == outros.size() && outros.rfind("chave=", 0) == 0)
    outros.clear();  // the header line alone
  return outros;
}

// Every table of dados as the xbase tool dumps it, with what a run's
// history legitimately changes left aside: the stamps of the last
// consultation of a case (DTULTCONS, HRULTCONS: the time of the import), in
// OUTROS the error line's stamp and a cleared error line, and the order of
// the appointments (appended as their hearings arrive; the host reads them
// through the index).
std::map<std::string, json> Tables(const HostRun& host) {
  std::map<std::string, json> tables;
  for (const char* name : {"PROCESSO.DBF", "PASTA.DBF", "AGENDA.DBF", "PushAux.DBF"}) {
    json t = json::parse(host.Dump(name));
    if (std::string(name) == "PROCESSO.DBF") {
      for (json& record : t) {
        json& values = record["values"];
        values.erase("DTULTCONS");
        values.erase("HRULTCONS");
        if (values["OUTROS"].is_string())
          values["OUTROS"] = Comparable(values["OUTROS"].get<std::string>());
      }
    }
    if (std::string(name) == "AGENDA.DBF") {
      for (json& record : t)
        record.erase("recno");
      std::sort(t.begin(), t.end(),
                [](const json& a, const json& b) { return a.dump() < b.dump(); });
    }
    tables[name] = std::move(t);
  }
  return tables;
}

// The first record where two dumps of a table differ, for the failure text.
std::string FirstDifference(const json& got, const json& want) {
  for (std::size_t i = 0; i < std::max(got.size(), want.size()); ++i) {
    if (i >= got.size() || i >= want.size() || got[i] != want[i])
      return "record " + std::to_string(i + 1) + ":\n got " +
             (i < got.size() ? got[i].dump() : "(none)") + "\nwant " +
             (i < want.size() ? want[i].dump() : "(none)");
  }
  return {};
}

int CountOf(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    ++n;
  return n;
}

std::map<std::string, int> Calls(const fs::path& requestLog) {
  std::map<std::string, int> calls;
  const std::string text = test::ReadFile(requestLog);
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos)
      end = text.size();
    if (end > at) {
      const json line = json::parse(text.substr(at, end - at));
      if (line["op"].is_string())
        ++calls[line["op"].get<std::string>()];
    }
    at = end + 1;
  }
  return calls;
}

// A day `days` from today as "yyyy-mm-dd".
std::string DayFromToday(int days) {
  using namespace std::chrono;
  const year_month_day d{floor<std::chrono::days>(system_clock::now()) + std::chrono::days{days}};
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u", int(d.year()), unsigned(d.month()),
                unsigned(d.day()));
  return text;
}

// A hearing stamp ("yyyy-mm-dd hh:nn[:ss]") moved to a day to come, so that
// hearings are written whatever day the test runs on.
std::string ToCome(const std::string& stamp, int days) {
  return DayFromToday(days) + stamp.substr(std::min<std::size_t>(10, stamp.size()));
}

// mkhost's scenario made into one that a single clean run settles: cases the
// host suspended or stopped are not monitored (their movements would set them
// registered again), no notice unregisters a case the next scan would
// register anew; plus cases the host lacks, enough for two unregistration
// batches and a second page of movements, and alerts for a second page of
// notices.
json Settled(json scenario, const json& processo, const std::string& orgaosXml) {
  std::map<std::string, long> codes;  // short name, upper case -> court code
  const std::regex court(R"re(id="[^"](\d+)"\s+nomeReduzido="([^"]*)")re");
  for (std::sregex_iterator it(orgaosXml.begin(), orgaosXml.end(), court), end; it != end; ++it) {
    std::string name = (*it)[2];
    std::transform(name.begin(), name.end(), name.begin(), ::toupper);
    codes.emplace(name, std::stol((*it)[1]));
  }
  std::map<std::pair<long, std::string>, const json*> host;
  for (const json& record : processo) {
    std::string number = record["values"]["CHAVEPROC"];
    number.erase(number.find_last_not_of(' ') + 1);
    number.erase(0, number.find_first_not_of(' '));
    host[{long(record["values"]["CODTRIB"].get<double>()), number}] = &record["values"];
  }
  for (json& c : scenario["cases"]) {
    std::string name = c["codOrgao"];
    std::transform(name.begin(), name.end(), name.begin(), ::toupper);
    const auto code = codes.find(name);
    const auto h = code == codes.end() ? host.end() : host.find({code->second, c["codProcesso"]});
    if (h != host.end() && ((*h->second)["SUSPENSO"].get<bool>() ||
                            (*h->second)["ESTADOPUSH"] == "1" || (*h->second)["ESTADOPUSH"] == "5"))
      c["monitored"] = false;
  }
  int hearings = 0;
  for (const char* list : {"cases", "oab"}) {
    for (json& c : scenario[list]) {
      if (c.contains("sdtAudiencia"))
        c["sdtAudiencia"] = ToCome(c["sdtAudiencia"], 20 + hearings++ % 40);
    }
  }
  json notices = json::array();
  int lastNotice = 0;
  for (const json& n : scenario["notices"]) {
    lastNotice = std::max(lastNotice, n["id"].get<int>());
    if (n.value("estadoProcesso", "") == "DESCADASTRADO")
      continue;
    notices.push_back(n);
    const std::string kind = n.value("tipoAviso", "");
    if (kind == "AUDIENCIA_INC" || kind == "AUDIENCIA_EXC")
      notices.back()["sdtAviso"] = ToCome(n["sdtAviso"], 30);
  }
  // Listed first, with the lowest ids (mkhost's start at 101): the service
  // lists cases in the order it keeps them, and lastIdHistorico, the largest
  // id of the pages read, stands for "everything before" only when later
  // pages carry larger ids.
  const std::string shortName = scenario["cases"][0]["codOrgao"];
  json cases = json::array();
  for (int k = 0; k < 25; ++k) {
    const std::string number = "1.99" + std::to_string(10000 + k) + "-00.2020.8.26.0001";
    cases.push_back({{"codOrgao", shortName},
                     {"codProcesso", number},
                     {"monitored", true},
                     {"historicos",
                      {{{"id", 1 + k},
                        {"date", "2025-12-01"},
                        {"time", "09:00"},
                        {"text", "Andamento de processo desconhecido"}}}}});
  }
  for (json& c : scenario["cases"])
    cases.push_back(std::move(c));
  scenario["cases"] = std::move(cases);
  for (int k = 0; k < 80; ++k)
    notices.push_back({{"id", ++lastNotice},
                       {"sdtAviso", "2025-12-20 08:00:00"},
                       {"tipoAviso", "ALERTA"},
                       {"txtAviso", "Aviso " + std::to_string(k + 1)}});
  scenario["notices"] = notices;
  return scenario;
}

class FaultMatrix : public ::testing::TestWithParam<Row> {
 protected:
  static void SetUpTestSuite() {
    ::setenv("CAU_RECEIVE_TIMEOUT_MS", kReceiveTimeoutMs, 1);
    ::setenv("CAU_RESPONSE_CAP_BYTES", kResponseCap, 1);
    dir_ = std::make_unique<test::TempDir>("fault-matrix");
    const fs::path root = dir_->path();
    pristine_ = std::make_unique<HostRun>(
        root / "pristine",
        std::vector<std::string>{"--cases", "150", "--scenario", (root / "mkhost.json").string(),
                                 "--busy", "105"});
    ASSERT_EQ(pristine_->Made().status, 0) << pristine_->Made().err;
    scenario_ = root / "scenario.json";
    test::WriteFile(scenario_, Settled(json::parse(test::ReadFile(root / "mkhost.json")),
                                       json::parse(pristine_->Dump("PROCESSO.DBF")),
                                       test::ReadFile(pristine_->Host() / "orgaos.xml"))
                                   .dump(1));

    // The reference: a fresh copy and one clean run.
    HostRun ref(root / "reference", *pristine_);
    const fs::path log = root / "reference" / "requests.log";
    Pushsim sim({"--state", (root / "reference" / "service.json").string(), "--log", log.string()},
                scenario_.string());
    ASSERT_TRUE(sim.Running());
    ::setenv("CAU_UPDATE_SERVER", sim.Root().c_str(), 1);
    const Finished run = ref.Run(sim);
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    ASSERT_EQ(ref.Check().status, 0) << ref.Check().out;
    // Every operation is really called, the paged and batched ones more than once.
    const std::map<std::string, int> calls = Calls(log);
    for (auto [op, least] : std::map<std::string, int>{{"login", 1},
                                                       {"escopoN", 1},
                                                       {"cadastraN", 2},
                                                       {"consultaN", 2},
                                                       {"historicosN", 3},
                                                       {"descadastraN", 2},
                                                       {"avisosN", 3},
                                                       {"logout", 1}})
      ASSERT_GE(calls.count(op) ? calls.at(op) : 0, least) << op << "\n" << run.out;
    reference_ = Tables(ref);
    // Hearings were written: the run added appointments.
    ASSERT_GT(reference_.at("AGENDA.DBF").size(), Tables(*pristine_).at("AGENDA.DBF").size());
    refHistorico_ = StateId(ref, "lastIdHistorico");
    refAviso_ = StateId(ref, "lastIdAviso");
    refUnregistered_ = CountOf(run.out, "[-]Descadastrado: ");
    ASSERT_GT(refHistorico_, 0);
    ASSERT_GT(refAviso_, kPageSize);
    ASSERT_GT(refUnregistered_, 20);
  }
  static void TearDownTestSuite() {
    pristine_.reset();
    dir_.reset();
    ::unsetenv("CAU_RECEIVE_TIMEOUT_MS");
    ::unsetenv("CAU_RESPONSE_CAP_BYTES");
    ::unsetenv("CAU_UPDATE_SERVER");
  }

  static inline std::unique_ptr<test::TempDir> dir_;
  static inline std::unique_ptr<HostRun> pristine_;
  static inline fs::path scenario_;
  static inline std::map<std::string, json> reference_;
  static inline long refHistorico_ = 0, refAviso_ = 0;
  static inline int refUnregistered_ = 0;
};

// The largest movement id of the first page of the listing the service gave.
long FirstPageHighest(const json& service) {
  long highest = 0;
  int listed = 0;
  for (const json& c : service["cases"]) {
    if (!c.value("monitored", false) || c["historicos"].empty())
      continue;
    if (++listed > kPageSize)
      break;
    for (const json& m : c["historicos"])
      highest = std::max(highest, m["id"].get<long>());
  }
  return highest;
}

// The id of the last notice of the first page of the stream.
long FirstPageLastNotice(const json& service) {
  std::vector<long> ids;
  for (const json& n : service["notices"])
    ids.push_back(n["id"].get<long>());
  std::sort(ids.begin(), ids.end());
  return ids.size() >= std::size_t(kPageSize) ? ids[kPageSize - 1] : -1;
}

TEST_P(FaultMatrix, RunEndsCleanlyAndACleanRunConverges) {
  ASSERT_TRUE(pristine_);
  const Row& row = GetParam();
  const std::string& op = row.op.name;
  const fs::path root = dir_->path() / (op + "_" + row.fault.name);
  HostRun host(root, *pristine_);
  const std::string service = (root / "service.json").string();

  {
    const std::string rule =
        op + ":" + row.fault.rule + ",skip=" + std::to_string(row.op.skip) + ",times=1";
    Pushsim sim({"--state", service, "--log", (root / "requests.log").string(), "--fault", rule},
                scenario_.string());
    ASSERT_TRUE(sim.Running());
    ::setenv("CAU_UPDATE_SERVER", sim.Root().c_str(), 1);
    const Finished run = host.Run(sim);
    const std::string log = run.out + run.err;
    const Outcome want = Expected(op, row.fault.transport);
    EXPECT_EQ(run.status, want.status) << log;
    std::size_t at = 0;
    for (const std::string& red : want.red) {
      at = run.out.find("[ERRO] " + red, at);
      ASSERT_NE(at, std::string::npos) << "missing red line: " << red << "\n" << log;
    }
    EXPECT_NE(run.out.find(row.fault.says), std::string::npos) << log;
    if (want.status == 0) {
      EXPECT_EQ(run.out.find("Operação Cancelada."), std::string::npos) << log;
    }
    EXPECT_NE(test::ReadFile(root / "requests.log").find("\"injected\""), std::string::npos)
        << "the fault was not met";
  }
  const Finished checked = host.Check();
  EXPECT_EQ(checked.status, 0) << checked.out << checked.err;

  // Only what completed is in the state file.
  const json served = json::parse(test::ReadFile(service));
  const bool later = row.op.skip > 0;
  long historico = 0, aviso = 0;
  if (op == "historicosN") {
    historico = later ? FirstPageHighest(served) : 0;
  } else if (op == "descadastraN" || op == "avisosN" || op == "logout") {
    historico = refHistorico_;
    if (op == "avisosN")
      aviso = later ? FirstPageLastNotice(served) : 0;
    else if (op == "logout")
      aviso = refAviso_;
  }
  EXPECT_EQ(StateId(host, "lastIdHistorico"), historico);
  EXPECT_EQ(StateId(host, "lastIdAviso"), aviso);
  // A batch of 20 leaves the queue once the service took it.
  if (op == "descadastraN") {
    EXPECT_EQ(PendingUnregistrations(host), refUnregistered_ - (later ? 20 : 0));
  }

  // One clean run afterwards reaches the reference.
  {
    Pushsim sim({"--state", service}, scenario_.string());
    ASSERT_TRUE(sim.Running());
    ::setenv("CAU_UPDATE_SERVER", sim.Root().c_str(), 1);
    const Finished rerun = host.Run(sim);
    ASSERT_EQ(rerun.status, 0) << rerun.out << rerun.err;
  }
  const Finished rechecked = host.Check();
  EXPECT_EQ(rechecked.status, 0) << rechecked.out << rechecked.err;
  EXPECT_EQ(StateId(host, "lastIdHistorico"), refHistorico_);
  EXPECT_EQ(PendingUnregistrations(host), 0);
  EXPECT_EQ(StateId(host, "lastIdAviso"), refAviso_);
  for (const auto& [name, table] : Tables(host))
    EXPECT_TRUE(table == reference_.at(name)) << name << " differs from a run without the fault; "
                                              << FirstDifference(table, reference_.at(name));
  if (!HasFailure())
    fs::remove_all(root);
}

#ifdef FAULT_MATRIX_SLOW
INSTANTIATE_TEST_SUITE_P(Rest, FaultMatrix, ::testing::ValuesIn(Rows(true)), RowName);
#else
INSTANTIATE_TEST_SUITE_P(Representative, FaultMatrix, ::testing::ValuesIn(Rows(false)), RowName);
#endif

}  // namespace
}  // namespace cau
