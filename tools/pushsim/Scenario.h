// The stand-in service's data: accounts, scope, server-side cases, the notice
// stream and the counters, read from a scenario file and kept in a state file.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace pushsim {

// A scenario or state file that cannot be used; the message names the file and the place.
class ScenarioError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Account {
  std::string user;
  std::string password;
};

struct ScopeCourt {
  std::string codOrgao;
  std::vector<std::string> tipoProcesso;
};

struct Meta {
  std::optional<int> numInicio;
  std::optional<int> numFim;
  std::string tipoMeta = "QUEBRA";  // wire name; "URL" stands for URL2
  std::string txtValor;
};

struct Movement {
  int id = 0;
  std::string date;  // yyyy-mm-dd
  std::string time;  // hh:nn or hh:nn:ss
  std::string text;
  std::vector<Meta> metas;
};

struct Lawyer {
  std::optional<std::string> nomTitulo;
  std::string nomAdvogado;
  std::optional<std::string> codOab;
};

struct Party {
  std::string codParte;
  std::vector<std::string> nomParte;
  std::vector<Lawyer> advogados;
};

struct Other {
  std::string codOutro;
  std::string txtOutro;
};

struct Case {
  std::string codOrgao;
  std::string codProcesso;
  std::optional<std::string> codTipoVinculo;
  std::optional<std::string> sdtAudiencia;
  std::optional<std::string> codOrgaoOriginario;
  std::optional<std::string> codProcessoOriginario;
  std::optional<std::string> codProcessoAnt;
  std::optional<std::string> codProcessoOriginarioAnt;
  std::vector<Party> partes;
  std::vector<Other> outros;
  std::vector<Movement> historicos;
  int id = 0;
  bool monitored = false;  // under the service's monitoring for the account
  bool pending = false;    // listed once by the next movement listing, even without new movements
};

struct Notice {
  int id = 0;
  std::string sdtAviso;
  std::string txtAviso;
  std::string codOrgao;
  std::string codProcesso;
  std::optional<std::string> estadoProcesso;
  std::string tipoAviso = "ALERTA";
};

struct Counters {
  std::optional<int> numProcessos;  // fixed answer; otherwise the monitored cases are counted
  int numProcessosMes = 0;
  std::string month;                    // yyyy-mm of numProcessosMes
  std::optional<std::string> sdtAviso;  // fixed answer; otherwise the current time
};

struct UpdateInfo {
  std::string version;    // newest published version; empty: none
  std::string file;       // file name under the download folder
  std::string url;        // explicit download address instead of our own
  std::string signature;  // base64 signature announced before the address; empty: none
  std::filesystem::path folder;
};

// What every start can change and the state file keeps.
struct MutableState {
  std::vector<Case> cases;
  std::vector<Notice> notices;
  Counters counters;
};

struct Scenario {
  std::vector<Account> accounts;
  std::vector<ScopeCourt> scope;
  MutableState state;
  UpdateInfo update;
  nlohmann::json faults = nlohmann::json::object();  // read by Faults
};

// Reads a scenario file; relative folders in it are taken from the file's folder.
Scenario LoadScenario(const std::filesystem::path& file);
Scenario ParseScenario(const nlohmann::json& doc, const std::filesystem::path& baseFolder);

nlohmann::json StateToJson(const MutableState& state);
MutableState StateFromJson(const nlohmann::json& doc);
// Reads a state file written by SaveState. Throws ScenarioError when it cannot be used.
MutableState LoadState(const std::filesystem::path& file);
// Writes the state through a temporary file, so a crash leaves the old file whole.
void SaveState(const std::filesystem::path& file, const MutableState& state);

bool IsEstadoProcesso(const std::string& value);
bool IsTipoAviso(const std::string& value);
bool IsTipoMeta(const std::string& value);

}  // namespace pushsim
