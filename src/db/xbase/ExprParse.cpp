// Lexer and parser of key and FOR expressions: text to a typed tree whose
// Character nodes know their static length.
#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <optional>
#include <string>
#include <utility>

#include "config/Cp1252.h"
#include "db/xbase/Expr.h"
#include "db/xbase/ExprNode.h"

namespace cau::xbase::expr_detail {
namespace {

constexpr int kMaxDepth = 128;     // nesting and tree depth
constexpr int kMaxLength = 65535;  // of any character value

enum class Tok {
  End,
  Number,
  String,
  Date,
  Logical,
  Name,
  LParen,
  RParen,
  Comma,
  Plus,
  Minus,
  Star,
  Slash,
  Eq,
  ExactEq,
  Ne,
  Lt,
  Le,
  Gt,
  Ge,
  And,
  Or,
  Not,
  Unsupported,  // an operator of the language this engine does not evaluate
};

struct Token {
  Tok kind = Tok::End;
  std::size_t pos = 0;  // offset in the text
  std::string text;     // Name: upper case; String: the bytes; Unsupported: the operator
  std::string alias;    // Name: the alias prefix, upper case
  bool qualified = false;
  double number = 0;
  int32_t julian = 0;
  bool logical = false;
};

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsIdentStart(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
bool IsIdentChar(char c) {
  return IsIdentStart(c) || IsDigit(c);
}
bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

const char* TypeName(Type t) {
  switch (t) {
    case Type::Character:
      return "caractere";
    case Type::Numeric:
      return "numérico";
    case Type::Date:
      return "data";
    case Type::Logical:
      return "lógico";
    case Type::DateTime:
      return "data-hora";
  }
  return "?";
}

// Raises ExprError naming the expression and the column of the fault.
class Failer {
 public:
  explicit Failer(std::string_view text) : text_(text) {}
  [[noreturn]] void operator()(std::size_t pos, const std::string& what) const {
    throw ExprError("expressão \"" + text::FromCp1252(text_) + "\": " + what + " (coluna " +
                    std::to_string(pos + 1) + ")");
  }

 private:
  std::string_view text_;
};

class Lexer {
 public:
  Lexer(std::string_view text, const Failer& fail) : s_(text), fail_(fail) {}

  std::vector<Token> Run() {
    std::vector<Token> out;
    while (true) {
      while (i_ < s_.size() && IsSpace(s_[i_]))
        ++i_;
      Token t;
      t.pos = i_;
      if (i_ >= s_.size()) {
        out.push_back(t);
        return out;
      }
      Next(t);
      out.push_back(std::move(t));
    }
  }

 private:
  // ".T.", ".AND." ... at `pos`: the token kind and its length.
  std::optional<std::pair<Token, std::size_t>> Dotted(std::size_t pos) const {
    if (pos >= s_.size() || s_[pos] != '.')
      return std::nullopt;
    std::size_t j = pos + 1;
    while (j < s_.size() && IsIdentStart(s_[j]))
      ++j;
    if (j >= s_.size() || s_[j] != '.' || j == pos + 1)
      return std::nullopt;
    const std::string word = text::UpperAscii(s_.substr(pos + 1, j - pos - 1));
    Token t;
    t.pos = pos;
    if (word == "T" || word == "Y" || word == "F" || word == "N") {
      t.kind = Tok::Logical;
      t.logical = word == "T" || word == "Y";
    } else if (word == "AND") {
      t.kind = Tok::And;
    } else if (word == "OR") {
      t.kind = Tok::Or;
    } else if (word == "NOT") {
      t.kind = Tok::Not;
    } else {
      return std::nullopt;
    }
    return std::make_pair(t, j + 1 - pos);
  }

  std::string Ident() {
    const std::size_t start = i_;
    while (i_ < s_.size() && IsIdentChar(s_[i_]))
      ++i_;
    return text::UpperAscii(s_.substr(start, i_ - start));
  }

  void Next(Token& t) {
    const char c = s_[i_];
    const char n = i_ + 1 < s_.size() ? s_[i_ + 1] : '\0';
    if (IsDigit(c) || (c == '.' && IsDigit(n))) {
      Number(t);
    } else if (c == '.') {
      const auto d = Dotted(i_);
      if (!d)
        fail_(i_, "'.' inesperado");
      t = d->first;
      i_ += d->second;
    } else if (c == '"' || c == '\'' || c == '[') {
      const char close = c == '[' ? ']' : c;
      const std::size_t end = s_.find(close, i_ + 1);
      if (end == std::string_view::npos)
        fail_(i_, "texto literal não fechado");
      t.kind = Tok::String;
      t.text = std::string(s_.substr(i_ + 1, end - i_ - 1));
      i_ = end + 1;
    } else if (c == '{') {
      DateLiteral(t);
    } else if (IsIdentStart(c)) {
      Name(t);
    } else {
      Operator(t, c, n);
    }
  }

  void Number(Token& t) {
    std::size_t j = i_;
    while (j < s_.size() && IsDigit(s_[j]))
      ++j;
    if (j < s_.size() && s_[j] == '.' && !Dotted(j)) {
      ++j;
      while (j < s_.size() && IsDigit(s_[j]))
        ++j;
    }
    double v = 0;
    const auto r = std::from_chars(s_.data() + i_, s_.data() + j, v);
    if (r.ec != std::errc() || r.ptr != s_.data() + j || !std::isfinite(v))
      fail_(i_, "número inválido");
    t.kind = Tok::Number;
    t.number = v;
    i_ = j;
  }

  // {} is the empty date, {^yyyy-mm-dd} a date; other forms depend on the
  // session's date settings.
  void DateLiteral(Token& t) {
    const std::size_t end = s_.find('}', i_);
    if (end == std::string_view::npos)
      fail_(i_, "data literal não fechada");
    std::string_view body = s_.substr(i_ + 1, end - i_ - 1);
    while (!body.empty() && IsSpace(body.front()))
      body.remove_prefix(1);
    while (!body.empty() && IsSpace(body.back()))
      body.remove_suffix(1);
    t.kind = Tok::Date;
    if (!body.empty()) {
      if (body.front() != '^')
        fail_(i_, "data literal sem ^ depende do formato de data da sessão");
      int part[3] = {0, 0, 0};
      std::size_t k = 1;
      for (int p = 0; p < 3; ++p) {
        if (p > 0) {
          if (k >= body.size() || (body[k] != '-' && body[k] != '/' && body[k] != '.'))
            fail_(i_, "data literal inválida");
          ++k;
        }
        const std::size_t start = k;
        while (k < body.size() && IsDigit(body[k]) && k - start < 4)
          part[p] = part[p] * 10 + (body[k++] - '0');
        if (k == start)
          fail_(i_, "data literal inválida");
      }
      if (k != body.size())
        fail_(i_, "data-hora literal não suportada");
      static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
      const int y = part[0], m = part[1], d = part[2];
      const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
      if (y < 1 || m < 1 || m > 12 || d < 1 || d > kDays[m - 1] || (m == 2 && d == 29 && !leap))
        fail_(i_, "data inexistente");
      t.julian = JulianDay(y, m, d);
    }
    i_ = end + 1;
  }

  // A name, possibly "alias.name" or "alias->name"; AND, OR and NOT are operators.
  void Name(Token& t) {
    t.kind = Tok::Name;
    t.text = Ident();
    std::size_t k = i_;
    if (k + 1 < s_.size() && s_[k] == '.' && IsIdentStart(s_[k + 1]) && !Dotted(k)) {
      i_ = k + 1;
    } else {
      while (k < s_.size() && IsSpace(s_[k]))
        ++k;
      if (s_.substr(k, 2) != "->") {
        if (t.text == "AND" || t.text == "OR" || t.text == "NOT")
          t.kind = t.text == "AND" ? Tok::And : t.text == "OR" ? Tok::Or : Tok::Not;
        return;
      }
      k += 2;
      while (k < s_.size() && IsSpace(s_[k]))
        ++k;
      if (k >= s_.size() || !IsIdentStart(s_[k]))
        fail_(k, "falta o nome do campo depois de '->'");
      i_ = k;
    }
    t.qualified = true;
    t.alias = std::move(t.text);
    t.text = Ident();
  }

  void Operator(Token& t, char c, char n) {
    std::size_t len = 1;
    switch (c) {
      case '(':
        t.kind = Tok::LParen;
        break;
      case ')':
        t.kind = Tok::RParen;
        break;
      case ',':
        t.kind = Tok::Comma;
        break;
      case '+':
        t.kind = Tok::Plus;
        break;
      case '-':
        t.kind = Tok::Minus;
        break;
      case '*':
        t.kind = n == '*' ? Tok::Unsupported : Tok::Star;
        len = n == '*' ? 2 : 1;
        break;
      case '/':
        t.kind = Tok::Slash;
        break;
      case '=':
        t.kind = n == '=' ? Tok::ExactEq : Tok::Eq;
        len = n == '=' ? 2 : 1;
        break;
      case '<':
        t.kind = n == '=' ? Tok::Le : n == '>' ? Tok::Ne : Tok::Lt;
        len = (n == '=' || n == '>') ? 2 : 1;
        break;
      case '>':
        t.kind = n == '=' ? Tok::Ge : Tok::Gt;
        len = n == '=' ? 2 : 1;
        break;
      case '#':
        t.kind = Tok::Ne;
        break;
      case '!':
        t.kind = n == '=' ? Tok::Ne : Tok::Not;
        len = n == '=' ? 2 : 1;
        break;
      case '%':
      case '^':
      case '$':
        t.kind = Tok::Unsupported;
        break;
      case '&':
        fail_(i_, "substituição de macro (&) não pode ser avaliada");
      default:
        fail_(i_, "caractere inesperado");
    }
    t.text = std::string(s_.substr(i_, len));
    i_ += len;
  }

  std::string_view s_;
  const Failer& fail_;
  std::size_t i_ = 0;
};

struct FuncInfo {
  const char* name;
  Op op;
  int minArgs, maxArgs;
};

constexpr FuncInfo kFuncs[] = {
    {"STR", Op::Str, 1, 3},       {"UPPER", Op::Upper, 1, 1},     {"LOWER", Op::Lower, 1, 1},
    {"DTOS", Op::Dtos, 1, 1},     {"TTOC", Op::Ttoc, 1, 2},       {"LEFT", Op::Left, 2, 2},
    {"RIGHT", Op::Right, 2, 2},   {"SUBSTR", Op::Substr, 2, 3},   {"ALLTRIM", Op::AllTrim, 1, 1},
    {"TRIM", Op::RTrim, 1, 1},    {"RTRIM", Op::RTrim, 1, 1},     {"LTRIM", Op::LTrim, 1, 1},
    {"PADL", Op::PadL, 2, 3},     {"PADR", Op::PadR, 2, 3},       {"PADC", Op::PadC, 2, 3},
    {"IIF", Op::Iif, 3, 3},       {"VAL", Op::Val, 1, 1},         {"EMPTY", Op::Empty, 1, 1},
    {"BINTOC", Op::BinToC, 1, 2}, {"DELETED", Op::Deleted, 0, 0}, {"RECNO", Op::RecNo, 0, 0},
};

// The function a name calls: the full name, or (as the host allows) its
// first four letters or more.
const FuncInfo* FindFunc(const std::string& name) {
  for (const auto& f : kFuncs) {
    if (name == f.name)
      return &f;
  }
  if (name.size() < 4)
    return nullptr;
  for (const auto& f : kFuncs) {
    if (std::string_view(f.name).starts_with(name))
      return &f;
  }
  return nullptr;
}

bool IsConstant(const Node& n) {
  if (n.op == Op::Field || n.op == Op::Deleted || n.op == Op::RecNo)
    return false;
  for (const auto& a : n.args) {
    if (!IsConstant(*a))
      return false;
  }
  return true;
}

// Stands in for a record while constant arguments are folded; never read.
class NoRecord : public ExprRecord {
 public:
  Value Field(int) const override { return {}; }
  bool Deleted() const override { return false; }
  uint32_t RecNo() const override { return 0; }
};

using NodePtr = std::unique_ptr<Node>;

class Parser {
 public:
  Parser(std::string_view text, std::span<const FieldDef> fields, std::string_view alias)
      : fail_(text), fields_(fields), alias_(text::UpperAscii(alias)) {
    toks_ = Lexer(text, fail_).Run();
  }

  NodePtr Run() {
    NodePtr n = ParseOr();
    if (Peek().kind != Tok::End)
      Unexpected();
    return n;
  }

 private:
  const Token& Peek() const { return toks_[at_]; }
  const Token& Take() { return toks_[at_ < toks_.size() - 1 ? at_++ : at_]; }
  bool Accept(Tok k) {
    if (Peek().kind != k)
      return false;
    Take();
    return true;
  }
  [[noreturn]] void Unexpected() const {
    const Token& t = Peek();
    if (t.kind == Tok::End)
      fail_(t.pos, "fim inesperado");
    if (t.kind == Tok::Unsupported)
      fail_(t.pos, "operador " + t.text + " não suportado");
    fail_(t.pos, "símbolo inesperado");
  }

  // Guards the recursion of nested parentheses, calls and unary operators.
  struct Nest {
    explicit Nest(Parser& p, std::size_t pos) : p_(p) {
      if (++p_.nesting_ > kMaxDepth)
        p_.fail_(pos, "aninhamento profundo demais");
    }
    ~Nest() { --p_.nesting_; }
    Parser& p_;
  };

  NodePtr Make(Op op, Type type, int length, std::vector<NodePtr> args, std::size_t pos) {
    auto n = std::make_unique<Node>();
    n->op = op;
    n->type = type;
    n->length = length;
    for (const auto& a : args)
      n->depth = std::max(n->depth, a->depth + 1);
    if (n->depth > kMaxDepth)
      fail_(pos, "aninhamento profundo demais");
    if (type == Type::Character && length > kMaxLength)
      fail_(pos, "valor de caracteres longo demais");
    n->args = std::move(args);
    return n;
  }
  NodePtr Make(Op op, Type type, int length, NodePtr a, std::size_t pos) {
    std::vector<NodePtr> args;
    args.push_back(std::move(a));
    return Make(op, type, length, std::move(args), pos);
  }
  NodePtr Make(Op op, Type type, int length, NodePtr a, NodePtr b, std::size_t pos) {
    std::vector<NodePtr> args;
    args.push_back(std::move(a));
    args.push_back(std::move(b));
    return Make(op, type, length, std::move(args), pos);
  }

  void Require(const Node& n, Type t, std::size_t pos, const char* where) const {
    if (n.type != t)
      fail_(pos, std::string(where) + " exige valor " + TypeName(t) + ", não " + TypeName(n.type));
  }

  // A whole number the expression fixes, e.g. the width of STR or LEFT.
  int ConstInt(const Node& n, std::size_t pos, const char* where, int lo, int hi) const {
    if (n.type != Type::Numeric || !IsConstant(n))
      fail_(pos, std::string(where) + " exige número constante");
    const double v = Eval(n, NoRecord()).number;
    if (!std::isfinite(v) || v != std::trunc(v))
      fail_(pos, std::string(where) + " exige número inteiro");
    if (v < lo || v > hi)
      fail_(pos, std::string(where) + " fora do intervalo");
    return static_cast<int>(v);
  }

  NodePtr ParseOr() {
    NodePtr left = ParseAnd();
    while (Peek().kind == Tok::Or) {
      const std::size_t pos = Take().pos;
      NodePtr right = ParseAnd();
      Require(*left, Type::Logical, pos, "OR");
      Require(*right, Type::Logical, pos, "OR");
      left = Make(Op::Or, Type::Logical, 0, std::move(left), std::move(right), pos);
    }
    return left;
  }

  NodePtr ParseAnd() {
    NodePtr left = ParseNot();
    while (Peek().kind == Tok::And) {
      const std::size_t pos = Take().pos;
      NodePtr right = ParseNot();
      Require(*left, Type::Logical, pos, "AND");
      Require(*right, Type::Logical, pos, "AND");
      left = Make(Op::And, Type::Logical, 0, std::move(left), std::move(right), pos);
    }
    return left;
  }

  NodePtr ParseNot() {
    if (Peek().kind != Tok::Not)
      return ParseCompare();
    const std::size_t pos = Take().pos;
    Nest nest(*this, pos);
    NodePtr operand = ParseNot();
    Require(*operand, Type::Logical, pos, "NOT");
    return Make(Op::Not, Type::Logical, 0, std::move(operand), pos);
  }

  static std::optional<Op> CompareOp(Tok k) {
    switch (k) {
      case Tok::Eq:
        return Op::Eq;
      case Tok::ExactEq:
        return Op::ExactEq;
      case Tok::Ne:
        return Op::Ne;
      case Tok::Lt:
        return Op::Lt;
      case Tok::Le:
        return Op::Le;
      case Tok::Gt:
        return Op::Gt;
      case Tok::Ge:
        return Op::Ge;
      default:
        return std::nullopt;
    }
  }

  NodePtr ParseCompare() {
    NodePtr left = ParseAdd();
    while (const auto op = CompareOp(Peek().kind)) {
      const std::size_t pos = Take().pos;
      NodePtr right = ParseAdd();
      if (left->type != right->type)
        fail_(pos, std::string("não é possível comparar ") + TypeName(left->type) + " com " +
                       TypeName(right->type));
      if (left->type == Type::Logical && *op != Op::Eq && *op != Op::ExactEq && *op != Op::Ne)
        fail_(pos, "valores lógicos só se comparam por igualdade");
      left = Make(*op, Type::Logical, 0, std::move(left), std::move(right), pos);
    }
    return left;
  }

  NodePtr ParseAdd() {
    NodePtr left = ParseMul();
    while (Peek().kind == Tok::Plus || Peek().kind == Tok::Minus) {
      const bool plus = Peek().kind == Tok::Plus;
      const std::size_t pos = Take().pos;
      NodePtr right = ParseMul();
      const Type a = left->type, b = right->type;
      if (a == Type::Character && b == Type::Character) {
        const int len = left->length + right->length;
        left = Make(plus ? Op::Concat : Op::TrimConcat, a, len, std::move(left), std::move(right),
                    pos);
      } else if (a == Type::Numeric && b == Type::Numeric) {
        left = Make(plus ? Op::Add : Op::Sub, a, 0, std::move(left), std::move(right), pos);
      } else if (a == Type::Date && b == Type::Numeric) {
        left =
            Make(plus ? Op::DatePlus : Op::DateMinus, a, 0, std::move(left), std::move(right), pos);
      } else if (plus && a == Type::Numeric && b == Type::Date) {
        left = Make(Op::DatePlus, b, 0, std::move(right), std::move(left), pos);
      } else if (!plus && a == Type::Date && b == Type::Date) {
        left = Make(Op::DateDiff, Type::Numeric, 0, std::move(left), std::move(right), pos);
      } else {
        fail_(pos, std::string("não é possível ") + (plus ? "somar " : "subtrair ") + TypeName(b) +
                       (plus ? " a " : " de ") + TypeName(a));
      }
    }
    return left;
  }

  NodePtr ParseMul() {
    NodePtr left = ParseUnary();
    while (Peek().kind == Tok::Star || Peek().kind == Tok::Slash) {
      const bool times = Peek().kind == Tok::Star;
      const std::size_t pos = Take().pos;
      NodePtr right = ParseUnary();
      Require(*left, Type::Numeric, pos, times ? "*" : "/");
      Require(*right, Type::Numeric, pos, times ? "*" : "/");
      if (!times && (!IsConstant(*right) || Eval(*right, NoRecord()).number == 0))
        fail_(pos, "divisão só por constante diferente de zero");
      left =
          Make(times ? Op::Mul : Op::Div, Type::Numeric, 0, std::move(left), std::move(right), pos);
    }
    return left;
  }

  NodePtr ParseUnary() {
    if (Peek().kind != Tok::Minus && Peek().kind != Tok::Plus)
      return ParsePrimary();
    const bool minus = Peek().kind == Tok::Minus;
    const std::size_t pos = Take().pos;
    Nest nest(*this, pos);
    NodePtr operand = ParseUnary();
    Require(*operand, Type::Numeric, pos, minus ? "- unário" : "+ unário");
    return minus ? Make(Op::Neg, Type::Numeric, 0, std::move(operand), pos) : std::move(operand);
  }

  NodePtr Literal(Type type, Value v, std::size_t pos) {
    const int len = type == Type::Character
                        ? static_cast<int>(std::min<std::size_t>(v.text.size(), kMaxLength + 1))
                        : 0;
    NodePtr n = Make(Op::Literal, type, len, std::vector<NodePtr>{}, pos);
    n->literal = std::move(v);
    return n;
  }

  NodePtr ParsePrimary() {
    const Token& t = Peek();
    const std::size_t pos = t.pos;
    Value v;
    switch (t.kind) {
      case Tok::Number:
        v.type = ValueType::Numeric;
        v.number = Take().number;
        return Literal(Type::Numeric, std::move(v), pos);
      case Tok::String:
        v.type = ValueType::Character;
        v.text = Take().text;
        return Literal(Type::Character, std::move(v), pos);
      case Tok::Date:
        v.type = ValueType::Date;
        v.julian = Take().julian;
        return Literal(Type::Date, std::move(v), pos);
      case Tok::Logical:
        v.type = ValueType::Logical;
        v.logical = Take().logical;
        return Literal(Type::Logical, std::move(v), pos);
      case Tok::LParen: {
        Take();
        Nest nest(*this, pos);
        NodePtr inner = ParseOr();
        if (!Accept(Tok::RParen))
          Unexpected();
        return inner;
      }
      case Tok::Name: {
        const Token name = Take();
        if (!name.qualified && Peek().kind == Tok::LParen)
          return Call(name);
        return Field(name);
      }
      default:
        Unexpected();
    }
  }

  NodePtr Field(const Token& name) {
    if (name.qualified) {
      if (name.alias == "M" && alias_ != "M")
        fail_(name.pos, "variável de memória m." + name.text + " não pode ser avaliada");
      if (!alias_.empty() && name.alias != alias_)
        fail_(name.pos, "alias " + name.alias + " não é o desta tabela (" + alias_ + ")");
    }
    int index = -1;
    for (std::size_t i = 0; i < fields_.size() && index < 0; ++i) {
      if (text::UpperAscii(fields_[i].name) == name.text)
        index = static_cast<int>(i);
    }
    // Tables store names cut to 10 characters; expressions may use the long name.
    for (std::size_t i = 0; i < fields_.size() && index < 0 && name.text.size() > 10; ++i) {
      if (text::UpperAscii(fields_[i].name) == name.text.substr(0, 10))
        index = static_cast<int>(i);
    }
    if (index < 0)
      fail_(name.pos, "campo desconhecido " + name.text);
    const FieldDef& f = fields_[static_cast<std::size_t>(index)];
    Type type;
    int length = 0;
    switch (f.type) {
      case 'C':
        type = Type::Character;
        length = std::max(0, f.length);
        break;
      case 'N':
      case 'F':
      case 'I':
      case 'B':
      case 'Y':
        type = Type::Numeric;
        break;
      case 'D':
        type = Type::Date;
        break;
      case 'L':
        type = Type::Logical;
        break;
      case 'T':
        type = Type::DateTime;
        break;
      default:
        fail_(name.pos, "campo " + name.text + " do tipo " + std::string(1, f.type) +
                            " não pode ser usado em expressão");
    }
    NodePtr n = Make(Op::Field, type, length, std::vector<NodePtr>{}, name.pos);
    n->field = index;
    return n;
  }

  NodePtr Call(const Token& name) {
    const std::size_t pos = name.pos;
    const FuncInfo* f = FindFunc(name.text);
    if (!f) {
      if (name.text == "DTOC")
        fail_(pos, "DTOC depende das configurações de data da sessão");
      fail_(pos, "função " + name.text + " não pode ser avaliada");
    }
    Take();  // (
    std::vector<NodePtr> args;
    std::vector<std::size_t> at;
    {
      Nest nest(*this, pos);
      if (!Accept(Tok::RParen)) {
        do {
          at.push_back(Peek().pos);
          args.push_back(ParseOr());
        } while (Accept(Tok::Comma));
        if (!Accept(Tok::RParen))
          Unexpected();
      }
    }
    const int count = static_cast<int>(args.size());
    if (count < f->minArgs || count > f->maxArgs)
      fail_(pos, std::string(f->name) + " recebe " +
                     std::string(f->maxArgs > f->minArgs ? "de " : "") +
                     std::to_string(f->minArgs) +
                     (f->maxArgs > f->minArgs ? " a " + std::to_string(f->maxArgs) : "") +
                     " argumento(s)");
    return Function(*f, std::move(args), at, pos);
  }

  NodePtr Function(const FuncInfo& f, std::vector<NodePtr> args, const std::vector<std::size_t>& at,
                   std::size_t pos) {
    const char* fn = f.name;
    const auto arg = [&](std::size_t i) -> Node& { return *args[i]; };
    const auto keepFirst = [&](Type type, int length) {
      args.resize(1);
      return Make(f.op, type, length, std::move(args), pos);
    };
    switch (f.op) {
      case Op::Deleted:
      case Op::RecNo:
        return Make(f.op, f.op == Op::Deleted ? Type::Logical : Type::Numeric, 0,
                    std::vector<NodePtr>{}, pos);
      case Op::Str: {
        Require(arg(0), Type::Numeric, at[0], fn);
        const int len = args.size() > 1 ? ConstInt(arg(1), at[1], "a largura de STR", 1, 255) : 10;
        const int dec = args.size() > 2 ? ConstInt(arg(2), at[2], "as decimais de STR", 0, 255) : 0;
        NodePtr n = keepFirst(Type::Character, len);
        n->p1 = len;
        n->p2 = std::min(dec, len);
        return n;
      }
      case Op::Upper:
      case Op::Lower:
      case Op::AllTrim:
      case Op::RTrim:
      case Op::LTrim:
        Require(arg(0), Type::Character, at[0], fn);
        return keepFirst(Type::Character, arg(0).length);
      case Op::Val:
        Require(arg(0), Type::Character, at[0], fn);
        return keepFirst(Type::Numeric, 0);
      case Op::Empty:
        return keepFirst(Type::Logical, 0);
      case Op::Dtos:
      case Op::Ttoc: {
        if (arg(0).type != Type::Date && arg(0).type != Type::DateTime)
          fail_(at[0], std::string(fn) + " exige valor data ou data-hora");
        if (f.op == Op::Ttoc &&
            (args.size() < 2 || ConstInt(arg(1), at[1], "o formato de TTOC", 1, 1) != 1))
          fail_(pos, "TTOC sem o formato 1 depende das configurações da sessão");
        return keepFirst(Type::Character, f.op == Op::Dtos ? 8 : 14);
      }
      case Op::Left:
      case Op::Right: {
        Require(arg(0), Type::Character, at[0], fn);
        const int n = ConstInt(arg(1), at[1], "o tamanho", INT_MIN / 2, INT_MAX / 2);
        const int len = std::clamp(n, 0, arg(0).length);
        NodePtr node = keepFirst(Type::Character, len);
        node->p1 = len;
        return node;
      }
      case Op::Substr: {
        Require(arg(0), Type::Character, at[0], fn);
        const int whole = arg(0).length;
        const int start = ConstInt(arg(1), at[1], "o início de SUBSTR", 1, INT_MAX / 2);
        const int rest = std::max(0, whole - start + 1);
        int len = rest, count = -1;
        if (args.size() > 2) {
          count = ConstInt(arg(2), at[2], "o tamanho de SUBSTR", 0, INT_MAX / 2);
          len = std::min(count, rest);
        }
        NodePtr node = keepFirst(Type::Character, len);
        node->p1 = std::min(start, whole + 1);
        node->p2 = count < 0 ? -1 : len;
        return node;
      }
      case Op::PadL:
      case Op::PadR:
      case Op::PadC: {
        Require(arg(0), Type::Character, at[0], fn);
        const int n = ConstInt(arg(1), at[1], "a largura", INT_MIN / 2, kMaxLength);
        char fill = ' ';
        if (args.size() > 2) {
          Require(arg(2), Type::Character, at[2], fn);
          if (!IsConstant(arg(2)))
            fail_(at[2], "o preenchimento de " + std::string(fn) + " deve ser constante");
          const std::string s = Eval(arg(2), NoRecord()).text;
          if (s.empty())
            fail_(at[2], "o preenchimento de " + std::string(fn) + " está vazio");
          fill = s[0];
        }
        NodePtr node = keepFirst(Type::Character, std::max(0, n));
        node->p1 = std::max(0, n);
        node->fill = fill;
        return node;
      }
      case Op::Iif: {
        Require(arg(0), Type::Logical, at[0], fn);
        if (arg(1).type != arg(2).type)
          fail_(at[2], std::string("os ramos de IIF diferem: ") + TypeName(arg(1).type) + " e " +
                           TypeName(arg(2).type));
        const Type type = arg(1).type;
        const int len = std::max(arg(1).length, arg(2).length);
        return Make(Op::Iif, type, len, std::move(args), pos);
      }
      case Op::BinToC: {
        Require(arg(0), Type::Numeric, at[0], fn);
        const int size = args.size() > 1 ? ConstInt(arg(1), at[1], "o tamanho de BINTOC", 1, 4) : 4;
        if (size == 3)
          fail_(at[1], "o tamanho de BINTOC deve ser 1, 2 ou 4");
        NodePtr node = keepFirst(Type::Character, size);
        node->p1 = size;
        return node;
      }
      default:
        fail_(pos, "função não pode ser avaliada");
    }
  }

  Failer fail_;
  std::span<const FieldDef> fields_;
  std::string alias_;
  std::vector<Token> toks_;
  std::size_t at_ = 0;
  int nesting_ = 0;
};

}  // namespace

std::unique_ptr<Node> Parse(std::string_view text, std::span<const FieldDef> fields,
                            std::string_view alias) {
  return Parser(text, fields, alias).Run();
}

}  // namespace cau::xbase::expr_detail
