// The movements of one case, as the TRAMITA memo holds them: one entry per
// movement, "yyyymmddhhnn=text", newest first, no entry twice (lines compare
// without regard to case, accented letters included). The memo is loaded
// into the list, added to, and rebuilt from it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace cau::db {

// The key that heads the three memos of a case: folder and court codes
// right-aligned in four columns, the case number with its letters a to z in
// upper case, left-aligned in 100 characters (nothing is cut).
std::string RecordKey(int32_t codPasta, int32_t codTrib, std::string_view chaveProc);

class TTramitaList {
 public:
  // Empties the list and fills it from the text of a TRAMITA memo; Added()
  // becomes false.
  void LoadText(std::string_view text);

  // Adds one entry: `date` as day/month/year (normalised), `time` as hh:nn
  // (empty: 00:00), `text` trimmed. Nothing is added for a date that is not
  // one, an empty text or an entry already present. `ordered`: before the
  // first entry with a smaller key (keeps a descending list descending);
  // otherwise at the end. CR and LF in the text become blanks.
  void AddEntry(std::string_view date, std::string_view time, std::string_view text, bool ordered);

  // The whole TRAMITA memo for the list: the header of the case, then
  // "Dt_n=", "Hr_n=" (left out at 00:00) and "Txt_n=" per entry, each line
  // followed by CR LF.
  std::string RenderText(int32_t codPasta, int32_t codTrib, std::string_view chaveProc) const;

  // The key of the first entry; empty when the list is empty.
  std::string NewestKey() const;
  // Whether an entry was added since the last LoadText.
  bool Added() const { return added_; }

  // The entries, "key=text", in list order.
  const std::vector<std::string>& Entries() const { return lines_; }
  std::size_t Count() const { return lines_.size(); }

 private:
  void Clear();

  std::vector<std::string> lines_;
  std::unordered_set<std::string> folded_;  // every line in upper case
  bool added_ = false;
};

}  // namespace cau::db
