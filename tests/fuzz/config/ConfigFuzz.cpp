// Arbitrary bytes as an INI file, a scrambled value, a date and a time stamp:
// nothing may crash, the file must come back byte for byte, and an edit must
// read back through a fresh parse.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "config/Clock.h"
#include "config/IniFile.h"
#include "config/Scrambler.h"
#include "config/Utils.h"
#include "config/cauPushCfg.h"

namespace {

void Check(bool ok) {
  if (!ok)
    std::abort();
}

void EditAndReread(std::string_view bytes, cau::IniEncoding encoding) {
  cau::IniDocument doc(bytes, encoding);
  Check(doc.Bytes() == bytes);
  (void)doc.Read("GLOBAL", "PROXY");
  doc.Write("GLOBAL", "IDSESSAOPUSH", "S-1");
  Check(cau::IniDocument(doc.Bytes(), encoding).Read("global", "idsessaopush") == "S-1");
  doc.Erase("GLOBAL", "IDSESSAOPUSH");
  Check(!cau::IniDocument(doc.Bytes(), encoding).Read("GLOBAL", "IDSESSAOPUSH"));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  EditAndReread(bytes, cau::IniEncoding::Cp1252);
  EditAndReread(bytes, cau::IniEncoding::Utf8);

  const cau::FixedClock clock{cau::TimePoint{}};
  cau::Scrambler scrambler(clock, 1);
  (void)scrambler.Unscramble(bytes);
  (void)cau::NormalizeDate(bytes);
  (void)cau::DateToKey(bytes);
  (void)cau::ParseServerStamp(bytes);
  return 0;
}
