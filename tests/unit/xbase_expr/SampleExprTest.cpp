// Every key and FOR expression of the sample tables' tags compiles against the
// fields read from the table's own header, with the type and length its tag
// header shows.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "db/xbase/Expr.h"

namespace cau::xbase {
namespace {

namespace fs = std::filesystem;

struct SampleField {
  FieldDef def;
  bool nullable = false;
};

// The field descriptors of a table header (32 bytes each from offset 32 up to
// the 0x0D terminator).
std::vector<SampleField> ReadFields(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto version = static_cast<unsigned char>(bytes.at(0));
  const bool vfp = version == 0x30 || version == 0x31 || version == 0x32;
  std::vector<SampleField> fields;
  for (std::size_t at = 32; at + 32 <= bytes.size() && bytes[at] != '\x0D'; at += 32) {
    SampleField f;
    f.def.name = std::string(bytes.c_str() + at);
    f.def.type = bytes[at + 11];
    f.def.length = static_cast<unsigned char>(bytes[at + 16]);
    f.def.decimals = static_cast<unsigned char>(bytes[at + 17]);
    f.nullable = vfp && (bytes[at + 18] & 0x02) != 0;
    fields.push_back(f);
  }
  return fields;
}

struct SampleTag {
  const char* table;  // relative to the samples folder
  const char* key;
  const char* forExpr;
  int keyLength;        // offset 12 of the tag header
  bool machine = true;  // false: collation weights, the key length says nothing
};

// The tags of every sample index (the samples' README lists them).
const std::vector<SampleTag> kTags = {
    {"vfpx-northwind/orderdetails.dbf", "orderid", "", 4},
    {"vfpx-northwind/orderdetails.dbf", "STR(orderid)+STR(productid)", "", 20},
    {"vfpx-northwind/orderdetails.dbf", "productid", "", 4},
    {"vfpx-northwind/orders.dbf", "customerid", "", 6},
    {"vfpx-northwind/orders.dbf", "employeeid", "", 5},
    {"vfpx-northwind/orders.dbf", "orderdate", "", 9},
    {"vfpx-northwind/orders.dbf", "orderid", "", 4},
    {"vfpx-northwind/orders.dbf", "shippeddate", "", 9},
    {"vfpx-northwind/orders.dbf", "shipvia", "", 5},
    {"vfpx-tastrade/behindsc.dbf", "screen_id", "", 20},
    {"vfpx-tastrade/behindsc.dbf", "screen_id+topic", "", 80},
    {"vfpx-tastrade/behindsc.dbf", "LTRIM(topic)", "", 60},
    {"vfpx-coverage-pinyin/SavedCovLog.dbf", "avg", "", 8, false},
    {"vfpx-coverage-pinyin/SavedCovLog.dbf", "code", "", 239, false},
    {"vfpx-coverage-pinyin/SavedCovLog.dbf", "filetype", "", 20, false},
    {"vfpx-coverage-pinyin/SavedCovLog.dbf", "first", "", 8, false},
    {"vfpx-coverage-pinyin/SavedCovLog.dbf", "hits", "", 4, false},
    {"vfpx-coverage-pinyin/SavedCovLog.dbf", "line", "", 4, false},
    {"vfpx-coverage-pinyin/SavedCovLog.dbf", "method", "", 239, false},
    {"vfpx-coverage-pinyin/SavedCovLog.dbf", "objclass", "", 239, false},
    {"vfpx-coverage-pinyin/SavedCovLog.dbf", "pline", "", 4, false},
    {"vfpx-coverage-pinyin/SavedCovLog.dbf", "source", "", 239, false},
    {"vfpx-coverage-pinyin/SavedCovLog.dbf", "total", "", 8, false},
    {"infused-foxprodb/calls.dbf", "call_id", "", 4},
    {"infused-foxprodb/calls.dbf", "contact_id", "", 4},
    {"infused-foxprodb/contacts.dbf", "contact_id", "", 4},
    {"infused-foxprodb/contacts.dbf", "contact_type_id", "", 4},
    {"infused-foxprodb/FOXPRO-DB-TEST.DBC", "STR(parentid)+objecttype+LOWER(objectname)",
     ".NOT.DELETED()", 148},
    {"infused-foxprodb/FOXPRO-DB-TEST.DBC", "STR(parentid)+objecttype", ".NOT.DELETED()", 20},
    {"infused-foxprodb/setup.dbf", "key_name", "", 50},
    {"infused-foxprodb/types.dbf", "contact_type_id", "", 4},
    {"codebase-examples/DATA1.DBF", "ADDRESS", "", 15},
    {"codebase-examples/DATA1.DBF", "AGE", "", 8},
    {"codebase-examples/DATA1.DBF", "AMOUNT", "", 8},
    {"codebase-examples/DATA1.DBF", "BIRTH_DATE", "", 8},
    {"codebase-examples/DATA1.DBF", "F_NAME + L_NAME", "", 20},
    {"codebase-examples/EXAMPLE.DBF", "grade", "", 8},
    {"codebase-examples/EXAMPLE.DBF", "student_id", "", 8},
    {"codebase-examples/EXAMPLE.DBF", "l_name+f_name", "", 34},
    {"codebase-examples/EXAMPLE.DBF", "l_name+f_name", ".NOT.DELETED()", 34},
    {"codebase-examples/STUDENT.DBF", "age", "", 8},
    {"codebase-examples/STUDENT.DBF", "id", "", 8},
    {"codebase-examples/STUDENT.DBF", "l_name+f_name", "", 30},
    {"codebase-speeddemo/CB6DEMO.DBF", "COLOUR", "", 6},
    {"codebase-speeddemo/CB6DEMO.DBF", "LOCATION", "", 10},
    {"codebase-speeddemo/CB6DEMO.DBF", "HEIGHT", "", 8},
    {"codebase-speeddemo/CB6DEMO.DBF", "LENGTH", "", 8},
    {"codebase-speeddemo/CB6DEMO.DBF", "QUANTITY", "", 8},
    {"codebase-speeddemo/CB6DEMO.DBF", "WEIGHT", "", 8},
    {"codebase-speeddemo/CB6DEMO.DBF", "WIDTH", "", 8},
    {"codebase-cblinux/table1.dbf", "bin1", "", 20},
    {"codebase-cblinux/table1.dbf", "bin1", ".NOT.DELETED()", 20},
    {"codebase-cblinux/table1.dbf", "Table1.bin1", "", 20},
    {"codebase-cblinux/table1.dbf", "Table1.bin1", ".NOT.DELETED()", 20},
    {"codebase-cblinux/table1.dbf", "bin2", "", 11},
    {"codebase-cblinux/table1.dbf", "Table1.bin2", ".NOT.DELETED()", 11},
    {"codebase-cblinux/table1.dbf", "char1", "", 20},
    {"codebase-cblinux/table1.dbf", "Table1.char1", ".NOT.DELETED()", 20},
    {"codebase-cblinux/table1.dbf", "char2", "", 21},
    {"codebase-cblinux/table1.dbf", "Table1.char2", ".NOT.DELETED()", 21},
    {"harbour-cotacao/cotacao.dbf", "COTACAO->CDINDX+DTOS(COTACAO->DTCOTA)", "", 10},
};

TEST(SampleExpressions, EveryTagCompilesWithItsKeyLength) {
  const fs::path root = CAU_XBASE_SAMPLES;
  if (root.empty() || !fs::exists(root / "README.md"))
    GTEST_SKIP() << "sample tables not found (set CAU_XBASE_SAMPLES)";
  for (const auto& tag : kTags) {
    SCOPED_TRACE(std::string(tag.table) + ": " + tag.key);
    const fs::path path = root / tag.table;
    const std::vector<SampleField> sample = ReadFields(path);
    std::vector<FieldDef> fields;
    for (const auto& f : sample)
      fields.push_back(f.def);
    const std::string alias = path.stem().string();

    const Expression key = Expression::Compile(tag.key, fields, alias);
    if (*tag.forExpr) {
      const Expression cond = Expression::Compile(tag.forExpr, fields, alias);
      EXPECT_EQ(cond.type(), ValueType::Logical);
      EXPECT_TRUE(cond.UsesDeleted());
    }
    if (!tag.machine)
      continue;
    // The stored length: the value's own, plus the marker byte of a nullable field.
    const int single = key.singleField();
    const bool nullable = single >= 0 && sample[static_cast<std::size_t>(single)].nullable;
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

}  // namespace
}  // namespace cau::xbase
