// The SOAP 1.1 document/literal encoding of the push service's calls: the
// request writer and the namespace-aware response reader.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "service/PushService.h"

namespace cau::soap {

inline constexpr std::string_view kEnvelopeNs = "http://schemas.xmlsoap.org/soap/envelope/";
inline constexpr std::string_view kXsdNs = "http://www.w3.org/2001/XMLSchema";
inline constexpr std::string_view kXsiNs = "http://www.w3.org/2001/XMLSchema-instance";

// Builds one request: the envelope, its body and the operation element in
// `serviceNs` (the default namespace there), then one element per
// parameter, in the order they are added.
class RequestWriter {
 public:
  RequestWriter(std::string_view operation, std::string_view serviceNs);
  ~RequestWriter();
  RequestWriter(const RequestWriter&) = delete;
  RequestWriter& operator=(const RequestWriter&) = delete;

  void Add(std::string_view name, const std::string& value);
  void Add(std::string_view name, std::int64_t value);
  void Add(std::string_view name, Origem value);
  void Add(std::string_view name, const ArrayOfProcessoVO& value);

  // The document, UTF-8, without indentation.
  std::string Text() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Reads the result of a response. Throws SoapFault when the body holds a
// Fault, BadResponse when it is not a SOAP 1.1 envelope with a readable
// result. Text is reduced to what Windows-1252 can hold.
template <class T>
T ReadResponse(std::string_view body);

extern template std::string ReadResponse<std::string>(std::string_view);
extern template AvisoLogoutVO ReadResponse<AvisoLogoutVO>(std::string_view);
extern template ArrayOfAvisoVO ReadResponse<ArrayOfAvisoVO>(std::string_view);
extern template ArrayOfProcessoVO ReadResponse<ArrayOfProcessoVO>(std::string_view);
extern template ArrayOfEscopoVO ReadResponse<ArrayOfEscopoVO>(std::string_view);

}  // namespace cau::soap
