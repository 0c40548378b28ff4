// Reading SOAP 1.1 requests (namespace-aware, any prefix) and writing
// document/literal responses and faults for the push service.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>
#include <pugixml.hpp>

#include "Scenario.h"

namespace pushsim::soap {

inline constexpr const char* kEnvelopeNs = "http://schemas.xmlsoap.org/soap/envelope/";
inline constexpr const char* kXsiNs = "http://www.w3.org/2001/XMLSchema-instance";
const std::string& ServiceNs();

// A request the service cannot take; answered with a Client fault holding the message.
class RequestError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The namespace URI of an element, resolved through the declarations in scope.
std::string NamespaceOf(pugi::xml_node element);
std::string_view LocalName(pugi::xml_node element);
// True for xsi:nil="true" (or "1") under whatever prefix the document gives xsi.
bool IsNil(pugi::xml_node element);

// Loads body into doc, checks the envelope and returns the operation element of the
// body, which must be in the service namespace.
pugi::xml_node ParseRequest(pugi::xml_document& doc, std::string_view body);

// The parameter element of that local name in the service namespace (empty when absent).
pugi::xml_node Param(pugi::xml_node parent, const char* name);
std::string Text(pugi::xml_node element);
std::vector<pugi::xml_node> Items(pugi::xml_node array);
// A decimal Int64 parameter; absent or nil gives 0, anything else unreadable throws.
long long Int64Param(pugi::xml_node operation, const char* name);

// The parameters of a request as JSON: text as strings, the numbers of paging as
// numbers, arrays as arrays, nil as null.
nlohmann::json ArgsToJson(pugi::xml_node operation);

struct WriteOptions {
  std::string itemName;  // when set, every array item is written under this name
};

// Builds "<operation>Response" with one "return" child, elements qualified by the
// service namespace under the prefix "ns".
class ResponseWriter {
 public:
  ResponseWriter(const std::string& operation, WriteOptions options);

  pugi::xml_node Return() const { return return_; }
  pugi::xml_node Element(pugi::xml_node parent, const char* name) const;
  pugi::xml_node Item(pugi::xml_node array, const char* itemName) const;
  void String(pugi::xml_node parent, const char* name, const std::string& value) const;
  void OptString(pugi::xml_node parent, const char* name,
                 const std::optional<std::string>& value) const;
  void Int(pugi::xml_node parent, const char* name, long long value) const;
  void OptInt(pugi::xml_node parent, const char* name, const std::optional<int>& value) const;
  void Nil(pugi::xml_node parent, const char* name) const;

  void Case(pugi::xml_node parent, const char* name, const pushsim::Case& value) const;
  void Notice(pugi::xml_node parent, const char* name, const pushsim::Notice& value) const;
  void Scope(pugi::xml_node parent, const char* name, const ScopeCourt& value) const;

  std::string Finish() const;

 private:
  pugi::xml_document doc_;
  pugi::xml_node return_;
  WriteOptions options_;
};

// A SOAP 1.1 fault envelope. faultcode is written with the envelope prefix
// ("Client", "Server") unless it already holds a prefix.
std::string FaultBody(const std::string& faultcode, const std::string& faultstring,
                      const std::string& detail = {}, const std::string& faultactor = {});

}  // namespace pushsim::soap
