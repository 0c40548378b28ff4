// Any bytes as a date: NormalizeDate gives "erro" or dd/mm/ and a year of
// up to four digits (a two-digit 19 or 20 stays the first half of one), which
// it keeps as it is; DateToKey of that gives "erro" or its eight digits.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "config/Utils.h"

namespace {

void Check(bool ok) {
  if (!ok)
    std::abort();
}

bool Digits(std::string_view s) {
  for (char c : s)
    if (c < '0' || c > '9')
      return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::string date = cau::NormalizeDate(text);
  if (date == "erro")
    return 0;
  Check(date.size() >= 7 && date.size() <= 10 && date[2] == '/' && date[5] == '/');
  Check(Digits(date.substr(0, 2)) && Digits(date.substr(3, 2)) && Digits(date.substr(6)));
  Check(cau::NormalizeDate(date) == date);
  const std::string key = cau::DateToKey(date);
  if (key != "erro") {
    Check(key.size() == 8 && Digits(key));
    Check(key == date.substr(6, 4) + date.substr(3, 2) + date.substr(0, 2));
  }
  return 0;
}
