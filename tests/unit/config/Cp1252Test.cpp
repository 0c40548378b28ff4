#include "config/Cp1252.h"

#include <gtest/gtest.h>

namespace cau::text {
namespace {

TEST(Cp1252, EveryByteRoundTrips) {
  std::string all;
  for (int b = 0; b < 256; ++b)
    all += static_cast<char>(b);
  const std::string utf8 = FromCp1252(all);
  EXPECT_EQ(CharCount(utf8), 256u);
  EXPECT_EQ(ToCp1252Exact(utf8), all);
}

TEST(Cp1252, KnownCharacters) {
  struct Case {
    std::string bytes, utf8;
  } cases[] = {
      {"\xE7\xE3o", "ção"},
      {"\x80", "€"},
      {"\x81", "\u0081"},
      {"\x9F", "Ÿ"},
      {"\xA0", "\u00A0"},
      {"Audi\xEAncia", "Audiência"},
      {"\x8D\x8F\x90\x9D", "\u008D\u008F\u0090\u009D"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FromCp1252(c.bytes), c.utf8) << c.utf8;
    EXPECT_EQ(ToCp1252(c.utf8), c.bytes) << c.utf8;
  }
}

TEST(Cp1252, OutsideTheRepertoire) {
  EXPECT_EQ(ToCp1252("a\u4E2Db😀c"), "a?b?c");
  EXPECT_EQ(ToCp1252Exact("a\u4E2D"), std::nullopt);
  EXPECT_EQ(ReduceToCp1252("São \u4E2D\u2026"), "São ?\u2026");
  // Malformed UTF-8: a lone continuation byte, a truncated sequence, an
  // overlong form and an encoded surrogate.
  EXPECT_EQ(ToCp1252("x\x80y"), "x?y");
  EXPECT_EQ(ToCp1252("x\xC3"), "x?");
  EXPECT_EQ(ToCp1252("\xC0\xAF"), "??");
  EXPECT_EQ(ToCp1252Exact("\xED\xA0\x80"), std::nullopt);
}

TEST(Cp1252, CountsAndCuts) {
  EXPECT_EQ(CharCount("Ação"), 4u);
  EXPECT_EQ(LeftChars("Ação", 2), "Aç");
  EXPECT_EQ(LeftChars("Ação", 10), "Ação");
  EXPECT_EQ(LeftChars("", 3), "");
}

TEST(Cp1252, LetterCase) {
  EXPECT_EQ(UpperCp1252("ação ÿ š œ ž ×÷ß"), "AÇÃO Ÿ Š Œ Ž ×÷ß");
  EXPECT_EQ(LowerCp1252("AÇÃO Ÿ Š"), "ação ÿ š");
  EXPECT_EQ(UpperAscii("ação"), "AçãO");
}

}  // namespace
}  // namespace cau::text
