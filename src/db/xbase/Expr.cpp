// Compiling an expression and evaluating its tree on a record.
#include "db/xbase/Expr.h"

#include <algorithm>
#include <cmath>

#include "config/Cp1252.h"
#include "db/xbase/ExprNode.h"

namespace cau::xbase {
namespace expr_detail {
namespace {

constexpr double kMsPerDay = 86400000.0;
constexpr int32_t kLastDay = 5373484;  // 9999-12-31

// A field's value in the form its node's static type promises, whatever the
// record hands over.
Value FieldValue(const Node& n, const ExprRecord& record) {
  Value v = record.Field(n.field);
  switch (n.type) {
    case Type::Character:
      if (v.type != ValueType::Character)
        v.text.clear();
      v.text.resize(static_cast<std::size_t>(n.length), ' ');
      return CharacterValue(std::move(v.text));
    case Type::Numeric:
      return NumericValue(v.type == ValueType::Numeric ? v.number : 0);
    case Type::Date:
      return DateValue(v.type == ValueType::Date ? v.julian : 0);
    case Type::Logical:
      return LogicalValue(v.type == ValueType::Logical && v.logical);
    case Type::DateTime:
      if (v.type == ValueType::Numeric && v.number >= 1 && v.number <= kLastDay + 1) {
        const double day = std::floor(v.number);
        const double ms = std::round((v.number - day) * kMsPerDay);
        return ms >= kMsPerDay ? DateValue(static_cast<int32_t>(day) + 1)
                               : DateValue(static_cast<int32_t>(day), ms);
      }
      if (v.type == ValueType::Date && v.julian != 0)
        return DateValue(v.julian,
                         std::isfinite(v.number) ? std::clamp(v.number, 0.0, kMsPerDay - 1) : 0);
      return DateValue(0);
  }
  return {};
}

std::string_view TrimRight(std::string_view s) {
  const std::size_t end = s.find_last_not_of(' ');
  return end == std::string_view::npos ? std::string_view{} : s.substr(0, end + 1);
}
std::string_view TrimLeft(std::string_view s) {
  const std::size_t start = s.find_first_not_of(' ');
  return start == std::string_view::npos ? std::string_view{} : s.substr(start);
}

int CompareBytes(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x != y)
      return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

template <typename T>
int Order(T a, T b) {
  return a < b ? -1 : b < a ? 1 : 0;
}

bool Compare(const Node& n, const ExprRecord& record) {
  const Value a = Eval(*n.args[0], record);
  const Value b = Eval(*n.args[1], record);
  int c = 0;
  switch (n.args[0]->type) {
    case Type::Character:
      if (n.op == Op::ExactEq)
        return a.text == b.text;
      // Only as much of the left side as the right side has (SET EXACT OFF).
      c = CompareBytes(std::string_view(a.text).substr(0, b.text.size()), b.text);
      break;
    case Type::Numeric:
      if (std::isnan(a.number) || std::isnan(b.number))
        return n.op == Op::Ne;
      c = Order(a.number, b.number);
      break;
    case Type::Date:
      c = Order(a.julian, b.julian);
      break;
    case Type::Logical:
      c = Order(a.logical, b.logical);
      break;
    case Type::DateTime:
      c = a.julian != b.julian ? Order(a.julian, b.julian) : Order(a.number, b.number);
      break;
  }
  switch (n.op) {
    case Op::Eq:
    case Op::ExactEq:
      return c == 0;
    case Op::Ne:
      return c != 0;
    case Op::Lt:
      return c < 0;
    case Op::Le:
      return c <= 0;
    case Op::Gt:
      return c > 0;
    default:
      return c >= 0;
  }
}

// Date arithmetic stays inside the years 1 to 9999; the empty date stays empty.
Value DateShift(const Value& d, double days) {
  if (d.julian == 0 || !std::isfinite(days))
    return DateValue(0);
  const double j = d.julian + std::trunc(days);
  return DateValue(j >= 1 && j <= kLastDay ? static_cast<int32_t>(j) : 0);
}

bool IsEmpty(const Node& n, const Value& v) {
  switch (n.type) {
    case Type::Character:
      return v.text.find_first_not_of(" \t\r\n") == std::string::npos;
    case Type::Numeric:
      return v.number == 0;
    case Type::Logical:
      return !v.logical;
    case Type::Date:
    case Type::DateTime:
      return v.julian == 0;
  }
  return true;
}

std::string BinToC(double value, int size) {
  int64_t whole = 0;
  if (std::isfinite(value) && std::fabs(value) < 9.2e18)
    whole = static_cast<int64_t>(std::trunc(value));
  const auto bits = static_cast<uint64_t>(whole) ^ (uint64_t{1} << (8 * size - 1));
  std::string out(static_cast<std::size_t>(size), '\0');
  for (int i = 0; i < size; ++i)
    out[static_cast<std::size_t>(i)] = static_cast<char>((bits >> (8 * (size - 1 - i))) & 0xFF);
  return out;
}

std::string Ttoc(const Value& v) {
  std::string day = Dtos(v.julian);
  if (day.front() == ' ')
    return std::string(14, ' ');
  const int seconds = static_cast<int>(std::clamp(v.number, 0.0, kMsPerDay - 1) / 1000);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d%02d%02d", seconds / 3600, seconds / 60 % 60, seconds % 60);
  return day + buf;
}

std::string Pad(std::string_view s, const Node& n) {
  const auto width = static_cast<std::size_t>(n.p1);
  if (s.size() >= width)
    return std::string(s.substr(0, width));
  const std::size_t room = width - s.size();
  const std::size_t left = n.op == Op::PadL ? room : n.op == Op::PadC ? room / 2 : 0;
  return std::string(left, n.fill) + std::string(s) + std::string(room - left, n.fill);
}

}  // namespace

Value Eval(const Node& n, const ExprRecord& record) {
  const auto arg = [&](std::size_t i) { return Eval(*n.args[i], record); };
  switch (n.op) {
    case Op::Literal:
      return n.literal;
    case Op::Field:
      return FieldValue(n, record);
    case Op::Deleted:
      return LogicalValue(record.Deleted());
    case Op::RecNo:
      return NumericValue(record.RecNo());
    case Op::Concat: {
      Value a = arg(0);
      a.text += arg(1).text;
      return a;
    }
    case Op::TrimConcat: {
      const Value a = arg(0);
      const std::string_view kept = TrimRight(a.text);
      return CharacterValue(std::string(kept) + arg(1).text +
                            std::string(a.text.size() - kept.size(), ' '));
    }
    case Op::Add:
      return NumericValue(arg(0).number + arg(1).number);
    case Op::Sub:
      return NumericValue(arg(0).number - arg(1).number);
    case Op::Mul:
      return NumericValue(arg(0).number * arg(1).number);
    case Op::Div:
      return NumericValue(arg(0).number / arg(1).number);
    case Op::Neg:
      return NumericValue(-arg(0).number);
    case Op::DatePlus:
      return DateShift(arg(0), arg(1).number);
    case Op::DateMinus:
      return DateShift(arg(0), -arg(1).number);
    case Op::DateDiff:
      return NumericValue(static_cast<double>(arg(0).julian) - arg(1).julian);
    case Op::Eq:
    case Op::ExactEq:
    case Op::Ne:
    case Op::Lt:
    case Op::Le:
    case Op::Gt:
    case Op::Ge:
      return LogicalValue(Compare(n, record));
    case Op::And:
      return LogicalValue(arg(0).logical && arg(1).logical);
    case Op::Or:
      return LogicalValue(arg(0).logical || arg(1).logical);
    case Op::Not:
      return LogicalValue(!arg(0).logical);
    case Op::Str:
      return CharacterValue(FormatStr(arg(0).number, n.p1, n.p2));
    case Op::Upper:
      return CharacterValue(text::UpperCp1252Bytes(arg(0).text));
    case Op::Lower:
      return CharacterValue(text::LowerCp1252Bytes(arg(0).text));
    case Op::Dtos:
      return CharacterValue(Dtos(arg(0).julian));
    case Op::Ttoc:
      return CharacterValue(Ttoc(arg(0)));
    case Op::Left:
      return CharacterValue(arg(0).text.substr(0, static_cast<std::size_t>(n.p1)));
    case Op::Right: {
      const std::string s = arg(0).text;
      const auto keep = std::min(s.size(), static_cast<std::size_t>(n.p1));
      return CharacterValue(s.substr(s.size() - keep));
    }
    case Op::Substr: {
      const std::string s = arg(0).text;
      const auto start = static_cast<std::size_t>(n.p1 - 1);
      if (start >= s.size())
        return CharacterValue({});
      return CharacterValue(
          s.substr(start, n.p2 < 0 ? std::string::npos : static_cast<std::size_t>(n.p2)));
    }
    case Op::AllTrim:
      return CharacterValue(std::string(TrimLeft(TrimRight(arg(0).text))));
    case Op::RTrim:
      return CharacterValue(std::string(TrimRight(arg(0).text)));
    case Op::LTrim:
      return CharacterValue(std::string(TrimLeft(arg(0).text)));
    case Op::PadL:
    case Op::PadR:
    case Op::PadC:
      return CharacterValue(Pad(arg(0).text, n));
    case Op::Iif:
      return arg(0).logical ? arg(1) : arg(2);
    case Op::Val:
      return NumericValue(ParseVal(arg(0).text));
    case Op::Empty:
      return LogicalValue(IsEmpty(*n.args[0], arg(0)));
    case Op::BinToC:
      return CharacterValue(BinToC(arg(0).number, n.p1));
  }
  return {};
}

}  // namespace expr_detail

namespace {

void Walk(const expr_detail::Node& n, std::vector<int>& fields, bool& deleted, bool& recno) {
  if (n.op == expr_detail::Op::Field)
    fields.push_back(n.field);
  deleted = deleted || n.op == expr_detail::Op::Deleted;
  recno = recno || n.op == expr_detail::Op::RecNo;
  for (const auto& a : n.args)
    Walk(*a, fields, deleted, recno);
}

}  // namespace

Expression Expression::Compile(std::string_view text, std::span<const FieldDef> fields,
                               std::string_view alias) {
  using expr_detail::Type;
  std::unique_ptr<expr_detail::Node> root = expr_detail::Parse(text, fields, alias);
  const auto fail = [&](const std::string& what) {
    throw ExprError("expressão \"" + text::FromCp1252(text) + "\": " + what);
  };
  if (root->type == Type::DateTime)
    fail("resultado data-hora não suportado");
  if (root->type == Type::Character && root->length == 0)
    fail("o resultado é sempre vazio");

  Expression e;
  e.text_ = std::string(text);
  switch (root->type) {
    case Type::Character:
      e.type_ = ValueType::Character;
      e.length_ = root->length;
      break;
    case Type::Numeric:
      e.type_ = ValueType::Numeric;
      break;
    case Type::Date:
      e.type_ = ValueType::Date;
      break;
    default:
      e.type_ = ValueType::Logical;
      break;
  }
  Walk(*root, e.fields_, e.usesDeleted_, e.usesRecNo_);
  std::sort(e.fields_.begin(), e.fields_.end());
  e.fields_.erase(std::unique(e.fields_.begin(), e.fields_.end()), e.fields_.end());
  e.singleField_ = root->op == expr_detail::Op::Field ? root->field : -1;
  e.root_ = std::move(root);
  return e;
}

Value Expression::Evaluate(const ExprRecord& record) const {
  Value v = expr_detail::Eval(*root_, record);
  if (type_ == ValueType::Character)
    v.text.resize(static_cast<std::size_t>(length_), ' ');
  if (type_ == ValueType::Date)
    v.number = 0;
  return v;
}

}  // namespace cau::xbase
