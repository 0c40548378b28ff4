#include "config/Cp1252.h"

#include <array>

namespace cau::text {
namespace {

// Code points of bytes 0x80..0x9F; the rest of the page equals Latin-1.
constexpr std::array<char32_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  //
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  //
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  //
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char32_t ToCodePoint(unsigned char b) {
  return (b >= 0x80 && b <= 0x9F) ? kHigh[b - 0x80] : char32_t{b};
}

bool IsCont(unsigned char c) {
  return (c & 0xC0) == 0x80;
}

}  // namespace

char32_t NextCodePoint(std::string_view s, std::size_t& pos) {
  const auto b0 = static_cast<unsigned char>(s[pos]);
  if (b0 < 0x80) {
    ++pos;
    return b0;
  }
  std::size_t len = 0;
  char32_t cp = 0;
  char32_t min = 0;
  if ((b0 & 0xE0) == 0xC0) {
    len = 2, cp = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3, cp = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4, cp = b0 & 0x07, min = 0x10000;
  } else {
    ++pos;
    return 0xFFFD;
  }
  if (pos + len > s.size()) {
    ++pos;
    return 0xFFFD;
  }
  for (std::size_t i = 1; i < len; ++i) {
    const auto c = static_cast<unsigned char>(s[pos + i]);
    if (!IsCont(c)) {
      ++pos;
      return 0xFFFD;
    }
    cp = (cp << 6) | (c & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++pos;
    return 0xFFFD;
  }
  pos += len;
  return cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::string FromCp1252(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 4);
  for (char c : bytes)
    AppendUtf8(out, ToCodePoint(static_cast<unsigned char>(c)));
  return out;
}

std::optional<unsigned char> Cp1252Byte(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF))
    return static_cast<unsigned char>(cp);
  for (std::size_t i = 0; i < kHigh.size(); ++i) {
    if (kHigh[i] == cp)
      return static_cast<unsigned char>(0x80 + i);
  }
  return std::nullopt;
}

namespace {

// Shared walk of the encoders: returns false on the first character the page
// cannot hold when `exact`, else substitutes.
bool Encode(std::string_view utf8, std::string& out, bool exact, char replacement) {
  out.reserve(utf8.size());
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    const std::size_t start = pos;
    const char32_t cp = NextCodePoint(utf8, pos);
    const bool malformed = cp == 0xFFFD && pos == start + 1;
    const auto b = malformed ? std::nullopt : Cp1252Byte(cp);
    if (b) {
      out += static_cast<char>(*b);
    } else if (exact) {
      return false;
    } else {
      out += replacement;
    }
  }
  return true;
}

}  // namespace

std::string ToCp1252(std::string_view utf8, char replacement) {
  std::string out;
  Encode(utf8, out, false, replacement);
  return out;
}

std::optional<std::string> ToCp1252Exact(std::string_view utf8) {
  std::string out;
  if (!Encode(utf8, out, true, '?'))
    return std::nullopt;
  return out;
}

std::string ReduceToCp1252(std::string_view utf8) {
  return FromCp1252(ToCp1252(utf8));
}

std::size_t CharCount(std::string_view utf8) {
  std::size_t n = 0;
  for (std::size_t pos = 0; pos < utf8.size(); ++n)
    NextCodePoint(utf8, pos);
  return n;
}

std::string_view LeftChars(std::string_view utf8, std::size_t n) {
  std::size_t pos = 0;
  for (std::size_t i = 0; i < n && pos < utf8.size(); ++i)
    NextCodePoint(utf8, pos);
  return utf8.substr(0, pos);
}

namespace {

// Case pairs of the code page outside ASCII: Š/š, Œ/œ, Ž/ž, Ÿ/ÿ and the
// Latin-1 letters À..Þ / à..þ (× and ÷ excepted).
char32_t Upper(char32_t c) {
  if (c >= 'a' && c <= 'z')
    return c - 32;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7)
    return c - 32;
  switch (c) {
    case 0x0161:
      return 0x0160;
    case 0x0153:
      return 0x0152;
    case 0x017E:
      return 0x017D;
    case 0x00FF:
      return 0x0178;
    default:
      return c;
  }
}

char32_t Lower(char32_t c) {
  if (c >= 'A' && c <= 'Z')
    return c + 32;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7)
    return c + 32;
  switch (c) {
    case 0x0160:
      return 0x0161;
    case 0x0152:
      return 0x0153;
    case 0x017D:
      return 0x017E;
    case 0x0178:
      return 0x00FF;
    default:
      return c;
  }
}

template <typename F>
std::string MapChars(std::string_view utf8, F f) {
  std::string out;
  out.reserve(utf8.size());
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    const std::size_t start = pos;
    const char32_t cp = NextCodePoint(utf8, pos);
    if (cp == 0xFFFD && pos == start + 1) {
      out += utf8[start];  // keep malformed bytes as they are
    } else {
      AppendUtf8(out, f(cp));
    }
  }
  return out;
}

}  // namespace

std::string UpperCp1252(std::string_view utf8) {
  return MapChars(utf8, Upper);
}
std::string LowerCp1252(std::string_view utf8) {
  return MapChars(utf8, Lower);
}

namespace {

template <typename F>
std::string MapBytes(std::string_view bytes, F f) {
  std::string out(bytes);
  for (char& c : out) {
    const char32_t mapped = f(ToCodePoint(static_cast<unsigned char>(c)));
    c = static_cast<char>(Cp1252Byte(mapped).value_or(static_cast<unsigned char>(c)));
  }
  return out;
}

}  // namespace

std::string UpperCp1252Bytes(std::string_view bytes) {
  return MapBytes(bytes, Upper);
}
std::string LowerCp1252Bytes(std::string_view bytes) {
  return MapBytes(bytes, Lower);
}

std::string UpperAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>(c - 32);
  }
  return out;
}

}  // namespace cau::text
