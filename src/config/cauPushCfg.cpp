#include "config/cauPushCfg.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <system_error>

#include "config/Cp1252.h"
#include "config/Errors.h"

namespace cau {
namespace {

constexpr std::string_view kSection = "CAUPUSH";
constexpr std::string_view kPendingSection = "DESCADASTRAR";
constexpr std::string_view kQueueFile = "cauPushDescadastrar.cfg";

// One line of the file and the line end that followed it.
struct RawLine {
  std::string text;
  std::string eol;
};

std::vector<RawLine> SplitLines(std::string_view bytes) {
  std::vector<RawLine> lines;
  while (!bytes.empty()) {
    const auto nl = bytes.find('\n');
    if (nl == std::string_view::npos) {
      lines.push_back({std::string(bytes), ""});
      break;
    }
    const bool crlf = nl > 0 && bytes[nl - 1] == '\r';
    lines.push_back({std::string(bytes.substr(0, crlf ? nl - 1 : nl)), crlf ? "\r\n" : "\n"});
    bytes.remove_prefix(nl + 1);
  }
  return lines;
}

std::string_view TrimBlanks(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!s.empty() && blank(s.front()))
    s.remove_prefix(1);
  while (!s.empty() && blank(s.back()))
    s.remove_suffix(1);
  return s;
}

// The section a line opens, or nullopt when it opens none.
std::optional<std::string_view> SectionOf(std::string_view line) {
  const std::string_view t = TrimBlanks(line);
  if (t.empty() || t.front() != '[')
    return std::nullopt;
  const auto close = t.find(']');
  if (close == std::string_view::npos)
    return std::nullopt;
  return TrimBlanks(t.substr(1, close - 1));
}

bool IsPendingSection(std::string_view name) {
  return text::UpperAscii(name) == kPendingSection;
}

// The file's bytes; empty when it does not exist.
std::string ReadAll(const std::filesystem::path& path) {
  const auto fail = [&](const std::string& why) {
    return FileError(path.string(),
                     "Não foi possível ler o arquivo \"" + path.string() + "\": " + why);
  };
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (status.type() == std::filesystem::file_type::not_found)
    return {};
  if (status.type() == std::filesystem::file_type::directory)
    throw fail(std::generic_category().message(EISDIR));
  std::ifstream in(path, std::ios::binary);
  if (!in.is_open())
    throw fail(std::strerror(errno));
  try {
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  } catch (const std::exception& e) {
    throw fail(e.what());
  }
}

// A run of 1 to `maxDigits` decimal digits at `pos`, advancing it.
std::optional<int> Digits(std::string_view s, std::size_t& pos, std::size_t maxDigits) {
  const std::size_t start = pos;
  int v = 0;
  while (pos < s.size() && pos - start < maxDigits && s[pos] >= '0' && s[pos] <= '9')
    v = v * 10 + (s[pos++] - '0');
  if (pos == start)
    return std::nullopt;
  return v;
}

bool Take(std::string_view s, std::size_t& pos, char c) {
  if (pos < s.size() && s[pos] == c) {
    ++pos;
    return true;
  }
  return false;
}

bool IsLeap(int y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysIn(int y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

}  // namespace

std::optional<LocalTime> ParseServerStamp(std::string_view s) {
  while (!s.empty() && s.front() == ' ')
    s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ')
    s.remove_suffix(1);
  std::size_t pos = 0;
  LocalTime t;
  const auto y = Digits(s, pos, 4);
  if (!y || !Take(s, pos, '-'))
    return std::nullopt;
  const auto m = Digits(s, pos, 2);
  if (!m || !Take(s, pos, '-'))
    return std::nullopt;
  const auto d = Digits(s, pos, 2);
  if (!d || *y < 1 || *m < 1 || *m > 12 || *d < 1 || *d > DaysIn(*y, *m))
    return std::nullopt;
  t.year = *y;
  t.month = *m;
  t.day = *d;
  if (pos == s.size())
    return t;
  if (!Take(s, pos, ' '))
    return std::nullopt;
  while (Take(s, pos, ' ')) {
  }
  const auto hh = Digits(s, pos, 2);
  if (!hh || !Take(s, pos, ':'))
    return std::nullopt;
  const auto nn = Digits(s, pos, 2);
  if (!nn || *hh > 23 || *nn > 59)
    return std::nullopt;
  t.hour = *hh;
  t.minute = *nn;
  if (Take(s, pos, ':')) {
    const auto ss = Digits(s, pos, 2);
    if (!ss || *ss > 59)
      return std::nullopt;
    t.second = *ss;
    if (Take(s, pos, '.')) {
      const std::size_t start = pos;
      const auto z = Digits(s, pos, 3);
      if (!z)
        return std::nullopt;
      // ".5" is half a second, ".05" five hundredths.
      int ms = *z;
      for (std::size_t n = pos - start; n < 3; ++n)
        ms *= 10;
      t.millisecond = ms;
    }
  }
  if (pos != s.size())
    return std::nullopt;
  return t;
}

TcauPushCfg::TcauPushCfg(const std::string& appDir)
    : ini_((appDir.empty() || appDir.back() != '/' ? appDir + "/" : appDir) + "dados/cauPush.cfg") {
}

std::int64_t TcauPushCfg::Get(std::string_view key) const {
  return ini_.ReadInteger(kSection, key, 0);
}

void TcauPushCfg::Set(std::string_view key, std::int64_t value) {
  ini_.WriteInteger(kSection, key, value);
}

std::int64_t TcauPushCfg::GetLastIdAviso() const {
  return Get("lastIdAviso");
}
void TcauPushCfg::SetLastIdAviso(std::int64_t value) {
  Set("lastIdAviso", value);
}
std::int64_t TcauPushCfg::GetLastIdHistorico() const {
  return Get("lastIdHistorico");
}
void TcauPushCfg::SetLastIdHistorico(std::int64_t value) {
  Set("lastIdHistorico", value);
}
std::int64_t TcauPushCfg::GetProcsAtual() const {
  return Get("procsAtual");
}
void TcauPushCfg::SetProcsAtual(std::int64_t value) {
  Set("procsAtual", value);
}
std::int64_t TcauPushCfg::GetMaxProcs() const {
  return Get("maxProcs");
}
void TcauPushCfg::SetMaxProcs(std::int64_t value) {
  Set("maxProcs", value);
}
std::int64_t TcauPushCfg::GetMaxProcsAnt() const {
  return Get("maxProcsAnt");
}
void TcauPushCfg::SetMaxProcsAnt(std::int64_t value) {
  Set("maxProcsAnt", value);
}
std::string TcauPushCfg::GetAtualizadoEm() const {
  return ini_.ReadString(kSection, "atualizadoEm");
}
void TcauPushCfg::SetAtualizadoEm(std::string_view value) {
  ini_.WriteString(kSection, "atualizadoEm", value);
}

namespace {

// The keys of every "DESCADASTRAR" section of `file`, in number order.
std::vector<std::string> ReadPending(const std::filesystem::path& file) {
  std::map<std::int64_t, std::string> byNumber;
  bool inSection = false;
  for (const RawLine& line : SplitLines(ReadAll(file))) {
    if (const auto section = SectionOf(line.text)) {
      inSection = IsPendingSection(*section);
      continue;
    }
    const auto eq = line.text.find('=');
    if (!inSection || eq == std::string::npos)
      continue;
    const auto number = ParseInteger(TrimBlanks(std::string_view(line.text).substr(0, eq)));
    const std::string_view value = TrimBlanks(std::string_view(line.text).substr(eq + 1));
    if (number && *number > 0 && !value.empty())
      byNumber.emplace(*number, text::FromCp1252(value));  // the first of a number wins
  }
  std::vector<std::string> keys;
  keys.reserve(byNumber.size());
  for (auto& [number, key] : byNumber)
    keys.push_back(std::move(key));
  return keys;
}

// Replaces every "DESCADASTRAR" section of `file` by one at its end holding
// `keys` (none when empty), every other line kept; `always` writes the file
// even when nothing changes (so that it exists).
void WritePending(const std::filesystem::path& file, const std::vector<std::string>& keys,
                  bool always) {
  const std::string before = ReadAll(file);
  std::vector<RawLine> lines = SplitLines(before);
  std::string eol = "\r\n";  // the host is a Windows program
  const auto withEol =
      std::find_if(lines.begin(), lines.end(), [](const RawLine& l) { return !l.eol.empty(); });
  if (withEol != lines.end())
    eol = withEol->eol;

  std::string after;
  bool inSection = false;
  for (const RawLine& line : lines) {
    if (const auto section = SectionOf(line.text))
      inSection = IsPendingSection(*section);
    if (!inSection)
      after += line.text + line.eol;
  }
  if (!keys.empty()) {
    if (!after.empty() && after.back() != '\n')
      after += eol;
    after += "[" + std::string(kPendingSection) + "]" + eol;
    std::size_t number = 0;
    for (const std::string& key : keys) {
      // One key, one line: control characters would break the file's lines.
      std::string bytes = text::ToCp1252(key);
      std::replace_if(
          bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; },
          ' ');
      after += std::to_string(++number) + "=" + bytes + eol;
    }
  }
  if (always || after != before)
    WriteFileAtomically(file, after);
}

}  // namespace

std::filesystem::path TcauPushCfg::QueuePath() const {
  return ini_.Path().parent_path() / kQueueFile;
}

std::vector<std::string> TcauPushCfg::GetPendingUnregistrations() const {
  std::error_code ec;
  const std::filesystem::path queue = QueuePath();
  // Before the queue had a file of its own it was a section of this one.
  return ReadPending(std::filesystem::exists(queue, ec) ? queue : ini_.Path());
}

void TcauPushCfg::SetPendingUnregistrations(const std::vector<std::string>& keys) {
  std::error_code ec;
  const std::filesystem::path queue = QueuePath();
  WritePending(queue, keys, !std::filesystem::exists(queue, ec));
  // The old place's copy goes once the queue's own file holds the queue.
  WritePending(ini_.Path(), {}, false);
}

void TcauPushCfg::SaveLogoutReport(std::string_view atualizadoEm, std::int64_t procsAtual,
                                   std::int64_t maxProcs) {
  // A stamp that does not read is the zero date, 30 December 1899. The month
  // is compared with its year: the same month a year later is another month.
  const LocalTime zero{1899, 12, 30};
  const LocalTime before = ParseServerStamp(GetAtualizadoEm()).value_or(zero);
  const LocalTime now = ParseServerStamp(atualizadoEm).value_or(zero);
  if (before.year != now.year || before.month != now.month)
    SetMaxProcsAnt(GetMaxProcs());
  SetAtualizadoEm(atualizadoEm);
  SetMaxProcs(maxProcs);
  SetProcsAtual(procsAtual);
}

}  // namespace cau
