// The compound index file: header and tag directory, a cache of decoded
// pages, the tree changes (insert, remove, splits, bulk build), the checker
// and the cursor. Nothing reaches the disk before Flush.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <set>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "config/Errors.h"
#include "db/xbase/Cdx.h"
#include "db/xbase/CdxPage.h"

namespace cau::xbase {
namespace {

constexpr uint32_t kHeaderSize = 1024;
constexpr int kMaxDepth = 64;

uint16_t Get16(const unsigned char* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Get32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
void Put16(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}
void Put32(unsigned char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    p[i] = static_cast<unsigned char>(v >> (8 * i));
}

std::string Upper(std::string_view s) {
  std::string out(s);
  for (auto& c : out)
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>(c - 'a' + 'A');
  return out;
}

std::string Hex(uint64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(v));
  return buf;
}

int ComparePair(std::string_view ka, uint32_t ra, std::string_view kb, uint32_t rb) {
  const int c = CompareKeys(ka, kb);
  if (c != 0)
    return c;
  return ra < rb ? -1 : (ra > rb ? 1 : 0);
}

int ComparePrefix(std::string_view entryKey, std::string_view key) {
  return CompareKeys(entryKey.substr(0, key.size()), key);
}

// Owns a file descriptor.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
  Fd& operator=(Fd&& o) noexcept {
    reset();
    fd_ = std::exchange(o.fd_, -1);
    return *this;
  }
  ~Fd() { reset(); }
  int get() const { return fd_; }
  void reset() {
    if (fd_ >= 0)
      ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

}  // namespace

// A position on the physical (ascending) leaf chain; page 0 = none.
struct CdxPos {
  uint32_t page = 0;
  int index = 0;
  bool valid() const { return page != 0; }
};

class CdxStore {
 public:
  std::filesystem::path path;
  bool writable = false;
  Fd fd;
  uint64_t diskSize = 0;  // bytes on disk
  uint64_t fileSize = 0;  // bytes including pages allocated since the last flush
  uint32_t counter = 0;
  uint32_t freeHead = 0;  // header offset 4, kept as found
  TagInfo directory;
  std::vector<TagInfo> tags;
  uint64_t generation = 1;
  bool failed = false;

  struct Cached {
    CdxNode node;
    int keyLength;
    char fill;
    bool dirty;
  };
  std::unordered_map<uint32_t, Cached> cache;
  std::set<uint32_t> dirty;  // pages to write at the next flush
  // Pages this session freed, reused before the file grows. Pages found
  // abandoned in the file are left alone: another program may still count
  // them as its own free pages.
  std::vector<uint32_t> freePages;

  [[noreturn]] void Corrupt(const std::string& what) const {
    throw FileError(path.string(), "Índice " + path.filename().string() + " corrompido: " + what);
  }
  [[noreturn]] void IoError(const std::string& what) const {
    throw FileError(path.string(), "Índice " + path.filename().string() + ": " + what + ": " +
                                       std::strerror(errno));
  }

  void ReadAt(uint64_t offset, unsigned char* buf, std::size_t n) const {
    std::size_t done = 0;
    while (done < n) {
      const ssize_t got =
          ::pread(fd.get(), buf + done, n - done, static_cast<off_t>(offset + done));
      if (got < 0 && errno == EINTR)
        continue;
      if (got < 0)
        IoError("falha de leitura");
      if (got == 0)
        Corrupt("arquivo termina antes da posição " + Hex(offset + done));
      done += static_cast<std::size_t>(got);
    }
  }
  void WriteAt(uint64_t offset, const unsigned char* buf, std::size_t n) const {
    std::size_t done = 0;
    while (done < n) {
      const ssize_t put =
          ::pwrite(fd.get(), buf + done, n - done, static_cast<off_t>(offset + done));
      if (put < 0 && errno == EINTR)
        continue;
      if (put <= 0)
        IoError("falha de gravação");
      done += static_cast<std::size_t>(put);
    }
  }

  bool PageInRange(uint32_t offset) const {
    return offset % kCdxPageSize == 0 && offset >= kHeaderSize &&
           uint64_t{offset} + kCdxPageSize <= fileSize;
  }

  // The decoded page at `offset` for tag `t`, read and validated on first use.
  CdxNode& Node(const TagInfo& t, uint32_t offset) {
    auto it = cache.find(offset);
    if (it != cache.end()) {
      if (it->second.keyLength != t.keyLength || it->second.fill != t.fill)
        Corrupt("página " + Hex(offset) + " usada por duas tags");
      return it->second.node;
    }
    if (!PageInRange(offset))
      Corrupt("página " + Hex(offset) + " fora do arquivo ou desalinhada");
    CdxPageBytes bytes;
    ReadAt(offset, bytes.data(), bytes.size());
    CdxNode node;
    if (auto err = DecodePage(bytes, t.keyLength, t.fill, node))
      Corrupt("tag " + t.name + ", página " + Hex(offset) + ": " + *err);
    // In order within the page; with the checks of Hop this keeps every
    // walk finite.
    for (std::size_t i = 1; i < node.entries.size(); ++i) {
      const auto& a = node.entries[i - 1];
      const auto& b = node.entries[i];
      if (ComparePair(a.key, a.recno, b.key, b.recno) >= 0)
        Corrupt("tag " + t.name + ", página " + Hex(offset) + ": chaves fora de ordem");
    }
    return cache.emplace(offset, Cached{std::move(node), t.keyLength, t.fill, false})
        .first->second.node;
  }

  void MarkDirty(uint32_t offset) {
    cache.at(offset).dirty = true;
    dirty.insert(offset);
  }

  uint32_t Allocate(const TagInfo& t, CdxNode node) {
    uint32_t offset;
    if (!freePages.empty()) {
      offset = freePages.back();
      freePages.pop_back();
    } else {
      if (fileSize + kCdxPageSize > 0xFFFFFE00u)
        Corrupt("arquivo de índice cheio");
      offset = static_cast<uint32_t>(fileSize);
      fileSize += kCdxPageSize;
    }
    cache.insert_or_assign(offset, Cached{std::move(node), t.keyLength, t.fill, true});
    dirty.insert(offset);
    return offset;
  }

  void Release(uint32_t offset) {
    cache.erase(offset);
    dirty.erase(offset);
    freePages.push_back(offset);
  }

  // ---- navigation -------------------------------------------------------

  struct Step {
    uint32_t page;
    int index;
  };

  // Root-to-leaf path: in each branch the first entry not `less` than the
  // target (the last one if all are), in the leaf the first such position.
  template <typename Less>
  std::vector<Step> Descend(const TagInfo& t, Less less) {
    std::vector<Step> path;
    uint32_t page = t.rootPage;
    for (;;) {
      for (const auto& s : path)
        if (s.page == page)
          Corrupt("tag " + t.name + ": laço de páginas em " + Hex(page));
      if (path.size() >= kMaxDepth)
        Corrupt("tag " + t.name + ": árvore funda demais");
      const CdxNode& node = Node(t, page);
      const auto& e = node.entries;
      if (!node.leaf() && e.empty())
        Corrupt("tag " + t.name + ": página interna vazia");
      const int pos = static_cast<int>(
          std::partition_point(e.begin(), e.end(), [&](const CdxEntry& x) { return less(x); }) -
          e.begin());
      if (node.leaf()) {
        path.push_back({page, pos});
        return path;
      }
      const int idx = std::min(pos, static_cast<int>(e.size()) - 1);
      path.push_back({page, idx});
      page = e[idx].child;
    }
  }

  std::vector<Step> DescendPair(const TagInfo& t, std::string_view key, uint32_t recno) {
    return Descend(t,
                   [&](const CdxEntry& x) { return ComparePair(x.key, x.recno, key, recno) < 0; });
  }

  // The neighbour leaf on the chain, checked: the link is mirrored, it is a
  // non-empty leaf and the order goes on across the boundary (so a chain
  // can never loop).
  uint32_t Hop(const TagInfo& t, uint32_t page, bool right) {
    const CdxNode& from = Node(t, page);
    const uint32_t next = right ? from.right : from.left;
    if (next == kCdxNone)
      return 0;
    if (from.entries.empty())
      Corrupt("tag " + t.name + ": página " + Hex(page) + " vazia");
    const CdxEntry edge = right ? from.entries.back() : from.entries.front();
    const CdxNode& to = Node(t, next);
    if ((right ? to.left : to.right) != page)
      Corrupt("tag " + t.name + ": vizinhos de " + Hex(page) + " e " + Hex(next) + " não batem");
    if (!to.leaf() || to.entries.empty())
      Corrupt("tag " + t.name + ": página vizinha " + Hex(next) + " inválida");
    const CdxEntry& other = right ? to.entries.front() : to.entries.back();
    const int c = ComparePair(edge.key, edge.recno, other.key, other.recno);
    if (right ? c >= 0 : c <= 0)
      Corrupt("tag " + t.name + ": ordem quebrada entre " + Hex(page) + " e " + Hex(next));
    return next;
  }

  // Moves a position that may sit past the end of its leaf onto a real entry.
  CdxPos Normalize(const TagInfo& t, CdxPos pos) {
    while (pos.valid()) {
      const CdxNode& node = Node(t, pos.page);
      if (pos.index < static_cast<int>(node.entries.size()))
        return pos;
      if (node.entries.empty())
        return {};  // empty root leaf
      pos = {Hop(t, pos.page, true), 0};
    }
    return pos;
  }

  CdxPos Next(const TagInfo& t, CdxPos pos) {
    if (!pos.valid())
      return pos;
    ++pos.index;
    return Normalize(t, pos);
  }

  CdxPos Prev(const TagInfo& t, CdxPos pos) {
    if (!pos.valid())
      return Last(t);
    if (pos.index > 0)
      return {pos.page, pos.index - 1};
    const uint32_t left = Hop(t, pos.page, false);
    if (left == 0)
      return {};
    return {left, static_cast<int>(Node(t, left).entries.size()) - 1};
  }

  CdxPos First(const TagInfo& t) {
    auto path = Descend(t, [](const CdxEntry&) { return false; });
    return Normalize(t, {path.back().page, 0});
  }

  CdxPos Last(const TagInfo& t) {
    auto path = Descend(t, [](const CdxEntry&) { return true; });
    const CdxNode& leaf = Node(t, path.back().page);
    if (leaf.entries.empty())
      return {};
    return {path.back().page, static_cast<int>(leaf.entries.size()) - 1};
  }

  CdxPos LowerBound(const TagInfo& t, std::string_view key, uint32_t recno) {
    auto path = DescendPair(t, key, recno);
    return Normalize(t, {path.back().page, path.back().index});
  }

  const CdxEntry& At(const TagInfo& t, CdxPos pos) { return Node(t, pos.page).entries[pos.index]; }

  // ---- changes ----------------------------------------------------------

  static CdxEntry LastOf(const CdxNode& n) {
    const auto& e = n.entries.back();
    return {e.key, e.recno, 0};
  }

  static bool Overflows(const TagInfo& t, CdxNode& n) {
    return n.leaf() ? LeafSize(n, t.keyLength, t.fill) > kLeafSpace
                    : n.entries.size() > BranchCapacity(t.keyLength);
  }

  // Moves the lower part of an overfull page into a new page placed as its
  // left sibling; returns the new page.
  uint32_t Split(const TagInfo& t, uint32_t page) {
    CdxNode& node = Node(t, page);
    const int n = static_cast<int>(node.entries.size());
    auto fits = [&](int from, int to) {
      if (!node.leaf())
        return static_cast<std::size_t>(to - from) <= BranchCapacity(t.keyLength);
      std::vector<CdxEntry> part(node.entries.begin() + from, node.entries.begin() + to);
      return LeafFits(part, t.keyLength, t.fill);
    };
    int at = -1;
    for (int d = 0; d < n && at < 0; ++d) {
      for (int m : {n / 2 - d, n / 2 + d + 1}) {
        if (m >= 1 && m < n && fits(0, m) && fits(m, n)) {
          at = m;
          break;
        }
      }
    }
    if (at < 0)
      throw Error("índice: página não pôde ser dividida");
    CdxNode lower;
    lower.attr = node.leaf() ? kAttrLeaf : 0;
    lower.entries.assign(std::make_move_iterator(node.entries.begin()),
                         std::make_move_iterator(node.entries.begin() + at));
    lower.left = node.left;
    lower.right = page;
    const uint32_t oldLeft = node.left;
    if (oldLeft != kCdxNone)
      Node(t, oldLeft);  // read before changing anything
    const uint32_t fresh = Allocate(t, std::move(lower));
    CdxNode& upper = Node(t, page);  // same object; the cache keeps references stable
    upper.entries.erase(upper.entries.begin(), upper.entries.begin() + at);
    upper.packedKeys = -1;
    upper.left = fresh;
    MarkDirty(page);
    if (oldLeft != kCdxNone) {
      Node(t, oldLeft).right = fresh;
      MarkDirty(oldLeft);
    }
    return fresh;
  }

  // The root stays where the header points: its contents move to a new
  // page, which is split, and the root becomes a branch over the two.
  void SplitRoot(const TagInfo& t, uint32_t rootPage) {
    CdxNode copy = Node(t, rootPage);
    copy.attr = copy.leaf() ? kAttrLeaf : 0;
    copy.left = copy.right = kCdxNone;
    const uint32_t upper = Allocate(t, std::move(copy));
    const uint32_t lower = Split(t, upper);
    CdxNode& root = Node(t, rootPage);
    root.attr = kAttrRoot;
    root.left = root.right = kCdxNone;
    CdxEntry a = LastOf(Node(t, lower)), b = LastOf(Node(t, upper));
    a.child = lower;
    b.child = upper;
    root.entries = {std::move(a), std::move(b)};
    MarkDirty(rootPage);
  }

  void Unlink(const TagInfo& t, uint32_t page) {
    const CdxNode& node = Node(t, page);
    const uint32_t left = node.left, right = node.right;
    if (left != kCdxNone)
      Node(t, left);
    if (right != kCdxNone)
      Node(t, right);
    if (left != kCdxNone) {
      Node(t, left).right = right;
      MarkDirty(left);
    }
    if (right != kCdxNone) {
      Node(t, right).left = left;
      MarkDirty(right);
    }
    Release(page);
  }

  // After a change to the leaf at the end of `path`: frees emptied pages,
  // splits overfull ones and brings each parent entry to its child's last
  // pair, level by level up to the root.
  void Repair(const TagInfo& t, const std::vector<Step>& path) {
    for (int d = static_cast<int>(path.size()) - 1; d >= 0; --d) {
      const uint32_t page = path[d].page;
      CdxNode& node = Node(t, page);
      if (d == 0) {
        if (node.entries.empty() && !node.leaf()) {
          node.attr = kAttrRoot | kAttrLeaf;  // the tag became empty
          MarkDirty(page);
        } else if (Overflows(t, node)) {
          SplitRoot(t, page);
        }
        return;
      }
      const uint32_t parentPage = path[d - 1].page;
      const int ci = path[d - 1].index;
      CdxNode& parent = Node(t, parentPage);
      if (node.entries.empty()) {
        Unlink(t, page);
        parent.entries.erase(parent.entries.begin() + ci);
        MarkDirty(parentPage);
        continue;
      }
      const uint32_t lower = Overflows(t, node) ? Split(t, page) : 0;
      CdxNode& kept = Node(t, page);
      CdxEntry last = LastOf(kept);
      auto& slot = parent.entries[ci];
      if (slot.key != last.key || slot.recno != last.recno) {
        slot.key = last.key;
        slot.recno = last.recno;
        MarkDirty(parentPage);
      }
      if (lower != 0) {
        CdxEntry e = LastOf(Node(t, lower));
        e.child = lower;
        parent.entries.insert(parent.entries.begin() + ci, std::move(e));
        MarkDirty(parentPage);
      }
    }
  }

  bool Insert(const TagInfo& t, std::string_view key, uint32_t recno) {
    auto path = DescendPair(t, key, recno);
    CdxNode& leaf = Node(t, path.back().page);
    const int idx = path.back().index;
    if (idx < static_cast<int>(leaf.entries.size()) && leaf.entries[idx].key == key &&
        leaf.entries[idx].recno == recno)
      return false;
    LeafInsert(leaf, static_cast<std::size_t>(idx), CdxEntry{std::string(key), recno, 0}, t.fill);
    MarkDirty(path.back().page);
    ++generation;
    Repair(t, path);
    return true;
  }

  bool Remove(const TagInfo& t, std::string_view key, uint32_t recno) {
    auto path = DescendPair(t, key, recno);
    CdxNode& leaf = Node(t, path.back().page);
    const int idx = path.back().index;
    if (idx >= static_cast<int>(leaf.entries.size()) || leaf.entries[idx].key != key ||
        leaf.entries[idx].recno != recno)
      return false;
    LeafErase(leaf, static_cast<std::size_t>(idx), t.fill);
    MarkDirty(path.back().page);
    ++generation;
    Repair(t, path);
    return true;
  }

  // Every page of a tag's tree below its root (validated on the way).
  void CollectBelowRoot(const TagInfo& t, uint32_t page, int depth,
                        std::unordered_set<uint32_t>& out) {
    if (depth > kMaxDepth)
      Corrupt("tag " + t.name + ": árvore funda demais");
    const CdxNode& node = Node(t, page);
    if (node.leaf())
      return;
    std::vector<uint32_t> children;
    for (const auto& e : node.entries)
      children.push_back(e.child);
    for (uint32_t c : children) {
      if (c == t.rootPage || !out.insert(c).second)
        Corrupt("tag " + t.name + ": página " + Hex(c) + " alcançada duas vezes");
      CollectBelowRoot(t, c, depth + 1, out);
    }
  }

  // Replaces the tree with sorted, distinct entries, pages packed full.
  void Build(const TagInfo& t, std::vector<CdxEntry> sorted) {
    std::unordered_set<uint32_t> old;
    CollectBelowRoot(t, t.rootPage, 0, old);
    std::vector<uint32_t> ordered(old.begin(), old.end());
    std::sort(ordered.rbegin(), ordered.rend());  // reused lowest first
    for (uint32_t p : ordered)
      Release(p);
    ++generation;

    // Leaves, greedily filled.
    std::vector<CdxNode> level;
    {
      CdxNode cur;
      cur.attr = kAttrLeaf;
      int stored = 0;  // key bytes of the entries in `cur`
      uint32_t maxRecno = 0;
      for (auto& e : sorted) {
        const std::string* prev = cur.entries.empty() ? nullptr : &cur.entries.back().key;
        const int more = LeafStoredBytes(e.key, prev, t.fill);
        const uint32_t newMax = std::max(maxRecno, e.recno);
        const auto count = static_cast<int>(cur.entries.size()) + 1;
        if (prev && count * LeafEntryWidth(t.keyLength, newMax) + stored + more > kLeafSpace) {
          level.push_back(std::move(cur));
          cur = CdxNode{};
          cur.attr = kAttrLeaf;
          stored = LeafStoredBytes(e.key, nullptr, t.fill);
          maxRecno = e.recno;
        } else {
          stored += more;
          maxRecno = newMax;
        }
        cur.entries.push_back(std::move(e));
      }
      if (!cur.entries.empty() || level.empty())
        level.push_back(std::move(cur));
    }
    const std::size_t cap = BranchCapacity(t.keyLength);
    while (level.size() > 1) {
      std::vector<uint32_t> pages;
      for (std::size_t i = 0; i < level.size(); ++i)
        pages.push_back(Allocate(t, CdxNode{}));
      std::vector<CdxNode> up;
      for (std::size_t i = 0; i < level.size(); ++i) {
        CdxNode& n = level[i];
        n.left = i == 0 ? kCdxNone : pages[i - 1];
        n.right = i + 1 == level.size() ? kCdxNone : pages[i + 1];
        if (up.empty() || up.back().entries.size() == cap) {
          up.emplace_back();
          up.back().attr = 0;
        }
        CdxEntry e = LastOf(n);
        e.child = pages[i];
        up.back().entries.push_back(std::move(e));
        cache.at(pages[i]).node = std::move(n);
      }
      level = std::move(up);
    }
    CdxNode& root = Node(t, t.rootPage);
    root = std::move(level.front());
    root.attr = static_cast<uint16_t>(root.attr | kAttrRoot);
    root.left = root.right = kCdxNone;
    MarkDirty(t.rootPage);
  }

  // ---- reading the bag --------------------------------------------------

  TagInfo ReadTagHeader(const std::string& name, uint32_t offset) {
    unsigned char h[kHeaderSize];
    ReadAt(offset, h, sizeof h);
    TagInfo t;
    t.name = name;
    t.headerOffset = offset;
    t.rootPage = Get32(h);
    t.keyLength = Get16(h + 12);
    t.options = h[14];
    t.signature = h[15];
    const std::string label = "tag " + name;
    if (t.keyLength < 1 || t.keyLength > kCdxMaxKeyLength)
      Corrupt(label + ": tamanho de chave " + std::to_string(t.keyLength));
    if (!PageInRange(t.rootPage))
      Corrupt(label + ": raiz " + Hex(t.rootPage) + " inválida");
    const uint16_t order = Get16(h + 502);
    if (order > 1)
      Corrupt(label + ": ordem desconhecida");
    t.descending = order == 1;
    t.unique = (t.options & 0x01) != 0;
    t.nullable = (t.options & 0x02) != 0;
    t.candidate = (t.options & 0x04) != 0;
    t.hasFor = (t.options & 0x08) != 0;
    for (int i = 494; i < 502 && h[i] != 0; ++i) {
      if (h[i] < 0x21 || h[i] > 0x7E)
        Corrupt(label + ": nome de ordenação inválido");
      t.collation.push_back(static_cast<char>(h[i]));
    }
    auto poolText = [&](int offAt, int lenAt) {
      const uint32_t off = Get16(h + offAt), len = Get16(h + lenAt);
      if (off + len > 512)
        Corrupt(label + ": expressão fora do cabeçalho");
      const char* p = reinterpret_cast<const char*>(h + 512 + off);
      return std::string(p, strnlen(p, len));
    };
    t.keyExpr = poolText(508, 510);
    t.forExpr = t.hasFor ? poolText(504, 506) : std::string();
    return t;
  }

  // The fill byte the leaves were compressed with: a stored key never ends
  // in its own fill byte, and branch keys keep it uncompressed.
  char InferFill(const TagInfo& probe) {
    if (!probe.collation.empty())
      return '\0';
    int votesSpace = 0, votesZero = 0;
    CdxPageBytes bytes;
    uint32_t page = probe.rootPage;
    for (int depth = 0; depth < kMaxDepth; ++depth) {
      ReadAt(page, bytes.data(), bytes.size());
      CdxNode a, b;
      if (DecodePage(bytes, probe.keyLength, ' ', a))
        return ' ';  // reported on first use
      if (!a.leaf()) {
        for (const auto& e : a.entries) {
          if (e.key.back() == ' ')
            ++votesSpace;
          if (e.key.back() == '\0')
            ++votesZero;
        }
        if (a.entries.empty() || !PageInRange(a.entries.front().child))
          break;
        page = a.entries.front().child;
        continue;
      }
      DecodePage(bytes, probe.keyLength, '\0', b);
      auto ordered = [](const CdxNode& n) {
        for (std::size_t i = 1; i < n.entries.size(); ++i)
          if (ComparePair(n.entries[i - 1].key, n.entries[i - 1].recno, n.entries[i].key,
                          n.entries[i].recno) >= 0)
            return false;
        return true;
      };
      if (ordered(a) != ordered(b))
        return ordered(a) ? ' ' : '\0';
      for (std::size_t i = 0; i < a.entries.size(); ++i) {
        const std::string& ka = a.entries[i].key;
        const std::string& kb = b.entries[i].key;
        std::size_t s = ka.size();
        while (s > 0 && ka[s - 1] != kb[s - 1])
          --s;
        if (s == 0)
          continue;
        if (ka[s - 1] == ' ')
          votesZero += 4;
        if (ka[s - 1] == '\0')
          votesSpace += 4;
      }
      break;
    }
    if (votesSpace != votesZero)
      return votesSpace > votesZero ? ' ' : '\0';
    const int plain = probe.keyLength - (probe.nullable ? 1 : 0);
    return plain == 4 || plain == 8 ? '\0' : ' ';
  }

  uint32_t DiskCounter() const {
    unsigned char be[4];
    ReadAt(8, be, 4);
    return (uint32_t{be[0]} << 24) | (uint32_t{be[1]} << 16) | (uint32_t{be[2]} << 8) | be[3];
  }

  void Load() {
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0)
      IoError("falha ao examinar");
    diskSize = fileSize = static_cast<uint64_t>(st.st_size);
    if (fileSize < kHeaderSize + kCdxPageSize)
      Corrupt("arquivo curto demais");
    if (fileSize % kCdxPageSize != 0)
      Corrupt("tamanho não é múltiplo de 512");
    if (fileSize > 0xFFFFFE00u)
      Corrupt("arquivo grande demais");
    unsigned char h[kHeaderSize];
    ReadAt(0, h, sizeof h);
    counter = (uint32_t{h[8]} << 24) | (uint32_t{h[9]} << 16) | (uint32_t{h[10]} << 8) | h[11];
    freeHead = Get32(h + 4);
    directory = ReadTagHeader("(diretório)", 0);
    directory.fill = ' ';
    std::set<uint32_t> headers;
    for (CdxPos pos = First(directory); pos.valid(); pos = Next(directory, pos)) {
      const CdxEntry& e = At(directory, pos);
      std::string name = e.key;
      while (!name.empty() && (name.back() == ' ' || name.back() == '\0'))
        name.pop_back();
      const uint32_t off = e.recno;
      if (off % kCdxPageSize != 0 || off < kHeaderSize || uint64_t{off} + kHeaderSize > fileSize)
        Corrupt("tag " + name + ": cabeçalho em " + Hex(off) + " inválido");
      if (!headers.insert(off).second)
        Corrupt("duas tags com o mesmo cabeçalho " + Hex(off));
      tags.push_back(ReadTagHeader(name, off));
    }
    for (auto& t : tags) {
      t.fill = InferFill(t);
      Node(t, t.rootPage);
    }
  }
};

// ---- CdxFile --------------------------------------------------------------

CdxFile::CdxFile() : store_(std::make_unique<CdxStore>()) {}

CdxFile::~CdxFile() {
  if (store_ && store_->writable && !store_->failed && store_->fd.get() >= 0) {
    try {
      Flush(true);
    } catch (...) {  // nothing more can be done here; Flush reports when called
    }
  }
}

namespace {

// Runs a change; a file error on the way leaves the bag unwritable, so a
// half-made change can never reach the disk.
template <typename F>
auto Guarded(CdxStore& s, F&& f) {
  try {
    return f();
  } catch (const FileError&) {
    s.failed = true;
    throw;
  }
}

}  // namespace

std::unique_ptr<CdxFile> CdxFile::Open(const std::filesystem::path& path, bool writable) {
  std::unique_ptr<CdxFile> file(new CdxFile());
  CdxStore& s = *file->store_;
  s.path = path;
  s.writable = false;  // until it has been checked
  s.fd = Fd(::open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC));
  if (s.fd.get() < 0)
    s.IoError("não foi possível abrir");
  s.Load();
  if (writable) {
    auto problems = file->CheckStructure();
    if (!problems.empty())
      s.Corrupt(problems.front());
    s.writable = true;
  }
  return file;
}

std::unique_ptr<CdxFile> CdxFile::Create(const std::filesystem::path& path,
                                         const std::vector<TagSpec>& specs) {
  std::vector<TagSpec> sorted = specs;
  std::set<std::string> names;
  for (auto& t : sorted) {
    t.name = Upper(t.name);
    if (t.name.empty() || t.name.size() > 10)
      throw Error("nome de tag inválido: " + t.name);
    for (char c : t.name)
      if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'))
        throw Error("nome de tag inválido: " + t.name);
    if (!names.insert(t.name).second)
      throw Error("tag repetida: " + t.name);
    if (t.keyLength < 1 || t.keyLength > kCdxMaxKeyLength)
      throw Error("tag " + t.name + ": tamanho de chave " + std::to_string(t.keyLength));
    if (t.keyExpr.empty() || t.keyExpr.size() + t.forExpr.size() + 2 > 512)
      throw Error("tag " + t.name + ": expressão vazia ou longa demais");
  }

  std::unique_ptr<CdxFile> file(new CdxFile());
  CdxStore& s = *file->store_;
  s.path = path;
  s.fd = Fd(::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (s.fd.get() < 0)
    s.IoError("não foi possível criar");
  s.writable = true;
  s.failed = true;  // until complete

  auto header = [](uint32_t root, int keyLength, uint8_t options, const std::string& keyExpr,
                   const std::string& forExpr, bool descending) {
    std::vector<unsigned char> h(kHeaderSize, 0);
    Put32(&h[0], root);
    Put16(&h[12], static_cast<uint32_t>(keyLength));
    h[14] = options;
    h[15] = 1;
    Put16(&h[502], descending ? 1 : 0);
    Put16(&h[504], static_cast<uint32_t>(keyExpr.size() + 1));
    Put16(&h[506], static_cast<uint32_t>(forExpr.size() + 1));
    Put16(&h[508], 0);
    Put16(&h[510], static_cast<uint32_t>(keyExpr.size() + 1));
    std::memcpy(&h[512], keyExpr.data(), keyExpr.size());
    std::memcpy(&h[512 + keyExpr.size() + 1], forExpr.data(), forExpr.size());
    return h;
  };

  const uint32_t dirRoot = kHeaderSize;
  s.directory.name = "(diretório)";
  s.directory.keyLength = 10;
  s.directory.options = 0xE0;
  s.directory.signature = 1;
  s.directory.rootPage = dirRoot;
  s.directory.fill = ' ';
  auto bag = header(dirRoot, 10, 0xE0, "", "", false);
  s.WriteAt(0, bag.data(), bag.size());

  uint32_t at = dirRoot + kCdxPageSize;
  for (const auto& spec : specs) {
    const std::string name = Upper(spec.name);
    TagInfo t;
    t.name = name;
    t.keyExpr = spec.keyExpr;
    t.forExpr = spec.forExpr;
    t.keyLength = spec.keyLength;
    t.unique = spec.unique;
    t.nullable = spec.nullable;
    t.candidate = spec.candidate;
    t.hasFor = !spec.forExpr.empty();
    t.descending = spec.descending;
    t.options = static_cast<uint8_t>(0x60 | (t.unique ? 0x01 : 0) | (t.nullable ? 0x02 : 0) |
                                     (t.candidate ? 0x04 : 0) | (t.hasFor ? 0x08 : 0));
    t.signature = 1;
    t.fill = FillByte(spec.keyType);
    t.headerOffset = at;
    t.rootPage = at + kHeaderSize;
    auto h = header(t.rootPage, t.keyLength, t.options, t.keyExpr, t.forExpr, t.descending);
    s.WriteAt(at, h.data(), h.size());
    at += kHeaderSize + kCdxPageSize;
    s.tags.push_back(std::move(t));
  }
  std::sort(s.tags.begin(), s.tags.end(),
            [](const TagInfo& a, const TagInfo& b) { return CompareKeys(a.name, b.name) < 0; });
  s.fileSize = at;
  s.diskSize = kHeaderSize;
  auto emptyRoot = [&](const TagInfo& t) {
    s.cache.insert_or_assign(t.rootPage, CdxStore::Cached{CdxNode{}, t.keyLength, t.fill, true});
    s.dirty.insert(t.rootPage);
  };
  emptyRoot(s.directory);
  for (const auto& t : s.tags)
    emptyRoot(t);
  std::vector<CdxEntry> dir;
  for (const auto& t : s.tags) {
    std::string key = t.name;
    key.resize(10, ' ');
    dir.push_back({key, t.headerOffset, 0});
  }
  s.Build(s.directory, std::move(dir));
  s.failed = false;
  file->Flush(true);
  s.counter = 0;  // a new bag starts at zero
  unsigned char zero[4] = {0, 0, 0, 0};
  s.WriteAt(8, zero, 4);
  return file;
}

const std::filesystem::path& CdxFile::path() const {
  return store_->path;
}
bool CdxFile::writable() const {
  return store_->writable;
}
const std::vector<TagInfo>& CdxFile::tags() const {
  return store_->tags;
}
uint32_t CdxFile::changeCounter() const {
  return store_->counter;
}

int CdxFile::FindTag(std::string_view name) const {
  const std::string want = Upper(name);
  for (std::size_t i = 0; i < store_->tags.size(); ++i)
    if (Upper(store_->tags[i].name) == want)
      return static_cast<int>(i);
  return -1;
}

namespace {

const TagInfo& TagAt(const CdxStore& s, int tag) {
  if (tag < 0 || static_cast<std::size_t>(tag) >= s.tags.size())
    throw Error("índice: tag " + std::to_string(tag) + " não existe");
  return s.tags[tag];
}

const TagInfo& WritableTag(const CdxStore& s, int tag, std::string_view key) {
  const TagInfo& t = TagAt(s, tag);
  if (!s.writable)
    throw Error("índice " + s.path.filename().string() + " aberto só para leitura");
  if (s.failed)
    throw Error("índice " + s.path.filename().string() + " inutilizado por erro anterior");
  if (!t.collation.empty())
    throw Error("tag " + t.name + " usa a ordenação " + t.collation + ", que não sabemos gravar");
  if (static_cast<int>(key.size()) != t.keyLength)
    throw Error("tag " + t.name + ": chave de " + std::to_string(key.size()) +
                " bytes, a tag usa " + std::to_string(t.keyLength));
  return t;
}

}  // namespace

void CdxFile::SetKeyType(int tag, ValueType type) {
  CdxStore& s = *store_;
  TagAt(s, tag);
  TagInfo& t = s.tags[static_cast<std::size_t>(tag)];
  const char fill = FillByte(type, !t.collation.empty());
  if (fill == t.fill)
    return;
  if (!s.dirty.empty())
    throw Error("índice: tipo de chave trocado com alterações pendentes");
  t.fill = fill;
  s.cache.clear();
  ++s.generation;
  if (s.writable) {  // the open-time check read the pages the other way
    const auto problems = CheckStructure();
    if (!problems.empty()) {
      s.failed = true;
      s.Corrupt(problems.front());
    }
  }
}

bool CdxFile::Insert(int tag, std::string_view key, uint32_t recno) {
  CdxStore& s = *store_;
  const TagInfo& t = WritableTag(s, tag, key);
  if (recno == 0)
    throw Error("índice: registro 0");
  return Guarded(s, [&] {
    if (t.unique || t.candidate) {
      if (HasKey(tag, key)) {
        if (t.candidate)
          throw Error("tag " + t.name + ": chave repetida não é permitida (candidata)");
        return false;
      }
    }
    return s.Insert(t, key, recno);
  });
}

bool CdxFile::Remove(int tag, std::string_view key, uint32_t recno) {
  CdxStore& s = *store_;
  const TagInfo& t = WritableTag(s, tag, key);
  return Guarded(s, [&] { return s.Remove(t, key, recno); });
}

std::optional<std::string> CdxFile::RemoveRecord(int tag, uint32_t recno) {
  CdxStore& s = *store_;
  const TagInfo& t = WritableTag(s, tag, std::string(TagAt(s, tag).keyLength, ' '));
  return Guarded(s, [&]() -> std::optional<std::string> {
    for (CdxPos pos = s.First(t); pos.valid(); pos = s.Next(t, pos)) {
      const CdxEntry& e = s.At(t, pos);
      if (e.recno != recno)
        continue;
      std::string key = e.key;
      s.Remove(t, key, recno);
      return key;
    }
    return std::nullopt;
  });
}

bool CdxFile::HasKey(int tag, std::string_view key) const {
  CdxStore& s = *store_;
  const TagInfo& t = TagAt(s, tag);
  const CdxPos pos = s.LowerBound(t, key, 0);
  return pos.valid() && s.At(t, pos).key == key;
}

void CdxFile::Build(int tag, std::vector<std::pair<std::string, uint32_t>> entries) {
  CdxStore& s = *store_;
  const TagInfo& t = WritableTag(s, tag, std::string(TagAt(s, tag).keyLength, ' '));
  for (const auto& [key, recno] : entries) {
    if (static_cast<int>(key.size()) != t.keyLength)
      throw Error("tag " + t.name + ": chave de tamanho errado");
    if (recno == 0)
      throw Error("índice: registro 0");
  }
  std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
    return ComparePair(a.first, a.second, b.first, b.second) < 0;
  });
  std::vector<CdxEntry> sorted;
  sorted.reserve(entries.size());
  for (auto& [key, recno] : entries) {
    if (!sorted.empty() && sorted.back().key == key) {
      if (sorted.back().recno == recno)
        continue;
      if (t.candidate)
        throw Error("tag " + t.name + ": chave repetida não é permitida (candidata)");
      if (t.unique)
        continue;
    }
    sorted.push_back({std::move(key), recno, 0});
  }
  Guarded(s, [&] {
    s.Build(t, std::move(sorted));
    return 0;
  });
}

void CdxFile::Flush(bool sync) {
  CdxStore& s = *store_;
  if (!s.writable)
    return;
  if (s.failed)
    throw Error("índice " + s.path.filename().string() + " não gravado: erro anterior");
  std::vector<uint32_t> fresh, changed;
  for (uint32_t offset : s.dirty)  // ascending
    (offset >= s.diskSize ? fresh : changed).push_back(offset);
  if (!fresh.empty() || !changed.empty() || s.fileSize > s.diskSize) {
    Guarded(s, [&] {
      if (s.DiskCounter() != s.counter)
        s.Corrupt("alterado por outro programa desde a leitura; nada foi gravado");
      // New pages first: nothing points at them until the old ones change.
      for (auto* list : {&fresh, &changed}) {
        for (uint32_t offset : *list) {
          auto& c = s.cache.at(offset);
          const CdxPageBytes bytes = EncodePage(c.node, c.keyLength, c.fill);
          s.WriteAt(offset, bytes.data(), bytes.size());
          c.node.freeField = static_cast<uint16_t>(bytes[12] | (bytes[13] << 8));
          c.node.usedBytes = kLeafSpace - c.node.freeField;
        }
      }
      if (s.fileSize > s.diskSize && ::ftruncate(s.fd.get(), static_cast<off_t>(s.fileSize)) != 0)
        s.IoError("falha ao estender");
      s.diskSize = s.fileSize;
      ++s.counter;
      const unsigned char be[4] = {
          static_cast<unsigned char>(s.counter >> 24), static_cast<unsigned char>(s.counter >> 16),
          static_cast<unsigned char>(s.counter >> 8), static_cast<unsigned char>(s.counter)};
      s.WriteAt(8, be, 4);
      return 0;
    });
    for (uint32_t offset : s.dirty)
      s.cache.at(offset).dirty = false;
    s.dirty.clear();
  }
  if (sync && ::fsync(s.fd.get()) != 0) {
    s.failed = true;
    s.IoError("falha ao sincronizar");
  }
}

bool CdxFile::Refresh() {
  CdxStore& s = *store_;
  if (s.DiskCounter() == s.counter)
    return false;
  if (!s.dirty.empty()) {
    s.failed = true;  // what is pending here was made on pages that changed
    throw Error("índice " + s.path.filename().string() +
                " alterado por outro programa com alterações pendentes aqui");
  }
  std::vector<char> fills;
  for (const auto& t : s.tags)
    fills.push_back(t.fill);
  const auto oldTags = s.tags;
  s.cache.clear();
  s.freePages.clear();
  s.tags.clear();
  ++s.generation;
  Guarded(s, [&] {
    s.Load();
    return 0;
  });
  // Keep the key types the caller confirmed for tags that are still the same.
  for (auto& t : s.tags)
    for (std::size_t i = 0; i < oldTags.size(); ++i)
      if (oldTags[i].headerOffset == t.headerOffset && oldTags[i].name == t.name &&
          t.fill != fills[i]) {
        t.fill = fills[i];
        s.cache.clear();
      }
  return true;
}

void CdxFile::Close() {
  Flush(true);
  store_->fd.reset();
  store_->writable = false;
}

// ---- checker --------------------------------------------------------------

std::vector<std::string> CdxFile::CheckStructure() const {
  CdxStore& s = *store_;
  std::vector<std::string> problems;
  std::unordered_set<uint32_t> seen = {0, kCdxPageSize};
  for (const auto& t : s.tags) {
    for (uint32_t p : {t.headerOffset, t.headerOffset + kCdxPageSize})
      if (!seen.insert(p).second)
        problems.push_back("tag " + t.name + ": cabeçalho em página já usada");
  }
  auto checkTree = [&](const TagInfo& t, bool isDirectory) {
    const std::string label = "tag " + t.name;
    std::vector<std::vector<uint32_t>> levels;
    int leafDepth = -1;
    std::function<void(uint32_t, int)> visit = [&](uint32_t page, int depth) {
      if (depth >= kMaxDepth) {
        problems.push_back(label + ": árvore funda demais");
        return;
      }
      if (!s.PageInRange(page)) {
        problems.push_back(label + ": página " + Hex(page) + " fora do arquivo ou desalinhada");
        return;
      }
      if (!seen.insert(page).second) {
        problems.push_back(label + ": página " + Hex(page) + " alcançada duas vezes");
        return;
      }
      const CdxNode* node;
      bool dirty;
      try {
        node = &s.Node(t, page);
        dirty = s.cache.at(page).dirty;
      } catch (const FileError& e) {
        problems.push_back(e.what());
        return;
      }
      const std::string at = label + ", página " + Hex(page) + ": ";
      if (static_cast<std::size_t>(depth) >= levels.size())
        levels.resize(depth + 1);
      levels[depth].push_back(page);
      if (node->root() != (depth == 0))
        problems.push_back(at + "marca de raiz errada");
      if (node->entries.empty() && depth != 0)
        problems.push_back(at + "página vazia");
      for (std::size_t i = 1; i < node->entries.size(); ++i) {
        const auto& a = node->entries[i - 1];
        const auto& b = node->entries[i];
        if (ComparePair(a.key, a.recno, b.key, b.recno) >= 0) {
          problems.push_back(at + "chaves fora de ordem");
          break;
        }
        if ((t.unique || t.candidate) && a.key == b.key && !isDirectory) {
          problems.push_back(at + "chave repetida em tag única");
          break;
        }
      }
      if (node->leaf()) {
        if (leafDepth < 0)
          leafDepth = depth;
        if (leafDepth != depth)
          problems.push_back(at + "folhas em profundidades diferentes");
        if (!dirty && node->freeField != kLeafSpace - node->usedBytes)
          problems.push_back(at + "espaço livre registrado errado");
        if (!isDirectory)
          for (const auto& e : node->entries)
            if (e.recno == 0) {
              problems.push_back(at + "registro 0");
              break;
            }
        return;
      }
      const std::vector<CdxEntry> entries = node->entries;
      for (const auto& e : entries) {
        visit(e.child, depth + 1);
        auto it = s.cache.find(e.child);
        if (it == s.cache.end() || it->second.node.entries.empty())
          continue;
        const auto& last = it->second.node.entries.back();
        if (last.key != e.key || last.recno != e.recno)
          problems.push_back(at + "chave interna difere da última chave da página " + Hex(e.child));
      }
    };
    visit(t.rootPage, 0);
    for (std::size_t d = 0; d < levels.size(); ++d) {
      const auto& pages = levels[d];
      for (std::size_t i = 0; i < pages.size(); ++i) {
        const CdxNode& n = s.cache.at(pages[i]).node;
        const uint32_t wantLeft = i == 0 ? kCdxNone : pages[i - 1];
        const uint32_t wantRight = i + 1 == pages.size() ? kCdxNone : pages[i + 1];
        if (n.left != wantLeft || n.right != wantRight)
          problems.push_back(label + ", página " + Hex(pages[i]) + ": vizinhos errados");
        if (i + 1 < pages.size()) {
          const CdxNode& m = s.cache.at(pages[i + 1]).node;
          if (!n.entries.empty() && !m.entries.empty()) {
            const auto& a = n.entries.back();
            const auto& b = m.entries.front();
            if (ComparePair(a.key, a.recno, b.key, b.recno) >= 0)
              problems.push_back(label + ": ordem quebrada entre " + Hex(pages[i]) + " e " +
                                 Hex(pages[i + 1]));
          }
        }
      }
    }
  };
  checkTree(s.directory, true);
  for (const auto& t : s.tags)
    checkTree(t, false);
  if (s.freeHead != 0 && s.freeHead != kCdxNone && seen.count(s.freeHead) != 0)
    problems.push_back("primeira página livre " + Hex(s.freeHead) + " está em uso");
  for (uint32_t p : s.freePages)
    if (seen.count(p) != 0)
      problems.push_back("página livre " + Hex(p) + " está em uso");
  return problems;
}

std::vector<std::pair<std::string, uint32_t>> CdxFile::Entries(int tag) const {
  CdxStore& s = *store_;
  const TagInfo& t = TagAt(s, tag);
  std::vector<std::pair<std::string, uint32_t>> out;
  for (CdxPos pos = s.First(t); pos.valid(); pos = s.Next(t, pos)) {
    const CdxEntry& e = s.At(t, pos);
    out.emplace_back(e.key, e.recno);
  }
  if (t.descending)
    std::reverse(out.begin(), out.end());
  return out;
}

CdxFile::TagStats CdxFile::Stats(int tag) const {
  CdxStore& s = *store_;
  const TagInfo& t = TagAt(s, tag);
  TagStats stats;
  std::unordered_set<uint32_t> below;
  s.CollectBelowRoot(t, t.rootPage, 0, below);
  stats.pages = static_cast<int>(below.size()) + 1;
  stats.levels = static_cast<int>(s.Descend(t, [](const CdxEntry&) { return false; }).size());
  for (CdxPos pos = s.First(t); pos.valid(); pos = {s.Hop(t, pos.page, true), 0})
    stats.keys += static_cast<long>(s.Node(t, pos.page).entries.size());
  return stats;
}

// ---- cursor ---------------------------------------------------------------

CdxFile::Cursor CdxFile::OpenCursor(int tag) const {
  TagAt(*store_, tag);
  return Cursor(this, tag);
}

bool CdxFile::Cursor::Load() {
  CdxStore& s = *file_->store_;
  const TagInfo& t = TagAt(s, tag_);
  generation_ = s.generation;
  if (page_ == 0) {
    eof_ = true;
    key_.clear();
    recno_ = 0;
    return false;
  }
  const CdxEntry& e = s.At(t, {page_, index_});
  key_ = e.key;
  recno_ = e.recno;
  eof_ = false;
  return true;
}

bool CdxFile::Cursor::First() {
  CdxStore& s = *file_->store_;
  const TagInfo& t = TagAt(s, tag_);
  const CdxPos p = t.descending ? s.Last(t) : s.First(t);
  page_ = p.page;
  index_ = p.index;
  return Load();
}

bool CdxFile::Cursor::Last() {
  CdxStore& s = *file_->store_;
  const TagInfo& t = TagAt(s, tag_);
  const CdxPos p = t.descending ? s.First(t) : s.Last(t);
  page_ = p.page;
  index_ = p.index;
  return Load();
}

// After a change to the file: finds the current pair again. Returns true
// when it is still there; otherwise the position is left on the entry that
// follows it physically (page_ 0 at the end).
bool CdxFile::Cursor::Resync() {
  CdxStore& s = *file_->store_;
  const TagInfo& t = TagAt(s, tag_);
  const CdxPos p = s.LowerBound(t, key_, recno_);
  page_ = p.page;
  index_ = p.index;
  if (!p.valid())
    return false;
  const CdxEntry& e = s.At(t, p);
  return e.key == key_ && e.recno == recno_;
}

bool CdxFile::Cursor::Step(bool forward) {
  CdxStore& s = *file_->store_;
  const TagInfo& t = TagAt(s, tag_);
  const bool physForward = forward != t.descending;
  CdxPos p{page_, index_};
  if (generation_ != s.generation && !eof_) {
    const bool exact = Resync();
    p = {page_, index_};
    if (!exact) {
      // p is the physical successor of the vanished entry.
      if (!physForward)
        p = s.Prev(t, p);
      page_ = p.page;
      index_ = p.index;
      return Load();
    }
  }
  p = physForward ? s.Next(t, p) : s.Prev(t, p);
  page_ = p.page;
  index_ = p.index;
  return Load();
}

bool CdxFile::Cursor::Next() {
  if (eof_)
    return false;
  return Step(true);
}

bool CdxFile::Cursor::Prev() {
  if (eof_)
    return Last();
  return Step(false);
}

bool CdxFile::Cursor::Seek(std::string_view key) {
  CdxStore& s = *file_->store_;
  const TagInfo& t = TagAt(s, tag_);
  CdxPos p;
  if (!t.descending) {
    auto path = s.Descend(t, [&](const CdxEntry& e) { return ComparePrefix(e.key, key) < 0; });
    p = s.Normalize(t, {path.back().page, path.back().index});
  } else {
    auto path = s.Descend(t, [&](const CdxEntry& e) { return ComparePrefix(e.key, key) <= 0; });
    p = s.Normalize(t, {path.back().page, path.back().index});
    p = s.Prev(t, p);
    if (p.valid() && ComparePrefix(s.At(t, p).key, key) > 0)
      p = {};
  }
  page_ = p.page;
  index_ = p.index;
  return Load();
}

bool CdxFile::Cursor::SeekExact(std::string_view key, uint32_t recno) {
  CdxStore& s = *file_->store_;
  const TagInfo& t = TagAt(s, tag_);
  CdxPos p = s.LowerBound(t, key, recno);
  if (t.descending) {
    const bool exact = p.valid() && s.At(t, p).key == key && s.At(t, p).recno == recno;
    if (!exact)
      p = s.Prev(t, p);
  }
  page_ = p.page;
  index_ = p.index;
  return Load();
}

}  // namespace cau::xbase
