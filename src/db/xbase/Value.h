// A typed value of the table engine: what a field holds and what a key or
// FOR expression yields.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace cau::xbase {

enum class ValueType { Character, Numeric, Date, Logical };

struct Value {
  ValueType type = ValueType::Character;
  std::string text;      // Character: raw bytes as stored (Windows-1252), blanks kept
  double number = 0;     // Numeric
  int32_t julian = 0;    // Date: Julian day number; 0 is the empty date
  bool logical = false;  // Logical
};

inline Value CharacterValue(std::string text) {
  Value v;
  v.text = std::move(text);
  return v;
}
inline Value NumericValue(double number) {
  Value v;
  v.type = ValueType::Numeric;
  v.number = number;
  return v;
}
// `milliseconds` of the day for DateTime values.
inline Value DateValue(int32_t julian, double milliseconds = 0) {
  Value v;
  v.type = ValueType::Date;
  v.julian = julian;
  v.number = milliseconds;
  return v;
}
inline Value LogicalValue(bool b) {
  Value v;
  v.type = ValueType::Logical;
  v.logical = b;
  return v;
}

// One field of a table as the expression compiler sees it.
struct FieldDef {
  std::string name;  // upper case, as stored
  char type = 'C';   // C N F D L M I B Y T ...
  int length = 0;
  int decimals = 0;
};

}  // namespace cau::xbase
