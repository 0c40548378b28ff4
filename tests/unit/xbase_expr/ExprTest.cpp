#include "db/xbase/Expr.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "config/Cp1252.h"

namespace cau::xbase {
namespace {

using namespace std::chrono;

int32_t Jdn(int y, unsigned m, unsigned d) {
  return static_cast<int32_t>(sys_days(year{y} / month{m} / day{d}).time_since_epoch().count() +
                              2440588);
}

// Values render as text so one table holds every kind of result.
std::string Render(const Value& v) {
  char buf[64];
  switch (v.type) {
    case ValueType::Character:
      return v.text;
    case ValueType::Numeric:
      std::snprintf(buf, sizeof buf, "N:%.15g", v.number);
      return buf;
    case ValueType::Date: {
      if (v.julian == 0)
        return "D:empty";
      const year_month_day ymd{sys_days{days{v.julian - 2440588}}};
      std::snprintf(buf, sizeof buf, "D:%04d-%02u-%02u", static_cast<int>(ymd.year()),
                    static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()));
      return buf;
    }
    case ValueType::Logical:
      return v.logical ? "L:T" : "L:F";
  }
  return "?";
}

const std::vector<FieldDef> kFields = {
    {"NAME", 'C', 10, 0},    {"CITY", 'C', 8, 0},        {"CODPASTA", 'N', 4, 0},
    {"CODTRIB", 'N', 4, 0},  {"CHAVEPROC", 'C', 100, 0}, {"AMOUNT", 'N', 10, 2},
    {"BORN", 'D', 8, 0},     {"ACTIVE", 'L', 1, 0},      {"STAMP", 'T', 8, 0},
    {"COUNT", 'I', 4, 0},    {"NOTES", 'M', 4, 0},       {"CONTACT_TY", 'I', 4, 0},
    {"EMPTYDAY", 'D', 8, 0}, {"PRICE", 'Y', 8, 4},
};

class FakeRecord : public ExprRecord {
 public:
  FakeRecord()
      : values_{CharacterValue("Ana       "),
                CharacterValue("\xE9vora   "),  // évora
                NumericValue(12),
                NumericValue(5),
                CharacterValue("abc" + std::string(97, ' ')),
                NumericValue(1234.5),
                DateValue(Jdn(2000, 1, 31)),
                LogicalValue(true),
                DateValue(Jdn(2011, 3, 9), (13 * 3600 + 45 * 60 + 30) * 1000.0 + 250),
                NumericValue(-1),
                CharacterValue(""),
                NumericValue(3),
                DateValue(0),
                NumericValue(32.38)} {}
  Value Field(int index) const override { return values_.at(static_cast<std::size_t>(index)); }
  bool Deleted() const override { return deleted; }
  uint32_t RecNo() const override { return 7; }

  std::vector<Value> values_;
  bool deleted = false;
};

std::string Eval(std::string_view text, const FakeRecord& record = FakeRecord()) {
  return Render(Expression::Compile(text, kFields, "tab").Evaluate(record));
}

struct Case {
  const char* expr;
  std::string expected;
};

TEST(Expression, EvaluatesOnARecord) {
  const std::string blanks97(97, ' ');
  const std::vector<Case> cases = {
      // fields, aliases, literals
      {"NAME", "Ana       "},
      {"tab.name", "Ana       "},
      {"TAB->Name", "Ana       "},
      {"tab -> name", "Ana       "},
      {"contact_type_id", "N:3"},  // long name, stored cut to 10
      {"price", "N:32.38"},
      {"[a]+'b'+\"c\"", "abc"},
      {"1.5+.5", "N:2"},
      {"{^2000-02-29}", "D:2000-02-29"},
      {"{}", "D:empty"},
      // concatenation, trim-concatenation, arithmetic, dates
      {"name+city", "Ana       \xE9vora   "},
      {"TRIM(name)+city", "Ana\xE9vora          "},
      {"name-city", "Ana\xE9vora          "},
      {"STR(CODPASTA,4)+STR(CODTRIB,4)+UPPER(CHAVEPROC)", "  12   5ABC" + blanks97},
      {"codpasta+codtrib*2", "N:22"},
      {"(codpasta+codtrib)*2", "N:34"},
      {"-amount+1", "N:-1233.5"},
      {"amount/4", "N:308.625"},
      {"born+1", "D:2000-02-01"},
      {"1+born", "D:2000-02-01"},
      {"born-31", "D:1999-12-31"},
      {"born-{^2000-01-01}", "N:30"},
      {"emptyday+1", "D:empty"},
      {"DTOS({^0001-01-01})+DTOS({^9999-12-31})", "0001010199991231"},
      {"{^9999-12-31}+1", "D:empty"},  // no such date can be stored
      // functions, abbreviated names
      {"UPPER(city)", "\xC9VORA   "},
      {"lower(NAME)", "ana       "},
      {"UPPE(name)", "ANA       "},
      {"DTOS(born)", "20000131"},
      {"DTOS(emptyday)", "        "},
      {"DTOS(stamp)", "20110309"},
      {"TTOC(stamp,1)", "20110309134530"},
      {"LEFT(name,2)", "An"},
      {"RIGHT(TRIM(name),2)", "na"},
      {"SUBSTR(name,2,2)", "na"},
      {"SUBS(name,2)", "na       "},
      {"SUBSTR(name,11)+'x'", "x"},
      {"ALLTRIM('  x  ')", "x    "},
      {"ALLT(name)", "Ana       "},
      {"LTRIM('  x')", "x  "},
      {"RTRIM(name)+'|'", "Ana|       "},
      {"PADL(TRIM(name),5)", "  Ana"},
      {"PADR(TRIM(name),5,'*')", "Ana**"},
      {"PADC('ab',6,'-')", "--ab--"},
      {"PADC('ab',5,'-')", "-ab--"},
      {"PADL(name,2)", "An"},
      {"IIF(active,'yes','no')", "yes"},
      {"IIF(!active,'yes','no')+'|'", "no| "},
      {"IIF(active,codpasta,0)", "N:12"},
      {"DELETED()", "L:F"},
      {"DELE()", "L:F"},
      {"RECNO()", "N:7"},
      {"VAL('  -12.5abc')", "N:-12.5"},
      {"VAL('+3.2.1')", "N:3.2"},
      {"VAL('')", "N:0"},
      {"VAL('abc')", "N:0"},
      {"EMPTY(name)", "L:F"},
      {"EMPTY('   ')", "L:T"},
      {"EMPTY({})", "L:T"},
      {"EMPTY(count)", "L:F"},
      {"EMPTY(stamp)", "L:F"},
      {"EMPTY(codpasta-12)", "L:T"},
      {"BINTOC(contact_type_id)", std::string("\x80\x00\x00\x03", 4)},
      {"BINTOC(count)", "\x7F\xFF\xFF\xFF"},
      {"BINTOC(count,2)", "\x7F\xFF"},
      {"BINTOC(5,1)", "\x85"},
      // comparisons: strings over the right operand's length (SET EXACT OFF)
      {"name = 'An'", "L:T"},
      {"name = 'Ana'", "L:T"},
      {"name = ''", "L:T"},
      {"'An' = name", "L:F"},
      {"name == 'Ana'", "L:F"},
      {"TRIM(name) == 'Ana'", "L:T"},
      {"name # 'B'", "L:T"},
      {"name <> 'Ana'", "L:F"},
      {"name != 'Anb'", "L:T"},
      {"name < 'B'", "L:T"},
      {"name >= 'Ana'", "L:T"},
      {"name > 'Ana'", "L:F"},
      {"city > 'Z'", "L:T"},  // bytes compare unsigned
      {"born < {^2000-02-01}", "L:T"},
      {"active = .T.", "L:T"},
      {"active == .f.", "L:F"},
      // logic
      {"codpasta > 10 .AND. codtrib <= 5", "L:T"},
      {"codpasta = 12 AND NOT active", "L:F"},
      {"codpasta=1 .OR. codtrib=5", "L:T"},
      {"!active OR codpasta#12", "L:F"},
      {"active.AND.active", "L:T"},
      {".NOT.DELETED()", "L:T"},
      {"NOT EMPTY(name) .and. .t.", "L:T"},
      {"not not active", "L:T"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Eval(c.expr), c.expected) << c.expr;
}

TEST(Expression, StrRoundsAndOverflows) {
  const std::vector<Case> cases = {
      {"STR(-5)", "        -5"},
      {"STR(10248)", "     10248"},
      {"STR(2.5)", "         3"},
      {"STR(-2.5)", "        -3"},
      {"STR(-0.4)", "         0"},
      {"STR(amount)", "      1235"},
      {"STR(amount,10,2)", "   1234.50"},
      {"STR(1234.5678,7,3)", "1234.57"},  // fewer decimals when they do not fit
      {"STR(1234.56,5,2)", " 1235"},
      {"STR(99.99,4,1)", " 100"},
      {"STR(0.5,3,2)", "0.5"},
      {"STR(1.005,6,2)", "  1.01"},  // rounded at 15 significant digits first
      {"STR(0.125,5,2)", " 0.13"},
      {"STR(12345,4)", "****"},
      {"STR(-123,3)", "***"},
      {"STR(1000000000*100000000000,25)", "    100000000000000000000"},
      {"STR(codpasta,1)", "*"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Eval(c.expr), c.expected) << c.expr;
}

TEST(Expression, DeletedAndRecordValuesAreRead) {
  FakeRecord record;
  record.deleted = true;
  record.values_[0] = CharacterValue("Bo");                 // shorter than the field: padded
  record.values_[2] = CharacterValue("x");                  // not what the field promises: blank
  record.values_[8] = NumericValue(Jdn(2011, 3, 9) + 0.5);  // datetime as day + fraction
  EXPECT_EQ(Eval("name+'|'", record), "Bo        |");
  EXPECT_EQ(Eval("codpasta", record), "N:0");
  EXPECT_EQ(Eval("TTOC(stamp,1)", record), "20110309120000");
  EXPECT_EQ(Eval(".NOT.DELETED()", record), "L:F");
  EXPECT_EQ(Eval("IIF(DELETED(),'*',' ')+name", record), "*Bo        ");
}

TEST(Expression, StaticTypeAndLength) {
  struct Static {
    const char* expr;
    ValueType type;
    int length;
  };
  const std::vector<Static> cases = {
      {"STR(codpasta,4)", ValueType::Character, 4},
      {"STR(amount)", ValueType::Character, 10},
      {"UPPER(chaveproc)", ValueType::Character, 100},
      {"STR(CODPASTA,4)+STR(CODTRIB,4)+UPPER(CHAVEPROC)", ValueType::Character, 108},
      {"TRIM(name)", ValueType::Character, 10},
      {"name-city", ValueType::Character, 18},
      {"LEFT(name,3)", ValueType::Character, 3},
      {"LEFT(name,30)", ValueType::Character, 10},
      {"RIGHT(name,4)", ValueType::Character, 4},
      {"SUBSTR(chaveproc,5,10)", ValueType::Character, 10},
      {"SUBSTR(name,4)", ValueType::Character, 7},
      {"SUBSTR(name,8,10)", ValueType::Character, 3},
      {"PADL(name,20)", ValueType::Character, 20},
      {"PADR(name,4)", ValueType::Character, 4},
      {"IIF(active,name,'x')", ValueType::Character, 10},
      {"IIF(active,'x',chaveproc)", ValueType::Character, 100},
      {"DTOS(born)", ValueType::Character, 8},
      {"TTOC(stamp,1)", ValueType::Character, 14},
      {"BINTOC(count)", ValueType::Character, 4},
      {"BINTOC(count,2)", ValueType::Character, 2},
      {"'abc'", ValueType::Character, 3},
      {"amount", ValueType::Numeric, 0},
      {"VAL(name)", ValueType::Numeric, 0},
      {"born", ValueType::Date, 0},
      {"born+1", ValueType::Date, 0},
      {"active", ValueType::Logical, 0},
      {"DELETED()", ValueType::Logical, 0},
  };
  for (const auto& c : cases) {
    const Expression e = Expression::Compile(c.expr, kFields);
    EXPECT_EQ(e.type(), c.type) << c.expr;
    EXPECT_EQ(e.length(), c.length) << c.expr;
    if (c.type == ValueType::Character) {
      EXPECT_EQ(e.Evaluate(FakeRecord()).text.size(), static_cast<std::size_t>(c.length)) << c.expr;
    }
  }
}

TEST(Expression, ReportsWhatItReads) {
  const Expression key = Expression::Compile("STR(codtrib)+name+STR(RECNO())+name", kFields);
  EXPECT_EQ(key.fields(), (std::vector<int>{0, 3}));
  EXPECT_TRUE(key.UsesRecNo());
  EXPECT_FALSE(key.UsesDeleted());
  EXPECT_EQ(key.singleField(), -1);
  EXPECT_EQ(key.text(), "STR(codtrib)+name+STR(RECNO())+name");

  const Expression cond = Expression::Compile("!DELETED()", kFields);
  EXPECT_TRUE(cond.UsesDeleted());
  EXPECT_TRUE(cond.fields().empty());

  EXPECT_EQ(Expression::Compile("tab.count", kFields).singleField(), 9);
  EXPECT_EQ(Expression::Compile("(count)", kFields).singleField(), 9);
  EXPECT_EQ(Expression::Compile("count+0", kFields).singleField(), -1);

  // Copies share the compiled tree and stay usable after the original goes.
  Expression copy = key;
  {
    const Expression gone = std::move(copy);
    copy = gone;
  }
  EXPECT_EQ(copy.Evaluate(FakeRecord()).text.size(), 40u);
}

TEST(Expression, RefusesWhatItCannotEvaluateExactly) {
  const std::vector<Case> cases = {
      {"DTOC(born)", "DTOC depende das configurações de data"},
      {"TTOC(stamp)", "TTOC sem o formato 1"},
      {"TTOC(stamp,2)", "o formato de TTOC fora do intervalo"},
      {"MYFUNC(name)", "função MYFUNC não pode ser avaliada"},
      {"CTOD('01/01/2000')", "função CTOD"},
      {"&macro", "substituição de macro"},
      {"name+&x", "substituição de macro"},
      {"m.name", "variável de memória m.NAME"},
      {"other.name", "alias OTHER não é o desta tabela (TAB)"},
      {"nosuch", "campo desconhecido NOSUCH"},
      {"notes", "campo NOTES do tipo M"},
      {"stamp", "resultado data-hora não suportado"},
      {"stamp = stamp", ""},  // allowed: a logical result
      {"name+1", "não é possível somar numérico a caractere"},
      {"born+born", "não é possível somar data a data"},
      {"name*2", "* exige valor numérico"},
      {"-name", "- unário exige valor numérico"},
      {"UPPER(codpasta)", "UPPER exige valor caractere, não numérico"},
      {"DTOS(name)", "DTOS exige valor data"},
      {"codpasta/codtrib", "divisão só por constante"},
      {"codpasta/(2-2)", "divisão só por constante"},
      {"STR(codpasta, codtrib)", "a largura de STR exige número constante"},
      {"LEFT(name, 1.5)", "o tamanho exige número inteiro"},
      {"STR(codpasta,0)", "a largura de STR fora do intervalo"},
      {"STR(codpasta,256)", "fora do intervalo"},
      {"SUBSTR(name,0,1)", "o início de SUBSTR fora do intervalo"},
      {"BINTOC(count,3)", "o tamanho de BINTOC deve ser 1, 2 ou 4"},
      {"BINTOC(count,8)", "fora do intervalo"},
      {"PADL(name,5,'')", "o preenchimento de PADL está vazio"},
      {"PADL(name,5,name)", "o preenchimento de PADL deve ser constante"},
      {"PADL(codpasta,5)", "PADL exige valor caractere"},
      {"LEFT(name,0)", "o resultado é sempre vazio"},
      {"IIF(active, name, 1)", "os ramos de IIF diferem: caractere e numérico"},
      {"IIF(name, 1, 2)", "IIF exige valor lógico"},
      {"active < .F.", "valores lógicos só se comparam por igualdade"},
      {"name = 1", "não é possível comparar caractere com numérico"},
      {"name .AND. active", "AND exige valor lógico"},
      {"STR()", "STR recebe de 1 a 3 argumento(s)"},
      {"RECNO(1)", "RECNO recebe 0 argumento(s)"},
      {"'abc", "texto literal não fechado"},
      {"[abc", "texto literal não fechado"},
      {"{^2000-01-01", "data literal não fechada"},
      {"{01/02/2000}", "data literal sem ^ depende do formato de data da sessão"},
      {"{^2000-02-30}", "data inexistente"},
      {"{^1999-02-29}", "data inexistente"},
      {"{^1900-02-29}", "data inexistente"},
      {"{^2000-01-01 10:00}", "data-hora literal não suportada"},
      {"{^2000-01}", "data literal inválida"},
      {"(name", "fim inesperado"},
      {"", "fim inesperado"},
      {"name name", "símbolo inesperado"},
      {"name)", "símbolo inesperado"},
      {"STR(codpasta,)", "símbolo inesperado"},
      {"codpasta ^ 2", "operador ^ não suportado"},
      {"codpasta ** 2", "operador ** não suportado"},
      {"codpasta % 2", "operador % não suportado"},
      {"'a' $ name", "operador $ não suportado"},
      {"name.", "'.' inesperado"},
      {"tab->", "falta o nome do campo depois de '->'"},
      {"name @ 1", "caractere inesperado"},
  };
  for (const auto& c : cases) {
    try {
      Expression::Compile(c.expr, kFields, "tab");
      EXPECT_STREQ(c.expected.c_str(), "") << c.expr << " compiled";
    } catch (const ExprError& e) {
      EXPECT_THAT(e.what(), testing::HasSubstr(c.expected)) << c.expr;
      EXPECT_THAT(e.what(), testing::HasSubstr("expressão \"" + std::string(c.expr) + "\""));
    }
  }
}

TEST(Expression, RefusesTreesTooDeepToWalk) {
  const std::string nested = std::string(200, '(') + "name" + std::string(200, ')');
  EXPECT_THROW(Expression::Compile(nested, kFields), ExprError);
  std::string chain = "codpasta";
  for (int i = 0; i < 300; ++i)
    chain += "+codpasta";
  EXPECT_THROW(Expression::Compile(chain, kFields), ExprError);
  EXPECT_THROW(Expression::Compile(std::string(300, '-') + "1", kFields), ExprError);
  EXPECT_THROW(Expression::Compile("PADL(name,65535)+PADL(name,65535)", kFields), ExprError);
  // A realistic depth is fine.
  EXPECT_NO_THROW(
      Expression::Compile(std::string(50, '(') + "name" + std::string(50, ')'), kFields));
}

TEST(Expression, NamesTheTextInUtf8) {
  try {
    Expression::Compile("UPPER(\xE9)", kFields);  // é, a byte of the table's code page
    FAIL();
  } catch (const ExprError& e) {
    EXPECT_THAT(e.what(), testing::HasSubstr("UPPER(\xC3\xA9)"));
  }
}

TEST(Expression, CaseMappingOfEveryByteMatchesTheCodec) {
  for (int b = 0; b < 256; ++b) {
    const std::string byte(1, static_cast<char>(b));
    EXPECT_EQ(text::UpperCp1252Bytes(byte),
              text::ToCp1252(text::UpperCp1252(text::FromCp1252(byte))))
        << b;
    EXPECT_EQ(text::LowerCp1252Bytes(byte),
              text::ToCp1252(text::LowerCp1252(text::FromCp1252(byte))))
        << b;
  }
  EXPECT_EQ(Eval("UPPER('\xE7\xE3o \xFF \x9A')"), "\xC7\xC3O \x9F \x8A");  // ção ÿ š
}

}  // namespace
}  // namespace cau::xbase
