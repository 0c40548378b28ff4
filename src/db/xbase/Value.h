// A typed value of the table engine: what a field holds and what a key or
// FOR expression yields.
#pragma once

#include <cstdint>
#include <string>

namespace cau::xbase {

enum class ValueType { Character, Numeric, Date, Logical };

struct Value {
  ValueType type = ValueType::Character;
  std::string text;     // Character: raw bytes as stored (Windows-1252), blanks kept
  double number = 0;    // Numeric
  int32_t julian = 0;   // Date: Julian day number; 0 is the empty date
  bool logical = false; // Logical
};

// One field of a table as the expression compiler sees it.
struct FieldDef {
  std::string name;  // upper case, as stored
  char type = 'C';   // C N F D L M I B Y T ...
  int length = 0;
  int decimals = 0;
};

}  // namespace cau::xbase
