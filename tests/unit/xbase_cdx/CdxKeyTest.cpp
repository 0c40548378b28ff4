#include <gtest/gtest.h>

#include "config/Errors.h"
#include "db/xbase/CdxKey.h"

namespace cau::xbase {
namespace {

std::string Hex(const std::string& s) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : s) {
    if (!out.empty())
      out += ' ';
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

TEST(CdxKey, NumbersDatesAndIntegersGiveTheHostBytes) {
  struct Case {
    Value value;
    int length;
    const char* hex;
  } cases[] = {
      {NumericValue(0), 8, "80 00 00 00 00 00 00 00"},
      {NumericValue(-0.0), 8, "80 00 00 00 00 00 00 00"},
      {NumericValue(0.5), 8, "BF E0 00 00 00 00 00 00"},
      {NumericValue(1), 8, "BF F0 00 00 00 00 00 00"},
      {NumericValue(100), 8, "C0 59 00 00 00 00 00 00"},
      {NumericValue(1234.5), 8, "C0 93 4A 00 00 00 00 00"},
      {NumericValue(-1), 8, "40 0F FF FF FF FF FF FF"},
      {NumericValue(-2.5), 8, "3F FB FF FF FF FF FF FF"},
      {NumericValue(0), 4, "80 00 00 00"},
      {NumericValue(10248), 4, "80 00 28 08"},
      {NumericValue(-1), 4, "7F FF FF FF"},
      {{ValueType::Date, "", 0, 2455630, false}, 8, "C1 42 BC 27 00 00 00 00"},
      {{ValueType::Date, "", 0, 0, false}, 8, "80 00 00 00 00 00 00 00"},
      {{ValueType::Logical, "", 0, 0, true}, 1, "54"},
      {{ValueType::Character, "AB", 0, 0, false}, 4, "41 42 20 20"},
      {{ValueType::Character, "ABCDEF", 0, 0, false}, 3, "41 42 43"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Hex(EncodeKey(c.value, c.length)), c.hex) << c.hex;
  EXPECT_EQ(Hex(EncodeKey(NumericValue(3), 5, true)), "80 80 00 00 03");
  EXPECT_EQ(NullKey(3), std::string(3, '\0'));
}

TEST(CdxKey, OrderedDoublesSortLikeTheirValuesAndDecodeBack) {
  const double values[] = {-1e300, -2.5, -1, -0.001, 0, 1e-300, 0.5, 1, 2, 1234.5, 1e300};
  for (std::size_t i = 0; i < std::size(values); ++i) {
    EXPECT_EQ(DecodeDouble(EncodeDouble(values[i])), values[i]);
    if (i > 0) {
      EXPECT_LT(CompareKeys(EncodeDouble(values[i - 1]), EncodeDouble(values[i])), 0);
    }
  }
  EXPECT_EQ(DecodeInt32(EncodeInt32(-1)), -1);
  EXPECT_LT(CompareKeys(EncodeInt32(-5), EncodeInt32(3)), 0);
}

TEST(CdxKey, ValuesWithoutAKeyOfThatLengthAreRefused) {
  EXPECT_THROW(EncodeKey(NumericValue(1.5), 4), Error);  // not a whole number
  EXPECT_THROW(EncodeKey(NumericValue(3e9), 4), Error);  // out of int32
  EXPECT_THROW(EncodeKey(NumericValue(1), 6), Error);
  EXPECT_THROW(EncodeKey({ValueType::Date, "", 0, 1, false}, 4), Error);
}

TEST(CdxKey, ComparisonIsUnsignedBytewise) {
  EXPECT_LT(CompareKeys("Z", "a"), 0);
  EXPECT_LT(CompareKeys("a", "\xC4"), 0);
  EXPECT_LT(CompareKeys(std::string("\x7F"), std::string("\x80")), 0);
  EXPECT_EQ(CompareKeys("AB", "AB"), 0);
}

}  // namespace
}  // namespace cau::xbase
