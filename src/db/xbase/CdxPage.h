// One 512-byte page of a compound index, decoded: a branch (full keys with
// record and child) or a compressed leaf. Pure functions, no file access.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
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

struct CdxNode {
  uint16_t attr = kAttrRoot | kAttrLeaf;
  uint32_t left = kCdxNone;
  uint32_t right = kCdxNone;
  std::vector<CdxEntry> entries;
  uint16_t freeField = 0;  // leaf: free bytes as stored (checked, never trusted)
  int usedBytes = 0;       // leaf: entry table + key bytes as decoded
  // Leaf: key bytes our packing stores (-1 = not known yet) and the largest
  // record number, kept by LeafInsert/LeafErase so a fit test is cheap.
  int packedKeys = -1;
  uint32_t maxRecno = 0;
  bool leaf() const { return (attr & kAttrLeaf) != 0; }
  bool root() const { return (attr & kAttrRoot) != 0; }
};

using CdxPageBytes = std::array<unsigned char, kCdxPageSize>;

// Decodes a page for a tag of `keyLength` bytes whose leaves drop `fill`.
// Returns the reason when the page is not a valid node.
std::optional<std::string> DecodePage(const CdxPageBytes& page, int keyLength, char fill,
                                      CdxNode& out);

// Bytes a leaf with these entries needs (entry table + stored key bytes),
// using the narrowest entry width for its record numbers.
int LeafBytes(const std::vector<CdxEntry>& entries, int keyLength, char fill);
// Parts of that sum, for packing a leaf one entry at a time: the entry width
// for the largest record number, and the key bytes an entry stores after
// `prev` (nullptr for the first entry of a page).
int LeafEntryWidth(int keyLength, uint32_t maxRecno);
int LeafStoredBytes(const std::string& key, const std::string* prev, char fill);
inline bool LeafFits(const std::vector<CdxEntry>& entries, int keyLength, char fill) {
  return LeafBytes(entries, keyLength, fill) <= kLeafSpace;
}
// The same for a node, using (and filling) its packing figures.
int LeafSize(CdxNode& leaf, int keyLength, char fill);
// Entry changes of a leaf that keep its packing figures current.
void LeafInsert(CdxNode& leaf, std::size_t at, CdxEntry entry, char fill);
void LeafErase(CdxNode& leaf, std::size_t at, char fill);
inline std::size_t BranchCapacity(int keyLength) {
  return static_cast<std::size_t>(500 / (keyLength + 8));
}

// Encodes a node; a leaf must fit and a branch must not exceed its capacity.
CdxPageBytes EncodePage(const CdxNode& node, int keyLength, char fill);

}  // namespace cau::xbase
