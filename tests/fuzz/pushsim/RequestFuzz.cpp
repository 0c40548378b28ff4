// Any request body through pushsim's reader and its operations: a fault or an
// answer, never a crash. "@S" in the input stands for an open session's id.
#include <cstddef>
#include <cstdint>
#include <string>

#include "PushModel.h"
#include "Scenario.h"
#include "SoapXml.h"

namespace {

const nlohmann::json kScenario = nlohmann::json::parse(R"({
  "accounts": [{"user": "adv", "password": "segredo"}],
  "scope": [{"codOrgao": "TJXX", "tipoProcesso": ["1"]}],
  "cases": [{"codOrgao": "TJXX", "codProcesso": "A", "monitored": true,
             "historicos": [{"id": 3, "date": "2026-11-01", "text": "m"}]}],
  "notices": [{"id": 1, "tipoAviso": "ALERTA", "txtAviso": "x"}]
})");

std::string Open(pushsim::PushModel& model) {
  pugi::xml_document doc;
  const std::string login =
      "<e:Envelope xmlns:e=\"http://schemas.xmlsoap.org/soap/envelope/\"><e:Body><login xmlns=\"" +
      pushsim::soap::ServiceNs() +
      "\"><credencial>adv/segredo</credencial><origem>CAU</origem></login></e:Body></e:Envelope>";
  const std::string answer = model.Call("login", pushsim::soap::ParseRequest(doc, login), {});
  const auto start = answer.find("<ns:loginReturn>") + 16;
  return answer.substr(start, answer.find("</ns:loginReturn>") - start);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  pushsim::PushModel model(pushsim::ParseScenario(kScenario, "."), std::nullopt);
  const std::string session = Open(model);
  std::string body(reinterpret_cast<const char*>(data), size);
  for (auto at = body.find("@S"); at != std::string::npos; at = body.find("@S", at)) {
    body.replace(at, 2, session);
    at += session.size();
  }
  try {
    pugi::xml_document doc;
    const pugi::xml_node operation = pushsim::soap::ParseRequest(doc, body);
    (void)pushsim::soap::ArgsToJson(operation).dump(-1, ' ', false,
                                                    nlohmann::json::error_handler_t::replace);
    (void)model.Call(std::string(pushsim::soap::LocalName(operation)), operation, {"item"});
  } catch (const pushsim::soap::RequestError&) {
  } catch (const pushsim::ServiceFault&) {
  }
  return 0;
}
