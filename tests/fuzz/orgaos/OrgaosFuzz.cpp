// Any bytes as the court list orgaos.xml, read by a main window: loading
// fails or the list holds one "code=short name" line per court it accepts,
// and each short name finds a code again.
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>

#include "app/atualizaPush.h"
#include "log/HotLog.h"

namespace {

void Check(bool ok) {
  if (!ok)
    std::abort();
}

// A desktop nobody looks at.
class NoDesktop : public cau::Desktop {
 public:
  cau::MsgAnswer MessageBox(const std::string&, const std::string&, cau::MsgIcon,
                            cau::MsgButtons) override {
    return cau::MsgAnswer::No;
  }
  void ProcessMessages() override {}
  void SetHourglass(bool) override {}
  void RepaintNow(const cau::Control&) override {}
  void OpenInBrowser(const std::string&) override {}
  int NoticeCount() override { return 0; }
  void ShowNotices() override {}
  void ShowHtml(const std::string&) override {}
  void CheckForUpdate(const std::string&) override {}
  void CloseMainWindow() override {}
};

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>(c - 'a' + 'A');
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  NoDesktop desktop;
  cau::THotLog log;  // never started: lines are dropped
  cau::FormEnvironment environment;
  environment.exePath = "/nowhere/VuzaZoz";
  environment.log = &log;
  cau::TfrmAtualizaPush form(desktop, std::move(environment));
  if (!form.OrgaosXML.load_buffer(data, size))
    return 0;
  form.ListaOrgaos = form.CarregaOrgaos();
  const auto& lines = *form.ListaOrgaos;
  for (const std::string& line : lines) {
    const auto eq = line.find('=');
    Check(eq != std::string::npos);
    // The code of the first line with the same short name (letters a to z
    // in either case).
    const std::string name = Upper(line.substr(eq + 1));
    std::int32_t expected = 0;
    for (const std::string& other : lines) {
      const auto at = other.find('=');
      if (Upper(other.substr(at + 1)) == name) {
        const auto [end, ec] = std::from_chars(other.data(), other.data() + at, expected);
        Check(ec == std::errc() && end == other.data() + at);
        break;
      }
    }
    Check(form.CodigoDoOrgao(line.substr(eq + 1)) == expected);
  }
  return 0;
}
