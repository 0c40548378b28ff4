// What our engine writes (creation, appends, key changes, memo growth,
// deletion marks) reads back in two independent readers with the same
// values, and a third walks every tag in the same order as we do.
#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>

#include "../../unit/xbase_table/TempDir.h"
#include "Run.h"
#include "db/xbase/Check.h"
#include "db/xbase/Schema.h"
#include "db/xbase/Table.h"

namespace cau::xbase {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using testing::Quote;
using testing::RunCommand;

const std::string kTool = std::string(CAU_BIN_DIR) + "/xbase";
const std::string kHere = std::string(CAU_TEST_SOURCE_DIR) + "/tests/interop/xbase/";

json Normal(json v) {
  if (v.is_string()) {
    std::string s = v.get<std::string>();
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0'))
      s.pop_back();
    if (s.empty())
      return nullptr;
    return s;
  }
  return v;
}

bool Same(const json& a, const json& b) {
  json x = Normal(a), y = Normal(b);
  if (x.is_number() && y.is_number()) {
    return std::fabs(x.get<double>() - y.get<double>()) <=
           1e-9 * std::max(1.0, std::fabs(x.get<double>()));
  }
  return x == y;
}

void CompareWithReader(const fs::path& table, const std::string& reader) {
  SCOPED_TRACE(reader);
  auto ours = RunCommand(kTool + " dump " + Quote(table.string()));
  auto theirs = RunCommand("/usr/bin/python3 " + kHere + reader + " " + Quote(table.string()));
  ASSERT_EQ(ours.status, 0);
  ASSERT_EQ(theirs.status, 0);
  json a = json::parse(ours.out), b = json::parse(theirs.out);
  ASSERT_EQ(a.size(), b.size());
  for (std::size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(a[i]["deleted"], b[i]["deleted"]) << "record " << i + 1;
    for (auto& [name, value] : a[i]["values"].items()) {
      ASSERT_TRUE(b[i]["values"].contains(name)) << name;
      EXPECT_TRUE(Same(value, b[i]["values"][name]))
          << "record " << i + 1 << " " << name << ": ours " << value << ", theirs "
          << b[i]["values"][name];
    }
  }
}

std::vector<uint32_t> OurWalk(Table& t, const std::string& tag) {
  t.SelectTag(t.FindTag(tag));
  std::vector<uint32_t> out;
  for (t.GoTop(); !t.Eof(); t.Skip(1))
    out.push_back(t.RecNo());
  return out;
}

std::vector<uint32_t> PerlWalk(const fs::path& cdx, const std::string& tag, const char* type) {
  auto r =
      RunCommand("perl " + kHere + "read_tag.pl " + Quote(cdx.string()) + " " + tag + " " + type);
  EXPECT_EQ(r.status, 0);
  std::vector<uint32_t> out;
  std::istringstream in(r.out);
  for (uint32_t n; in >> n;)
    out.push_back(n);
  return out;
}

struct Variant {
  const char* name;
  uint8_t version;
};

class Written : public ::testing::TestWithParam<Variant> {};

TEST_P(Written, IndependentReadersSeeTheSameValuesAndTagOrder) {
  const bool vfp = GetParam().version == kVfp;
  testing::TempDir dir;
  TableSchema s;
  s.version = GetParam().version;
  s.fields = {{"NOME", 'C', 20, 0},
              {"VALOR", 'N', 10, 2},
              {"DATA", 'D', 8, 0},
              {"ATIVO", 'L', 1, 0},
              {"OBS", 'M', 10, 0}};
  if (vfp) {
    s.fields.push_back({"CODIGO", 'I', 4, 0});
    s.fields.push_back({"TAXA", 'B', 8, 3});
    s.fields.push_back({"PRECO", 'Y', 8, 4});
  }
  s.tags = {{"NOME", "UPPER(NOME)", "", false, false, false},
            {"VALOR", "VALOR", "", false, false, false},
            {"DATA", "DATA", "", false, false, false},
            {"ATIVOS", "NOME+STR(VALOR,10,2)", "ATIVO .AND. !DELETED()", false, false, false}};
  if (vfp)
    s.tags.push_back({"CODIGO", "CODIGO", "", false, true, false});
  fs::path path = CreateTable(dir.path(), "ESCRITA", s);
  {
    auto t = Table::Open(path);
    ASSERT_FALSE(t->readOnly()) << t->readOnlyReason();
    const int n = 400;
    for (int i = 1; i <= n; ++i) {
      t->AppendStart();
      t->Blank();
      t->SetRaw(0, (i % 3 ? "Jos\xE9 " : "\xC1gua ") + std::to_string((i * 7919) % 1000));
      t->SetValue(1, NumericValue(((i * 37) % 2000 - 1000) / 4.0));
      t->SetValue(2, DateValue(i % 11 == 0 ? 0 : 2451545 + (i * 13) % 5000));
      t->SetValue(3, LogicalValue(i % 2));
      t->SetMemo(4, std::string(std::size_t((i * 29) % 700), char('a' + i % 26)) + "\r\nfim");
      if (vfp) {
        t->SetValue(5, NumericValue(i));
        t->SetValue(6, NumericValue(i / 8.0));
        t->SetValue(7, NumericValue(i * 1.25));
      }
      t->Append();
    }
    for (int i = 1; i <= n; i += 4) {  // key changes, memo growth, deletion marks
      t->Go(uint32_t(i));
      t->SetRaw(0, "mudado " + std::to_string(i));
      t->SetValue(1, NumericValue(i));
      t->SetMemo(4, std::string(std::size_t(100 + i * 3), 'z'));
      if (i % 3 == 0)
        t->SetDeleted(true);
    }
    t->Close();
  }
  ASSERT_TRUE(CheckTable(path).ok());
  CompareWithReader(path, "dbfread_dump.py");
  CompareWithReader(path, "dbf_dump.py");

  auto t = Table::Open(path, Table::Options{.readOnly = true});
  fs::path cdx = t->cdx()->path();
  EXPECT_EQ(PerlWalk(cdx, "NOME", "C"), OurWalk(*t, "NOME"));
  EXPECT_EQ(PerlWalk(cdx, "VALOR", "N"), OurWalk(*t, "VALOR"));
  EXPECT_EQ(PerlWalk(cdx, "DATA", "N"), OurWalk(*t, "DATA"));
  EXPECT_EQ(PerlWalk(cdx, "ATIVOS", "C"), OurWalk(*t, "ATIVOS"));
  if (vfp) {
    EXPECT_EQ(PerlWalk(cdx, "CODIGO", "N"), OurWalk(*t, "CODIGO"));
  }
  EXPECT_GT(OurWalk(*t, "ATIVOS").size(), 100u);
}

INSTANTIATE_TEST_SUITE_P(Versions, Written,
                         ::testing::Values(Variant{"VisualFoxPro", kVfp},
                                           Variant{"FoxPro2", kFoxPro2},
                                           Variant{"DbaseIII", kDbaseIIIMemo}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace cau::xbase
