// Every key and FOR expression of the sample tables' tags compiles against the
// fields read from the table's own header, with the type and length its tag
// header shows, and evaluated on the records sorts them as the tag does.
#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "db/xbase/Expr.h"

namespace cau::xbase {
namespace {

namespace fs = std::filesystem;

struct SampleField {
  FieldDef def;
  bool nullable = false;
  std::size_t offset = 0;  // in the record, after the deletion byte
};

// A table as its own bytes say: field descriptors (32 bytes each from offset
// 32 up to the 0x0D terminator) and raw records.
struct SampleTable {
  std::vector<SampleField> fields;
  std::vector<FieldDef> defs;
  std::vector<std::string> records;
};

uint32_t Le(const std::string& b, std::size_t at, int n) {
  uint32_t v = 0;
  for (int i = n - 1; i >= 0; --i)
    v = v << 8 | static_cast<unsigned char>(b.at(at + static_cast<std::size_t>(i)));
  return v;
}

SampleTable ReadTable(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto version = static_cast<unsigned char>(bytes.at(0));
  const bool vfp = version == 0x30 || version == 0x31 || version == 0x32;
  SampleTable t;
  std::size_t offset = 1;
  for (std::size_t at = 32; at + 32 <= bytes.size() && bytes[at] != '\x0D'; at += 32) {
    SampleField f;
    f.def.name = std::string(bytes.c_str() + at);
    f.def.type = bytes[at + 11];
    f.def.length = static_cast<unsigned char>(bytes[at + 16]);
    f.def.decimals = static_cast<unsigned char>(bytes[at + 17]);
    f.nullable = vfp && (bytes[at + 18] & 0x02) != 0;
    f.offset = offset;
    offset += static_cast<std::size_t>(f.def.length);
    t.fields.push_back(f);
    t.defs.push_back(f.def);
  }
  const uint32_t count = Le(bytes, 4, 4), header = Le(bytes, 8, 2), size = Le(bytes, 10, 2);
  for (uint32_t i = 0; i < count; ++i)
    t.records.push_back(bytes.substr(header + i * size, size));
  return t;
}

// One record decoded the way the table hands values to expressions.
class SampleRecord : public ExprRecord {
 public:
  SampleRecord(const SampleTable& t, uint32_t recno) : t_(t), recno_(recno) {}
  Value Field(int index) const override {
    const SampleField& f = t_.fields.at(static_cast<std::size_t>(index));
    const std::string raw =
        t_.records[recno_ - 1].substr(f.offset, static_cast<std::size_t>(f.def.length));
    Value v;
    v.type = ValueType::Numeric;
    switch (f.def.type) {
      case 'C':
        v.type = ValueType::Character;
        v.text = raw;
        break;
      case 'N':
      case 'F': {
        const std::size_t first = raw.find_first_not_of(' ');
        if (first != std::string::npos)
          std::from_chars(raw.data() + first, raw.data() + raw.size(), v.number);
        break;
      }
      case 'I':
        v.number = static_cast<int32_t>(Le(raw, 0, 4));
        break;
      case 'D':
        v.type = ValueType::Date;
        if (raw.find_first_not_of("0123456789") == std::string::npos) {
          const auto ymd = std::chrono::year{std::stoi(raw.substr(0, 4))} /
                           std::stoi(raw.substr(4, 2)) / std::stoi(raw.substr(6, 2));
          v.julian =
              static_cast<int32_t>(std::chrono::sys_days(ymd).time_since_epoch().count() + 2440588);
        }
        break;
      default:
        ADD_FAILURE() << "field type " << f.def.type << " read by a sample expression";
    }
    return v;
  }
  bool Deleted() const override { return t_.records[recno_ - 1][0] == '*'; }
  uint32_t RecNo() const override { return recno_; }

 private:
  const SampleTable& t_;
  uint32_t recno_;
};

enum Check {
  Walk,     // keys evaluated on the records give the tag's stored order
  Weights,  // collation weights: the expression compiles, nothing more to compare
  Stale,    // the tag disagrees with its table (the samples' README says so)
};
constexpr int kUnique = 1, kDescending = 2;

struct SampleTag {
  const char* table;  // relative to the samples folder
  const char* tag;
  const char* key;
  const char* forExpr;
  int keyLength;  // offset 12 of the tag header
  Check check;
  int options = 0;
};

// The tags of every sample index (the samples' README lists them).
const std::vector<SampleTag> kTags = {
    {"vfpx-northwind/orderdetails.dbf", "ORDERID", "orderid", "", 4, Walk},
    {"vfpx-northwind/orderdetails.dbf", "PRIMARYKEY", "STR(orderid)+STR(productid)", "", 20, Walk},
    {"vfpx-northwind/orderdetails.dbf", "PRODUCTID", "productid", "", 4, Walk},
    {"vfpx-northwind/orders.dbf", "CUSTOMERID", "customerid", "", 6, Walk},
    {"vfpx-northwind/orders.dbf", "EMPLOYEEID", "employeeid", "", 5, Walk},
    {"vfpx-northwind/orders.dbf", "ORDERDATE", "orderdate", "", 9, Walk},
    {"vfpx-northwind/orders.dbf", "ORDERID", "orderid", "", 4, Walk},
    {"vfpx-northwind/orders.dbf", "SHIPPEDDAT", "shippeddate", "", 9, Walk},
    {"vfpx-northwind/orders.dbf", "SHIPPERID", "shipvia", "", 5, Walk},
    {"vfpx-tastrade/behindsc.dbf", "SCREEN_ID", "screen_id", "", 20, Walk},
    {"vfpx-tastrade/behindsc.dbf", "SCREEN_TOP", "screen_id+topic", "", 80, Walk},
    {"vfpx-tastrade/behindsc.dbf", "TOPIC", "LTRIM(topic)", "", 60, Walk},
    {"vfpx-coverage-pinyin/SavedCovLog.dbf", "AVG", "avg", "", 8, Walk},
    {"vfpx-coverage-pinyin/SavedCovLog.dbf", "CODE", "code", "", 239, Weights},
    {"vfpx-coverage-pinyin/SavedCovLog.dbf", "FILETYPE", "filetype", "", 20, Weights},
    {"vfpx-coverage-pinyin/SavedCovLog.dbf", "FIRST", "first", "", 8, Walk},
    {"vfpx-coverage-pinyin/SavedCovLog.dbf", "HITS", "hits", "", 4, Walk},
    {"vfpx-coverage-pinyin/SavedCovLog.dbf", "LINE", "line", "", 4, Walk},
    {"vfpx-coverage-pinyin/SavedCovLog.dbf", "METHOD", "method", "", 239, Weights},
    {"vfpx-coverage-pinyin/SavedCovLog.dbf", "OBJCLASS", "objclass", "", 239, Weights},
    {"vfpx-coverage-pinyin/SavedCovLog.dbf", "PLINE", "pline", "", 4, Walk},
    {"vfpx-coverage-pinyin/SavedCovLog.dbf", "SOURCE", "source", "", 239, Weights},
    {"vfpx-coverage-pinyin/SavedCovLog.dbf", "TOTAL", "total", "", 8, Walk},
    {"infused-foxprodb/calls.dbf", "CALL_ID", "call_id", "", 4, Walk},
    {"infused-foxprodb/calls.dbf", "CONTACT_ID", "contact_id", "", 4, Walk},
    {"infused-foxprodb/contacts.dbf", "CONTACT_ID", "contact_id", "", 4, Walk},
    {"infused-foxprodb/contacts.dbf", "TYPE_ID", "contact_type_id", "", 4, Walk},
    {"infused-foxprodb/FOXPRO-DB-TEST.DBC", "OBJECTNAME",
     "STR(parentid)+objecttype+LOWER(objectname)", ".NOT.DELETED()", 148, Walk},
    {"infused-foxprodb/FOXPRO-DB-TEST.DBC", "OBJECTTYPE", "STR(parentid)+objecttype",
     ".NOT.DELETED()", 20, Walk},
    {"infused-foxprodb/setup.dbf", "KEY_NAME", "key_name", "", 50, Walk},
    {"infused-foxprodb/types.dbf", "TYPE_ID", "contact_type_id", "", 4, Walk},
    {"codebase-examples/DATA1.DBF", "ADDR_TAG", "ADDRESS", "", 15, Walk},
    {"codebase-examples/DATA1.DBF", "AGE_TAG", "AGE", "", 8, Walk},
    {"codebase-examples/DATA1.DBF", "AMNT_TAG", "AMOUNT", "", 8, Walk},
    {"codebase-examples/DATA1.DBF", "DATE_TAG", "BIRTH_DATE", "", 8, Walk},
    {"codebase-examples/DATA1.DBF", "NAME_TAG", "F_NAME + L_NAME", "", 20, Walk},
    {"codebase-examples/EXAMPLE.DBF", "CLASS_LIST", "grade", "", 8, Walk, kDescending},
    {"codebase-examples/EXAMPLE.DBF", "ID", "student_id", "", 8, Stale},
    {"codebase-examples/EXAMPLE.DBF", "NAME", "l_name+f_name", "", 34, Walk, kUnique},
    {"codebase-examples/EXAMPLE.DBF", "NOTDELETED", "l_name+f_name", ".NOT.DELETED()", 34, Stale},
    {"codebase-examples/STUDENT.DBF", "STU_AGE", "age", "", 8, Walk},
    {"codebase-examples/STUDENT.DBF", "STU_ID", "id", "", 8, Walk, kUnique},
    {"codebase-examples/STUDENT.DBF", "STU_NAME", "l_name+f_name", "", 30, Walk},
    {"codebase-speeddemo/CB6DEMO.DBF", "COLTAG", "COLOUR", "", 6, Walk},
    {"codebase-speeddemo/CB6DEMO.DBF", "LOCTAG", "LOCATION", "", 10, Walk},
    {"codebase-speeddemo/CB6DEMO.DBF", "HEITAG", "HEIGHT", "", 8, Walk},
    {"codebase-speeddemo/CB6DEMO.DBF", "LENTAG", "LENGTH", "", 8, Walk},
    {"codebase-speeddemo/CB6DEMO.DBF", "QUATAG", "QUANTITY", "", 8, Walk},
    {"codebase-speeddemo/CB6DEMO.DBF", "WEITAG", "WEIGHT", "", 8, Walk},
    {"codebase-speeddemo/CB6DEMO.DBF", "WIDTAG", "WIDTH", "", 8, Walk},
    {"codebase-cblinux/table1.dbf", "BIN1A", "bin1", "", 20, Walk},
    {"codebase-cblinux/table1.dbf", "BIN1B", "bin1", ".NOT.DELETED()", 20, Walk},
    {"codebase-cblinux/table1.dbf", "BIN1C", "Table1.bin1", "", 20, Walk},
    {"codebase-cblinux/table1.dbf", "BIN1D", "Table1.bin1", ".NOT.DELETED()", 20, Walk},
    {"codebase-cblinux/table1.dbf", "BIN2A", "bin2", "", 11, Walk},
    {"codebase-cblinux/table1.dbf", "BIN2B", "bin2", ".NOT.DELETED()", 11, Walk},
    {"codebase-cblinux/table1.dbf", "BIN2C", "Table1.bin2", "", 11, Walk},
    {"codebase-cblinux/table1.dbf", "BIN2D", "Table1.bin2", ".NOT.DELETED()", 11, Walk},
    {"codebase-cblinux/table1.dbf", "CHAR1A", "char1", "", 20, Walk},
    {"codebase-cblinux/table1.dbf", "CHAR1B", "char1", ".NOT.DELETED()", 20, Walk},
    {"codebase-cblinux/table1.dbf", "CHAR1C", "Table1.char1", "", 20, Walk},
    {"codebase-cblinux/table1.dbf", "CHAR1D", "Table1.char1", ".NOT.DELETED()", 20, Walk},
    {"codebase-cblinux/table1.dbf", "CHAR2A", "char2", "", 21, Walk},
    {"codebase-cblinux/table1.dbf", "CHAR2B", "char2", ".NOT.DELETED()", 21, Walk},
    {"codebase-cblinux/table1.dbf", "CHAR2C", "Table1.char2", "", 21, Walk},
    {"codebase-cblinux/table1.dbf", "CHAR2D", "Table1.char2", ".NOT.DELETED()", 21, Walk},
    {"harbour-cotacao/cotacao.dbf", "COTACAO1", "COTACAO->CDINDX+DTOS(COTACAO->DTCOTA)", "", 10,
     Walk},
};

TEST(SampleExpressions, EveryTagCompilesWithItsKeyLength) {
  const fs::path root = CAU_XBASE_SAMPLES;
  if (root.empty() || !fs::exists(root / "README.md"))
    GTEST_SKIP() << "sample tables not found (set CAU_XBASE_SAMPLES)";
  for (const auto& tag : kTags) {
    SCOPED_TRACE(std::string(tag.table) + ": " + tag.key);
    const fs::path path = root / tag.table;
    const SampleTable table = ReadTable(path);
    const std::vector<FieldDef>& fields = table.defs;
    const std::string alias = path.stem().string();

    const Expression key = Expression::Compile(tag.key, fields, alias);
    if (*tag.forExpr) {
      const Expression cond = Expression::Compile(tag.forExpr, fields, alias);
      EXPECT_EQ(cond.type(), ValueType::Logical);
      EXPECT_TRUE(cond.UsesDeleted());
    }
    if (tag.check == Weights)
      continue;
    // The stored length: the value's own, plus the marker byte of a nullable field.
    const int single = key.singleField();
    const bool nullable = single >= 0 && table.fields[static_cast<std::size_t>(single)].nullable;
    int length = 0;
    switch (key.type()) {
      case ValueType::Character:
        length = key.length();
        break;
      case ValueType::Numeric:
        length = single >= 0 && fields[static_cast<std::size_t>(single)].type == 'I' ? 4 : 8;
        break;
      case ValueType::Date:
        length = 8;
        break;
      case ValueType::Logical:
        length = 1;
        break;
    }
    EXPECT_EQ(length + (nullable ? 1 : 0), tag.keyLength);
  }
}

TEST(SampleExpressions, KeysOnTheRecordsSortAsTheTags) {
  const fs::path root = CAU_XBASE_SAMPLES;
  if (root.empty() || !fs::exists(root / "README.md"))
    GTEST_SKIP() << "sample tables not found (set CAU_XBASE_SAMPLES)";
  int walked = 0;
  for (const auto& tag : kTags) {
    SCOPED_TRACE(std::string(tag.table) + " " + tag.tag + ": " + tag.key);
    const fs::path path = root / tag.table;
    const SampleTable table = ReadTable(path);
    const Expression key = Expression::Compile(tag.key, table.defs, path.stem().string());
    const int single = key.singleField();
    // Null-marker keys and stale or weighted tags are the table's business.
    if (tag.check != Walk ||
        (single >= 0 && table.fields[static_cast<std::size_t>(single)].nullable))
      continue;
    std::optional<Expression> cond;
    if (*tag.forExpr)
      cond = Expression::Compile(tag.forExpr, table.defs, path.stem().string());

    struct Entry {
      Value key;
      uint32_t recno;
    };
    std::vector<Entry> entries;
    for (uint32_t r = 1; r <= table.records.size(); ++r) {
      const SampleRecord record(table, r);
      if (!cond || cond->Evaluate(record).logical)
        entries.push_back({key.Evaluate(record), r});
    }
    const auto cmp = [](const Value& a, const Value& b) {
      switch (a.type) {
        case ValueType::Character:
          return a.text.compare(b.text);  // bytes as unsigned, like memcmp
        case ValueType::Date:
          return a.julian < b.julian ? -1 : a.julian > b.julian ? 1 : 0;
        default:
          return a.number < b.number ? -1 : a.number > b.number ? 1 : 0;
      }
    };
    std::stable_sort(entries.begin(), entries.end(),
                     [&](const Entry& a, const Entry& b) { return cmp(a.key, b.key) < 0; });
    std::vector<uint32_t> order;
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (!(tag.options & kUnique) || i == 0 || cmp(entries[i - 1].key, entries[i].key) != 0)
        order.push_back(entries[i].recno);
    }
    if (tag.options & kDescending)
      std::reverse(order.begin(), order.end());

    std::ifstream in(path.parent_path() / (path.stem().string() + "." + tag.tag + ".order.txt"));
    std::vector<uint32_t> expected;
    for (uint32_t r; in >> r;)
      expected.push_back(r);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(order, expected);
    ++walked;
  }
  EXPECT_GE(walked, 40);
}

}  // namespace
}  // namespace cau::xbase
