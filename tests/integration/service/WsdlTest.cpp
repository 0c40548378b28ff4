// The requests the binding writes conform to the schema of our service
// description, checked by an independent validator (xmllint).
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "service/HttpTransport.h"
#include "service/PushService.h"

namespace cau {
namespace {

namespace fs = std::filesystem;

struct RecordingTransport final : SoapTransport {
  std::string body;
  SoapHttpResponse Post(const std::string&, const std::string&, const std::string& b) override {
    body = b;
    return {200, "OK",
            "<e:Envelope xmlns:e=\"http://schemas.xmlsoap.org/soap/envelope/\"><e:Body><r/>"
            "</e:Body></e:Envelope>"};
  }
};

ProcessoVO FullCase() {
  ProcessoVO p;
  p.codOrgao = "TJSP";
  p.codProcesso = "0001";
  p.codTipoVinculo = "OAB";
  p.historicos.push_back({1, "2024-01-02 03:04:05", "texto", {{1, 5, TipoMeta::URL2, "u"}}});
  p.partes.push_back({"AUTOR", {"Ana", "Bia"}, {{"Dra.", "Carla", "SP1"}}});
  p.outros.push_back({"VARA", "1ª"});
  p.sdtAudiencia = "2024-05-06 14:00:00";
  p.id = 3;
  return p;
}

TEST(Wsdl, EveryRequestValidatesAgainstTheServiceSchema) {
  const fs::path dir = fs::temp_directory_path() / ("cau-wsdl-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const auto schema = (dir / "schema.xsd").string();
  const std::string wsdl = std::string(CAU_TEST_SOURCE_DIR) + "/docs/PushService.wsdl";
  ASSERT_EQ(
      std::system(
          ("xmllint --xpath \"//*[local-name()='schema']\" " + wsdl + " > " + schema).c_str()),
      0);

  const std::pair<const char*, std::function<void(PushServicePortType&)>> calls[] = {
      {"avisosN", [](auto& s) { s.avisosN("S", 1, 100); }},
      {"descadastraN", [](auto& s) { s.descadastraN("S", {FullCase()}); }},
      {"logout", [](auto& s) { s.logout("S"); }},
      {"historicosN", [](auto& s) { s.historicosN("S", 1, 100, 0); }},
      {"login", [](auto& s) { s.login("a/b", Origem::CAU, "", "m", "v"); }},
      {"escopoN", [](auto& s) { s.escopoN("S"); }},
      {"consultaN", [](auto& s) { s.consultaN("S", {}); }},
      {"cadastraN",
       [](auto& s) {
         s.cadastraN("S", {FullCase(), ProcessoVO{}});
       }},
  };
  for (const auto& [name, call] : calls) {
    SCOPED_TRACE(name);
    RecordingTransport t;
    call(*GetPushService("", t));
    // The operation element alone: its namespace is declared on it.
    const auto open = t.body.find("<SOAP-ENV:Body>") + 15;
    const auto close = t.body.rfind("</SOAP-ENV:Body>");
    ASSERT_LT(open, close);
    const auto file = (dir / (std::string(name) + ".xml")).string();
    std::ofstream(file) << t.body.substr(open, close - open);
    EXPECT_EQ(std::system(("xmllint --noout --schema " + schema + " " + file).c_str()), 0);
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace cau
