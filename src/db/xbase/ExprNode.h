// Inside of the expression compiler: the typed tree the parser builds and the
// evaluator walks, and the text conversions both share.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "db/xbase/Value.h"

namespace cau::xbase {
class ExprRecord;
}

namespace cau::xbase::expr_detail {

// Static types; DateTime only ever lives inside an expression (T fields).
enum class Type { Character, Numeric, Date, Logical, DateTime };

enum class Op {
  Literal,
  Field,
  Deleted,
  RecNo,
  Concat,      // c + c
  TrimConcat,  // c - c: the left side's trailing blanks move to the end
  Add,
  Sub,
  Mul,
  Div,  // by a constant other than zero only
  Neg,
  DatePlus,   // d + n (either order, the date first in args)
  DateMinus,  // d - n
  DateDiff,   // d - d
  Eq,         // "=": strings compared over the right operand's length
  ExactEq,    // "=="
  Ne,
  Lt,
  Le,
  Gt,
  Ge,
  And,
  Or,
  Not,
  Str,
  Upper,
  Lower,
  Dtos,
  Ttoc,
  Left,
  Right,
  Substr,
  AllTrim,
  RTrim,
  LTrim,
  PadL,
  PadR,
  PadC,
  Iif,
  Val,
  Empty,
  BinToC,
};

struct Node {
  Op op = Op::Literal;
  Type type = Type::Character;
  int length = 0;   // Character: the static length, an upper bound of every value
  int depth = 1;    // of the subtree, bounds the evaluator's recursion
  Value literal;    // Literal (DateTime never)
  int field = -1;   // Field
  int p1 = 0;       // constant arguments: STR len, LEFT/RIGHT/PAD n, SUBSTR start, BINTOC size
  int p2 = 0;       // STR dec, SUBSTR length (-1 = to the end)
  char fill = ' ';  // PADL/PADR/PADC
  std::vector<std::unique_ptr<Node>> args;
};

// Parses and type-checks; throws ExprError naming `text`.
std::unique_ptr<Node> Parse(std::string_view text, std::span<const FieldDef> fields,
                            std::string_view alias);

// Value of a node; DateTime values are Date with number = milliseconds.
Value Eval(const Node& node, const ExprRecord& record);

// STR(value, len, dec): right-aligned in len columns, rounded half away from
// zero after rounding to 15 significant digits; fewer decimals when they do
// not fit, len asterisks when the integer part does not.
std::string FormatStr(double value, int len, int dec);
// VAL: leading blanks, an optional sign, digits and one decimal point.
double ParseVal(std::string_view text);
// Julian day number of a proleptic Gregorian date, and back to "YYYYMMDD"
// (8 blanks for the empty date 0 and for days outside the years 1 to 9999).
int32_t JulianDay(int year, int month, int day);
std::string Dtos(int32_t julian);

}  // namespace cau::xbase::expr_detail
