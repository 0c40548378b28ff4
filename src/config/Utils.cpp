#include "config/Utils.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdio>
#include <optional>

#include "BuildInfo.h"
#include "config/Cp1252.h"
#include "config/Platform.h"

namespace cau {
namespace fs = std::filesystem;
namespace {

// Blanks and control characters, as the host's trimming removes them.
bool IsTrimmed(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

std::string_view TrimView(std::string_view s) {
  while (!s.empty() && IsTrimmed(s.front()))
    s.remove_prefix(1);
  while (!s.empty() && IsTrimmed(s.back()))
    s.remove_suffix(1);
  return s;
}

std::u32string ToChars(std::string_view utf8) {
  std::u32string out;
  for (std::size_t pos = 0; pos < utf8.size();)
    out += text::NextCodePoint(utf8, pos);
  return out;
}

// Characters `from` (1-based) to `from + count - 1`, as many as there are.
std::u32string Copy(const std::u32string& s, std::size_t from, std::size_t count) {
  if (from < 1 || from > s.size())
    return {};
  return s.substr(from - 1, count);
}

std::u32string TrimChars(std::u32string s) {
  while (!s.empty() && s.front() <= U' ')
    s.erase(0, 1);
  while (!s.empty() && s.back() <= U' ')
    s.pop_back();
  return s;
}

// A non-empty run of decimal digits as a number.
std::optional<int> Number(const std::u32string& s) {
  if (s.empty() || s.size() > 9)
    return std::nullopt;
  int v = 0;
  for (char32_t c : s) {
    if (c < U'0' || c > U'9')
      return std::nullopt;
    v = v * 10 + static_cast<int>(c - U'0');
  }
  return v;
}

std::string TwoDigits(int v) {
  return (v < 10 ? "0" : "") + std::to_string(v);
}

std::size_t CountOf(const std::u32string& s, char32_t c) {
  std::size_t n = 0;
  for (char32_t x : s)
    n += x == c;
  return n;
}

void ReplaceFirstTwo(std::u32string& s, char32_t from, char32_t to) {
  int left = 2;
  for (char32_t& c : s) {
    if (left > 0 && c == from) {
      c = to;
      --left;
    }
  }
}

std::string Narrow(const std::u32string& s) {
  std::string out;
  for (char32_t c : s)
    text::AppendUtf8(out, c);
  return out;
}

#define CAU_TEXT_OF(x) #x
#define CAU_TEXT(x) CAU_TEXT_OF(x)

// A version component as the build states it; a missing one is 0.
int Component(std::string_view digits) {
  int v = 0;
  for (char c : digits) {
    if (c >= '0' && c <= '9')
      v = v * 10 + (c - '0');
  }
  return v;
}

}  // namespace

std::string NormalizeDate(std::string_view input) {
  static constexpr std::string_view kNoBreakSpace = "\u00A0";
  std::u32string s = ToChars(RemoveAll(TrimView(input), kNoBreakSpace));
  if (s.size() > 10)
    return "erro";
  if (CountOf(s, U'/') < 2) {
    if (CountOf(s, U'.') >= 2)
      ReplaceFirstTwo(s, U'.', U'/');
    else if (CountOf(s, U'-') >= 2)
      ReplaceFirstTwo(s, U'-', U'/');
    else
      return "erro";
  }
  if (s.size() >= 2 && s[1] == U'/')
    s.insert(0, 1, U'0');
  if (s.size() >= 5 && s[4] == U'/')
    s.insert(3, 1, U'0');

  auto y = Number(Copy(s, 7, 2));
  if (!y)
    return "erro";
  if (*y == 19 || *y == 20) {
    y = Number(Copy(s, 7, 4));
    if (!y)
      return "erro";
  } else {
    *y += *y < 50 ? 2000 : 1900;
  }
  const auto m = Number(TrimChars(Copy(s, 4, 2)));
  const auto d = Number(TrimChars(Copy(s, 1, 2)));
  if (!m || !d || *m > 12)
    return "erro";
  return TwoDigits(*d) + "/" + TwoDigits(*m) + "/" + std::to_string(*y);
}

std::string DateToKey(std::string_view input) {
  if (input.empty())
    return {};
  const std::u32string s = ToChars(input);
  const std::u32string ys = Copy(s, 7, 4), ms = Copy(s, 4, 2), ds = Copy(s, 1, 2);
  const auto y = Number(ys), m = Number(ms), d = Number(ds);
  if (!y || !m || !d || *y < 1950 || *m < 1 || *m > 12 || *d < 1 || *d > 31)
    return "erro";
  return Narrow(ys + ms + ds);
}

std::string Trim(std::string_view text) {
  return std::string(TrimView(text));
}

std::string TextAfter(std::string_view text, std::string_view separator, bool trim) {
  if (text.empty() || separator.empty())
    return {};
  const auto at = text.find(separator);
  if (at == std::string_view::npos || at + separator.size() == text.size())
    return {};
  const std::string_view rest = text.substr(at + separator.size());
  return std::string(trim ? TrimView(rest) : rest);
}

std::string TextBefore(std::string_view text, std::string_view separator) {
  if (separator.empty())
    return {};
  const auto at = text.find(separator);
  if (at == std::string_view::npos || at == 0)
    return {};
  return std::string(TrimView(text.substr(0, at)));
}

std::string RemoveAll(std::string_view text, std::string_view part) {
  if (part.empty())
    return std::string(text);
  std::string out;
  for (auto at = text.find(part); at != std::string_view::npos; at = text.find(part)) {
    out += text.substr(0, at);
    text.remove_prefix(at + part.size());
  }
  out += text;
  return out;
}

std::string FormatVersion(int major, int minor, int release, int build, bool debug,
                          bool prerelease) {
  std::string v = std::to_string(major) + "." + std::to_string(minor) + "." +
                  std::to_string(release) + "." + std::to_string(build);
  std::string flags;
  if (debug)
    flags = "debug";
  if (prerelease)
    flags += (flags.empty() ? "" : ",") + std::string("pre-release");
  if (!flags.empty())
    v += " (" + flags + ")";
  return v;
}

std::string ExeVersion() {
  return FormatVersion(
      Component(CAU_TEXT(CAU_VERSION_MAJOR)), Component(CAU_TEXT(CAU_VERSION_MINOR)),
      Component(CAU_TEXT(CAU_VERSION_PATCH)), Component(CAU_TEXT(CAU_VERSION_TWEAK)),
      std::string_view(CAU_BUILD_TYPE) == "Debug", CAU_PRERELEASE != 0);
}

bool ShellMove(const fs::path& source, const fs::path& target) {
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(source, ec)) || fs::exists(fs::symlink_status(target, ec)))
    return false;
  if (target.has_parent_path())
    fs::create_directories(target.parent_path(), ec);
  int rc = ::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE);
  if (rc != 0 && (errno == EINVAL || errno == ENOSYS))  // file system without the flag
    rc = std::rename(source.c_str(), target.c_str());
  if (rc == 0)
    return true;
  if (errno != EXDEV)
    return false;
  // Another file system: copy everything, then remove the source; a copy
  // that fails half way is taken back and the source stays.
  fs::copy(source, target, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
  if (ec) {
    std::error_code ignored;
    fs::remove_all(target, ignored);
    return false;
  }
  fs::remove_all(source, ec);
  return !ec;
}

std::string SpecialFolderPath(int id) {
  switch (id) {
    case 5:  // the user's documents
      return DocumentsDir().string();
    case 26:  // roaming application data
      return ConfigHome().string();
    case 28:  // local application data
      return DataHome().string();
    default:
      return {};
  }
}

}  // namespace cau
