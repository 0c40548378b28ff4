#include "db/xbase/CdxPage.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "db/xbase/CdxKey.h"

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

using PagePtr = const unsigned char*;

uint16_t Get16(PagePtr p, int at) {
  return static_cast<uint16_t>(p[at] | (p[at + 1] << 8));
}
uint32_t Get32(PagePtr p, int at) {
  return static_cast<uint32_t>(p[at]) | (static_cast<uint32_t>(p[at + 1]) << 8) |
         (static_cast<uint32_t>(p[at + 2]) << 16) | (static_cast<uint32_t>(p[at + 3]) << 24);
}
uint32_t Get32Be(PagePtr p, int at) {
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

// Trailing fill bytes of a key: what the packing drops.
int TrailOf(std::string_view key, char fill) {
  const auto last = key.find_last_not_of(fill);
  return static_cast<int>(last == std::string_view::npos ? key.size() : key.size() - 1 - last);
}

// Bytes `key` shares with `prev`, at most `cap`, knowing the first `from` agree.
int DupOf(std::string_view key, std::string_view prev, int from, int cap) {
  int d = std::min(from, cap);
  while (d < cap && key[std::size_t(d)] == prev[std::size_t(d)])
    ++d;
  return d;
}

// Copies the few bytes of a key part; short copies in words cost less than
// the general copy the compiler picks for them.
inline void CopyShort(char* d, const char* s, std::size_t n) {
  for (; n >= 8; n -= 8, d += 8, s += 8)
    std::memcpy(d, s, 8);
  if (n >= 4) {
    std::memcpy(d, s, 4);
    d += 4, s += 4, n -= 4;
  }
  if (n >= 2) {
    std::memcpy(d, s, 2);
    d += 2, s += 2, n -= 2;
  }
  if (n != 0)
    *d = *s;
}

// Order of two neighbour entries of a page: negative when `a` goes first.
int ComparePairs(std::string_view ka, uint32_t ra, std::string_view kb, uint32_t rb) {
  const int c = CompareKeys(ka, kb);
  return c != 0 ? c : (ra < rb ? -1 : (ra > rb ? 1 : 0));
}

std::optional<std::string> DecodeBranch(PagePtr p, int keyLength, bool requireOrder, CdxNode& out) {
  const std::size_t count = Get16(p, 2);
  if (count == 0)
    return "página interna sem chaves";
  if (count > BranchCapacity(keyLength))
    return "página interna com chaves demais";
  const int step = keyLength + 8;
  for (std::size_t i = 0; i < count; ++i) {
    const int at = 12 + static_cast<int>(i) * step;
    out.Append(std::string_view(reinterpret_cast<const char*>(&p[at]), std::size_t(keyLength)),
               Get32Be(p, at + keyLength), Get32Be(p, at + keyLength + 4));
  }
  if (requireOrder) {
    for (std::size_t i = 1; i < count; ++i)
      if (ComparePairs(out.Key(i - 1), out.RecNo(i - 1), out.Key(i), out.RecNo(i)) >= 0)
        return "chaves fora de ordem";
  }
  return std::nullopt;
}

}  // namespace

int LeafEntryWidth(int keyLength, uint32_t maxRecno) {
  return WidthsFor(keyLength, maxRecno).e;
}

// ---- node edits -------------------------------------------------------------

void CdxNode::Pack() const {
  if (packed_)
    return;
  const std::size_t n = size();
  dup_.resize(n);
  trail_.resize(n);
  storedBytes_ = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const std::string_view k = Key(i);
    const int t = TrailOf(k, fill_);
    const int d = i > 0 ? DupOf(k, Key(i - 1), 0, keyLength_ - t) : 0;
    dup_[i] = static_cast<uint8_t>(d);
    trail_[i] = static_cast<uint8_t>(t);
    storedBytes_ += keyLength_ - d - t;
  }
  packed_ = true;
}

void CdxNode::Insert(std::size_t at, std::string_view key, uint32_t recno, uint32_t child) {
  const auto kl = std::size_t(keyLength_);
  if (leaf()) {
    Pack();
    const int t = TrailOf(key, fill_);
    const int d = at > 0 ? DupOf(key, Key(at - 1), 0, keyLength_ - t) : 0;
    if (at < size()) {  // the entry that now follows shares with the new key instead
      const int nd = DupOf(Key(at), key, 0, keyLength_ - trail_[at]);
      storedBytes_ += dup_[at] - nd;
      dup_[at] = static_cast<uint8_t>(nd);
    }
    storedBytes_ += keyLength_ - d - t;
    maxRecno_ = std::max(maxRecno_, recno);
    dup_.insert(dup_.begin() + std::ptrdiff_t(at), static_cast<uint8_t>(d));
    trail_.insert(trail_.begin() + std::ptrdiff_t(at), static_cast<uint8_t>(t));
  } else {
    children_.insert(children_.begin() + std::ptrdiff_t(at), child);
  }
  keys_.insert(at * kl, key.data(), kl);
  recnos_.insert(recnos_.begin() + std::ptrdiff_t(at), recno);
}

void CdxNode::Erase(std::size_t at) {
  const auto kl = std::size_t(keyLength_);
  bool wasMax = false;
  if (leaf()) {
    Pack();
    storedBytes_ -= keyLength_ - dup_[at] - trail_[at];
    if (at + 1 < size()) {
      const int nd = at > 0 ? DupOf(Key(at + 1), Key(at - 1), 0, keyLength_ - trail_[at + 1]) : 0;
      storedBytes_ += dup_[at + 1] - nd;
      dup_[at + 1] = static_cast<uint8_t>(nd);
    }
    wasMax = recnos_[at] == maxRecno_;
    dup_.erase(dup_.begin() + std::ptrdiff_t(at));
    trail_.erase(trail_.begin() + std::ptrdiff_t(at));
  } else {
    children_.erase(children_.begin() + std::ptrdiff_t(at));
  }
  keys_.erase(at * kl, kl);
  recnos_.erase(recnos_.begin() + std::ptrdiff_t(at));
  if (wasMax)
    maxRecno_ = recnos_.empty() ? 0 : *std::max_element(recnos_.begin(), recnos_.end());
}

void CdxNode::SetKey(std::size_t at, std::string_view key, uint32_t recno) {
  if (leaf()) {
    Erase(at);
    Insert(at, key, recno);
    return;
  }
  std::memcpy(keys_.data() + at * std::size_t(keyLength_), key.data(), std::size_t(keyLength_));
  recnos_[at] = recno;
}

void CdxNode::MoveFront(std::size_t n, CdxNode& to) {
  Pack();
  to.Pack();
  const auto kl = std::size_t(keyLength_);
  const std::size_t join = to.size();
  to.keys_.append(keys_, 0, n * kl);
  to.recnos_.insert(to.recnos_.end(), recnos_.begin(), recnos_.begin() + std::ptrdiff_t(n));
  recnos_.erase(recnos_.begin(), recnos_.begin() + std::ptrdiff_t(n));
  keys_.erase(0, n * kl);
  if (leaf()) {
    to.dup_.insert(to.dup_.end(), dup_.begin(), dup_.begin() + std::ptrdiff_t(n));
    to.trail_.insert(to.trail_.end(), trail_.begin(), trail_.begin() + std::ptrdiff_t(n));
    dup_.erase(dup_.begin(), dup_.begin() + std::ptrdiff_t(n));
    trail_.erase(trail_.begin(), trail_.begin() + std::ptrdiff_t(n));
    if (!dup_.empty())
      dup_[0] = 0;
    if (n > 0)
      to.dup_[join] = static_cast<uint8_t>(
          join > 0 ? DupOf(to.Key(join), to.Key(join - 1), 0, keyLength_ - to.trail_[join]) : 0);
  } else {
    to.children_.insert(to.children_.end(), children_.begin(),
                        children_.begin() + std::ptrdiff_t(n));
    children_.erase(children_.begin(), children_.begin() + std::ptrdiff_t(n));
  }
  Recount();
  to.Recount();
}

void CdxNode::Clear() {
  keys_.clear();
  recnos_.clear();
  children_.clear();
  dup_.clear();
  trail_.clear();
  storedBytes_ = 0;
  packed_ = true;
  maxRecno_ = 0;
}

void CdxNode::Recount() {
  Pack();
  storedBytes_ = 0;
  for (std::size_t i = 0; i < dup_.size(); ++i)
    storedBytes_ += keyLength_ - dup_[i] - trail_[i];
  maxRecno_ = recnos_.empty() ? 0 : *std::max_element(recnos_.begin(), recnos_.end());
}

int CdxNode::PackedBytes(std::size_t from, std::size_t to) const {
  if (from >= to)
    return 0;
  Pack();
  const uint32_t maxRecno = *std::max_element(recnos_.begin() + std::ptrdiff_t(from),
                                              recnos_.begin() + std::ptrdiff_t(to));
  int total = int(to - from) * LeafEntryWidth(keyLength_, maxRecno) + keyLength_ - trail_[from];
  for (std::size_t i = from + 1; i < to; ++i)
    total += keyLength_ - dup_[i] - trail_[i];
  return total;
}

bool CdxNode::Overflows() const {
  if (!leaf())
    return size() > BranchCapacity(keyLength_);
  Pack();
  return int(size()) * LeafEntryWidth(keyLength_, maxRecno_) + storedBytes_ > kLeafSpace;
}

// ---- pages ------------------------------------------------------------------

std::optional<std::string> DecodePage(const CdxPageBytes& page, int keyLength, char fill,
                                      CdxNode& out, bool requireOrder) {
  return DecodePage(page.data(), keyLength, fill, out, requireOrder);
}

std::optional<std::string> DecodePage(const unsigned char* p, int keyLength, char fill,
                                      CdxNode& out, bool requireOrder) {
  if (keyLength < 1 || keyLength > kCdxMaxKeyLength)
    return "tamanho de chave inválido";
  out = CdxNode(Get16(p, 0), keyLength, fill);
  if ((out.attr & ~kAttrKnown) != 0)
    return "atributos de página desconhecidos";
  out.left = Get32(p, 4);
  out.right = Get32(p, 8);
  if (!out.leaf())
    return DecodeBranch(p, keyLength, requireOrder, out);

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
  const auto kl = std::size_t(keyLength);
  out.keys_.assign(std::size_t(count) * kl, fill);  // every trail already in place
  out.recnos_.resize(std::size_t(count));
  int keyEnd = kCdxPageSize;  // stored key bytes grow downwards from here
  const int tableEnd = 24 + count * e;
  uint32_t maxRecno = 0;
  for (int i = 0; i < count; ++i) {
    const int entry = 24 + i * e;
    uint64_t v = 0;
    if (std::endian::native == std::endian::little && entry + 8 <= int(kCdxPageSize)) {
      std::memcpy(&v, p + entry, 8);  // bits past the entry are never looked at
    } else {
      for (int b = e - 1; b >= 0; --b)
        v = (v << 8) | p[entry + b];
    }
    const uint32_t recno = static_cast<uint32_t>(v & recMask);
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
    char* key = out.keys_.data() + std::size_t(i) * kl;
    CopyShort(key, key - (i > 0 ? kl : 0), std::size_t(dup));
    CopyShort(key + dup, reinterpret_cast<const char*>(&p[std::size_t(keyEnd)]),
              std::size_t(stored));
    out.recnos_[std::size_t(i)] = recno;
    out.usedBytes += e + stored;
    maxRecno = std::max(maxRecno, recno);

    if (i > 0 && requireOrder) {
      // The keys agree on their first d bytes: the order shows after them.
      const std::string_view k(key, kl);
      const std::string_view prev(key - kl, kl);
      const int d = DupOf(k, prev, dup, keyLength - trail);
      const auto at = std::size_t(d);
      const int c =
          d < keyLength - trail
              ? (static_cast<unsigned char>(prev[at]) < static_cast<unsigned char>(k[at]) ? -1 : 1)
              : ComparePairs(prev.substr(at), out.recnos_[std::size_t(i) - 1], k.substr(at), recno);
      if (c >= 0)
        return "chaves fora de ordem";
    }
  }
  out.maxRecno_ = maxRecno;
  out.packed_ = false;
  return std::nullopt;
}

CdxPageBytes EncodePage(const CdxNode& node) {
  CdxPageBytes p{};
  const int keyLength = node.keyLength_;
  const auto count = static_cast<uint32_t>(node.size());
  Put16(p, 0, node.attr);
  Put16(p, 2, count);
  Put32(p, 4, node.left);
  Put32(p, 8, node.right);
  if (!node.leaf()) {
    const int step = keyLength + 8;
    for (uint32_t i = 0; i < count; ++i) {
      const int at = 12 + static_cast<int>(i) * step;
      std::memcpy(&p[at], node.Key(i).data(), std::size_t(keyLength));
      Put32Be(p, at + keyLength, node.recnos_[i]);
      Put32Be(p, at + keyLength + 4, node.children_[i]);
    }
    return p;
  }
  node.Pack();
  const Widths w = WidthsFor(keyLength, node.maxRecno_);
  p[18] = static_cast<unsigned char>(Mask(w.dc));
  p[19] = static_cast<unsigned char>(Mask(w.tc));
  Put32(p, 14, Mask(w.rn));
  p[20] = static_cast<unsigned char>(w.rn);
  p[21] = static_cast<unsigned char>(w.dc);
  p[22] = static_cast<unsigned char>(w.tc);
  p[23] = static_cast<unsigned char>(w.e);
  int keyEnd = kCdxPageSize;
  int used = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const int dup = node.dup_[i];
    const int trail = node.trail_[i];
    const int stored = keyLength - dup - trail;
    const uint64_t v = static_cast<uint64_t>(node.recnos_[i]) |
                       (static_cast<uint64_t>(dup) << w.rn) |
                       (static_cast<uint64_t>(trail) << (w.rn + w.dc));
    for (int b = 0; b < w.e; ++b)
      p[24 + i * w.e + b] = static_cast<unsigned char>(v >> (8 * b));
    keyEnd -= stored;
    std::memcpy(&p[std::size_t(keyEnd)], node.Key(i).data() + dup, std::size_t(stored));
    used += w.e + stored;
  }
  Put16(p, 12, static_cast<uint32_t>(kLeafSpace - used));
  return p;
}

}  // namespace cau::xbase
