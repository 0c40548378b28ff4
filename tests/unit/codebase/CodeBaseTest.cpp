// The table calls as the host's table objects use them, on real files.
#include "db/CodeBase.h"

#include <clocale>
#include <cstdlib>

#include <gtest/gtest.h>
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include "../xbase_table/TempDir.h"
#include "db/xbase/Schema.h"

namespace cau::db {
namespace {

namespace fs = std::filesystem;
using xbase::testing::ReadAll;
using xbase::testing::TempDir;
using xbase::testing::WriteAll;

fs::path MakeTable(const TempDir& dir) {
  xbase::TableSchema s;
  s.fields = {{"CODIGO", 'N', 5, 0}, {"NOME", 'C', 6, 0}, {"ATIVO", 'L', 1, 0},
              {"TIPO", 'C', 1, 0},   {"OBS", 'M', 4, 0},  {"VALOR", 'N', 9, 2}};
  s.tags = {{"PRIMARYKEY", "CODIGO", "", false, true, false},
            {"NOME", "UPPER(NOME)", "", true, false, false}};
  return xbase::CreateTable(dir.path(), "AUX", s);
}

class CodeBaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path = MakeTable(dir);
    engine = code4initP();
    code4errDefaultUnique(*engine, e4unique);
    code4errFieldName(*engine, 0);
  }
  void TearDown() override { EXPECT_EQ(code4initUndo(engine), 0); }

  Data4* Open() {
    Data4* t = d4open(*engine, path.string());
    EXPECT_NE(t, nullptr) << code4errorText(*engine);
    return t;
  }
  int Append(Data4* t, long code, std::string_view nome) {
    EXPECT_EQ(d4appendStart(t, 0), 0);
    d4blank(t);
    EXPECT_EQ(f4assignInt(d4field(t, "CODIGO"), code), 0);
    EXPECT_EQ(f4assign(d4field(t, "NOME"), nome), 0);
    return d4append(t);
  }

  TempDir dir;
  fs::path path;
  Code4Handle engine;
};

TEST_F(CodeBaseTest, EmptyTableIsEofWithABlankRecordAndMissingFieldsAreNull) {
  Data4* t = Open();
  d4tagSelectP(t, d4tag(t, "PRIMARYKEY"));
  EXPECT_EQ(d4goBof(t), r4eof);
  EXPECT_GT(d4eof(t), 0);
  EXPECT_EQ(d4recCountDo(t), 0);
  EXPECT_EQ(f4str(d4field(t, "NOME")), "      ");
  EXPECT_EQ(f4int(d4field(t, "CODIGO")), 0);
  EXPECT_EQ(f4memoStr(d4field(t, "OBS")), "");
  EXPECT_EQ(d4field(t, "NAOEXISTE"), nullptr);
  EXPECT_EQ(code4errorCode(*engine), 0);
  EXPECT_EQ(d4tag(t, "NAOEXISTE"), nullptr);
}

TEST_F(CodeBaseTest, FieldsReadAndWriteUtf8AsTheTableBytes) {
  Data4* t = Open();
  ASSERT_EQ(Append(t, 7, "Ação"), 0);
  EXPECT_EQ(d4recCountDo(t), 1);
  Field4* nome = d4field(t, "NOME");
  EXPECT_EQ(f4str(nome), "Ação  ");         // blank-padded to the width, in characters
  EXPECT_EQ(f4assign(nome, "ÁÉÍÓÚÇÃ"), 0);  // cut at 6 characters, not 6 bytes
  EXPECT_EQ(f4str(nome), "ÁÉÍÓÚÇ");
  EXPECT_EQ(f4assign(nome, ""), 0);
  EXPECT_EQ(f4str(nome), "      ");
  Field4* ativo = d4field(t, "ATIVO");
  EXPECT_EQ(f4true(ativo), 0);
  EXPECT_EQ(f4assignChar(ativo, U'T'), 0);
  EXPECT_GT(f4true(ativo), 0);
  EXPECT_EQ(f4assignChar(d4field(t, "TIPO"), U'é'), 0);
  EXPECT_EQ(f4str(d4field(t, "TIPO")), "é");
  EXPECT_EQ(f4memoAssign(d4field(t, "OBS"), "linha 1\r\nlinha ç"), 0);
  EXPECT_EQ(f4memoStr(d4field(t, "OBS")), "linha 1\r\nlinha ç");
  EXPECT_EQ(d4flush(t), 0);
  std::string bytes = ReadAll(path);
  EXPECT_NE(bytes.find("\xE9"), std::string::npos);  // é as one Windows-1252 byte
  EXPECT_EQ(d4close(t), 0);
}

TEST_F(CodeBaseTest, NumberTooWideIsAnErrorAndLeavesTheField) {
  Data4* t = Open();
  ASSERT_EQ(Append(t, 1, "a"), 0);
  Field4* codigo = d4field(t, "CODIGO");
  EXPECT_LT(f4assignInt(codigo, 123456), 0);
  EXPECT_NE(code4errorText(*engine).find("não cabe"), std::string::npos) << code4errorText(*engine);
  EXPECT_EQ(f4int(codigo), 1);
  EXPECT_EQ(f4str(codigo), "    1");
  EXPECT_EQ(f4assignInt(codigo, -9999), 0);
  EXPECT_EQ(f4int(codigo), -9999);
}

TEST_F(CodeBaseTest, NumbersAsTextIgnoreTheLocalesDecimalComma) {
  // A desktop front end sets the user's locale; the table's text stays "12.50".
  const fs::path locales = dir.path() / "locales";
  fs::create_directories(locales);
  const std::string make = "/usr/bin/localedef -i pt_BR -f UTF-8 " +
                           (locales / "pt_BR.UTF-8").string() + " >/dev/null 2>&1";
  if (std::system(make.c_str()) != 0)
    GTEST_SKIP() << "localedef could not build pt_BR";
  ::setenv("LOCPATH", locales.c_str(), 1);
  {
#if defined(__SANITIZE_ADDRESS__)
    // glibc keeps the search list that LOCPATH gives for good.
    __lsan::ScopedDisabler keptByTheCLibrary;
#endif
    ASSERT_NE(std::setlocale(LC_NUMERIC, "pt_BR.UTF-8"), nullptr);
  }
  ASSERT_EQ(std::string(std::localeconv()->decimal_point), ",");

  Data4* t = Open();
  ASSERT_EQ(Append(t, 1, "a"), 0);
  Field4* valor = d4field(t, "VALOR");
  const struct {
    const char* text;
    const char* stored;  // nullptr: refused, the field keeps what it had
  } cases[] = {{"12.5", "    12.50"}, {" -3.25 ", "    -3.25"}, {"+7", "     7.00"},
               {"1e3", "  1000.00"},  {"12,5", nullptr},        {"abc", nullptr},
               {"1e999", nullptr},    {"+-1", nullptr}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    ASSERT_EQ(f4assign(valor, "0"), 0);
    EXPECT_EQ(f4assign(valor, c.text) == 0, c.stored != nullptr);
    EXPECT_EQ(f4str(valor), c.stored ? c.stored : "     0.00");
  }
  std::setlocale(LC_NUMERIC, "C");
  ::unsetenv("LOCPATH");
  EXPECT_EQ(d4close(t), 0);
}

TEST_F(CodeBaseTest, SkipWritesTheChangedRecordFirstAndTagOrderHolds) {
  Data4* t = Open();
  ASSERT_EQ(Append(t, 3, "c"), 0);
  ASSERT_EQ(Append(t, 1, "a"), 0);
  ASSERT_EQ(Append(t, 2, "b"), 0);
  d4tagSelectP(t, d4tag(t, "PRIMARYKEY"));
  ASSERT_EQ(d4goBof(t), 0);
  EXPECT_EQ(f4int(d4field(t, "CODIGO")), 1);
  f4assign(d4field(t, "NOME"), "novo");
  EXPECT_EQ(d4skip(t, 1), 0);
  EXPECT_EQ(f4int(d4field(t, "CODIGO")), 2);
  EXPECT_EQ(d4delete(t), 0);
  EXPECT_EQ(d4skip(t, 1), 0);
  EXPECT_EQ(d4skip(t, 1), r4eof);
  EXPECT_GT(d4eof(t), 0);

  Code4Handle other = code4initP();
  Data4* u = d4open(*other, path.string());
  ASSERT_NE(u, nullptr);
  d4tagSelectP(u, d4tag(u, "PRIMARYKEY"));
  d4goBof(u);
  EXPECT_EQ(f4str(d4field(u, "NOME")), "novo  ");
  code4initUndo(other);
}

TEST_F(CodeBaseTest, DuplicateInAUniqueTagIsAnError) {
  Data4* t = Open();
  ASSERT_EQ(Append(t, 1, "x"), 0);
  EXPECT_EQ(Append(t, 1, "y"), e4unique);  // candidate PRIMARYKEY
  EXPECT_EQ(Append(t, 2, "X"), e4unique);  // unique NOME, under -340
  EXPECT_EQ(d4recCountDo(t), 1);
  EXPECT_EQ(Append(t, 2, "z"), 0);
}

TEST_F(CodeBaseTest, OpenFailuresSayWhy) {
  EXPECT_EQ(d4open(*engine, (dir / "NADA.DBF").string()), nullptr);
  EXPECT_EQ(code4errorCode(*engine), e4open);
  EXPECT_NE(code4errorText(*engine).find("não encontrada"), std::string::npos);

  fs::remove(dir / "AUX.CDX");
  EXPECT_EQ(d4open(*engine, path.string()), nullptr);
  EXPECT_EQ(code4errorCode(*engine), e4data);
  EXPECT_NE(code4errorText(*engine).find(".CDX"), std::string::npos) << code4errorText(*engine);

  std::string bytes = ReadAll(path);
  WriteAll(path, bytes.substr(0, 20));
  EXPECT_EQ(d4open(*engine, path.string()), nullptr);
  EXPECT_NE(code4errorText(*engine).find("inválida"), std::string::npos) << code4errorText(*engine);
}

TEST_F(CodeBaseTest, ReadOnlyTableSaysWhyAndRefusesWrites) {
  std::string cdx = ReadAll(dir / "AUX.CDX");
  std::size_t at = cdx.find("UPPER(NOME)");
  ASSERT_NE(at, std::string::npos);
  cdx.replace(at, 5, "UPPEX");
  WriteAll(dir / "AUX.CDX", cdx);
  Data4* t = Open();
  EXPECT_TRUE(d4readOnly(t));
  EXPECT_NE(d4readOnlyReason(t).find("UPPEX(NOME)"), std::string::npos);
  EXPECT_EQ(d4appendStart(t, 0), e4readOnly);
  EXPECT_EQ(d4close(t), 0);
  EXPECT_EQ(ReadAll(dir / "AUX.CDX"), cdx);
}

}  // namespace
}  // namespace cau::db
