// Faults injected into the answers of chosen operations, from the scenario or
// the command line.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

namespace pushsim {

class FaultSpecError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct FaultSpec {
  // Rejections: the call is not carried out.
  std::optional<std::string> fault;  // SOAP fault with this faultstring
  std::string faultcode = "Server";
  std::string detail;
  std::optional<int> status;  // HTTP status with a plain body
  // Damage: the call is carried out, its answer spoilt.
  int delayMs = 0;
  bool close = false;                 // connection closed halfway through the body
  bool malformed = false;             // a body that is not XML
  bool truncated = false;             // the XML cut in half, delivered whole
  std::string items;                  // array items under this element name
  std::optional<long long> oversize;  // a body of this many bytes
  // Which calls: after the first `skip` calls, the next `times` (all when unset).
  int skip = 0;
  std::optional<int> times;
};

FaultSpec FaultFromJson(const nlohmann::json& spec, const std::string& where);
// "op:key=value,key=value", e.g. "avisosN:close" or "login:fault=Conta bloqueada,times=1".
std::pair<std::string, FaultSpec> FaultFromArgument(const std::string& argument);

// The faults of every operation, "*" standing for any operation without its own.
class FaultPlan {
 public:
  void Set(const std::string& operation, FaultSpec spec);
  void SetAll(const nlohmann::json& faultsByOperation);  // the scenario's "faults" object
  // Counts a call of operation and returns the fault it meets, if any.
  std::optional<FaultSpec> Next(const std::string& operation);

 private:
  struct Entry {
    FaultSpec spec;
    int calls = 0;
  };
  std::mutex mutex_;
  std::map<std::string, Entry> entries_;
};

}  // namespace pushsim
