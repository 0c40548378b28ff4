// The .DBF and .FPT layers on real files: layout of what they write, values
// back, memos in fresh blocks, and refusal of damaged files without writing.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>

#include "TempDir.h"
#include "config/Errors.h"
#include "db/xbase/Dbf.h"
#include "db/xbase/Fpt.h"

namespace cau::xbase {
namespace {

using testing::ReadAll;
using testing::TempDir;
using testing::WriteAll;

std::vector<DbfFile::NewField> AllTypes() {
  return {{"NAME", 'C', 10, 0}, {"AMOUNT", 'N', 10, 2}, {"RATE", 'F', 8, 3},  {"BORN", 'D', 8, 0},
          {"OK", 'L', 1, 0},    {"NOTES", 'M', 4, 0},   {"COUNT", 'I', 4, 0}, {"REAL", 'B', 8, 2},
          {"PRICE", 'Y', 8, 4}, {"STAMP", 'T', 8, 0}};
}

TEST(Dbf, VfpHeaderLayoutAndAppendKeepCountDateAndEof) {
  TempDir dir;
  auto dbf = DbfFile::Create(dir / "T.DBF", kVfp, 0x03, kFlagMemo, AllTypes());
  EXPECT_EQ(dbf->headerLength(), 296 + 32 * 10);
  EXPECT_EQ(dbf->recordLength(), 1 + 10 + 10 + 8 + 8 + 1 + 4 + 4 + 8 + 8 + 8);
  std::string r = dbf->BlankRecord();
  EXPECT_EQ(dbf->AppendRecord(r), 1u);
  EXPECT_EQ(dbf->AppendRecord(r), 2u);
  dbf->Close();

  std::string bytes = ReadAll(dir / "T.DBF");
  ASSERT_EQ(bytes.size(), std::size_t(dbf->headerLength() + 2 * dbf->recordLength() + 1));
  EXPECT_EQ(uint8_t(bytes[0]), 0x30);
  EXPECT_EQ(GetLe32(bytes.data() + 4), 2u);
  EXPECT_EQ(uint8_t(bytes[28]), kFlagMemo);
  EXPECT_EQ(uint8_t(bytes[29]), 0x03);
  EXPECT_EQ(bytes.back(), '\x1A');
  EXPECT_GE(bytes[2], 1);  // month written
  EXPECT_EQ(bytes[32 + 32 * 10], '\x0D');
  EXPECT_EQ(GetLe32(bytes.data() + 32 + 32 + 12), 11u);  // displacement of the second field
}

TEST(Dbf, FieldValuesRoundTrip) {
  TempDir dir;
  auto dbf = DbfFile::Create(dir / "T.DBF", kVfp, 0x03, 0, AllTypes());
  std::string r = dbf->BlankRecord();
  auto put = [&](int i, const Value& v) {
    const DbfField& f = dbf->fields()[std::size_t(i)];
    r.replace(std::size_t(f.offset), std::size_t(f.length), EncodeField(f, v));
  };
  put(0, Value{ValueType::Character, "Jos\xE9", 0, 0, false});
  put(1, Value{ValueType::Numeric, "", -1234.5, 0, false});
  put(3, Value{ValueType::Date, "", 0, JulianFromYmd(2024, 2, 29), false});
  put(4, Value{ValueType::Logical, "", 0, 0, true});
  put(6, Value{ValueType::Numeric, "", -7, 0, false});
  put(8, Value{ValueType::Numeric, "", 32.38, 0, false});
  dbf->AppendRecord(r);
  dbf->Close();

  auto back = DbfFile::Open(dir / "T.DBF", false);
  std::string rec;
  back->ReadRecord(1, rec);
  auto field = [&](int i) {
    const DbfField& f = back->fields()[std::size_t(i)];
    return DecodeField(f,
                       std::string_view(rec).substr(std::size_t(f.offset), std::size_t(f.length)));
  };
  EXPECT_EQ(field(0).text, "Jos\xE9      ");
  EXPECT_EQ(std::string_view(rec).substr(11, 10), "  -1234.50");
  EXPECT_DOUBLE_EQ(field(1).number, -1234.5);
  EXPECT_EQ(field(2).number, 0);  // blank F reads as 0
  EXPECT_EQ(FormatDate(field(3).julian), "20240229");
  EXPECT_TRUE(field(4).logical);
  EXPECT_EQ(field(6).number, -7);
  EXPECT_DOUBLE_EQ(field(8).number, 32.38);
  const DbfField& price = back->fields()[8];
  EXPECT_EQ(std::string_view(rec).substr(std::size_t(price.offset), 8),
            std::string_view("\xD8\xF0\x04\x00\x00\x00\x00\x00", 8));

  // One value reused over every field, in both directions, reads what a fresh one does.
  Value reused = Value{ValueType::Logical, std::string(300, 'x'), 9, 9, true};
  const int n = int(back->fields().size());
  for (int k = 0; k < 2 * n; ++k) {
    const int i = k < n ? k : 2 * n - 1 - k;
    const DbfField& f = back->fields()[std::size_t(i)];
    const auto bytes = std::string_view(rec).substr(std::size_t(f.offset), std::size_t(f.length));
    DecodeField(f, bytes, reused);
    const Value fresh = field(i);
    EXPECT_EQ(reused.type, fresh.type) << f.name;
    EXPECT_EQ(reused.text, fresh.text) << f.name;
    EXPECT_EQ(std::memcmp(&reused.number, &fresh.number, sizeof(double)), 0) << f.name;
    EXPECT_EQ(reused.julian, fresh.julian) << f.name;
    EXPECT_EQ(reused.logical, fresh.logical) << f.name;
  }
}

TEST(Dbf, NumericFormatting) {
  struct Case {
    double value;
    int length, decimals;
    const char* text;  // nullptr: refused
  } cases[] = {
      {1234.5, 10, 2, "   1234.50"}, {-5, 10, 0, "        -5"}, {-0.001, 6, 2, "  0.00"},
      {99999, 5, 0, "99999"},        {100000, 5, 0, nullptr},   {-9999, 4, 0, nullptr},
      {12.345, 6, 2, " 12.35"},      {1e300, 20, 0, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    if (c.text) {
      EXPECT_EQ(FormatNumeric(c.value, c.length, c.decimals), c.text);
    } else {
      EXPECT_THROW(FormatNumeric(c.value, c.length, c.decimals), Error);
    }
  }
}

// Field texts read to the value a correctly rounding parser gives, bit for
// bit, on the short path for plain texts and on the general one for the rest.
TEST(Dbf, NumericTextsReadToTheirNearestValue) {
  DbfField f;
  f.type = 'N';
  f.length = 20;
  struct Case {
    const char* text;
    double value;
  } cases[] = {
      {"   1234.50", 1234.5},
      {"       0.1", 0.1},
      {"  -0.00", -0.0},
      {"  .5", 0.5},
      {"5.", 5},
      {"-99999999.99", -99999999.99},
      {"123456789012345", 123456789012345.0},      // 15 digits: the short path
      {"1234567890123456.7", 1234567890123456.7},  // more digits: the general one
      {"0.000000000000001", 1e-15},
      {"9007199254740993", 9007199254740992.0},  // rounds to even
      {"+5", 5},
      {"1E3", 1000},
      {"12abc", 12},
      {"**********", 0},
      {"", 0},
      {"-", 0},
      {"1.2.3", 1.2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const double got = DecodeField(f, c.text).number;
    EXPECT_EQ(got, c.value);
    EXPECT_EQ(std::signbit(got), std::signbit(c.value));
  }
}

TEST(Dbf, DatesAndJulianDays) {
  EXPECT_EQ(JulianFromYmd(1970, 1, 1), 2440588);
  int y, m, d;
  YmdFromJulian(JulianFromYmd(1999, 12, 31) + 1, y, m, d);
  EXPECT_EQ(y * 10000 + m * 100 + d, 20000101);
  EXPECT_EQ(FormatDate(0), "        ");
}

// Damaged tables are refused with a message and left byte for byte as they were.
TEST(Dbf, DamagedHeadersAreRefusedWithoutWriting) {
  TempDir dir;
  std::vector<DbfFile::NewField> fields = {{"NAME", 'C', 10, 0}, {"N", 'N', 5, 0}};
  auto good = DbfFile::Create(dir / "G.DBF", kFoxPro2, 0x03, 0, fields);
  std::string r = good->BlankRecord();
  good->AppendRecord(r);
  good->AppendRecord(r);
  good->Close();
  const std::string base = ReadAll(dir / "G.DBF");

  struct Case {
    const char* name;
    std::function<void(std::string&)> damage;
    const char* words;
  } cases[] = {
      {"truncated", [](std::string& b) { b.resize(b.size() - 12); }, "registros"},
      {"tiny", [](std::string& b) { b.resize(20); }, "cabeçalho"},
      {"version", [](std::string& b) { b[0] = '\x8B'; }, "versão"},
      {"header length", [](std::string& b) { PutLe16(b.data() + 8, 60000); }, "cabeçalho"},
      {"field past record", [](std::string& b) { b[32 + 16] = char(200); }, "fora do registro"},
      {"unknown type", [](std::string& b) { b[32 + 11] = 'X'; }, "tipo"},
      {"no terminator", [](std::string& b) { b[32 + 64] = 'Z'; }, ""},
      {"record length", [](std::string& b) { PutLe16(b.data() + 10, 1); }, "registro"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string bytes = base;
    c.damage(bytes);
    WriteAll(dir / "D.DBF", bytes);
    try {
      DbfFile::Open(dir / "D.DBF", true);
      ADD_FAILURE() << "opened";
    } catch (const FileError& e) {
      EXPECT_NE(std::string(e.what()).find(c.words), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find("D.DBF"), std::string::npos);
    }
    EXPECT_EQ(ReadAll(dir / "D.DBF"), bytes);
  }
}

TEST(Dbf, MissingEofMarkerAndTrailingBytesAreTolerated) {
  TempDir dir;
  auto dbf = DbfFile::Create(dir / "T.DBF", kDbaseIII, 0, 0,
                             std::vector<DbfFile::NewField>{{"A", 'C', 3, 0}});
  std::string r = dbf->BlankRecord();
  r.replace(1, 3, "abc");
  dbf->AppendRecord(r);
  dbf->Close();
  std::string bytes = ReadAll(dir / "T.DBF");
  bytes.pop_back();
  WriteAll(dir / "T.DBF", bytes);
  EXPECT_EQ(DbfFile::Open(dir / "T.DBF", false)->recordCount(), 1u);
  WriteAll(dir / "T.DBF", bytes + "\x1A garbage");
  auto back = DbfFile::Open(dir / "T.DBF", true);
  std::string rec;
  back->ReadRecord(1, rec);
  EXPECT_EQ(rec, " abc");
  back->AppendRecord(rec);  // a new record goes after the counted ones
  back->Close();
  EXPECT_EQ(ReadAll(dir / "T.DBF").substr(bytes.size() - 4, 9), " abc abc\x1A");
}

TEST(Fpt, EveryMemoGoesToFreshBlocksAtTheEnd) {
  TempDir dir;
  auto fpt = FptFile::Create(dir / "T.FPT", 64);
  EXPECT_EQ(ReadAll(dir / "T.FPT"),
            std::string("\0\0\0\x08\0\0\0\x40", 8) + std::string(504, '\0'));
  EXPECT_EQ(fpt->Write(""), 0u);
  uint32_t hello = fpt->Write("Hello");
  EXPECT_EQ(hello, 8u);
  EXPECT_EQ(fpt->nextFree(), 9u);
  std::string big(100, 'x');  // 108 bytes: two blocks
  EXPECT_EQ(fpt->Write(big), 9u);
  EXPECT_EQ(fpt->nextFree(), 11u);
  // A text that would fit the blocks of another still goes to the end, and
  // the other stays readable (a record may still point at it).
  EXPECT_EQ(fpt->Write(std::string(56, 'h')), 11u);  // 8 + 56 = 64: one block
  EXPECT_EQ(fpt->Read(hello), "Hello");
  EXPECT_EQ(fpt->Read(9), big);
  fpt->Close();
  std::string bytes = ReadAll(dir / "T.FPT");
  EXPECT_EQ(bytes.size(), 12u * 64);
  EXPECT_EQ(GetBe32(bytes.data()), 12u);
  EXPECT_EQ(bytes.substr(11 * 64, 13), std::string("\0\0\0\x01\0\0\0\x38", 8) + "hhhhh");

  // A write cut between the blocks and the header leaves a stale next free
  // block: the next memo goes after the cut-off bytes, not over them.
  PutBe32(bytes.data(), 11u);
  WriteAll(dir / "T.FPT", bytes + "partial");
  auto back = FptFile::Open(dir / "T.FPT", true);
  EXPECT_EQ(back->Write("after"), 13u);
  EXPECT_EQ(back->Read(11), std::string(56, 'h'));
  back->Close();
}

TEST(Fpt, BadPointersAndHeadersGiveClearErrors) {
  TempDir dir;
  auto fpt = FptFile::Create(dir / "T.FPT", 512);
  uint32_t b = fpt->Write("text");
  EXPECT_EQ(b, 1u);
  EXPECT_THROW(fpt->Read(40), FileError);
  EXPECT_EQ(fpt->Read(0), "");
  fpt->Close();
  std::string bytes = ReadAll(dir / "T.FPT");
  PutBe32(bytes.data() + 512 + 4, 100000);  // length past the end
  WriteAll(dir / "T.FPT", bytes);
  auto back = FptFile::Open(dir / "T.FPT", false);
  try {
    back->Read(1);
    ADD_FAILURE();
  } catch (const FileError& e) {
    EXPECT_NE(std::string(e.what()).find("além do fim"), std::string::npos);
  }
  WriteAll(dir / "S.FPT", std::string(100, '\0'));
  EXPECT_THROW(FptFile::Open(dir / "S.FPT", true), FileError);
  EXPECT_EQ(ReadAll(dir / "S.FPT"), std::string(100, '\0'));
}

TEST(Fpt, DbaseMemosEndWithTheirMarkAndAlwaysMoveToTheEnd) {
  TempDir dir;
  auto dbt = FptFile::CreateDbt(dir / "T.DBT");
  uint32_t a = dbt->Write("first");
  EXPECT_EQ(a, 1u);
  uint32_t b = dbt->Write("x");
  EXPECT_EQ(b, 2u);
  EXPECT_EQ(dbt->Write(std::string(600, 'y')), 3u);  // 602 bytes: two blocks
  EXPECT_EQ(dbt->nextFree(), 5u);
  EXPECT_EQ(dbt->Read(a), "first");
  EXPECT_EQ(dbt->Read(3), std::string(600, 'y'));
  EXPECT_THROW(dbt->Write("bad\x1A"), Error);
  EXPECT_THROW(dbt->Read(9), FileError);
  dbt->Close();
  std::string bytes = ReadAll(dir / "T.DBT");
  EXPECT_EQ(GetLe32(bytes.data()), 5u);
  EXPECT_EQ(bytes.substr(512, 7), "first\x1A\x1A");
}

TEST(Fpt, PointerStyles) {
  EXPECT_EQ(EncodeMemoPointer(123, 10), "       123");
  EXPECT_EQ(EncodeMemoPointer(0, 10), "          ");
  EXPECT_EQ(EncodeMemoPointer(0x01020304, 4), "\x04\x03\x02\x01");
  EXPECT_EQ(DecodeMemoPointer("       123"), 123u);
  EXPECT_EQ(DecodeMemoPointer("          "), 0u);
  EXPECT_EQ(DecodeMemoPointer(std::string_view("\x04\x03\x02\x01", 4)), 0x01020304u);
  EXPECT_THROW(DecodeMemoPointer("   12x    "), Error);
}

}  // namespace
}  // namespace cau::xbase
