// One 512-byte page of a compound index, decoded: a branch (full keys with
// record and child) or a compressed leaf. The keys of a page sit side by side
// in one buffer; a leaf also keeps, per entry, the bytes its packing shares
// with the previous key and the trailing fill it drops, so that an edit costs
// one entry and encoding is a copy. Pure functions, no file access.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cau::xbase {

constexpr uint32_t kCdxPageSize = 512;
constexpr uint32_t kCdxNone = 0xFFFFFFFF;
constexpr int kCdxMaxKeyLength = 240;
constexpr int kLeafSpace = 488;  // bytes after the 24-byte leaf header

constexpr uint16_t kAttrRoot = 0x01;
constexpr uint16_t kAttrLeaf = 0x02;
constexpr uint16_t kAttrKnown = 0x07;  // 0x04 is set by the host on some pages

struct CdxEntry {
  std::string key;  // full key, keyLength bytes
  uint32_t recno = 0;
  uint32_t child = 0;  // branch pages only
};

inline std::size_t BranchCapacity(int keyLength) {
  return static_cast<std::size_t>(500 / (keyLength + 8));
}
// Bytes of one leaf entry when the page's largest record number is `maxRecno`.
int LeafEntryWidth(int keyLength, uint32_t maxRecno);

class CdxNode {
 public:
  CdxNode() = default;
  CdxNode(uint16_t attr, int keyLength, char fill)
      : attr(attr), keyLength_(keyLength), fill_(fill) {}

  uint16_t attr = kAttrRoot | kAttrLeaf;
  uint32_t left = kCdxNone;
  uint32_t right = kCdxNone;
  uint16_t freeField = 0;  // leaf: free bytes as stored (checked, never trusted)
  int usedBytes = 0;       // leaf: entry table + key bytes as decoded

  bool leaf() const { return (attr & kAttrLeaf) != 0; }
  bool root() const { return (attr & kAttrRoot) != 0; }
  int keyLength() const { return keyLength_; }
  char fill() const { return fill_; }

  std::size_t size() const { return recnos_.size(); }
  bool empty() const { return recnos_.empty(); }
  std::string_view Key(std::size_t i) const {
    return {keys_.data() + i * std::size_t(keyLength_), std::size_t(keyLength_)};
  }
  uint32_t RecNo(std::size_t i) const { return recnos_[i]; }
  uint32_t Child(std::size_t i) const { return children_[i]; }  // branch pages only
  CdxEntry Entry(std::size_t i) const {
    return {std::string(Key(i)), recnos_[i], leaf() ? 0 : children_[i]};
  }

  // Entry changes; `key` has keyLength() bytes, `child` counts on branches.
  void Insert(std::size_t at, std::string_view key, uint32_t recno, uint32_t child = 0);
  void Append(std::string_view key, uint32_t recno, uint32_t child = 0) {
    Insert(size(), key, recno, child);
  }
  void Erase(std::size_t at);
  // A branch entry's key and record (its child stays).
  void SetKey(std::size_t at, std::string_view key, uint32_t recno);
  void SetChild(std::size_t at, uint32_t child) { children_[at] = child; }
  // Moves the first `n` entries to the end of `to` (same tag, same kind).
  void MoveFront(std::size_t n, CdxNode& to);
  void Clear();

  // Leaf: bytes that entries [from, to) need as one page (entry table and
  // stored key bytes). Overflows: a leaf past kLeafSpace, a branch past its
  // capacity.
  // Asks for the keys and record numbers ahead of a search over them: a
  // cold page then costs about one memory wait instead of one per probe.
  void Prefetch() const {
    for (std::size_t at = 0; at < keys_.size(); at += 64)
      __builtin_prefetch(keys_.data() + at);
    for (std::size_t at = 0; at < recnos_.size(); at += 16)
      __builtin_prefetch(recnos_.data() + at);
  }

  int PackedBytes(std::size_t from, std::size_t to) const;
  int PackedBytes() const { return PackedBytes(0, size()); }
  bool Overflows() const;

 private:
  friend std::optional<std::string> DecodePage(const unsigned char*, int, char, CdxNode&, bool);
  friend std::array<unsigned char, kCdxPageSize> EncodePage(const CdxNode& node);
  void Recount();
  // Works out what our packing keeps of each key (dup_, trail_, storedBytes_).
  // A decoded leaf leaves it for its first edit or encoding: a walk never needs it.
  void Pack() const;

  int keyLength_ = 0;
  char fill_ = ' ';
  std::string keys_;                    // size() * keyLength_ bytes
  std::vector<uint32_t> recnos_;        //
  std::vector<uint32_t> children_;      // branch pages
  mutable std::vector<uint8_t> dup_;    // leaf: bytes shared with the previous key
  mutable std::vector<uint8_t> trail_;  // leaf: trailing fill bytes dropped
  mutable int storedBytes_ = 0;         // leaf: key bytes the packing stores
  mutable bool packed_ = true;          // the three above are up to date
  uint32_t maxRecno_ = 0;               // leaf: decides the entry width
};

using CdxPageBytes = std::array<unsigned char, kCdxPageSize>;

// Decodes a page for a tag of `keyLength` bytes whose leaves drop `fill`.
// Returns the reason when the page is not a valid node; with `requireOrder`,
// also when its entries are not in ascending (key, record) order.
std::optional<std::string> DecodePage(const CdxPageBytes& page, int keyLength, char fill,
                                      CdxNode& out, bool requireOrder = false);
// The same over the kCdxPageSize bytes at `page`.
std::optional<std::string> DecodePage(const unsigned char* page, int keyLength, char fill,
                                      CdxNode& out, bool requireOrder = false);

// Encodes a node; a leaf must fit and a branch must not exceed its capacity.
CdxPageBytes EncodePage(const CdxNode& node);

}  // namespace cau::xbase
