#include "sync/CaseScan.h"

#include <charconv>
#include <cstring>

#include "config/Cp1252.h"
#include "db/KeyMap.h"

namespace cau {

ScopeIndex::ScopeIndex(const std::vector<std::string>* escopo) {
  if (!escopo)
    return;
  for (const std::string& line : *escopo) {
    const std::string_view name = std::string_view(line).substr(0, line.find('='));
    std::int32_t code = 0;
    const auto [end, ec] = std::from_chars(name.data(), name.data() + name.size(), code);
    // Only a name that is a code's own decimal text can ever be asked for.
    if (ec != std::errc() || end != name.data() + name.size() || std::to_string(code) != name)
      continue;
    const auto eq = line.find('=');
    types_.emplace(code, eq == std::string::npos ? std::string() : line.substr(eq + 1));
  }
}

const std::string* ScopeIndex::Types(std::int32_t codTrib) const {
  const auto it = types_.find(codTrib);
  return it == types_.end() ? nullptr : &it->second;
}

bool KindMatches(std::string_view number, std::string_view tipos) {
  const auto dot = number.find('.');
  if (dot == std::string_view::npos || dot == 0)
    return false;
  return tipos.find(number.substr(0, dot)) != std::string_view::npos;
}

bool KindMatchesStored(std::string_view number, std::string_view tipos) {
  // Text below 0x80 is the same bytes in both encodings.
  const auto dot = number.find('.');
  for (const char c : number.substr(0, dot)) {
    if (static_cast<unsigned char>(c) >= 0x80)
      return KindMatches(text::FromCp1252(number), tipos);
  }
  return KindMatches(number, tipos);
}

std::string CaseKeyOf(std::int32_t codTrib, std::string_view number) {
  return std::to_string(codTrib) + "." + text::FromCp1252(number);
}

DuplicateFinder::DuplicateFinder(std::size_t expected) {
  // Each byte as the key comparison folds it (upper case, Windows-1252).
  std::string all(256, '\0');
  for (int b = 0; b < 256; ++b)
    all[std::size_t(b)] = char(b);
  const std::string upper = text::UpperCp1252Bytes(all);
  for (std::size_t b = 0; b < 256; ++b)
    fold_[b] = static_cast<unsigned char>(upper[b]);
  std::size_t size = 64;
  while (size < 2 * expected)
    size *= 2;
  slots_.resize(size);
}

void DuplicateFinder::Grow() {
  std::vector<Slot> old(slots_.size() * 2);
  old.swap(slots_);
  const std::size_t mask = slots_.size() - 1;
  for (const Slot& s : old) {
    if (s.size == 0)
      continue;
    std::size_t i = std::size_t(s.hash) & mask;
    while (slots_[i].size != 0)
      i = (i + 1) & mask;
    slots_[i] = s;
  }
}

bool DuplicateFinder::Seen(std::int32_t codTrib, std::string_view number) {
  if (2 * (used_ + 1) > slots_.size())
    Grow();
  const std::size_t at = folded_.size();
  folded_.resize(at + sizeof codTrib + number.size());
  std::memcpy(folded_.data() + at, &codTrib, sizeof codTrib);
  char* out = folded_.data() + at + sizeof codTrib;
  for (const char c : number)
    *out++ = char(fold_[static_cast<unsigned char>(c)]);
  const std::string_view key = std::string_view(folded_).substr(at);
  const std::uint64_t hash = db::KeyHash().Add(key).value();
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = std::size_t(hash) & mask;; i = (i + 1) & mask) {
    Slot& s = slots_[i];
    if (s.size == 0) {
      s = Slot{hash, std::uint32_t(at), std::uint32_t(key.size())};
      ++used_;
      return false;
    }
    if (s.hash == hash && std::string_view(folded_).substr(s.at, s.size) == key) {
      folded_.resize(at);  // the case is held already
      return true;
    }
  }
}

}  // namespace cau
