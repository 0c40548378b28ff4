// Key and FOR expressions of index tags: compiled once against a table's
// fields, then evaluated on each record.
//
// Field values the record must supply (ExprRecord::Field):
//   C        Character, the raw padded bytes of the field
//   N F      Numeric (blank -> 0)
//   I B Y    Numeric (Y: the value, i.e. the stored integer / 10000)
//   D        Date, julian = Julian day number, 0 = empty
//   L        Logical
//   T        Date with julian = day number (0 = empty) and number = milliseconds
//            since midnight; a Numeric value "day + ms / 86400000" is accepted too
// Fields of other types (M, G, W, V, Q, ...) are refused by Compile.
//
// The language: field names, "x" 'x' [x], numbers, .T. .F., {^yyyy-mm-dd} and
// {}; + and - (strings: concatenation and trim-concatenation; numbers; date and
// days), * and / (by a constant other than zero), unary -, the comparisons
// = == <> # != < <= > >=, .AND. .OR. .NOT. ! AND OR NOT, parentheses, and STR
// UPPER LOWER DTOS TTOC(t,1) LEFT RIGHT SUBSTR ALLTRIM TRIM RTRIM LTRIM PADL
// PADR PADC IIF VAL EMPTY BINTOC DELETED RECNO (any case, or their first four
// letters and more). Widths, starts and sizes must be constants.
//
// String comparison "=" (and "<>", "#", "!=", "<", ...) works as with the host's
// SET EXACT OFF: the left operand is compared over the length of the right one
// only, so "abc" = "ab" is true and "ab" = "abc" is false; "==" needs equal
// bytes and equal lengths. Bytes compare unsigned (machine collation).
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "config/Errors.h"
#include "db/xbase/Value.h"

namespace cau::xbase {

// One record as an expression reads it; implemented by the table.
class ExprRecord {
 public:
  virtual ~ExprRecord() = default;
  virtual Value Field(int index) const = 0;  // index into the FieldDef span
  virtual bool Deleted() const = 0;
  virtual uint32_t RecNo() const = 0;
};

// An expression that cannot be evaluated exactly; the message names it.
class ExprError : public cau::Error {
 public:
  using Error::Error;
};

namespace expr_detail {
struct Node;
}

class Expression {
 public:
  // Parses and type-checks `text` (bytes of the table's code page, as the
  // index stores them) against the table's fields. Field names are
  // case-insensitive; a name longer than 10 characters matches the field that
  // holds its first 10 (tables store names cut to 10). A field may carry an
  // alias prefix "alias.name" or "alias->name": when `alias` is given it must
  // match (case-insensitively), when empty any alias is accepted; "m." is a
  // memory variable unless the table's alias is M. Messages are UTF-8.
  // Throws ExprError for anything it cannot evaluate exactly: unknown or
  // session-dependent functions (DTOC, TTOC without 1), user functions, macros,
  // memory variables, type errors, non-constant length arguments, a DateTime
  // or empty-length result.
  static Expression Compile(std::string_view text, std::span<const FieldDef> fields,
                            std::string_view alias = {});

  ValueType type() const { return type_; }
  // Character results: the static length, i.e. the key length a new tag gets.
  // 0 for other types.
  int length() const { return length_; }
  const std::string& text() const { return text_; }

  // The value on one record. A Character result is padded with blanks to
  // length(). Never throws for records that supply the values described above.
  Value Evaluate(const ExprRecord& record) const;

  bool UsesDeleted() const { return usesDeleted_; }
  bool UsesRecNo() const { return usesRecNo_; }
  // Indexes of the fields the expression reads, ascending, no repeats.
  const std::vector<int>& fields() const { return fields_; }
  // The field index when the whole expression is one bare field, else -1
  // (an I field alone gives a 4-byte key; nullable fields get a marker byte).
  int singleField() const { return singleField_; }

 private:
  Expression() = default;

  std::shared_ptr<const expr_detail::Node> root_;  // immutable, shared by copies
  std::string text_;
  ValueType type_ = ValueType::Character;
  int length_ = 0;
  bool usesDeleted_ = false;
  bool usesRecNo_ = false;
  std::vector<int> fields_;
  int singleField_ = -1;
};

}  // namespace cau::xbase
