#include "config/cauPushCfg.h"

namespace cau {
namespace {

constexpr std::string_view kSection = "CAUPUSH";

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
