// Compiles random text against a table of every field type and evaluates what
// compiles on ordinary and on hostile records: nothing may crash, and a
// compiled expression must evaluate to its static type and length.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string_view>
#include <vector>

#include "db/xbase/Expr.h"

namespace {

using cau::xbase::ExprRecord;
using cau::xbase::FieldDef;
using cau::xbase::Value;
using cau::xbase::ValueType;

const std::vector<FieldDef> kFields = {
    {"NAME", 'C', 10, 0}, {"AMOUNT", 'N', 10, 2}, {"BORN", 'D', 8, 0}, {"OK", 'L', 1, 0},
    {"STAMP", 'T', 8, 0}, {"ID", 'I', 4, 0},      {"MEMO", 'M', 4, 0}, {"LONGNAME_X", 'C', 3, 0},
};

class Record : public ExprRecord {
 public:
  explicit Record(std::vector<Value> values) : values_(std::move(values)) {}
  Value Field(int index) const override { return values_.at(static_cast<std::size_t>(index)); }
  bool Deleted() const override { return true; }
  uint32_t RecNo() const override { return 4000000000u; }

 private:
  std::vector<Value> values_;
};

Value Make(ValueType type, std::string text, double number, int32_t julian, bool logical) {
  Value v;
  v.type = type;
  v.text = std::move(text);
  v.number = number;
  v.julian = julian;
  v.logical = logical;
  return v;
}

const Record kPlain({Make(ValueType::Character, "Ana       ", 0, 0, false),
                     Make(ValueType::Numeric, "", 1234.5, 0, false),
                     Make(ValueType::Date, "", 0, 2451545, false),
                     Make(ValueType::Logical, "", 0, 0, true),
                     Make(ValueType::Date, "", 3600000, 2455630, false),
                     Make(ValueType::Numeric, "", -1, 0, false), Value{},
                     Make(ValueType::Character, "abc", 0, 0, false)});
// Values no valid table gives: wrong types, wrong lengths, extremes.
const Record kHostile({Make(ValueType::Numeric, std::string(300, '\xFF'), 0, 0, false),
                       Make(ValueType::Numeric, "", std::numeric_limits<double>::quiet_NaN(), 0,
                            false),
                       Make(ValueType::Date, "", 0, std::numeric_limits<int32_t>::min(), false),
                       Make(ValueType::Character, "", 0, 0, true),
                       Make(ValueType::Numeric, "", std::numeric_limits<double>::infinity(), 0,
                            false),
                       Make(ValueType::Numeric, "", -1e308, 0, false), Value{},
                       Make(ValueType::Character, std::string(1, '\0'), 0, 0, false)});

void Check(const cau::xbase::Expression& e, const ExprRecord& record) {
  const Value v = e.Evaluate(record);
  if (v.type != e.type())
    __builtin_trap();
  if (v.type == ValueType::Character && v.text.size() != static_cast<std::size_t>(e.length()))
    __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    const auto e = cau::xbase::Expression::Compile(text, kFields, size % 2 ? "tab" : "");
    Check(e, kPlain);
    Check(e, kHostile);
  } catch (const cau::xbase::ExprError&) {
  }
  return 0;
}
