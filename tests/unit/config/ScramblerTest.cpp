#include "config/Scrambler.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <regex>

#include "TestSupport.h"
#include "config/Cp1252.h"
#include "config/Errors.h"

namespace cau {
namespace {

using test::RunCommand;

const FixedClock kNoon(LocalTime{2026, 6, 15, 12, 0, 0, 0});

std::string Hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (char c : bytes) {
    out += kDigits[static_cast<unsigned char>(c) >> 4];
    out += kDigits[static_cast<unsigned char>(c) & 0x0F];
  }
  return out;
}

std::string Script() {
  return std::string("python3 '") + CAU_TEST_SOURCE_DIR + "/tests/unit/config/scramble.py'";
}

const std::vector<std::string>& Texts() {
  static const std::vector<std::string> texts = {
      "",
      "a",
      "joao.silva@advocacia.com.br",
      "Senha com espaços, ç e ã",
      "€‰Ÿ\u00A0ÿ",
      std::string(255, 'x'),
      [] {
        std::string s;
        for (int i = 0; i < 255; ++i)
          s += i % 2 ? "é" : "Z";
        return s;
      }(),
  };
  return texts;
}

TEST(Scrambler, RoundTripsEveryText) {
  Scrambler s(kNoon);
  for (const std::string& text : Texts()) {
    const std::string stored = s.Scramble(text);
    EXPECT_EQ(s.Unscramble(stored), text) << stored;
    // K, the length, two digits per character, up to nine filler bytes.
    const std::size_t fixed = 12 + 2 * text::CharCount(text);
    EXPECT_GE(stored.size(), fixed);
    EXPECT_LE(stored.size(), fixed + 18);
    EXPECT_EQ(stored.size() % 2, 0u);
    EXPECT_TRUE(std::regex_match(stored, std::regex("[0-9A-F]+"))) << stored;
  }
}

TEST(Scrambler, SuccessiveScramblesDiffer) {
  Scrambler s(kNoon);
  const std::string first = s.Scramble("segredo");
  const std::string second = s.Scramble("segredo");
  EXPECT_NE(first.substr(0, 4), second.substr(0, 4));
  EXPECT_EQ(s.Unscramble(first), s.Unscramble(second));
}

TEST(Scrambler, CharactersOutsideTheCodePageBecomeQuestionMarks) {
  Scrambler s(kNoon);
  EXPECT_EQ(s.Unscramble(s.Scramble("a\u4E2Db")), "a?b");
}

TEST(Scrambler, RefusesValuesTheLengthFieldCannotHold) {
  Scrambler s(kNoon);
  EXPECT_NO_THROW(s.Scramble(std::string(0xFFFF, 'a')));
  EXPECT_THROW(s.Scramble(std::string(0x10000, 'a')), Error);
}

TEST(Scrambler, MalformedValuesReadAsEmpty) {
  Scrambler s(kNoon);
  const std::string good = s.Scramble("abc");  // 4 + 8 + 6 digits, then filler
  for (const std::string& bad :
       {std::string(), std::string("A"), std::string("ABC"), std::string("ABCD"),
        std::string("ABCDEF"), good.substr(0, 11), good.substr(0, 16),
        std::string("ZZZZ") + good.substr(4), good.substr(0, 4) + "QQ" + good.substr(6),
        good.substr(0, 12) + "GG" + good.substr(14), std::string(40, 'F')}) {
    EXPECT_EQ(s.Unscramble(bad), "") << bad;
  }
  // Filler beyond the value, of any content, is ignored.
  EXPECT_EQ(s.Unscramble(good.substr(0, 18) + "not hex at all"), "abc");
}

TEST(Scrambler, KeyComesFromTheSystemDrand48) {
  for (std::uint64_t state : {std::uint64_t{1}, std::uint64_t{0x330E},
                              std::uint64_t{0xFFFFFFFFFFFF}, std::uint64_t{0x123456789ABC}}) {
    unsigned short words[3] = {static_cast<unsigned short>(state & 0xFFFF),
                               static_cast<unsigned short>((state >> 16) & 0xFFFF),
                               static_cast<unsigned short>(state >> 32)};
    ::seed48(words);
    const auto k = static_cast<std::uint32_t>(::mrand48()) & 0xFFFF;
    EXPECT_EQ(std::stoul(Scrambler(kNoon, state).Scramble("").substr(0, 4), nullptr, 16), k);
  }
}

TEST(Scrambler, SeedsFromTheTimeOfDay) {
  // At noon the day fraction is 0.5: the seed is 5000000000 mod 65536 = 61952.
  Scrambler fromClock(kNoon);
  Scrambler fromSeed(kNoon, 61952);
  EXPECT_EQ(fromClock.Scramble("abc"), fromSeed.Scramble("abc"));
  const FixedClock later(LocalTime{2026, 6, 15, 12, 0, 0, 1});
  Scrambler other(later);
  EXPECT_NE(Scrambler(kNoon).Scramble("abc"), other.Scramble("abc"));
}

// An independent implementation reads what this one writes, and this one
// reads (and writes the very same text as) what it writes from a fixed state.
TEST(Scrambler, AgreesWithAnIndependentImplementation) {
  Scrambler s(kNoon);
  for (const std::string& value : Texts()) {
    const std::string stored = s.Scramble(value);
    EXPECT_EQ(RunCommand(Script() + " unscramble " + stored), Hex(text::ToCp1252(value))) << value;
  }
  std::uint64_t state = 0x1234ABCD5678;
  for (const std::string& value : Texts()) {
    state = state * 31 + 7;
    const std::string theirs =
        RunCommand(Script() + " scramble " + std::to_string(state & 0xFFFFFFFFFFFF) + " '" +
                   Hex(text::ToCp1252(value)) + "'");
    EXPECT_EQ(Scrambler(kNoon).Unscramble(theirs), value) << theirs;
    EXPECT_EQ(Scrambler(kNoon, state).Scramble(value), theirs) << value;
  }
}

TEST(Scrambler, TheProcessKeepsOneGenerator) {
  const std::uint64_t before = ProcessScrambler().State();
  const std::string stored = Scramble("x");
  EXPECT_NE(ProcessScrambler().State(), before);
  EXPECT_EQ(Unscramble(stored), "x");
}

}  // namespace
}  // namespace cau
