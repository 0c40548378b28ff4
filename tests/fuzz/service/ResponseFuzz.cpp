// Any bytes as a service answer: each result type either reads or fails with
// a cau::Error; nothing else may happen.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "config/Errors.h"
#include "service/SoapCodec.h"

namespace {

template <class T>
void Read(std::string_view body) {
  try {
    (void)cau::soap::ReadResponse<T>(body);
  } catch (const cau::Error&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  Read<std::string>(body);
  Read<cau::AvisoLogoutVO>(body);
  Read<cau::ArrayOfAvisoVO>(body);
  Read<cau::ArrayOfProcessoVO>(body);
  Read<cau::ArrayOfEscopoVO>(body);
  return 0;
}
