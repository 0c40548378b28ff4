// Any bytes as a movement memo: loading never fails, and what the list
// renders loads back to the same list and renders to the same text.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "db/tramitaList.h"

namespace {

void Check(bool ok) {
  if (!ok)
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view memo(reinterpret_cast<const char*>(data), size);
  cau::db::TTramitaList list;
  list.LoadText(memo);
  Check(!list.Added());
  const std::string text = list.RenderText(12, 345, "1.0001234-56.2010");

  cau::db::TTramitaList again;
  again.LoadText(text);
  Check(again.Entries() == list.Entries());
  Check(again.RenderText(12, 345, "1.0001234-56.2010") == text);
  Check(again.NewestKey() == list.NewestKey());

  // An entry already present is not added twice.
  if (!list.Entries().empty()) {
    const std::size_t before = again.Count();
    const std::string& first = again.Entries().front();
    const std::string key = first.substr(0, first.find('='));
    if (key.size() == 12) {
      const std::string date = key.substr(6, 2) + "/" + key.substr(4, 2) + "/" + key.substr(0, 4);
      const std::string time = key.substr(8, 2) + ":" + key.substr(10, 2);
      again.AddEntry(date, time, first.substr(key.size() + 1), true);
      Check(again.Count() == before && !again.Added());
    }
  }
  return 0;
}
