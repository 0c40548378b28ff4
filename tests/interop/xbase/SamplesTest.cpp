// Tables written by other programs: our reader gives the values an
// independent reader gives, walks every tag in its recorded order, and the
// checker passes them (or names the stale index that the samples document).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <nlohmann/json.hpp>

#include "../../unit/xbase_table/TempDir.h"
#include "Run.h"
#include "config/Errors.h"
#include "db/xbase/Table.h"

namespace cau::xbase {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using testing::Quote;
using testing::RunCommand;

const fs::path kSamples = CAU_XBASE_SAMPLES;
const std::string kTool = std::string(CAU_BIN_DIR) + "/xbase";
const std::string kDbfread =
    std::string("/usr/bin/python3 ") + CAU_TEST_SOURCE_DIR + "/tests/interop/xbase/dbfread_dump.py";

std::string Lower(std::string s) {
  for (auto& c : s)
    c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::vector<fs::path> SampleTables(bool withContainers) {
  std::vector<fs::path> out;
  if (!fs::exists(kSamples))
    return out;
  for (const auto& e : fs::recursive_directory_iterator(kSamples)) {
    std::string ext = Lower(e.path().extension().string());
    if (ext == ".dbf" || (withContainers && ext == ".dbc"))
      out.push_back(e.path());
  }
  std::sort(out.begin(), out.end());
  return out;
}

bool SameValue(const json& a, const json& b) {
  auto empty = [](const json& v) {
    return v.is_null() || (v.is_string() && v.get<std::string>().empty());
  };
  if (empty(a) || empty(b))
    return empty(a) && empty(b);
  if (a.is_number() && b.is_number()) {
    double x = a.get<double>(), y = b.get<double>();
    return std::fabs(x - y) <= 1e-9 * std::max(1.0, std::fabs(x));
  }
  return a == b;
}

TEST(Samples, ValuesAndMemosMatchAnIndependentReader) {
  auto tables = SampleTables(false);
  if (tables.empty())
    GTEST_SKIP() << "no samples at " << kSamples;
  for (const fs::path& table : tables) {
    SCOPED_TRACE(table.string());
    auto ours = RunCommand(kTool + " dump " + Quote(table.string()));
    auto theirs = RunCommand(kDbfread + " " + Quote(table.string()));
    ASSERT_EQ(ours.status, 0);
    ASSERT_EQ(theirs.status, 0);
    json a = json::parse(ours.out), b = json::parse(theirs.out);
    ASSERT_EQ(a.size(), b.size());
    auto t = Table::Open(table, Table::Options{.readOnly = true});
    for (std::size_t i = 0; i < a.size(); ++i) {
      ASSERT_EQ(a[i]["recno"], b[i]["recno"]);
      EXPECT_EQ(a[i]["deleted"], b[i]["deleted"]) << "record " << i + 1;
      for (auto& [name, value] : a[i]["values"].items()) {
        const DbfField& f = t->fields()[std::size_t(t->FieldIndex(name))];
        // The other reader ignores NULL marks: it shows the bytes under them.
        if (value.is_null() && f.nullable())
          continue;
        ASSERT_TRUE(b[i]["values"].contains(name)) << name;
        EXPECT_TRUE(SameValue(value, b[i]["values"][name]))
            << "record " << i + 1 << " field " << name << ": ours " << value << ", theirs "
            << b[i]["values"][name];
      }
    }
  }
}

TEST(Samples, EveryTagWalksInItsRecordedOrder) {
  if (!fs::exists(kSamples))
    GTEST_SKIP();
  auto tables = SampleTables(true);
  int walked = 0;
  for (const auto& e : fs::recursive_directory_iterator(kSamples)) {
    std::string name = e.path().filename().string();
    if (name.size() < 11 || name.substr(name.size() - 10) != ".order.txt")
      continue;
    std::string stem = name.substr(0, name.size() - 10);
    std::string tableName = stem.substr(0, stem.rfind('.'));
    std::string tagName = stem.substr(stem.rfind('.') + 1);
    SCOPED_TRACE(name);
    auto it = std::find_if(tables.begin(), tables.end(), [&](const fs::path& p) {
      return p.parent_path() == e.path().parent_path() && p.stem().string() == tableName;
    });
    ASSERT_NE(it, tables.end());
    std::vector<uint32_t> expected;
    std::ifstream in(e.path());
    for (uint32_t r; in >> r;)
      expected.push_back(r);

    auto t = Table::Open(*it, Table::Options{.readOnly = true});
    int tag = t->FindTag(tagName);
    std::vector<uint32_t> order;
    if (tag >= 0) {
      t->SelectTag(tag);
      for (t->GoTop(); !t->Eof(); t->Skip(1))
        order.push_back(t->RecNo());
    } else {
      // A tag of a separate (non-structural) index file beside the table.
      for (const auto& f : fs::directory_iterator(e.path().parent_path())) {
        if (Lower(f.path().extension().string()) != ".cdx" || f.path().stem() == it->stem())
          continue;
        auto bag = CdxFile::Open(f.path(), false);
        int i = bag->FindTag(tagName);
        if (i < 0)
          continue;
        auto c = bag->OpenCursor(i);
        for (bool ok = c.First(); ok; ok = c.Next())
          order.push_back(c.RecNo());
      }
    }
    EXPECT_EQ(order, expected);
    ++walked;
  }
  EXPECT_GE(walked, 60);
}

TEST(Samples, CheckPassesExceptWhereAnIndexIsStaleAndReindexRepairsIt) {
  if (!fs::exists(kSamples))
    GTEST_SKIP();
  for (const auto& dir : fs::directory_iterator(kSamples)) {
    if (!dir.is_directory())
      continue;
    SCOPED_TRACE(dir.path().string());
    auto r = RunCommand(kTool + " check " + Quote(dir.path().string()));
    if (dir.path().filename() == "codebase-examples") {
      EXPECT_EQ(r.status, 1);
      EXPECT_NE(r.out.find("EXAMPLE.CDX: tag ID:"), std::string::npos) << r.out;
      EXPECT_NE(r.out.find("EXAMPLE.CDX: tag NOTDELETED:"), std::string::npos) << r.out;
      EXPECT_NE(r.out.find("STUDENT.DBF: ok"), std::string::npos) << r.out;
    } else {
      EXPECT_EQ(r.status, 0) << r.out;
    }
  }
  testing::TempDir copy;
  for (const char* f : {"EXAMPLE.DBF", "EXAMPLE.FPT", "EXAMPLE.CDX"}) {
    fs::copy_file(kSamples / "codebase-examples" / f, copy / f);
    fs::permissions(copy / f, fs::perms::owner_read | fs::perms::owner_write);
  }
  std::string dbfBefore = testing::ReadAll(copy / "EXAMPLE.DBF");
  ASSERT_EQ(RunCommand(kTool + " reindex " + Quote((copy / "EXAMPLE.DBF").string())).status, 0);
  auto after = RunCommand(kTool + " check " + Quote((copy / "EXAMPLE.DBF").string()));
  EXPECT_EQ(after.status, 0) << after.out;
  EXPECT_EQ(testing::ReadAll(copy / "EXAMPLE.DBF"), dbfBefore);
  auto t = Table::Open(copy / "EXAMPLE.DBF", Table::Options{.readOnly = true});
  EXPECT_EQ(t->tags().size(), 4u);
}

TEST(Samples, CollatedTagsReadInStoredOrderAndMakeTheTableReadOnly) {
  fs::path dir = kSamples / "vfpx-coverage-pinyin";
  if (!fs::exists(dir))
    GTEST_SKIP();
  testing::TempDir copy;
  for (const char* f : {"SavedCovLog.dbf", "SavedCovLog.cdx"}) {
    fs::copy_file(dir / f, copy / f);
    fs::permissions(copy / f, fs::perms::owner_read | fs::perms::owner_write);
  }
  std::string dbf = testing::ReadAll(copy / "SavedCovLog.dbf");
  std::string cdx = testing::ReadAll(copy / "SavedCovLog.cdx");
  {
    auto t = Table::Open(copy / "savedcovlog.DBF");  // any case
    EXPECT_TRUE(t->readOnly());
    EXPECT_NE(t->readOnlyReason().find("PINYIN"), std::string::npos) << t->readOnlyReason();
    EXPECT_NE(t->readOnlyReason().find("a tag "), std::string::npos) << t->readOnlyReason();
    t->GoTop();
    EXPECT_THROW(t->SetRaw(0, "x"), Error);
    EXPECT_THROW(t->AppendStart(), Error);
    t->SelectTag(t->FindTag("SOURCE"));
    t->GoTop();
    EXPECT_FALSE(t->Eof());
    t->Close();
  }
  EXPECT_EQ(testing::ReadAll(copy / "SavedCovLog.dbf"), dbf);
  EXPECT_EQ(testing::ReadAll(copy / "SavedCovLog.cdx"), cdx);
}

}  // namespace
}  // namespace cau::xbase

namespace cau::xbase {
namespace {

// A host table with autoincrement, nullable fields and tags over them, a
// candidate tag among them: appends and changes keep everything exact.
TEST(Samples, HostTableWithAutoincrementAndNullableTagsTakesWrites) {
  fs::path dir = kSamples / "vfpx-northwind";
  if (!fs::exists(dir))
    GTEST_SKIP();
  testing::TempDir copy;
  for (const char* f : {"orders.dbf", "orders.cdx"}) {
    fs::copy_file(dir / f, copy / f);
    fs::permissions(copy / f, fs::perms::owner_read | fs::perms::owner_write);
  }
  fs::path path = copy / "orders.dbf";
  {
    auto t = Table::Open(path);
    ASSERT_FALSE(t->readOnly()) << t->readOnlyReason();
    int customer = t->FieldIndex("CUSTOMERID"), shipped = t->FieldIndex("SHIPPEDDAT");
    int orderId = t->FieldIndex("ORDERID");
    t->AppendStart();
    t->Blank();
    t->SetRaw(customer, "ZZZZZ");
    t->Append();
    EXPECT_EQ(t->FieldValue(orderId).number, 11078);  // the next autoincrement value
    EXPECT_FALSE(t->IsNull(shipped));                 // new records get explicit values, not NULL
    t->Go(1);
    t->SetRaw(customer, "AAAAA");  // moves in the nullable CUSTOMERID tag
    t->Close();
  }
  auto r = RunCommand(kTool + " check " + Quote(path.string()));
  EXPECT_EQ(r.status, 0) << r.out;
  auto t = Table::Open(path, Table::Options{.readOnly = true});
  EXPECT_EQ(t->RecordCount(), 831u);
  t->SelectTag(t->FindTag("CUSTOMERID"));
  t->GoTop();
  EXPECT_EQ(t->RecNo(), 1u);
  t->GoBottom();
  EXPECT_EQ(t->RecNo(), 831u);
  t->SelectTag(t->FindTag("ORDERID"));
  t->GoBottom();
  EXPECT_EQ(t->RecNo(), 831u);
  // Appending the same ORDERID again is refused by the candidate tag.
  auto w = Table::Open(path);
  w->Go(831);
  w->SetValue(w->FieldIndex("ORDERID"), Value{ValueType::Numeric, "", 10248, 0, false});
  EXPECT_THROW(w->Flush(), DuplicateKey);
}

}  // namespace
}  // namespace cau::xbase
