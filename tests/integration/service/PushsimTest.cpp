// The binding against the stand-in service (build/bin/pushsim) on loopback:
// every operation of a session, and the faults it injects.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "config/Errors.h"
#include "service/HttpTransport.h"
#include "service/PushService.h"
#include "support/Process.h"

namespace cau {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::string kScenario =
    std::string(CAU_TEST_SOURCE_DIR) + "/tools/pushsim/examples/basic.json";
const std::string kCredential = "advogado/segredo";
const std::string kMonitored = "1.0001234-56.2010.8.19.0001";
const std::string kNotMonitored = "2.0009999-11.2019.8.19.0002";

// pushsim with a request log, for the life of the object.
class Pushsim {
 public:
  explicit Pushsim(const std::vector<std::string>& extra = {})
      : sim_(WithLog(extra, dir_.path() / "requests.jsonl"), kScenario) {}
  bool Running() const { return sim_.Running(); }
  std::string Url() const { return sim_.Url(); }
  std::vector<nlohmann::json> Requests() const {
    std::vector<nlohmann::json> out;
    std::ifstream in(dir_.path() / "requests.jsonl");
    for (std::string line; std::getline(in, line);) {
      out.push_back(nlohmann::json::parse(line));
    }
    return out;
  }

 private:
  static std::vector<std::string> WithLog(std::vector<std::string> extra, const fs::path& log) {
    extra.insert(extra.end(), {"--log", log.string()});
    return extra;
  }

  test::TempDir dir_{"cau-pushsim"};
  test::Pushsim sim_;
};

ProcessoVO Case(const std::string& number) {
  ProcessoVO p;
  p.codOrgao = "TJXX";
  p.codProcesso = number;
  return p;
}

TEST(Pushsim, EveryOperationOnceInOneSession) {
  Pushsim sim;
  ASSERT_TRUE(sim.Running());
  HttpTransport transport;
  auto service = GetPushService(sim.Url(), transport);

  const std::string id = service->login(kCredential, Origem::CAU, "", "AppDir=/x;CompNome=y", "1");
  ASSERT_FALSE(id.empty());

  const auto scope = service->escopoN(id);
  ASSERT_EQ(scope.size(), 2u);
  EXPECT_EQ(scope[0].codOrgao, "TJXX");
  EXPECT_EQ(scope[0].tipoProcesso, (ArrayOfstring{"1", "2"}));

  const auto registered = service->cadastraN(id, {Case(kNotMonitored), Case(kMonitored)});
  ASSERT_EQ(registered.size(), 2u);
  EXPECT_EQ(registered[0].tipoAviso, TipoAviso::PROCESSO);
  EXPECT_EQ(registered[0].estadoProcesso, EstadoProcesso::EM_CADASTRAMENTO);
  EXPECT_EQ(registered[1].estadoProcesso, EstadoProcesso::CADASTRADO);

  const auto consulted = service->consultaN(id, {Case(kMonitored)});
  ASSERT_EQ(consulted.size(), 1u);
  const auto& c = consulted[0];
  EXPECT_EQ(c.codProcesso, kMonitored);
  ASSERT_EQ(c.historicos.size(), 2u);
  ASSERT_EQ(c.partes.size(), 2u);
  EXPECT_EQ(c.partes[0].advogados.at(0).nomAdvogado, "Ana Souza");
  EXPECT_EQ(c.outros.at(0).txtOutro, "1ª Vara Cível");
  bool urlMeta = false;
  for (const auto& h : c.historicos) {
    for (const auto& m : h.metas) {
      urlMeta =
          urlMeta || (m.tipoMeta == TipoMeta::URL2 && m.txtValor == "http://tj.example/doc/104");
    }
  }
  EXPECT_TRUE(urlMeta);

  const auto page = service->historicosN(id, 0, 100, 0);
  EXPECT_GE(page.size(), 2u);
  EXPECT_TRUE(service->historicosN(id, 0, 100, 100).empty());

  const auto notices = service->avisosN(id, 0, 100);
  ASSERT_GE(notices.size(), 8u);
  EXPECT_EQ(notices[0].tipoAviso, TipoAviso::ALERTA);
  EXPECT_EQ(notices[5].tipoAviso, TipoAviso::URL);

  const auto unregistered = service->descadastraN(id, {Case(kMonitored)});
  ASSERT_EQ(unregistered.size(), 1u);
  EXPECT_EQ(unregistered[0].codProcesso, kMonitored);

  const auto counters = service->logout(id);
  EXPECT_FALSE(counters.sdtAviso.empty());
  EXPECT_EQ(counters.numProcessosMes, 4);

  // What the service saw: the actions, headers and parameters in order.
  const auto requests = sim.Requests();
  const char* expected[] = {"login",       "escopoN", "cadastraN",    "consultaN", "historicosN",
                            "historicosN", "avisosN", "descadastraN", "logout"};
  ASSERT_EQ(requests.size(), std::size(expected));
  for (std::size_t i = 0; i < requests.size(); ++i) {
    const auto& r = requests[i];
    EXPECT_EQ(r["op"], expected[i]);
    EXPECT_EQ(r["soapAction"], "\"" + std::string(expected[i]) + "\"");
    EXPECT_EQ(r["userAgent"], "Borland SOAP 1.2");
    EXPECT_EQ(r["contentType"], "text/xml; charset=\"utf-8\"");
  }
  EXPECT_EQ(requests[0]["params"],
            nlohmann::json::array(
                {"credencial", "origem", "txtIdSessaoAnterior", "txtIdMaquina", "txtVersao"}));
  EXPECT_EQ(requests[0]["args"]["txtIdSessaoAnterior"], "");
  EXPECT_EQ(requests[4]["params"],
            nlohmann::json::array({"sessionId", "aPartir", "limite", "offset"}));
}

TEST(Pushsim, WrongCredentialIsASoapFault) {
  Pushsim sim;
  ASSERT_TRUE(sim.Running());
  HttpTransport transport;
  EXPECT_THROW(GetPushService(sim.Url(), transport)->login("advogado/x", Origem::CAU, "", "", ""),
               SoapFault);
}

TEST(Pushsim, InjectedFaultsEachFailClearly) {
  enum Kind { kTransport, kFault, kBad };
  struct Case {
    const char* fault;
    Kind kind;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"login:status=404", kTransport, {"404", "Not Found", "/PushServer/services/PushService"}},
      {"login:status=503", kTransport, {"503"}},
      {"login:status=500", kTransport, {"500"}},
      {"login:fault=Conta bloqueada", kFault, {"Conta bloqueada"}},
      {"login:close", kTransport, {"Falha na conexão", "\"login\""}},
      {"login:malformed", kBad, {"XML mal formado"}},
      {"login:truncated", kBad, {"Resposta inválida"}},
      {"login:delay=2500", kTransport, {"Tempo esgotado"}},
      {"login:oversize=3000000", kTransport, {"limite de 1048576 bytes"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    Pushsim sim({"--fault", c.fault});
    ASSERT_TRUE(sim.Running());
    HttpTransport transport;
    transport.SetReceiveTimeout(300ms);
    transport.SetResponseCap(1 << 20);
    auto service = GetPushService(sim.Url(), transport);
    try {
      service->login(kCredential, Origem::CAU, "", "", "");
      ADD_FAILURE() << "the call succeeded";
    } catch (const Error& e) {
      EXPECT_EQ(dynamic_cast<const TransportError*>(&e) != nullptr, c.kind == kTransport);
      EXPECT_EQ(dynamic_cast<const SoapFault*>(&e) != nullptr, c.kind == kFault);
      EXPECT_EQ(dynamic_cast<const BadResponse*>(&e) != nullptr, c.kind == kBad);
      for (const auto& part : c.expected) {
        EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << e.what();
      }
    }
  }
}

TEST(Pushsim, ArrayItemsUnderOtherNamesAreAllRead) {
  Pushsim plain;
  Pushsim renamed({"--fault", "avisosN:items=item", "--fault", "escopoN:items=x"});
  ASSERT_TRUE(plain.Running() && renamed.Running());
  HttpTransport transport;
  auto a = GetPushService(plain.Url(), transport);
  auto b = GetPushService(renamed.Url(), transport);
  const auto ida = a->login(kCredential, Origem::CAU, "", "", "");
  const auto idb = b->login(kCredential, Origem::CAU, "", "", "");
  const auto expected = a->avisosN(ida, 0, 100);
  const auto got = b->avisosN(idb, 0, 100);
  ASSERT_EQ(got.size(), expected.size());
  for (std::size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].id, expected[i].id);
    EXPECT_EQ(got[i].txtAviso, expected[i].txtAviso);
  }
  EXPECT_EQ(b->escopoN(idb).size(), 2u);
}

TEST(Pushsim, LargeRegistrationArrivesWholeInPieces) {
  Pushsim sim;
  ASSERT_TRUE(sim.Running());
  HttpTransport transport;
  int sent = 0;
  std::string caption = "*", captions;
  transport.SetTrafficHook([&](Traffic t) {
    sent += t == Traffic::Sent;
    caption = NextTrafficCaption(caption);
    captions += caption.empty() ? "_" : std::to_string(caption.size());
  });
  auto service = GetPushService(sim.Url(), transport);
  const auto id = service->login(kCredential, Origem::CAU, "", "", "");
  sent = 0;
  captions.clear();
  caption = "*";

  ArrayOfProcessoVO cases;
  for (int i = 0; i < 300; ++i) {
    cases.push_back(Case(std::to_string(i) + "." + std::string(120, '7')));
  }
  const auto notices = service->cadastraN(id, cases);
  EXPECT_EQ(notices.size(), cases.size());

  const auto requests = sim.Requests();
  ASSERT_EQ(requests.back()["op"], "cadastraN");
  const auto bytes = requests.back()["bytes"].get<std::size_t>();
  const auto& sentCases = requests.back()["args"]["processos"];
  ASSERT_EQ(sentCases.size(), cases.size());
  EXPECT_EQ(sentCases.back()["codProcesso"], cases.back().codProcesso);
  ASSERT_GT(bytes, 2 * HttpTransport::kPieceSize);
  EXPECT_EQ(static_cast<std::size_t>(sent),
            (bytes + HttpTransport::kPieceSize - 1) / HttpTransport::kPieceSize);
  EXPECT_EQ(captions.substr(0, 5), "234_1");
}

}  // namespace
}  // namespace cau
