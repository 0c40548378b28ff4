#include "db/xbase/CdxPage.h"

#include <algorithm>
#include <cstring>

namespace cau::xbase {
namespace {

int BitLength(uint64_t v) {
  int n = 0;
  while (v != 0) {
    ++n;
    v >>= 1;
  }
  return n;
}

uint32_t Mask(int bits) {
  return bits >= 32 ? 0xFFFFFFFFu : (1u << bits) - 1;
}

uint16_t Get16(const CdxPageBytes& p, int at) {
  return static_cast<uint16_t>(p[at] | (p[at + 1] << 8));
}
uint32_t Get32(const CdxPageBytes& p, int at) {
  return static_cast<uint32_t>(p[at]) | (static_cast<uint32_t>(p[at + 1]) << 8) |
         (static_cast<uint32_t>(p[at + 2]) << 16) | (static_cast<uint32_t>(p[at + 3]) << 24);
}
uint32_t Get32Be(const CdxPageBytes& p, int at) {
  return (static_cast<uint32_t>(p[at]) << 24) | (static_cast<uint32_t>(p[at + 1]) << 16) |
         (static_cast<uint32_t>(p[at + 2]) << 8) | static_cast<uint32_t>(p[at + 3]);
}
void Put16(CdxPageBytes& p, int at, uint32_t v) {
  p[at] = static_cast<unsigned char>(v);
  p[at + 1] = static_cast<unsigned char>(v >> 8);
}
void Put32(CdxPageBytes& p, int at, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    p[at + i] = static_cast<unsigned char>(v >> (8 * i));
}
void Put32Be(CdxPageBytes& p, int at, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    p[at + i] = static_cast<unsigned char>(v >> (24 - 8 * i));
}

// Bit layout of a leaf's entries.
struct Widths {
  int rn, dc, tc, e;
};

// The narrowest entry that holds the page's largest record number, with
// duplicate and trailing counts as wide as the key length needs; an empty
// leaf gets three bytes per entry.
Widths WidthsFor(int keyLength, uint32_t maxRecno) {
  const int dc = BitLength(static_cast<uint64_t>(keyLength));
  int e = 3;
  if (maxRecno != 0) {
    const int need = BitLength(maxRecno);
    e = 1;
    while (8 * e - 2 * dc < need)
      ++e;
  }
  return {std::min(8 * e - 2 * dc, 32), dc, dc, e};
}

int Trail(const std::string& key, char fill) {
  const auto last = key.find_last_not_of(fill);
  return static_cast<int>(last == std::string::npos ? key.size() : key.size() - 1 - last);
}

int Dup(const std::string& key, const std::string& prev, int trail) {
  const auto cap = static_cast<std::ptrdiff_t>(key.size()) - trail;
  return static_cast<int>(std::mismatch(key.begin(), key.begin() + cap, prev.begin()).first -
                          key.begin());
}

uint32_t MaxRecno(const std::vector<CdxEntry>& entries) {
  uint32_t m = 0;
  for (const auto& e : entries)
    m = std::max(m, e.recno);
  return m;
}

std::optional<std::string> DecodeBranch(const CdxPageBytes& p, int keyLength, CdxNode& out) {
  const std::size_t count = Get16(p, 2);
  if (count == 0)
    return "página interna sem chaves";
  if (count > BranchCapacity(keyLength))
    return "página interna com chaves demais";
  const int step = keyLength + 8;
  out.entries.resize(count);
  for (std::size_t i = 0; i < count; ++i) {
    const int at = 12 + static_cast<int>(i) * step;
    auto& e = out.entries[i];
    e.key.assign(reinterpret_cast<const char*>(&p[at]), keyLength);
    e.recno = Get32Be(p, at + keyLength);
    e.child = Get32Be(p, at + keyLength + 4);
  }
  return std::nullopt;
}

std::optional<std::string> DecodeLeaf(const CdxPageBytes& p, int keyLength, char fill,
                                      CdxNode& out) {
  const int count = Get16(p, 2);
  out.freeField = Get16(p, 12);
  const uint32_t recMask = Get32(p, 14);
  const int dupMask = p[18], trailMask = p[19];
  const int rn = p[20], dc = p[21], tc = p[22], e = p[23];
  if (e < 1 || e > 8 || rn < 1 || rn > 32 || dc < 1 || dc > 8 || tc < 1 || tc > 8 ||
      rn + dc + tc > 8 * e)
    return "larguras de bits impossíveis na folha";
  if (recMask != Mask(rn) || static_cast<uint32_t>(dupMask) != Mask(dc) ||
      static_cast<uint32_t>(trailMask) != Mask(tc))
    return "máscaras da folha não combinam com as larguras";
  if (out.freeField > kLeafSpace)
    return "espaço livre impossível na folha";
  if (count * e > kLeafSpace)
    return "folha com chaves demais";
  out.entries.resize(count);
  int keyEnd = kCdxPageSize;  // stored key bytes grow downwards from here
  const int tableEnd = 24 + count * e;
  std::string prev(keyLength, fill);
  for (int i = 0; i < count; ++i) {
    uint64_t v = 0;
    for (int b = e - 1; b >= 0; --b)
      v = (v << 8) | p[24 + i * e + b];
    auto& entry = out.entries[i];
    entry.recno = static_cast<uint32_t>(v & recMask);
    const int dup = static_cast<int>((v >> rn) & static_cast<uint64_t>(dupMask));
    const int trail = static_cast<int>((v >> (rn + dc)) & static_cast<uint64_t>(trailMask));
    if (dup + trail > keyLength)
      return "contagens de compressão maiores que a chave";
    if (i == 0 && dup != 0)
      return "primeira chave da folha depende de outra";
    const int stored = keyLength - dup - trail;
    keyEnd -= stored;
    if (keyEnd < tableEnd)
      return "bytes de chave invadem a tabela de entradas";
    entry.key.assign(prev, 0, dup);
    entry.key.append(reinterpret_cast<const char*>(&p[keyEnd]), stored);
    entry.key.append(trail, fill);
    prev = entry.key;
    out.usedBytes += e + stored;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> DecodePage(const CdxPageBytes& page, int keyLength, char fill,
                                      CdxNode& out) {
  if (keyLength < 1 || keyLength > kCdxMaxKeyLength)
    return "tamanho de chave inválido";
  out = CdxNode{};
  out.attr = Get16(page, 0);
  if ((out.attr & ~kAttrKnown) != 0)
    return "atributos de página desconhecidos";
  out.left = Get32(page, 4);
  out.right = Get32(page, 8);
  return out.leaf() ? DecodeLeaf(page, keyLength, fill, out) : DecodeBranch(page, keyLength, out);
}

int LeafEntryWidth(int keyLength, uint32_t maxRecno) {
  return WidthsFor(keyLength, maxRecno).e;
}

int LeafStoredBytes(const std::string& key, const std::string* prev, char fill) {
  const int trail = Trail(key, fill);
  const int dup = prev ? Dup(key, *prev, trail) : 0;
  return static_cast<int>(key.size()) - dup - trail;
}

int LeafBytes(const std::vector<CdxEntry>& entries, int keyLength, char fill) {
  const Widths w = WidthsFor(keyLength, MaxRecno(entries));
  int total = 0;
  const std::string* prev = nullptr;
  for (const auto& entry : entries) {
    const int trail = Trail(entry.key, fill);
    const int dup = prev ? Dup(entry.key, *prev, trail) : 0;
    total += w.e + keyLength - dup - trail;
    prev = &entry.key;
  }
  return total;
}

int LeafSize(CdxNode& leaf, int keyLength, char fill) {
  if (leaf.packedKeys < 0) {
    leaf.packedKeys = 0;
    const std::string* prev = nullptr;
    for (const auto& e : leaf.entries) {
      leaf.packedKeys += LeafStoredBytes(e.key, prev, fill);
      prev = &e.key;
    }
    leaf.maxRecno = MaxRecno(leaf.entries);
  }
  const int count = static_cast<int>(leaf.entries.size());
  return count * LeafEntryWidth(keyLength, leaf.maxRecno) + leaf.packedKeys;
}

void LeafInsert(CdxNode& leaf, std::size_t at, CdxEntry entry, char fill) {
  auto& e = leaf.entries;
  if (leaf.packedKeys >= 0) {
    const std::string* prev = at > 0 ? &e[at - 1].key : nullptr;
    int delta = LeafStoredBytes(entry.key, prev, fill);
    if (at < e.size())
      delta +=
          LeafStoredBytes(e[at].key, &entry.key, fill) - LeafStoredBytes(e[at].key, prev, fill);
    leaf.packedKeys += delta;
    leaf.maxRecno = std::max(leaf.maxRecno, entry.recno);
  }
  e.insert(e.begin() + static_cast<std::ptrdiff_t>(at), std::move(entry));
}

void LeafErase(CdxNode& leaf, std::size_t at, char fill) {
  auto& e = leaf.entries;
  if (leaf.packedKeys >= 0) {
    const std::string* prev = at > 0 ? &e[at - 1].key : nullptr;
    int delta = -LeafStoredBytes(e[at].key, prev, fill);
    if (at + 1 < e.size())
      delta += LeafStoredBytes(e[at + 1].key, prev, fill) -
               LeafStoredBytes(e[at + 1].key, &e[at].key, fill);
    leaf.packedKeys += delta;
  }
  const bool wasMax = e[at].recno == leaf.maxRecno;
  e.erase(e.begin() + static_cast<std::ptrdiff_t>(at));
  if (wasMax)
    leaf.maxRecno = MaxRecno(e);
}

CdxPageBytes EncodePage(const CdxNode& node, int keyLength, char fill) {
  CdxPageBytes p{};
  const auto count = static_cast<uint32_t>(node.entries.size());
  Put16(p, 0, node.attr);
  Put16(p, 2, count);
  Put32(p, 4, node.left);
  Put32(p, 8, node.right);
  if (!node.leaf()) {
    const int step = keyLength + 8;
    for (uint32_t i = 0; i < count; ++i) {
      const auto& e = node.entries[i];
      const int at = 12 + static_cast<int>(i) * step;
      std::memcpy(&p[at], e.key.data(), keyLength);
      Put32Be(p, at + keyLength, e.recno);
      Put32Be(p, at + keyLength + 4, e.child);
    }
    return p;
  }
  const Widths w = WidthsFor(keyLength, MaxRecno(node.entries));
  p[18] = static_cast<unsigned char>(Mask(w.dc));
  p[19] = static_cast<unsigned char>(Mask(w.tc));
  Put32(p, 14, Mask(w.rn));
  p[20] = static_cast<unsigned char>(w.rn);
  p[21] = static_cast<unsigned char>(w.dc);
  p[22] = static_cast<unsigned char>(w.tc);
  p[23] = static_cast<unsigned char>(w.e);
  int keyEnd = kCdxPageSize;
  int used = 0;
  const std::string* prev = nullptr;
  for (uint32_t i = 0; i < count; ++i) {
    const auto& entry = node.entries[i];
    const int trail = Trail(entry.key, fill);
    const int dup = prev ? Dup(entry.key, *prev, trail) : 0;
    const int stored = keyLength - dup - trail;
    const uint64_t v = static_cast<uint64_t>(entry.recno) | (static_cast<uint64_t>(dup) << w.rn) |
                       (static_cast<uint64_t>(trail) << (w.rn + w.dc));
    for (int b = 0; b < w.e; ++b)
      p[24 + i * w.e + b] = static_cast<unsigned char>(v >> (8 * b));
    keyEnd -= stored;
    std::memcpy(&p[keyEnd], entry.key.data() + dup, stored);
    used += w.e + stored;
    prev = &entry.key;
  }
  Put16(p, 12, static_cast<uint32_t>(kLeafSpace - used));
  return p;
}

}  // namespace cau::xbase
