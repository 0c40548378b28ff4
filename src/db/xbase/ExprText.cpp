// Text conversions of the expression language: STR, VAL and dates.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <vector>

#include "db/xbase/ExprNode.h"

namespace cau::xbase::expr_detail {
namespace {

constexpr int kSignificant = 15;
constexpr int32_t kFirstDay = 1721426;  // 0001-01-01
constexpr int32_t kLastDay = 5373484;   // 9999-12-31

// `digits` (kSignificant of them, the first one before the point when
// intLen == 1) shown with `dec` decimals, rounded half away from zero.
std::string Fixed(bool negative, const std::string& digits, int intLen, int dec) {
  const auto digitAt = [&](int place) {  // place 0 = units, -1 = tenths
    const int idx = intLen - 1 - place;
    return idx >= 0 && idx < kSignificant ? digits[static_cast<std::size_t>(idx)] - '0' : 0;
  };
  std::vector<int> m;
  for (int place = std::max(intLen, 1) - 1; place >= -dec; --place)
    m.push_back(digitAt(place));
  if (digitAt(-dec - 1) >= 5) {
    std::size_t i = m.size();
    while (i > 0 && m[i - 1] == 9)
      m[--i] = 0;
    if (i == 0)
      m.insert(m.begin(), 1);
    else
      ++m[i - 1];
  }
  const std::size_t intDigits = m.size() - static_cast<std::size_t>(dec);
  std::size_t first = 0;
  while (first + 1 < intDigits && m[first] == 0)
    ++first;
  const bool zero = std::all_of(m.begin(), m.end(), [](int d) { return d == 0; });
  std::string out;
  if (negative && !zero)
    out += '-';
  for (std::size_t i = first; i < m.size(); ++i) {
    if (i == intDigits)
      out += '.';
    out += static_cast<char>('0' + m[i]);
  }
  return out;
}

}  // namespace

std::string FormatStr(double value, int len, int dec) {
  if (len <= 0)
    return {};
  if (!std::isfinite(value))
    return std::string(static_cast<std::size_t>(len), '*');
  dec = std::clamp(dec, 0, len);
  char buf[64];
  const auto r =
      std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, kSignificant - 1);
  std::string_view s(buf, static_cast<std::size_t>(r.ptr - buf));  // [-]d.ddd...e[+-]xx
  const bool negative = s.front() == '-';
  if (negative)
    s.remove_prefix(1);
  std::string digits(1, s[0]);
  digits += s.substr(2, kSignificant - 1);
  const std::size_t e = s.find('e');
  int exponent = 0;
  std::from_chars(s.data() + e + (s[e + 1] == '+' ? 2 : 1), s.data() + s.size(), exponent);
  for (int d = dec; d >= 0; --d) {
    const std::string t = Fixed(negative, digits, exponent + 1, d);
    if (static_cast<int>(t.size()) <= len)
      return std::string(static_cast<std::size_t>(len) - t.size(), ' ') + t;
  }
  return std::string(static_cast<std::size_t>(len), '*');
}

double ParseVal(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ')
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-'))
    negative = text[i++] == '-';
  const std::size_t start = i;
  bool digits = false, point = false, nonZero = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      digits = true;
      nonZero = nonZero || (c != '0' && !point);
    } else if (c == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (!digits)
    return 0;
  double v = 0;
  const auto r = std::from_chars(text.data() + start, text.data() + i, v);
  if (r.ec == std::errc::result_out_of_range)
    v = nonZero ? HUGE_VAL : 0.0;
  return negative ? -v : v;
}

int32_t JulianDay(int year, int month, int day) {
  const int a = (14 - month) / 12;
  const int y = year + 4800 - a;
  const int m = month + 12 * a - 3;
  return day + (153 * m + 2) / 5 + 365 * y + y / 4 - y / 100 + y / 400 - 32045;
}

std::string Dtos(int32_t julian) {
  if (julian < kFirstDay || julian > kLastDay)
    return std::string(8, ' ');
  const int64_t a = julian + 32044;
  const int64_t b = (4 * a + 3) / 146097;
  const int64_t c = a - 146097 * b / 4;
  const int64_t d = (4 * c + 3) / 1461;
  const int64_t e = c - 1461 * d / 4;
  const int64_t m = (5 * e + 2) / 153;
  const int day = static_cast<int>(e - (153 * m + 2) / 5 + 1);
  const int month = static_cast<int>(m + 3 - 12 * (m / 10));
  const int year = static_cast<int>(100 * b + d - 4800 + m / 10);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d", year, month, day);
  return buf;
}

}  // namespace cau::xbase::expr_detail
