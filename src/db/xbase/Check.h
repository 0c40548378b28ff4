// The table-level check: header, records, memo pointers and blocks, and for
// every tag of the structural index that it holds exactly the entries its
// rules give (key = expression of the record, FOR, UNIQUE keeps the first),
// in order, in a sound tree.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace cau::xbase {

struct CheckReport {
  std::vector<std::string> problems;  // empty: everything holds
  std::vector<std::string> notes;     // what could not be compared, and why
  bool ok() const { return problems.empty(); }
};

CheckReport CheckTable(const std::filesystem::path& dbfPath);

}  // namespace cau::xbase
