// What the push service does with each operation: sessions, monitoring of
// cases, the notice stream, movement listings and the counters.
#pragma once

#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "Scenario.h"
#include "SoapXml.h"

namespace pushsim {

// A failure the service answers with a SOAP fault.
class ServiceFault : public std::runtime_error {
 public:
  ServiceFault(std::string faultcode, const std::string& faultstring)
      : std::runtime_error(faultstring), faultcode_(std::move(faultcode)) {}
  const std::string& faultcode() const { return faultcode_; }

 private:
  std::string faultcode_;
};

class PushModel {
 public:
  // With a state path whose file exists, the state file replaces the scenario's cases,
  // notices and counters. Throws ScenarioError when that file cannot be used.
  PushModel(Scenario scenario, std::optional<std::filesystem::path> statePath);

  // Carries out one operation and returns the response document.
  std::string Call(const std::string& operation, pugi::xml_node request,
                   const soap::WriteOptions& options);

  // Body of the update check for a client of that version.
  std::string UpdateAnswer(const std::string& clientVersion, const std::string& downloadBase) const;
  const UpdateInfo& Update() const { return scenario_.update; }

  // Writes the state file now (also done after every change).
  void Save();

 private:
  struct Session {
    std::string user;
    bool hasListing = false;
    std::vector<Case> listing;  // cases with movements after the aPartir of the offset 0 call
  };

  Session& RequireSession(pugi::xml_node request);
  void Login(pugi::xml_node request, soap::ResponseWriter& out);
  void Logout(pugi::xml_node request, soap::ResponseWriter& out);
  void Escopo(pugi::xml_node request, soap::ResponseWriter& out);
  void Cadastra(pugi::xml_node request, soap::ResponseWriter& out);
  void Descadastra(pugi::xml_node request, soap::ResponseWriter& out);
  void Consulta(pugi::xml_node request, soap::ResponseWriter& out);
  void Historicos(pugi::xml_node request, soap::ResponseWriter& out);
  void Avisos(pugi::xml_node request, soap::ResponseWriter& out);

  Case* FindCase(const std::string& codOrgao, const std::string& codProcesso);
  bool InScope(const std::string& codOrgao) const;
  Notice AppendNotice(const Case& c, const std::string& estado, const std::string& text);
  int CurrentCount() const;
  void RefreshMonthly();
  void SaveQuietly();

  std::mutex mutex_;
  Scenario scenario_;
  std::optional<std::filesystem::path> statePath_;
  std::map<std::string, Session> sessions_;
};

// Compares dotted version texts part by part as numbers ("1.10" > "1.9").
int CompareVersions(const std::string& a, const std::string& b);

}  // namespace pushsim
