#include <gtest/gtest.h>

#include "db/xbase/CdxPage.h"

namespace cau::xbase {
namespace {

std::string Hex(const unsigned char* p, std::size_t n) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (std::size_t i = 0; i < n; ++i) {
    if (i)
      out += ' ';
    out += digits[p[i] >> 4];
    out += digits[p[i] & 15];
  }
  return out;
}

CdxNode RootLeaf(int keyLength, char fill, const std::vector<CdxEntry>& entries) {
  CdxNode n(kAttrRoot | kAttrLeaf, keyLength, fill);
  for (const auto& e : entries)
    n.Append(e.key, e.recno);
  return n;
}

TEST(CdxPage, LeafIsPackedByteForByteLikeTheHost) {
  // Three character keys of length 10: widths from the largest record (12).
  auto page = EncodePage(
      RootLeaf(10, ' ', {{"ADAMS     ", 7, 0}, {"ADAMSON   ", 3, 0}, {"ADAMSON   ", 12, 0}}));
  EXPECT_EQ(Hex(page.data(), 30),
            "03 00 03 00 FF FF FF FF FF FF FF FF DB 01 FF 00 00 00 0F 0F 08 04 04 02 "
            "07 50 03 35 0C 37");
  EXPECT_EQ(Hex(page.data() + 505, 7), "4F 4E 41 44 41 4D 53");
  for (int i = 30; i < 505; ++i)
    ASSERT_EQ(page[i], 0) << i;

  // Integer tag, two records: one byte per entry.
  auto ints = EncodePage(RootLeaf(
      4, '\0',
      {{std::string("\x80\x00\x00\x01", 4), 1, 0}, {std::string("\x80\x00\x00\x02", 4), 2, 0}}));
  EXPECT_EQ(Hex(ints.data(), 26),
            "03 00 02 00 FF FF FF FF FF FF FF FF E1 01 03 00 00 00 07 07 02 03 03 01 01 0E");
  EXPECT_EQ(Hex(ints.data() + 507, 5), "02 80 00 00 01");

  // Empty root leaf.
  auto empty = EncodePage(RootLeaf(5, ' ', {}));
  EXPECT_EQ(Hex(empty.data(), 24),
            "03 00 00 00 FF FF FF FF FF FF FF FF E8 01 FF FF 03 00 07 07 12 03 03 03");
}

TEST(CdxPage, EntryWidthGrowsWithTheRecordNumbers) {
  struct Case {
    uint32_t recno;
    int keyLength;
    int entryBytes;
  } cases[] = {{3, 4, 1},
               {4, 4, 2},
               {1016, 4, 2},
               {1024, 4, 3},
               {100, 20, 3},
               {(1u << 24) - 1, 10, 4},
               {0xFFFFFFF0u, 240, 6},
               {0xFFFFFFF0u, 4, 5}};
  for (const auto& c : cases) {
    std::string key(c.keyLength, 'K');
    auto page = EncodePage(RootLeaf(c.keyLength, ' ', {{key, c.recno, 0}}));
    EXPECT_EQ(page[23], c.entryBytes) << c.recno << "/" << c.keyLength;
    CdxNode back;
    ASSERT_FALSE(DecodePage(page, c.keyLength, ' ', back).has_value());
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back.RecNo(0), c.recno);
    EXPECT_EQ(back.Key(0), key);
  }
}

TEST(CdxPage, BranchAndLeafRoundTrip) {
  CdxNode branch(0, 4, ' ');
  branch.left = 0x400;
  branch.right = 0x1000;
  branch.Append("ABC ", 0x01020304, 0xA00);
  branch.Append("ABD ", 7, 0x1400);
  auto bytes = EncodePage(branch);
  EXPECT_EQ(Hex(bytes.data() + 12, 12), "41 42 43 20 01 02 03 04 00 00 0A 00");  // big-endian
  CdxNode back;
  ASSERT_FALSE(DecodePage(bytes, 4, ' ', back).has_value());
  EXPECT_EQ(back.left, 0x400u);
  EXPECT_EQ(back.right, 0x1000u);
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back.Child(1), 0x1400u);

  // Duplicate and trailing compression of awkward neighbours: a prefix that
  // runs into the previous key's blanks, all-blank keys, repeated keys.
  CdxNode leaf = RootLeaf(6, ' ',
                          {{"      ", 1, 0},
                           {"      ", 2, 0},
                           {"A     ", 3, 0},
                           {"A B   ", 4, 0},
                           {"A B  X", 5, 0},
                           {"A B  X", 6, 0},
                           {"B     ", 7, 0}});
  auto lb = EncodePage(leaf);
  ASSERT_FALSE(DecodePage(lb, 6, ' ', back).has_value());
  ASSERT_EQ(back.size(), leaf.size());
  for (std::size_t i = 0; i < back.size(); ++i) {
    EXPECT_EQ(back.Key(i), leaf.Key(i));
    EXPECT_EQ(back.RecNo(i), leaf.RecNo(i));
  }
  EXPECT_EQ(back.freeField, kLeafSpace - back.usedBytes);
  EXPECT_EQ(leaf.PackedBytes(), back.usedBytes);
}

TEST(CdxPage, DamagedPagesAreRefused) {
  const auto good = EncodePage(RootLeaf(2, ' ', {{"AB", 1, 0}, {"AC", 2, 0}}));
  struct Case {
    const char* what;
    int at;
    unsigned char value;
  } cases[] = {
      {"unknown attribute bits", 0, 0x13},
      {"entry width 0", 23, 0},
      {"entry width 9", 23, 9},
      {"bits beyond the entry", 20, 30},
      {"record mask does not match its bits", 14, 0x7F},
      {"duplicate mask does not match", 18, 0x01},
      {"free space over 488", 13, 0x02},
      {"key count beyond the page", 2, 0xFF},
      {"first entry depends on a previous key", 24, 0x11},  // dup = 1
      {"counts longer than the key", 25, 0xFA},
  };
  for (const auto& c : cases) {
    auto bad = good;
    bad[c.at] = c.value;
    CdxNode out;
    EXPECT_TRUE(DecodePage(bad, 2, ' ', out).has_value()) << c.what;
  }
  CdxNode branch(kAttrRoot, 2, ' ');
  branch.Append("AB", 1, 0x400);
  auto b = EncodePage(branch);
  b[2] = 0;  // a branch without entries
  CdxNode out;
  EXPECT_TRUE(DecodePage(b, 2, ' ', out).has_value());
  b[2] = 51;  // more than 500 / 10 entries
  EXPECT_TRUE(DecodePage(b, 2, ' ', out).has_value());
}

// Decoding checks the order of a leaf from the bytes the keys share; it must
// agree with a plain comparison of every neighbour pair, in both orders.
TEST(CdxPage, LeafOrderIsCheckedLikeAPlainComparison) {
  const std::string lowTail("A\x01 ", 3);
  struct Case {
    const char* what;
    char fill;
    CdxEntry a, b;
  } cases[] = {
      {"first byte differs", ' ', {"A  ", 1, 0}, {"B  ", 2, 0}},
      {"differs after a shared part", ' ', {"ABC", 5, 0}, {"ABD", 1, 0}},
      {"same key, records decide", ' ', {"AB ", 3, 0}, {"AB ", 4, 0}},
      {"fill against a lower byte", ' ', {lowTail, 1, 0}, {"A  ", 1, 0}},
      {"fill against a higher byte", ' ', {"A  ", 1, 0}, {"A! ", 1, 0}},
      {"byte 0x80 and over", ' ', {"A\x7F ", 9, 0}, {"A\x80 ", 2, 0}},
      {"zero fill, trailing zeros",
       '\0',
       {std::string("A\0\0", 3), 2, 0},
       {std::string("A\0\x01", 3), 1, 0}},
  };
  for (const auto& c : cases) {
    for (bool swapped : {false, true}) {
      const CdxEntry& first = swapped ? c.b : c.a;
      const CdxEntry& second = swapped ? c.a : c.b;
      const auto page =
          EncodePage(RootLeaf(3, c.fill, {{std::string(3, '\x01'), 1, 0}, first, second}));
      CdxNode out;
      const auto err = DecodePage(page, 3, c.fill, out, true);
      EXPECT_EQ(err.has_value(), swapped) << c.what;
      EXPECT_FALSE(DecodePage(page, 3, c.fill, out).has_value()) << c.what;  // order not asked
    }
  }
}

}  // namespace
}  // namespace cau::xbase
