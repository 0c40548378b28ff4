// Key bytes of compound-index tags: how a value becomes the bytes a tag
// stores and compares (unsigned, left to right), machine collation.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "db/xbase/Value.h"

namespace cau::xbase {

// Key of `v` for a tag of `keyLength` bytes:
//   Character: the raw bytes, blank-padded or cut to keyLength;
//   Numeric:   keyLength 8 -> ordered double; keyLength 4 -> integer form
//              (int32 with its sign bit flipped, big-endian; the value must be
//              a whole number in range);
//   Date:      ordered double of the Julian day (keyLength 8);
//   Logical:   "T" / "F" (keyLength 1).
// With `nullablePrefix` the key is one byte longer: 0x80, then the value's key
// of keyLength - 1 bytes (tags over nullable fields). Throws cau::Error when
// the value cannot have a key of that length.
std::string EncodeKey(const Value& v, int keyLength, bool nullablePrefix = false);

// The all-zero key a nullable tag stores for NULL.
std::string NullKey(int keyLength);

// Ordered double: big-endian IEEE-754, top bit flipped (>= 0) or all bits
// inverted (< 0); -0 is stored as +0.
std::string EncodeDouble(double d);
double DecodeDouble(std::string_view key8);

// Integer form of 4-byte keys.
std::string EncodeInt32(int32_t v);
int32_t DecodeInt32(std::string_view key4);

// The byte that trailing compression drops: 0x20 for character keys under
// machine collation, 0x00 for every other key.
inline char FillByte(ValueType type, bool collated = false) {
  return (type == ValueType::Character && !collated) ? ' ' : '\0';
}

// Unsigned bytewise order, the one comparison of every key everywhere.
inline int CompareKeys(std::string_view a, std::string_view b) {
  const std::size_t n = a.size() < b.size() ? a.size() : b.size();
  const int c = n == 0 ? 0 : std::memcmp(a.data(), b.data(), n);  // compares unsigned bytes
  if (c != 0)
    return c < 0 ? -1 : 1;
  if (a.size() == b.size())
    return 0;
  return a.size() < b.size() ? -1 : 1;
}

}  // namespace cau::xbase
