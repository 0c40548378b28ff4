#include "config/Scrambler.h"

#include <cmath>
#include <optional>

#include "config/Cp1252.h"
#include "config/Errors.h"

namespace cau {
namespace {

constexpr std::uint64_t kMask48 = (std::uint64_t{1} << 48) - 1;

std::string ToHex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    out += kDigits[b >> 4];
    out += kDigits[b & 0x0F];
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  return -1;
}

// Pairs of hex digits back to bytes; nullopt on an odd count or a non-digit.
std::optional<std::string> FromHex(std::string_view hex) {
  if (hex.size() % 2 != 0)
    return std::nullopt;
  std::string out;
  out.reserve(hex.size() / 2);
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int hi = HexDigit(hex[i]), lo = HexDigit(hex[i + 1]);
    if (hi < 0 || lo < 0)
      return std::nullopt;
    out += static_cast<char>(hi * 16 + lo);
  }
  return out;
}

// FromHex, then the bytes as a big-endian unsigned number.
std::optional<std::uint32_t> HexToInt(std::string_view hex) {
  const auto bytes = FromHex(hex);
  if (!bytes)
    return std::nullopt;
  std::uint32_t v = 0;
  for (char c : *bytes)
    v = (v << 8) | static_cast<unsigned char>(c);
  return v;
}

std::string Hex4(std::uint32_t v) {
  const char bytes[2] = {static_cast<char>((v >> 8) & 0xFF), static_cast<char>(v & 0xFF)};
  return ToHex(std::string_view(bytes, 2));
}

}  // namespace

Scrambler::Scrambler(const Clock& clock, std::uint64_t state)
    : clock_(clock), state_(state & kMask48) {}

std::uint32_t Scrambler::NextRandom() {
  state_ = (state_ * 0x5DEECE66DULL + 11) & kMask48;
  return static_cast<std::uint32_t>(state_ >> 16);
}

void Scrambler::Seed(std::uint32_t v) {
  // Sign-extended to 48 bits.
  state_ =
      static_cast<std::uint64_t>(static_cast<std::int64_t>(static_cast<std::int32_t>(v))) & kMask48;
}

std::string Scrambler::XorStream(std::uint32_t seed, std::string_view bytes) {
  Seed(seed);
  std::string out(bytes);
  for (char& c : out)
    c = static_cast<char>(static_cast<unsigned char>(c) ^ (NextRandom() & 0xFF));
  return out;
}

std::string Scrambler::Scramble(std::string_view utf8) {
  const std::string value = text::ToCp1252(utf8);
  if (value.size() > 0xFFFF)
    throw Error("Valor longo demais para ser gravado (" + std::to_string(value.size()) +
                " caracteres)");
  if (state_ == 0) {
    const LocalTime t = clock_.NowLocal();
    const double dayFraction =
        ((t.hour * 60.0 + t.minute) * 60.0 + t.second + t.millisecond / 1000.0) / 86400.0;
    const auto ticks = static_cast<std::int64_t>(std::trunc(dayFraction * 1e10));
    Seed(static_cast<std::uint32_t>(ticks % 65536));
  }
  const std::uint32_t k = NextRandom() & 0xFFFF;
  const std::string length = XorStream(k, Hex4(static_cast<std::uint32_t>(value.size())));
  const std::string scrambled = XorStream(static_cast<std::uint32_t>(state_ & 0xFFFFFFFF), value);
  std::string filler(static_cast<std::size_t>((NextRandom() & 0xFFFF) % 10), '\0');
  for (char& c : filler)
    c = static_cast<char>(NextRandom() & 0xFF);
  return Hex4(k) + ToHex(length) + ToHex(scrambled) + ToHex(filler);
}

std::string Scrambler::Unscramble(std::string_view stored) {
  // Three characters or fewer read as empty; so does anything shorter than
  // the key and the length field, or not made of hex digits.
  if (stored.size() < 12)
    return {};
  const auto k = HexToInt(stored.substr(0, 4));
  const auto lengthBytes = FromHex(stored.substr(4, 8));
  if (!k || !lengthBytes)
    return {};
  const auto n = HexToInt(XorStream(*k, *lengthBytes));
  if (!n || stored.size() - 12 < std::size_t{*n} * 2)
    return {};
  const auto valueBytes = FromHex(stored.substr(12, std::size_t{*n} * 2));
  if (!valueBytes)
    return {};
  return text::FromCp1252(XorStream(static_cast<std::uint32_t>(state_ & 0xFFFFFFFF), *valueBytes));
}

Scrambler& ProcessScrambler() {
  static const SystemClock clock;
  static Scrambler scrambler(clock);
  return scrambler;
}

std::string Scramble(std::string_view utf8) {
  return ProcessScrambler().Scramble(utf8);
}

std::string Unscramble(std::string_view stored) {
  return ProcessScrambler().Unscramble(stored);
}

}  // namespace cau
