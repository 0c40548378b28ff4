// Inside a compound index file: the descriptor, the bag and tag headers, a
// cache of decoded pages indexed by page number, and the tree operations the
// CdxFile calls are made of. Nothing reaches the disk before CdxFile::Flush.
// Only the Cdx*.cpp files of the engine include this.
#pragma once

#include <unistd.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "config/Errors.h"
#include "db/xbase/Cdx.h"
#include "db/xbase/CdxPage.h"

namespace cau::xbase {

constexpr uint32_t kCdxHeaderSize = 1024;
constexpr int kCdxMaxDepth = 64;

std::string CdxHex(uint64_t v);

// Tag names compare and are stored in ASCII upper case.
inline std::string CdxUpper(std::string_view s) {
  std::string out(s);
  for (auto& c : out)
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>(c - 'a' + 'A');
  return out;
}

inline int ComparePair(std::string_view ka, uint32_t ra, std::string_view kb, uint32_t rb) {
  const int c = CompareKeys(ka, kb);
  if (c != 0)
    return c;
  return ra < rb ? -1 : (ra > rb ? 1 : 0);
}

inline int ComparePrefix(std::string_view entryKey, std::string_view key) {
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
  // Moves on with every change of any tree and every drop of the cache:
  // positions and node pointers taken at another generation are stale.
  uint64_t generation = 1;
  bool failed = false;

  struct Cached {
    CdxNode node;
    bool dirty = false;
  };
  // Pages to write at the next flush, in the order they became dirty; a page
  // released or already written since is skipped.
  std::vector<uint32_t> dirty;
  // Pages this session freed, reused before the file grows. Pages found
  // abandoned in the file are left alone: another program may still count
  // them as its own free pages.
  std::vector<uint32_t> freePages;

  [[noreturn]] void Corrupt(const std::string& what) const;
  [[noreturn]] void IoError(const std::string& what) const;
  void ReadAt(uint64_t offset, unsigned char* buf, std::size_t n) const;
  void WriteAt(uint64_t offset, const unsigned char* buf, std::size_t n) const;
  uint32_t DiskCounter() const;

  bool PageInRange(uint32_t offset) const {
    return offset % kCdxPageSize == 0 && offset >= kCdxHeaderSize &&
           uint64_t{offset} + kCdxPageSize <= fileSize;
  }

  // ---- the page cache (CdxStore.cpp) ----

  // The cached page at `offset`, nullptr when it is not in the cache.
  Cached* Find(uint32_t offset) const {
    const std::size_t slot = offset / kCdxPageSize;
    return offset % kCdxPageSize == 0 && slot < pages_.size() ? pages_[slot].get() : nullptr;
  }
  bool HasDirtyPages() const;
  // The decoded page at `offset` for tag `t`, read and validated on first use.
  CdxNode& Node(const TagInfo& t, uint32_t offset);
  void MarkDirty(uint32_t offset);
  uint32_t Allocate(CdxNode node);
  // A page of a new file, at a known place.
  void Place(uint32_t offset, CdxNode node);
  void Release(uint32_t offset);
  void DropCache();
  // Pages still to write, each once, ascending; MarkWritten after writing them.
  std::vector<uint32_t> DirtyPages() const;
  void MarkWritten(const std::vector<uint32_t>& pages);

  // ---- navigation (CdxStore.cpp) ----

  struct Step {
    uint32_t page;
    int index;
  };
  // A root-to-leaf path.
  struct Path {
    std::array<Step, kCdxMaxDepth> steps;
    int depth = 0;
    const Step& back() const { return steps[std::size_t(depth - 1)]; }
    const Step& operator[](int d) const { return steps[std::size_t(d)]; }
  };

  // Root-to-leaf path: in each branch the first entry not `less` than the
  // target (the last one if all are), in the leaf the first such position.
  template <typename Less>
  Path Descend(const TagInfo& t, Less less);
  Path DescendPair(const TagInfo& t, std::string_view key, uint32_t recno);
  // The neighbour leaf on the chain, checked (0 at the end of the chain).
  uint32_t Hop(const TagInfo& t, uint32_t page, bool right);
  // Moves a position that may sit past the end of its leaf onto a real entry.
  CdxPos Normalize(const TagInfo& t, CdxPos pos);
  CdxPos Next(const TagInfo& t, CdxPos pos);
  CdxPos Prev(const TagInfo& t, CdxPos pos);
  CdxPos First(const TagInfo& t);
  CdxPos Last(const TagInfo& t);
  CdxPos LowerBound(const TagInfo& t, std::string_view key, uint32_t recno);
  std::string_view KeyAt(const TagInfo& t, CdxPos pos) {
    return Node(t, pos.page).Key(std::size_t(pos.index));
  }
  uint32_t RecNoAt(const TagInfo& t, CdxPos pos) {
    return Node(t, pos.page).RecNo(std::size_t(pos.index));
  }

  // ---- changes (CdxChange.cpp) ----

  // Adds or removes exactly (key, recno); false when nothing changed.
  bool Insert(const TagInfo& t, std::string_view key, uint32_t recno);
  bool Remove(const TagInfo& t, std::string_view key, uint32_t recno);

  // ---- bulk build and structure (CdxBuild.cpp, CdxCheck.cpp) ----

  // Replaces the tree with sorted, distinct entries, pages packed full.
  void Build(const TagInfo& t, std::vector<CdxEntry> sorted);
  // Every page of a tag's tree below its root (validated on the way).
  void CollectBelowRoot(const TagInfo& t, uint32_t page, int depth,
                        std::unordered_set<uint32_t>& out);

  // ---- reading the bag (CdxFile.cpp) ----

  void Load();

 private:
  uint32_t Split(const TagInfo& t, uint32_t page);
  void SplitRoot(const TagInfo& t, uint32_t rootPage);
  void Unlink(const TagInfo& t, uint32_t page);
  void Repair(const TagInfo& t, const Path& path);
  TagInfo ReadTagHeader(const std::string& name, uint32_t offset);
  char InferFill(const TagInfo& probe);

  // The bytes of the page at `offset`: inside a read block, or read into `scratch`.
  const unsigned char* PageBytes(uint32_t offset, CdxPageBytes& scratch);
  void PrefetchPage(uint32_t offset) const;

  std::vector<std::unique_ptr<Cached>> pages_;  // by page number (offset / 512)
  // Pages not decoded yet are read in blocks: a walk reads each block once
  // instead of each page. A block only serves pages the cache does not hold,
  // and goes when one of its pages is released (its disk bytes may change).
  static constexpr uint32_t kReadBlock = 64 * 1024;
  static constexpr std::size_t kReadBlocksKept = 128;
  struct ReadBlock {
    std::unique_ptr<unsigned char[]> data;
    std::size_t size = 0;
  };
  std::unordered_map<uint32_t, ReadBlock> blocks_;  // by offset / kReadBlock
  std::vector<uint32_t> blockOrder_;                // oldest first
};

// The tag at `tag`; cau::Error when there is none.
const TagInfo& TagAt(const CdxStore& s, int tag);
// The same for a change with `key`: refused on a read-only or failed file,
// a collated tag or a key of the wrong length.
const TagInfo& WritableTag(const CdxStore& s, int tag, std::string_view key);

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

template <typename Less>
CdxStore::Path CdxStore::Descend(const TagInfo& t, Less less) {
  Path path;
  uint32_t page = t.rootPage;
  for (;;) {
    for (int d = 0; d < path.depth; ++d)
      if (path[d].page == page)
        Corrupt("tag " + t.name + ": laço de páginas em " + CdxHex(page));
    if (path.depth >= kCdxMaxDepth)
      Corrupt("tag " + t.name + ": árvore funda demais");
    const CdxNode& node = Node(t, page);
    node.Prefetch();
    if (!node.leaf() && node.empty())
      Corrupt("tag " + t.name + ": página interna vazia");
    // First entry not less than the target.
    std::size_t lo = 0, hi = node.size();
    while (lo < hi) {
      const std::size_t mid = (lo + hi) / 2;
      if (less(node, mid))
        lo = mid + 1;
      else
        hi = mid;
    }
    const int pos = static_cast<int>(lo);
    if (node.leaf()) {
      path.steps[std::size_t(path.depth++)] = {page, pos};
      return path;
    }
    const int idx = std::min(pos, static_cast<int>(node.size()) - 1);
    path.steps[std::size_t(path.depth++)] = {page, idx};
    page = node.Child(std::size_t(idx));
  }
}

}  // namespace cau::xbase
