// What the scans of the process table test on each record, done on the
// record's stored bytes so that a pass over a large host allocates nothing
// per record: the scope of a court, the kind of a case, the case key.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "app/Controls.h"

namespace cau {

// A scan's progress on a bar, told every few thousand records and at the end.
class ScanProgress {
 public:
  explicit ScanProgress(TProgressBar& bar) : bar_(bar), from_(bar.Position()) {}
  void Step() {
    if (++count_ % kEvery == 0)
      Done();
  }
  void Done() { bar_.SetPosition(from_ + static_cast<int>(count_)); }

 private:
  static constexpr long kEvery = 4096;
  TProgressBar& bar_;
  int from_;
  long count_ = 0;
};

// ListaEscopo by court code: the types text of the first line whose name is
// the code in decimal.
class ScopeIndex {
 public:
  explicit ScopeIndex(const std::vector<std::string>* escopo);
  // Null when the court is out of scope.
  const std::string* Types(std::int32_t codTrib) const;

 private:
  std::unordered_map<std::int32_t, std::string> types_;
};

// Whether a case number's kind (its text before the first ".") occurs in a
// court's types text: a plain text search; a number without "." has no kind
// and never matches. KindMatchesStored: the number as stored (Windows-1252).
bool KindMatches(std::string_view number, std::string_view tipos);
bool KindMatchesStored(std::string_view number, std::string_view tipos);

// "court.number", the number decoded from Windows-1252.
std::string CaseKeyOf(std::int32_t codTrib, std::string_view number);

// Finds the second and later records of a case among those it is shown:
// court and stored number, letters compared without their case as the
// lists compare keys. Memory grows with the records shown, in one arena.
class DuplicateFinder {
 public:
  explicit DuplicateFinder(std::size_t expected);
  // True when a record of the same case was shown before.
  bool Seen(std::int32_t codTrib, std::string_view number);

 private:
  // A case's key in folded_: its court's four bytes, then its folded number.
  struct Slot {
    std::uint64_t hash = 0;
    std::uint32_t at = 0;
    std::uint32_t size = 0;  // 0: free
  };
  void Grow();

  unsigned char fold_[256];
  std::vector<Slot> slots_;
  std::size_t used_ = 0;
  std::string folded_;  // the keys shown, one after the other
};

}  // namespace cau
