#include "db/xbase/Expr.h"

namespace cau::xbase {

namespace expr_detail {
struct Node {};
}  // namespace expr_detail

Expression Expression::Compile(std::string_view text, std::span<const FieldDef>, std::string_view) {
  throw ExprError("expression \"" + std::string(text) + "\": not supported yet");
}

Value Expression::Evaluate(const ExprRecord&) const {
  return Value{};
}

}  // namespace cau::xbase
