// Every index of the sample sets (written by other programs) opens, walks in
// the record order recorded for it and passes the structure check.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>

#include "CdxTestUtil.h"
#include "db/xbase/Cdx.h"
#include "db/xbase/CdxPage.h"

namespace cau::xbase {
namespace {

namespace fs = std::filesystem;

std::string Lower(std::string s) {
  for (auto& c : s)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::vector<fs::path> SampleIndexes() {
  std::vector<fs::path> out;
  const fs::path root = CAU_XBASE_SAMPLES;
  if (!fs::exists(root))
    return out;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    const std::string ext = Lower(e.path().extension().string());
    if (ext == ".cdx" || ext == ".dcx")
      out.push_back(e.path());
  }
  std::sort(out.begin(), out.end());
  return out;
}

// Field name -> type of the table the index belongs to (same base name, or
// the only table of the folder).
std::vector<std::pair<std::string, char>> FieldTypes(const fs::path& index) {
  fs::path table;
  for (const auto& e : fs::directory_iterator(index.parent_path())) {
    const std::string ext = Lower(e.path().extension().string());
    if (ext != ".dbf" && ext != ".dbc")
      continue;
    if (Lower(e.path().stem().string()) == Lower(index.stem().string()) || table.empty())
      table = e.path();
  }
  std::vector<std::pair<std::string, char>> fields;
  const std::string bytes = testing::ReadBytes(table);
  for (std::size_t at = 32; at + 32 <= bytes.size() && bytes[at] != '\x0D'; at += 32)
    fields.emplace_back(Lower(std::string(bytes.c_str() + at)), bytes[at + 11]);
  return fields;
}

// A bare field name (alias prefix allowed) keeps its field's type; every
// expression of the samples with a function or an operator is character.
ValueType KeyType(std::string expr, const std::vector<std::pair<std::string, char>>& fields) {
  expr = Lower(expr);
  for (const char* sep : {"->", "."}) {
    const auto at = expr.find(sep);
    if (at != std::string::npos)
      expr = expr.substr(at + std::string(sep).size());
  }
  for (const auto& [name, type] : fields) {
    if (name != expr.substr(0, 10) || expr.find_first_of("(+- ") != std::string::npos)
      continue;
    if (type == 'C')
      return ValueType::Character;
    if (type == 'L')
      return ValueType::Logical;
    return type == 'D' ? ValueType::Date : ValueType::Numeric;
  }
  return ValueType::Character;
}

// <table>.<tag>.order.txt: the index's own base name first, else the one
// file of the folder for that tag.
std::vector<uint32_t> ExpectedOrder(const fs::path& index, const std::string& tag) {
  const std::string suffix = "." + tag + ".order.txt";
  fs::path file = index.parent_path() / (index.stem().string() + suffix);
  if (!fs::exists(file)) {
    for (const auto& e : fs::directory_iterator(index.parent_path())) {
      const std::string name = e.path().filename().string();
      if (name.size() > suffix.size() &&
          name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
        file = e.path();
    }
  }
  std::ifstream in(file);
  EXPECT_TRUE(in.good()) << "no order file for tag " << tag << " of " << index;
  std::vector<uint32_t> out;
  for (uint32_t r; in >> r;)
    out.push_back(r);
  return out;
}

class SampleIndex : public ::testing::TestWithParam<fs::path> {};

TEST_P(SampleIndex, WalksInTheRecordedOrderAndPassesTheCheck) {
  const fs::path index = GetParam();
  auto cdx = CdxFile::Open(index, false);
  ASSERT_FALSE(cdx->tags().empty());
  const auto fields = FieldTypes(index);
  for (int i = 0; i < static_cast<int>(cdx->tags().size()); ++i) {
    const TagInfo& t = cdx->tags()[i];
    SCOPED_TRACE(t.name);
    const ValueType type = KeyType(t.keyExpr, fields);
    EXPECT_EQ(t.fill, FillByte(type, !t.collation.empty())) << "fill inferred from the pages";
    cdx->SetKeyType(i, type);
    EXPECT_EQ(cdx->FindTag(Lower(t.name)), i);

    const auto entries = cdx->Entries(i);
    std::vector<uint32_t> recnos;
    for (const auto& e : entries)
      recnos.push_back(e.second);
    EXPECT_EQ(recnos, ExpectedOrder(index, t.name));

    // Cursor both ways, and Seek on every distinct key lands on its first entry.
    auto c = cdx->OpenCursor(i);
    std::vector<uint32_t> forward, backward;
    for (bool ok = c.First(); ok; ok = c.Next())
      forward.push_back(c.RecNo());
    for (bool ok = c.Last(); ok; ok = c.Prev())
      backward.push_back(c.RecNo());
    std::reverse(backward.begin(), backward.end());
    EXPECT_EQ(forward, recnos);
    EXPECT_EQ(backward, recnos);
    for (std::size_t k = 0; k < entries.size(); ++k) {
      if (k > 0 && entries[k].first == entries[k - 1].first)
        continue;
      ASSERT_TRUE(c.Seek(entries[k].first));
      EXPECT_EQ(c.RecNo(), entries[k].second) << "seek of entry " << k;
    }
  }
  EXPECT_EQ(cdx->CheckStructure(), std::vector<std::string>{});
}

TEST_P(SampleIndex, OpensForWritingUnchanged) {
  testing::TempDir dir;
  const fs::path copy = dir.path() / GetParam().filename();
  fs::copy_file(GetParam(), copy);
  const std::string before = testing::ReadBytes(copy);
  {
    auto cdx = CdxFile::Open(copy, true);
    EXPECT_TRUE(cdx->writable());
    cdx->Flush(true);
  }
  EXPECT_EQ(testing::ReadBytes(copy), before);
}

// The leaves of a tag in chain order, reduced to what the packing decides:
// free space, masks, widths, entry table and stored key bytes (the unused
// gap may hold stale bytes in host files).
std::vector<std::string> PackedLeaves(const fs::path& file, uint32_t root, int keyLength,
                                      char fill) {
  const std::string bytes = testing::ReadBytes(file);
  auto node = [&](uint32_t page, CdxNode& n) {
    CdxPageBytes raw;
    std::memcpy(raw.data(), bytes.data() + page, raw.size());
    EXPECT_FALSE(DecodePage(raw, keyLength, fill, n).has_value());
  };
  CdxNode n;
  uint32_t page = root;
  for (node(page, n); !n.leaf(); node(page, n))
    page = n.Child(0);
  std::vector<std::string> out;
  for (; page != kCdxNone; page = n.right) {
    node(page, n);
    const std::string p = bytes.substr(page, kCdxPageSize);
    const std::size_t table = n.size() * static_cast<unsigned char>(p[23]);
    const std::size_t keys = static_cast<std::size_t>(n.usedBytes) - table;
    out.push_back(p.substr(12, 12 + table) + p.substr(kCdxPageSize - keys));
  }
  return out;
}

// Tags the host built in one go: a bulk build of their entries gives the
// same leaves, byte for byte.
TEST(SampleBuild, PacksLeavesLikeTheHost) {
  struct Case {
    const char* file;
    const char* tag;
  } cases[] = {
      {"vfpx-northwind/orderdetails.cdx", "PRIMARYKEY"},
      {"vfpx-northwind/orderdetails.cdx", "ORDERID"},
      {"vfpx-northwind/orders.cdx", "ORDERDATE"},
      {"vfpx-coverage-pinyin/SavedCovLog.cdx", "CODE"},
      {"vfpx-coverage-pinyin/SavedCovLog.cdx", "PLINE"},
      {"codebase-speeddemo/NUMTAGS.CDX", "WEITAG"},
      {"codebase-speeddemo/CHARTAGS.CDX", "LOCTAG"},
      {"infused-foxprodb/calls.CDX", "CONTACT_ID"},
  };
  const fs::path root = CAU_XBASE_SAMPLES;
  if (!fs::exists(root))
    GTEST_SKIP() << "no samples";
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " " + c.tag);
    auto host = CdxFile::Open(root / c.file, false);
    const int i = host->FindTag(c.tag);
    ASSERT_GE(i, 0);
    const TagInfo t = host->tags()[i];
    auto entries = host->Entries(i);
    testing::TempDir dir;
    const fs::path ours = dir.path() / "built.cdx";
    {
      TagSpec spec{"T", "x", "", t.fill == ' ' ? ValueType::Character : ValueType::Numeric,
                   t.keyLength};
      auto built = CdxFile::Create(ours, {spec});
      built->Build(0, entries);
      EXPECT_EQ(built->Stats(0).levels, host->Stats(i).levels);
      built->Close();
    }
    const auto want = PackedLeaves(root / c.file, t.rootPage, t.keyLength, t.fill);
    const auto got =
        PackedLeaves(ours, CdxFile::Open(ours, false)->tags()[0].rootPage, t.keyLength, t.fill);
    EXPECT_EQ(got.size(), want.size());
    EXPECT_TRUE(got == want);
  }
}

INSTANTIATE_TEST_SUITE_P(Samples, SampleIndex, ::testing::ValuesIn(SampleIndexes()),
                         [](const auto& info) {
                           std::string n = info.param.parent_path().filename().string() + "_" +
                                           info.param.filename().string();
                           for (auto& c : n)
                             if (!std::isalnum(static_cast<unsigned char>(c)))
                               c = '_';
                           return n;
                         });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(SampleIndex);

}  // namespace
}  // namespace cau::xbase
