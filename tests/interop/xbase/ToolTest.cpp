// The xbase tool as support staff use it: create from a JSON schema, info,
// dump in tag order, check (exit 0 only when all holds), reindex.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "../../unit/xbase_table/TempDir.h"
#include "Run.h"
#include "db/xbase/Table.h"

namespace cau::xbase {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using testing::Quote;
using testing::RunCommand;

const std::string kTool = std::string(CAU_BIN_DIR) + "/xbase";

TEST(Tool, CreateInfoDumpCheckReindex) {
  testing::TempDir dir;
  json schema = {{"name", "CLIENTE"},
                 {"version", "vfp"},
                 {"memoBlockSize", 64},
                 {"fields",
                  {{{"name", "CODIGO"}, {"type", "N"}, {"length", 6}},
                   {{"name", "NOME"}, {"type", "C"}, {"length", 20}},
                   {{"name", "OBS"}, {"type", "M"}}}},
                 {"tags",
                  {{{"name", "CODIGO"}, {"key", "CODIGO"}, {"candidate", true}},
                   {{"name", "NOME"}, {"key", "UPPER(NOME)"}, {"for", "!DELETED()"}}}}};
  testing::WriteAll(dir / "schema.json", schema.dump());
  auto created = RunCommand(kTool + " create " + Quote((dir / "schema.json").string()) + " " +
                            Quote(dir.path().string()));
  ASSERT_EQ(created.status, 0);
  fs::path dbf = dir / "CLIENTE.DBF";
  ASSERT_TRUE(fs::exists(dbf));
  ASSERT_TRUE(fs::exists(dir / "CLIENTE.FPT"));
  ASSERT_TRUE(fs::exists(dir / "CLIENTE.CDX"));
  // Creating again over existing files is refused.
  EXPECT_EQ(RunCommand(kTool + " create " + Quote((dir / "schema.json").string()) + " " +
                       Quote(dir.path().string()) + " 2>/dev/null")
                .status,
            1);

  {
    auto t = Table::Open(dbf);
    const char* names[] = {"zeca", "Ana", "bruno"};
    for (int i = 0; i < 3; ++i) {
      t->AppendStart();
      t->Blank();
      t->SetValue(0, Value{ValueType::Numeric, "", double(10 - i), 0, false});
      t->SetRaw(1, names[i]);
      t->SetMemo(2, std::string("memo ") + names[i]);
      t->Append();
    }
    t->Close();
  }
  json info = json::parse(RunCommand(kTool + " info " + Quote(dbf.string())).out);
  EXPECT_EQ(info["records"], 3);
  EXPECT_EQ(info["tags"].size(), 2u);
  EXPECT_EQ(info["tags"][0]["candidate"], true);
  EXPECT_EQ(info["memo"]["blockSize"], 64);

  json dump = json::parse(RunCommand(kTool + " dump " + Quote(dbf.string()) + " --tag NOME").out);
  ASSERT_EQ(dump.size(), 3u);
  EXPECT_EQ(dump[0]["values"]["NOME"], "Ana");
  EXPECT_EQ(dump[1]["values"]["OBS"], "memo bruno");
  EXPECT_EQ(dump[2]["recno"], 1);

  EXPECT_EQ(RunCommand(kTool + " check " + Quote(dir.path().string())).status, 0);
  // An index that no longer matches its table: check says so, reindex repairs it.
  std::string cdx = testing::ReadAll(dir / "CLIENTE.CDX");
  {
    auto t = Table::Open(dbf);
    t->Go(2);
    t->SetRaw(1, "Zilda");
    t->Close();
  }
  testing::WriteAll(dir / "CLIENTE.CDX", cdx);
  auto bad = RunCommand(kTool + " check " + Quote(dbf.string()));
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.out.find("tag NOME"), std::string::npos) << bad.out;
  EXPECT_EQ(RunCommand(kTool + " reindex " + Quote(dbf.string())).status, 0);
  EXPECT_EQ(RunCommand(kTool + " check " + Quote(dbf.string())).status, 0);
  EXPECT_EQ(RunCommand(kTool + " nothing 2>/dev/null").status, 2);
}

}  // namespace
}  // namespace cau::xbase
