#include "db/xbase/CdxKey.h"

#include <bit>
#include <cmath>

#include "config/Errors.h"

namespace cau::xbase {

std::string EncodeDouble(double d) {
  if (d == 0)
    d = 0;  // -0 sorts as +0
  auto bits = std::bit_cast<uint64_t>(d);
  bits = (bits >> 63) != 0 ? ~bits : bits ^ (uint64_t{1} << 63);
  std::string key(8, '\0');
  for (int i = 0; i < 8; ++i)
    key[i] = static_cast<char>(bits >> (56 - 8 * i));
  return key;
}

double DecodeDouble(std::string_view key8) {
  uint64_t bits = 0;
  for (std::size_t i = 0; i < 8 && i < key8.size(); ++i)
    bits = (bits << 8) | static_cast<unsigned char>(key8[i]);
  bits = (bits >> 63) != 0 ? bits ^ (uint64_t{1} << 63) : ~bits;
  return std::bit_cast<double>(bits);
}

std::string EncodeInt32(int32_t v) {
  const uint32_t u = static_cast<uint32_t>(v) ^ 0x80000000u;
  std::string key(4, '\0');
  for (int i = 0; i < 4; ++i)
    key[i] = static_cast<char>(u >> (24 - 8 * i));
  return key;
}

int32_t DecodeInt32(std::string_view key4) {
  uint32_t u = 0;
  for (std::size_t i = 0; i < 4 && i < key4.size(); ++i)
    u = (u << 8) | static_cast<unsigned char>(key4[i]);
  return static_cast<int32_t>(u ^ 0x80000000u);
}

std::string NullKey(int keyLength) {
  return std::string(keyLength > 0 ? keyLength : 0, '\0');
}

std::string EncodeKey(const Value& v, int keyLength, bool nullablePrefix) {
  if (nullablePrefix)
    return '\x80' + EncodeKey(v, keyLength - 1, false);
  auto refuse = [&](const char* what) {
    return Error(std::string("chave de índice impossível: ") + what + " com tamanho " +
                 std::to_string(keyLength));
  };
  switch (v.type) {
    case ValueType::Character: {
      if (keyLength < 1)
        throw refuse("caractere");
      std::string key = v.text.substr(0, keyLength);
      key.resize(keyLength, ' ');
      return key;
    }
    case ValueType::Numeric:
      if (keyLength == 8)
        return EncodeDouble(v.number);
      if (keyLength == 4 && std::isfinite(v.number) && v.number == std::trunc(v.number) &&
          v.number >= -2147483648.0 && v.number <= 2147483647.0)
        return EncodeInt32(static_cast<int32_t>(v.number));
      throw refuse("número");
    case ValueType::Date:
      if (keyLength == 8)
        return EncodeDouble(static_cast<double>(v.julian));
      throw refuse("data");
    case ValueType::Logical:
      if (keyLength == 1)
        return v.logical ? "T" : "F";
      throw refuse("lógico");
  }
  throw refuse("tipo");
}

}  // namespace cau::xbase
