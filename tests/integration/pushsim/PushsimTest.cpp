// pushsim as a client meets it: the real process on a free loopback port,
// hand-written SOAP envelopes over HTTP, answers read namespace-aware.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>
#include <pugixml.hpp>

#include "support/Process.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr const char* kNs = "http://push.vexo.example/PushService";
constexpr const char* kPath = "/PushServer/services/PushService";

// A running pushsim with the requests these tests send by hand; stopped
// with SIGTERM when destroyed, which it must survive cleanly.
class Pushsim : public cau::test::Pushsim {
 public:
  using cau::test::Pushsim::Pushsim;
  ~Pushsim() {
    if (Running()) {
      EXPECT_EQ(Stop(), 0) << "pushsim did not end cleanly on SIGTERM";
    }
  }
  int port() const { return Port(); }

  httplib::Result Post(const std::string& operation, const std::string& params) const {
    httplib::Client client("127.0.0.1", Port());
    client.set_read_timeout(10, 0);
    const std::string body =
        "<?xml version=\"1.0\"?>"
        "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
        "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
        "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"><SOAP-ENV:Body><" +
        operation + " xmlns=\"" + kNs + "\">" + params + "</" + operation +
        "></SOAP-ENV:Body></SOAP-ENV:Envelope>";
    return client.Post(kPath, {{"SOAPAction", "\"" + operation + "\""}}, body,
                       "text/xml; charset=\"utf-8\"");
  }

  httplib::Result Get(const std::string& target) const {
    httplib::Client client("127.0.0.1", Port());
    client.set_read_timeout(10, 0);
    return client.Get(target.c_str());
  }

  std::string Login(const std::string& credencial = "adv/segredo") const {
    auto res =
        Post("login", "<credencial>" + credencial +
                          "</credencial><origem>CAU</origem><txtIdSessaoAnterior/>"
                          "<txtIdMaquina>AppDir=x</txtIdMaquina><txtVersao>0.9.9.1</txtVersao>");
    return res ? res->body : std::string{};
  }
};

// Reading answers by local names, as a namespace-aware client does.
std::string_view Local(pugi::xml_node n) {
  const std::string_view name = n.name();
  const auto colon = name.find(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

pugi::xml_node Child(pugi::xml_node n, std::string_view local) {
  for (pugi::xml_node c : n.children()) {
    if (c.type() == pugi::node_element && Local(c) == local) {
      return c;
    }
  }
  return {};
}

std::vector<pugi::xml_node> Elements(pugi::xml_node n) {
  std::vector<pugi::xml_node> out;
  for (pugi::xml_node c : n.children()) {
    if (c.type() == pugi::node_element) {
      out.push_back(c);
    }
  }
  return out;
}

std::string Field(pugi::xml_node n, std::string_view local) {
  return Child(n, local).text().get();
}

// The result element of a response ("<op>Return" in "<op>Response") or the Fault; the
// document is kept alive by doc.
pugi::xml_node Result(pugi::xml_document& doc, const std::string& body) {
  EXPECT_TRUE(doc.load_string(body.c_str())) << body;
  pugi::xml_node first = Elements(Child(doc.document_element(), "Body")).at(0);
  if (Local(first) == "Fault") {
    return first;
  }
  const std::string operation(Local(first).substr(0, Local(first).size() - 8));
  EXPECT_EQ(Local(first), operation + "Response");
  return Child(first, operation + "Return");
}

std::string SessionOf(const std::string& loginBody) {
  pugi::xml_document doc;
  return Result(doc, loginBody).text().get();
}

std::string Cases(const std::vector<std::pair<std::string, std::string>>& cases) {
  std::string xml = "<processos>";
  for (const auto& [court, number] : cases) {
    xml += "<processoVO><codOrgao>" + court + "</codOrgao><codProcesso>" + number +
           "</codProcesso><codTipoVinculo xsi:nil=\"true\"/><historicos/><partes/><outros/>"
           "<id>0</id></processoVO>";
  }
  return xml + "</processos>";
}

std::string Paging(const std::string& session, long long aPartir, long long limite,
                   std::optional<long long> offset = std::nullopt) {
  std::string xml = "<sessionId>" + session + "</sessionId><aPartir>" + std::to_string(aPartir) +
                    "</aPartir><limite>" + std::to_string(limite) + "</limite>";
  if (offset) {
    xml += "<offset>" + std::to_string(*offset) + "</offset>";
  }
  return xml;
}

json Movement(int id) {
  return {
      {"id", id}, {"date", "2026-11-01"}, {"time", "10:00"}, {"text", "m" + std::to_string(id)}};
}

json CaseJson(const std::string& number, bool monitored, std::vector<int> ids) {
  json movements = json::array();
  for (int id : ids) {
    movements.push_back(Movement(id));
  }
  return {{"codOrgao", "TJXX"},
          {"codProcesso", number},
          {"monitored", monitored},
          {"historicos", movements}};
}

// A case the service lists once for its new hearing, without new movements.
json HearingOnly(const std::string& number) {
  json c = CaseJson(number, true, {});
  c["pending"] = true;
  c["sdtAudiencia"] = "2027-02-01 10:00";
  return c;
}

class PushsimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> counter{0};
    dir_ = fs::temp_directory_path() /
           ("pushsim-test-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
    fs::create_directories(dir_);
    scenario_ = {{"accounts", {{{"user", "adv"}, {"password", "segredo"}}}},
                 {"scope", {{{"codOrgao", "TJXX"}, {"tipoProcesso", {"1", "2"}}}}},
                 {"cases",
                  {CaseJson("A", true, {10}), CaseJson("B", true, {3}),
                   CaseJson("C", true, {7, 12}), CaseJson("D", true, {1}), CaseJson("E", true, {5}),
                   CaseJson("F", false, {20}), HearingOnly("G")}},
                 {"notices",
                  {{{"id", 4},
                    {"tipoAviso", "ALERTA"},
                    {"txtAviso", "Manutenção"},
                    {"sdtAviso", "2026-11-01 08:00:00"}}}},
                 {"counters", {{"sdtAviso", "2026-11-30 23:00:00"}}}};
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  fs::path Write(const std::string& name, const std::string& text) const {
    std::ofstream(dir_ / name, std::ios::binary) << text;
    return dir_ / name;
  }

  // The fixture's scenario as a file.
  std::string Scenario() const { return Write("scenario.json", scenario_.dump()).string(); }

  fs::path dir_;
  json scenario_;
};

TEST_F(PushsimTest, LoginGivesSessionsAndRejectsBadCredentials) {
  Pushsim sim({}, Scenario());
  ASSERT_GT(sim.port(), 0) << sim.FirstLine();

  auto good = sim.Post("login", "<credencial>adv/segredo</credencial><origem>CAU</origem>");
  ASSERT_TRUE(good);
  EXPECT_EQ(good->status, 200);
  EXPECT_EQ(SessionOf(good->body).size(), 32u);
  EXPECT_NE(SessionOf(sim.Login()), SessionOf(good->body));

  for (const char* credencial : {"adv/errada", "outro/segredo", "advsegredo", ""}) {
    auto bad = sim.Post(
        "login", std::string("<credencial>") + credencial + "</credencial><origem>CAU</origem>");
    ASSERT_TRUE(bad);
    EXPECT_EQ(bad->status, 500) << credencial;
    pugi::xml_document doc;
    const pugi::xml_node fault = Result(doc, bad->body);
    EXPECT_EQ(Local(fault), "Fault");
    EXPECT_EQ(Field(fault, "faultstring"), "Usuário ou senha inválidos.");
    EXPECT_EQ(Field(fault, "faultcode"), "soapenv:Server");
  }
}

TEST_F(PushsimTest, EveryOtherCallNeedsAnOpenSession) {
  Pushsim sim({}, Scenario());
  const std::string session = SessionOf(sim.Login());
  ASSERT_EQ(sim.Post("logout", "<sessionId>" + session + "</sessionId>")->status, 200);

  for (const std::string& id : {std::string(), std::string("bogus"), session}) {
    for (const char* operation : {"escopoN", "avisosN", "logout"}) {
      auto res = sim.Post(
          operation, "<sessionId>" + id + "</sessionId><aPartir>0</aPartir><limite>100</limite>");
      ASSERT_TRUE(res);
      EXPECT_EQ(res->status, 500) << operation << " with \"" << id << "\"";
      pugi::xml_document doc;
      EXPECT_EQ(Field(Result(doc, res->body), "faultstring"), "Sessão inválida ou expirada.");
    }
  }
}

TEST_F(PushsimTest, RegistrationAnswersDirectlyAndAppendsToTheStream) {
  Pushsim sim({}, Scenario());
  const std::string session = SessionOf(sim.Login());

  auto res = sim.Post("cadastraN", "<sessionId>" + session + "</sessionId>" +
                                       Cases({{"tjxx", "A"}, {"TJXX", "NOVO"}, {"ZZ", "X"}}));
  ASSERT_TRUE(res);
  ASSERT_EQ(res->status, 200) << res->body;
  pugi::xml_document doc;
  const auto direct = Elements(Result(doc, res->body));
  ASSERT_EQ(direct.size(), 3u);
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"A", "CADASTRADO"}, {"NOVO", "EM_CADASTRAMENTO"}, {"X", "ERRO"}};
  for (std::size_t i = 0; i < direct.size(); ++i) {
    EXPECT_EQ(Local(direct[i]), "avisoVO");
    EXPECT_EQ(Field(direct[i], "id"), "0") << "direct answers are not part of the stream";
    EXPECT_EQ(Field(direct[i], "tipoAviso"), "PROCESSO");
    EXPECT_EQ(Field(direct[i], "codProcesso"), expected[i].first);
    EXPECT_EQ(Field(direct[i], "estadoProcesso"), expected[i].second);
  }

  // The stream after the last notice handled holds the later CADASTRADO of the new case.
  auto stream = sim.Post("avisosN", Paging(session, 4, 100));
  pugi::xml_document streamDoc;
  const auto notices = Elements(Result(streamDoc, stream->body));
  ASSERT_EQ(notices.size(), 1u) << stream->body;
  EXPECT_EQ(Field(notices[0], "id"), "5");
  EXPECT_EQ(Field(notices[0], "codProcesso"), "NOVO");
  EXPECT_EQ(Field(notices[0], "estadoProcesso"), "CADASTRADO");
  EXPECT_EQ(Elements(Result(streamDoc, sim.Post("avisosN", Paging(session, 5, 100))->body)).size(),
            0u);

  // Unregistration mirrors it; consultaN then still knows the case.
  auto gone = sim.Post("descadastraN",
                       "<sessionId>" + session + "</sessionId>" + Cases({{"TJXX", "NOVO"}}));
  pugi::xml_document goneDoc;
  const auto goneNotices = Elements(Result(goneDoc, gone->body));
  ASSERT_EQ(goneNotices.size(), 1u);
  EXPECT_EQ(Field(goneNotices[0], "estadoProcesso"), "EM_DESCADASTRAMENTO");
  EXPECT_EQ(Field(goneNotices[0], "id"), "0");
  pugi::xml_document laterDoc;
  const auto later = Elements(Result(laterDoc, sim.Post("avisosN", Paging(session, 5, 100))->body));
  ASSERT_EQ(later.size(), 1u);
  EXPECT_EQ(Field(later[0], "estadoProcesso"), "DESCADASTRADO");

  pugi::xml_document consultaDoc;
  const auto found = Elements(
      Result(consultaDoc, sim.Post("consultaN", "<sessionId>" + session + "</sessionId>" +
                                                    Cases({{"TJXX", "C"}, {"TJXX", "NADA"}}))
                              ->body));
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(Elements(Child(found[0], "historicos")).size(), 2u);

  // Six monitored cases in the scenario, one added and removed again.
  pugi::xml_document countersDoc;
  const pugi::xml_node counters =
      Result(countersDoc, sim.Post("logout", "<sessionId>" + session + "</sessionId>")->body);
  EXPECT_EQ(Field(counters, "numProcessos"), "6");
  EXPECT_EQ(Field(counters, "numProcessosMes"), "7");
  EXPECT_EQ(Field(counters, "sdtAviso"), "2026-11-30 23:00:00");
}

TEST_F(PushsimTest, MovementPagesLoseNothingWhenTheClientRaisesAPartir) {
  Pushsim sim({}, Scenario());
  const std::string session = SessionOf(sim.Login());

  // The client's loop: pages of 2, aPartir raised to the highest id read, offset advanced.
  std::set<std::string> cases;
  std::set<int> movements;
  long long aPartir = 0;
  for (long long offset = 0;; offset += 2) {
    auto res = sim.Post("historicosN", Paging(session, aPartir, 2, offset));
    ASSERT_TRUE(res);
    ASSERT_EQ(res->status, 200) << res->body;
    pugi::xml_document doc;
    const auto page = Elements(Result(doc, res->body));
    if (page.empty()) {
      break;
    }
    EXPECT_LE(page.size(), 2u);
    for (pugi::xml_node c : page) {
      cases.insert(Field(c, "codProcesso"));
      for (pugi::xml_node h : Elements(Child(c, "historicos"))) {
        const int id = std::stoi(Field(h, "id"));
        movements.insert(id);
        aPartir = std::max<long long>(aPartir, id);
      }
    }
    ASSERT_LT(offset, 20) << "paging does not end";
  }
  EXPECT_EQ(cases, (std::set<std::string>{"A", "B", "C", "D", "E", "G"}));
  EXPECT_EQ(movements, (std::set<int>{1, 3, 5, 7, 10, 12}));

  // A new listing from the raised aPartir is empty (G was delivered); one from 6 holds only
  // newer movements.
  pugi::xml_document doc;
  EXPECT_EQ(
      Elements(Result(doc, sim.Post("historicosN", Paging(session, 12, 100, 0))->body)).size(), 0u);
  const auto newer =
      Elements(Result(doc, sim.Post("historicosN", Paging(session, 6, 100, 0))->body));
  ASSERT_EQ(newer.size(), 2u);
  EXPECT_EQ(Field(newer[0], "codProcesso"), "A");
  EXPECT_EQ(Field(newer[1], "codProcesso"), "C");
  EXPECT_EQ(Elements(Child(newer[1], "historicos")).size(), 2u);
}

TEST_F(PushsimTest, InjectedFaultsReachTheClient) {
  Pushsim sim({"--fault", "escopoN:status=404", "--fault", "consultaN:fault=Falha simulada",
               "--fault", "avisosN:close", "--fault", "historicosN:items=item", "--fault",
               "logout:truncated", "--fault", "login:fault=Serviço parado,times=1"},
              Scenario());
  ASSERT_GT(sim.port(), 0);

  // times=1: the first login meets the fault, the next one does not.
  pugi::xml_document doc;
  EXPECT_EQ(Field(Result(doc, sim.Login()), "faultstring"), "Serviço parado");
  const std::string session = SessionOf(sim.Login());
  ASSERT_FALSE(session.empty());
  const std::string sid = "<sessionId>" + session + "</sessionId>";

  auto notFound = sim.Post("escopoN", sid);
  ASSERT_TRUE(notFound);
  EXPECT_EQ(notFound->status, 404);

  auto fault = sim.Post("consultaN", sid + Cases({{"TJXX", "A"}}));
  ASSERT_TRUE(fault);
  EXPECT_EQ(fault->status, 500);
  EXPECT_EQ(Field(Result(doc, fault->body), "faultstring"), "Falha simulada");

  auto closed = sim.Post("avisosN", Paging(session, 0, 100));
  EXPECT_FALSE(closed) << "a connection closed mid-answer is an error for the client";

  auto renamed = sim.Post("historicosN", Paging(session, 0, 100, 0));
  const auto items = Elements(Result(doc, renamed->body));
  ASSERT_EQ(items.size(), 6u);
  EXPECT_EQ(Local(items[0]), "item");
  EXPECT_EQ(Local(Elements(Child(items[0], "historicos")).at(0)), "item");

  auto truncated = sim.Post("logout", sid);
  ASSERT_TRUE(truncated);
  EXPECT_EQ(truncated->status, 200);
  EXPECT_FALSE(pugi::xml_document().load_string(truncated->body.c_str()));
}

TEST_F(PushsimTest, UnreadableRequestsGetClientFaults) {
  Pushsim sim({}, Scenario());
  std::string deep;
  for (int i = 0; i < 100000; ++i) {
    deep += "<a>";
  }
  const std::string env =
      "<e:Envelope xmlns:e=\"http://schemas.xmlsoap.org/soap/envelope/\"><e:Body>";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"<not-xml", "XML malformado"},
      {"<e:Envelope xmlns:e=\"http://www.w3.org/2003/05/soap-envelope\"><e:Body/></e:Envelope>",
       "Envelope SOAP 1.1"},
      {env + "</e:Body></e:Envelope>", "Body vazio"},
      {env + "<login xmlns=\"urn:other\"/></e:Body></e:Envelope>", "Operação desconhecida"},
      {env + "<apagaTudo xmlns=\"" + std::string(kNs) + "\"/></e:Body></e:Envelope>",
       "Operação desconhecida"},
      {env + "<login xmlns=\"" + std::string(kNs) + "\"><credencial>" + deep +
           "</credencial></login>",
       "XML malformado"},
  };
  httplib::Client client("127.0.0.1", sim.port());
  for (const auto& [body, message] : cases) {
    auto res = client.Post(kPath, body, "text/xml");
    ASSERT_TRUE(res) << message;
    EXPECT_EQ(res->status, 500) << message;
    pugi::xml_document doc;
    const pugi::xml_node fault = Result(doc, res->body);
    EXPECT_EQ(Field(fault, "faultcode"), "soapenv:Client") << message;
    EXPECT_NE(Field(fault, "faultstring").find(message), std::string::npos) << res->body;
  }
  // Deep nesting that is well formed is logged and answered, not a crash.
  std::string closed = deep;
  for (int i = 0; i < 100000; ++i) {
    closed += "</a>";
  }
  auto res = sim.Post("login", "<credencial>" + closed + "</credencial><origem>CAU</origem>");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 500);
  EXPECT_FALSE(SessionOf(sim.Login()).empty());
}

TEST_F(PushsimTest, RequestLogHoldsEveryRequestWithItsArguments) {
  const fs::path logFile = dir_ / "requests.log";
  {
    Pushsim sim({"--log", logFile.string(), "--fault", "escopoN:status=503"}, Scenario());
    const std::string session = SessionOf(sim.Login());
    sim.Post("cadastraN", "<sessionId>" + session + "</sessionId>" + Cases({{"TJXX", "1.234"}}));
    sim.Post("escopoN", "<sessionId>" + session + "</sessionId>");
    httplib::Client("127.0.0.1", sim.port()).Post(kPath, "<not-soap", "text/xml");
    EXPECT_EQ(sim.Stop(), 0);
  }
  std::ifstream in(logFile);
  std::vector<json> lines;
  for (std::string line; std::getline(in, line);) {
    lines.push_back(json::parse(line));
  }
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0]["op"], "login");
  EXPECT_EQ(lines[0]["args"]["credencial"], "adv/segredo");
  EXPECT_EQ(lines[0]["args"]["txtIdSessaoAnterior"], "");
  EXPECT_EQ(lines[0]["params"],
            json({"credencial", "origem", "txtIdSessaoAnterior", "txtIdMaquina", "txtVersao"}));
  EXPECT_EQ(lines[0]["soapAction"], "\"login\"");
  EXPECT_EQ(lines[1]["op"], "cadastraN");
  EXPECT_EQ(lines[1]["args"]["processos"][0]["codProcesso"], "1.234");
  EXPECT_EQ(lines[1]["args"]["processos"][0]["codTipoVinculo"], nullptr);
  EXPECT_EQ(lines[1]["args"]["processos"][0]["historicos"], json::array());
  EXPECT_EQ(lines[2]["injected"], "status=503");
  EXPECT_TRUE(lines[3]["op"].is_null());
  EXPECT_NE(lines[3]["error"].get<std::string>().find("XML malformado"), std::string::npos);
}

TEST_F(PushsimTest, StateFileCarriesTheServiceAcrossStarts) {
  const std::string state = (dir_ / "state.json").string();
  {
    Pushsim first({"--state", state}, Scenario());
    const std::string session = SessionOf(first.Login());
    first.Post("cadastraN", "<sessionId>" + session + "</sessionId>" + Cases({{"TJXX", "NOVO"}}));
    first.Post("descadastraN", "<sessionId>" + session + "</sessionId>" + Cases({{"TJXX", "A"}}));
    EXPECT_EQ(first.Stop(), 0);
  }
  Pushsim second({"--state", state}, Scenario());
  const std::string session = SessionOf(second.Login());
  pugi::xml_document doc;
  const auto notices = Elements(Result(doc, second.Post("avisosN", Paging(session, 4, 100))->body));
  ASSERT_EQ(notices.size(), 2u);
  EXPECT_EQ(Field(notices[0], "codProcesso"), "NOVO");
  EXPECT_EQ(Field(notices[1], "estadoProcesso"), "DESCADASTRADO");
  const auto again =
      Elements(Result(doc, second
                               .Post("cadastraN", "<sessionId>" + session + "</sessionId>" +
                                                      Cases({{"TJXX", "NOVO"}}))
                               ->body));
  EXPECT_EQ(Field(again.at(0), "estadoProcesso"), "CADASTRADO");
  EXPECT_EQ(
      Field(Result(doc, second.Post("logout", "<sessionId>" + session + "</sessionId>")->body),
            "numProcessos"),
      "6");
}

TEST_F(PushsimTest, UnusableFilesStopTheStartWithAMessage) {
  const std::string bad = Write("bad.json", R"({"notices": [{"tipoAviso": "NADA"}]})").string();
  const std::vector<std::pair<std::vector<std::string>, std::string>> starts = {
      {{"--state", Write("broken-state.json", "{\"cases\": [").string()}, Scenario()},
      {{}, bad},
      {{"--fault", "avisosN:status=abc"}, Scenario()},
  };
  for (const auto& [args, scenario] : starts) {
    Pushsim sim(args, scenario);
    EXPECT_EQ(sim.port(), 0) << scenario;
    EXPECT_EQ(sim.Stop(), 2) << scenario;
  }
  EXPECT_EQ(std::ifstream(dir_ / "broken-state.json").get(), '{') << "the state file is left alone";
}

TEST_F(PushsimTest, ServesItsDescriptionAndTheUpdates) {
  fs::create_directories(dir_ / "downloads");
  Write("downloads/VuzaZoz.exe", std::string("MZ\0\1binary", 10));
  scenario_["update"] = {{"version", "1.0.0.0"}, {"file", "VuzaZoz.exe"}, {"folder", "downloads"}};
  const fs::path wsdl =
      Write("service.wsdl",
            "<definitions xmlns:soap=\"http://schemas.xmlsoap.org/wsdl/soap/\"><service "
            "name=\"PushService\">"
            "<port name=\"PushServiceSOAP11port_http\"><soap:address "
            "location=\"http://elsewhere/\"/></port>"
            "</service></definitions>");
  Pushsim sim({"--wsdl", wsdl.string()}, Scenario());
  const std::string base = "http://127.0.0.1:" + std::to_string(sim.port());

  auto description = sim.Get(std::string(kPath) + "?wsdl");
  ASSERT_TRUE(description);
  EXPECT_EQ(description->status, 200);
  EXPECT_NE(description->body.find("location=\"" + base + kPath + "\""), std::string::npos)
      << description->body;

  auto older = sim.Get("/checaversao.php?origem=VUZAZOZ&versao=0.9.9.1");
  EXPECT_EQ(older->body, "novaVersaoUrl=" + base + "/downloads/VuzaZoz.exe\n");
  EXPECT_EQ(sim.Get("/checaversao.php?origem=VUZAZOZ&versao=1.0.0.0")->body.find("novaVersaoUrl="),
            std::string::npos);
  auto file = sim.Get("/downloads/VuzaZoz.exe");
  EXPECT_EQ(file->status, 200);
  EXPECT_EQ(file->body, std::string("MZ\0\1binary", 10));
  EXPECT_EQ(sim.Get("/downloads/outro.exe")->status, 404);

  Pushsim without({"--wsdl", (dir_ / "missing.wsdl").string()}, Scenario());
  EXPECT_EQ(without.Get(std::string(kPath) + "?wsdl")->status, 404);
}

TEST_F(PushsimTest, ExampleScenarioHoldsEveryKindOfNotice) {
  Pushsim sim;  // the example scenario
  const std::string session = SessionOf(sim.Login("advogado/segredo"));
  ASSERT_FALSE(session.empty());
  pugi::xml_document doc;
  std::set<std::string> kinds;
  for (pugi::xml_node n :
       Elements(Result(doc, sim.Post("avisosN", Paging(session, 0, 100))->body))) {
    kinds.insert(Field(n, "tipoAviso"));
  }
  EXPECT_EQ(kinds, (std::set<std::string>{"ALERTA", "COBRANCA", "PROCESSO", "AUDIENCIA_INC",
                                          "AUDIENCIA_EXC", "VERSAO", "URL"}));
}

// Every answer conforms to the schema of our service description, as an independent
// validator (xmllint) reads it.
TEST_F(PushsimTest, AnswersValidateAgainstTheServiceSchema) {
  const fs::path wsdl = fs::path(CAU_TEST_SOURCE_DIR) / "docs/PushService.wsdl";
  if (!fs::exists(wsdl)) {
    GTEST_SKIP() << "no service description in this tree";
  }
  const fs::path schema = dir_ / "schema.xsd";
  ASSERT_EQ(std::system(("xmllint --xpath \"//*[local-name()='schema']\" '" + wsdl.string() +
                         "' > '" + schema.string() + "'")
                            .c_str()),
            0);
  Pushsim sim;  // the example scenario
  const std::string login = sim.Login("advogado/segredo");
  const std::string sid = "<sessionId>" + SessionOf(login) + "</sessionId>";
  const std::string cases = Cases({{"TJXX", "2.0009999-11.2019.8.19.0002"},
                                   {"TJXX", "1.0001234-56.2010.8.19.0001"},
                                   {"ZZ", "1"}});
  const std::vector<std::pair<std::string, std::string>> answers = {
      {"login", login},
      {"escopoN", sim.Post("escopoN", sid)->body},
      {"cadastraN", sim.Post("cadastraN", sid + cases)->body},
      {"consultaN", sim.Post("consultaN", sid + cases)->body},
      {"historicosN", sim.Post("historicosN", Paging(SessionOf(login), 0, 100, 0))->body},
      {"avisosN", sim.Post("avisosN", Paging(SessionOf(login), 0, 100))->body},
      {"descadastraN", sim.Post("descadastraN", sid + cases)->body},
      {"logout", sim.Post("logout", sid)->body},
  };
  for (const auto& [operation, body] : answers) {
    pugi::xml_document envelope;
    ASSERT_TRUE(envelope.load_string(body.c_str())) << body;
    pugi::xml_document answer;
    pugi::xml_node response =
        answer.append_copy(Elements(Child(envelope.document_element(), "Body")).at(0));
    EXPECT_EQ(Local(response), operation + "Response");
    response.append_attribute("xmlns:xsi") = "http://www.w3.org/2001/XMLSchema-instance";
    const fs::path file = dir_ / (operation + ".xml");
    ASSERT_TRUE(answer.save_file(file.c_str()));
    EXPECT_EQ(std::system(("xmllint --noout --schema '" + schema.string() + "' '" + file.string() +
                           "' 2>'" + (dir_ / "xmllint.err").string() + "'")
                              .c_str()),
              0)
        << operation << ": " << std::ifstream(dir_ / "xmllint.err").rdbuf();
  }
}

}  // namespace
