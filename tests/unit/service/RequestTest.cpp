// The request of every operation, byte for byte, as the service receives it.
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "config/Errors.h"
#include "service/HttpTransport.h"
#include "service/PushService.h"

namespace cau {
namespace {

// Keeps what the proxy hands to the transport and answers an empty result.
struct RecordingTransport final : SoapTransport {
  std::string address, action, body;
  SoapHttpResponse Post(const std::string& a, const std::string& s, const std::string& b) override {
    address = a;
    action = s;
    body = b;
    return {200, "OK",
            "<e:Envelope xmlns:e=\"http://schemas.xmlsoap.org/soap/envelope/\"><e:Body>"
            "<r/></e:Body></e:Envelope>"};
  }
};

std::string Envelope(const std::string& operation, const std::string& parameters) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
         "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
         "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
         "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"><SOAP-ENV:Body><" +
         operation + " xmlns=\"http://push.vexo.example/PushService\">" + parameters + "</" +
         operation + "></SOAP-ENV:Body></SOAP-ENV:Envelope>";
}

TEST(Request, LoginWithEmptyPreviousSessionIsOneLiteralDocument) {
  RecordingTransport t;
  auto service = GetPushService("", t);
  service->login("ana/s&nha", Origem::CAU, "", "AppDir=/opt/x;CompNome=pc", "0.9.9.1");
  EXPECT_EQ(t.address, "http://push.vexo.example:80/PushServer/services/PushService");
  EXPECT_EQ(t.action, "login");
  EXPECT_EQ(t.body,
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
            "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
            "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
            "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"><SOAP-ENV:Body>"
            "<login xmlns=\"http://push.vexo.example/PushService\">"
            "<credencial>ana/s&amp;nha</credencial><origem>CAU</origem>"
            "<txtIdSessaoAnterior/><txtIdMaquina>AppDir=/opt/x;CompNome=pc</txtIdMaquina>"
            "<txtVersao>0.9.9.1</txtVersao></login></SOAP-ENV:Body></SOAP-ENV:Envelope>");
}

ProcessoVO BareCase() {
  ProcessoVO p;
  p.codOrgao = "TJSP";
  p.codProcesso = "0001234-56.2020.8.26.0100";
  return p;
}

const char* kBareCase =
    "<processoVO><codOrgao>TJSP</codOrgao><codProcesso>0001234-56.2020.8.26.0100</codProcesso>"
    "<codTipoVinculo/><historicos/><partes/><outros/><sdtAudiencia/><codOrgaoOriginario/>"
    "<codProcessoOriginario/><codProcessoAnt/><codProcessoOriginarioAnt/><id>0</id>"
    "</processoVO>";

struct OperationCase {
  const char* action;
  std::function<void(PushServicePortType&)> call;
  std::string parameters;
};

TEST(Request, EveryOperationNamesItsActionAndParametersInOrder) {
  const OperationCase cases[] = {
      {"avisosN", [](auto& s) { s.avisosN("S1", 42, 100); },
       "<sessionId>S1</sessionId><aPartir>42</aPartir><limite>100</limite>"},
      {"descadastraN", [](auto& s) { s.descadastraN("S1", {BareCase()}); },
       std::string("<sessionId>S1</sessionId><processos>") + kBareCase + "</processos>"},
      {"logout", [](auto& s) { s.logout("S1"); }, "<sessionId>S1</sessionId>"},
      {"historicosN", [](auto& s) { s.historicosN("S1", 9000000000, 100, 200); },
       "<sessionId>S1</sessionId><aPartir>9000000000</aPartir><limite>100</limite>"
       "<offset>200</offset>"},
      {"login", [](auto& s) { s.login("a/b", Origem::ORBE, "old", "m", "v"); },
       "<credencial>a/b</credencial><origem>ORBE</origem>"
       "<txtIdSessaoAnterior>old</txtIdSessaoAnterior><txtIdMaquina>m</txtIdMaquina>"
       "<txtVersao>v</txtVersao>"},
      {"escopoN", [](auto& s) { s.escopoN("S1"); }, "<sessionId>S1</sessionId>"},
      {"consultaN", [](auto& s) { s.consultaN("S1", {}); },
       "<sessionId>S1</sessionId><processos/>"},
      {"cadastraN",
       [](auto& s) {
         s.cadastraN("S1", {BareCase(), BareCase()});
       },
       std::string("<sessionId>S1</sessionId><processos>") + kBareCase + kBareCase +
           "</processos>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.action);
    RecordingTransport t;
    auto service = GetPushService("https://example.test:8443/ws", t);
    c.call(*service);
    EXPECT_EQ(t.address, "https://example.test:8443/ws");
    EXPECT_EQ(t.action, c.action);
    EXPECT_EQ(t.body, Envelope(c.action, c.parameters));
  }
}

TEST(Request, NestedObjectsGoInPlaceWithUrl2SentAsUrl) {
  ProcessoVO p = BareCase();
  p.codTipoVinculo = "OAB";
  p.id = -7;
  p.historicos.push_back({11, "2024-03-01 10:00:00", "Juntada <petição>", {}});
  p.historicos[0].metas.push_back({3, 9, TipoMeta::URL2, "http://x/?a=1&b=2"});
  p.historicos[0].metas.push_back({0, 0, TipoMeta::COLUNA, ""});
  p.partes.push_back({"AUTOR", {"Maria", "João"}, {{"Dr.", "Pedro", "SP123"}}});
  p.outros.push_back({"VARA", "2ª Vara"});
  RecordingTransport t;
  GetPushService("", t)->cadastraN("S", {p});
  EXPECT_EQ(t.body,
            Envelope("cadastraN",
                     "<sessionId>S</sessionId><processos><processoVO>"
                     "<codOrgao>TJSP</codOrgao><codProcesso>0001234-56.2020.8.26.0100"
                     "</codProcesso><codTipoVinculo>OAB</codTipoVinculo><historicos>"
                     "<historicoVO><id>11</id><sdtHistorico>2024-03-01 10:00:00</sdtHistorico>"
                     "<txtHistorico>Juntada &lt;petição&gt;</txtHistorico><metas>"
                     "<metaVO><numInicio>3</numInicio><numFim>9</numFim><tipoMeta>URL</tipoMeta>"
                     "<txtValor>http://x/?a=1&amp;b=2</txtValor></metaVO>"
                     "<metaVO><numInicio>0</numInicio><numFim>0</numFim>"
                     "<tipoMeta>COLUNA</tipoMeta><txtValor/></metaVO>"
                     "</metas></historicoVO></historicos><partes><parteVO>"
                     "<codParte>AUTOR</codParte><nomParte><string>Maria</string>"
                     "<string>João</string></nomParte><advogados><advogadoVO>"
                     "<nomTitulo>Dr.</nomTitulo><nomAdvogado>Pedro</nomAdvogado>"
                     "<codOab>SP123</codOab></advogadoVO></advogados></parteVO></partes>"
                     "<outros><outroVO><codOutro>VARA</codOutro><txtOutro>2ª Vara</txtOutro>"
                     "</outroVO></outros><sdtAudiencia/><codOrgaoOriginario/>"
                     "<codProcessoOriginario/><codProcessoAnt/><codProcessoOriginarioAnt/>"
                     "<id>-7</id></processoVO></processos>"));
  EXPECT_EQ(t.body.find("xsi:type"), std::string::npos);
  EXPECT_EQ(t.body.find("href"), std::string::npos);
}

TEST(Request, TextXmlCannotCarryIsLeftOutAndMalformedUtf8Replaced) {
  RecordingTransport t;
  GetPushService("", t)->logout(std::string("a\x01\x1f\tb\xff\xc3(\0c", 10) + "\xef\xbf\xbe");
  EXPECT_EQ(t.body, Envelope("logout", "<sessionId>a\tb\uFFFD\uFFFD(c</sessionId>"));
}

TEST(Endpoint, AcceptsOnlyHttpAndHttpsAndUsesOtherAddressesUnchanged) {
  EXPECT_EQ(ResolvePushServiceAddress(""),
            "http://push.vexo.example:80/PushServer/services/PushService");
  for (const char* good : {"http://127.0.0.1:8080/PushServer/services/PushService",
                           "https://push.example.org/ws?x=1", "HTTP://Host/Path"}) {
    EXPECT_EQ(ResolvePushServiceAddress(good), good);
  }
  for (const char* bad : {"ftp://host/x", "file:///etc/passwd", "host:80/path", "http://",
                          "not a url", "gopher://h/"}) {
    SCOPED_TRACE(bad);
    RecordingTransport t;
    EXPECT_THROW(GetPushService(bad, t), Error);
  }
}

TEST(TrafficIndicator, GrowsToFourAsterisksThenEmptiesAndStartsAgain) {
  std::string caption = "*";
  std::string seen;
  for (int i = 0; i < 5; ++i) {
    caption = NextTrafficCaption(caption);
    seen += "[" + caption + "]";
  }
  EXPECT_EQ(seen, "[**][***][****][][*]");
  EXPECT_EQ(NextTrafficCaption("Rede ok"), "");
}

}  // namespace
}  // namespace cau
