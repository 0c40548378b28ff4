#include "db/KeyMap.h"

#include <algorithm>

#include "config/Cp1252.h"
#include "config/Errors.h"

namespace cau::db {
namespace {

// Appended entries are searched one by one until there are this many.
constexpr std::size_t kMergeAt = 4096;

}  // namespace

KeyHash& KeyHash::Add(std::string_view bytes) {
  for (unsigned char c : bytes) {
    h_ ^= c;
    h_ *= 1099511628211ull;
  }
  // The length ends the field, so that ("ab", "c") and ("a", "bc") differ.
  return Add(long(bytes.size()));
}

KeyHash& KeyHash::Add(long value) {
  auto v = static_cast<uint64_t>(value);
  for (int i = 0; i < 8; ++i, v >>= 8) {
    h_ ^= v & 0xFF;
    h_ *= 1099511628211ull;
  }
  return *this;
}

uint64_t CaseHashOfRecord(long codTrib, std::string_view storedNumber) {
  auto trimmed = [](unsigned char c) { return c <= ' '; };
  while (!storedNumber.empty() && trimmed(static_cast<unsigned char>(storedNumber.front())))
    storedNumber.remove_prefix(1);
  while (!storedNumber.empty() && trimmed(static_cast<unsigned char>(storedNumber.back())))
    storedNumber.remove_suffix(1);
  return KeyHash().Add(codTrib).Add(storedNumber).value();
}

uint64_t CaseHashOfLookup(long codTrib, std::string_view number) {
  // A number that Windows-1252 cannot hold matches no record: any hash will do.
  std::optional<std::string> bytes = text::ToCp1252Exact(number);
  return KeyHash().Add(codTrib).Add(bytes ? *bytes : std::string(number)).value();
}

void KeyMap::Add(uint64_t hash, long recno) {
  recent_.emplace_back(hash, uint32_t(recno));
}

void KeyMap::Merge() {
  std::sort(recent_.begin(), recent_.end());
  std::size_t middle = sorted_.size();
  sorted_.insert(sorted_.end(), recent_.begin(), recent_.end());
  std::inplace_merge(sorted_.begin(), sorted_.begin() + long(middle), sorted_.end());
  recent_.clear();
}

void KeyMap::Update(Data4* table) {
  long count = d4recCountDo(table);
  if (count < covered_)
    Clear();  // the table shrank (packed by another program): read it again
  const bool first = covered_ == 0 && sorted_.empty();
  if (count > covered_) {
    if (first)
      sorted_.reserve(std::size_t(count));
    std::vector<Entry>& into = first ? sorted_ : recent_;
    long last = d4readRecords(table, covered_ + 1, [&](long recno, std::string_view bytes) {
      into.emplace_back(hashOf_(bytes), uint32_t(recno));
    });
    if (last < 0)
      throw Error("não foi possível ler a tabela para a busca");
    covered_ = last;
    if (first)
      std::sort(sorted_.begin(), sorted_.end());
  }
  std::string bytes;
  for (long recno : touched_) {
    if (recno > covered_ || !d4readRecord(table, recno, bytes))
      continue;
    uint64_t hash = hashOf_(bytes);
    std::vector<long> known = Candidates(hash);
    if (!std::binary_search(known.begin(), known.end(), recno))
      Add(hash, recno);
  }
  touched_.clear();
  if (recent_.size() >= kMergeAt)
    Merge();
}

void KeyMap::Rebuild(Data4* table, const Visit& visit) {
  Clear();
  sorted_.reserve(std::size_t(std::max(0L, d4recCountDo(table))));
  long last = d4readRecords(table, 1, [&](long recno, std::string_view bytes) {
    sorted_.emplace_back(visit(recno, bytes), uint32_t(recno));
  });
  if (last < 0) {
    Clear();
    throw Error("não foi possível ler a tabela para a busca");
  }
  covered_ = last;
  std::sort(sorted_.begin(), sorted_.end());
}

std::vector<long> KeyMap::Candidates(uint64_t hash) const {
  std::vector<long> out;
  auto range = std::equal_range(sorted_.begin(), sorted_.end(), Entry{hash, 0},
                                [](const Entry& a, const Entry& b) { return a.first < b.first; });
  for (auto it = range.first; it != range.second; ++it)
    out.push_back(long(it->second));
  for (const Entry& e : recent_) {
    if (e.first == hash)
      out.push_back(long(e.second));
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

void KeyMap::Clear() {
  sorted_.clear();
  sorted_.shrink_to_fit();
  recent_.clear();
  touched_.clear();
  covered_ = 0;
}

}  // namespace cau::db
