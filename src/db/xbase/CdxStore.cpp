// The compound index's file access, page cache and moves along a tag.
#include "db/xbase/CdxStore.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "config/Errors.h"
#include "db/xbase/WriteCut.h"

namespace cau::xbase {

std::string CdxHex(uint64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(v));
  return buf;
}

void CdxStore::Corrupt(const std::string& what) const {
  throw FileError(path.string(), "Índice " + path.filename().string() + " corrompido: " + what);
}

void CdxStore::IoError(const std::string& what) const {
  throw FileError(path.string(),
                  "Índice " + path.filename().string() + ": " + what + ": " + std::strerror(errno));
}

void CdxStore::ReadAt(uint64_t offset, unsigned char* buf, std::size_t n) const {
  std::size_t done = 0;
  while (done < n) {
    const ssize_t got = ::pread(fd.get(), buf + done, n - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR)
      continue;
    if (got < 0)
      IoError("falha de leitura");
    if (got == 0)
      Corrupt("arquivo termina antes da posição " + CdxHex(offset + done));
    done += static_cast<std::size_t>(got);
  }
}

void CdxStore::WriteAt(uint64_t offset, const unsigned char* buf, std::size_t n) const {
  const std::size_t size = BytesBeforeCut(path.native(), offset, n);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t put =
        ::pwrite(fd.get(), buf + done, size - done, static_cast<off_t>(offset + done));
    if (put < 0 && errno == EINTR)
      continue;
    if (put <= 0)
      IoError("falha de gravação");
    done += static_cast<std::size_t>(put);
  }
  if (size < n)
    CutNow();
}

uint32_t CdxStore::DiskCounter() const {
  unsigned char be[4];
  ReadAt(8, be, 4);
  return (uint32_t{be[0]} << 24) | (uint32_t{be[1]} << 16) | (uint32_t{be[2]} << 8) | be[3];
}

// ---- the page cache ---------------------------------------------------------

CdxNode& CdxStore::Node(const TagInfo& t, uint32_t offset) {
  if (Cached* c = Find(offset)) {
    if (c->node.keyLength() != t.keyLength || c->node.fill() != t.fill)
      Corrupt("página " + CdxHex(offset) + " usada por duas tags");
    return c->node;
  }
  if (!PageInRange(offset))
    Corrupt("página " + CdxHex(offset) + " fora do arquivo ou desalinhada");
  CdxPageBytes scratch;
  const unsigned char* bytes = PageBytes(offset, scratch);
  auto cached = std::make_unique<Cached>();
  CdxNode& node = cached->node;
  // In order within the page; with the checks of Hop this keeps every
  // walk finite.
  if (auto err = DecodePage(bytes, t.keyLength, t.fill, node, true))
    Corrupt("tag " + t.name + ", página " + CdxHex(offset) + ": " + *err);
  if (node.leaf())
    PrefetchPage(node.right);
  const std::size_t slot = offset / kCdxPageSize;
  if (slot >= pages_.size())
    pages_.resize(slot + 1);
  pages_[slot] = std::move(cached);
  return node;
}

const unsigned char* CdxStore::PageBytes(uint32_t offset, CdxPageBytes& scratch) {
  const uint32_t block = offset / kReadBlock;
  const uint64_t start = uint64_t{block} * kReadBlock;
  const uint64_t end = std::min<uint64_t>(start + kReadBlock, diskSize);
  if (uint64_t{offset} + kCdxPageSize > end) {  // past what is on disk: reported by ReadAt
    ReadAt(offset, scratch.data(), scratch.size());
    return scratch.data();
  }
  auto it = blocks_.find(block);
  if (it == blocks_.end()) {
    ReadBlock bytes{std::make_unique_for_overwrite<unsigned char[]>(std::size_t(end - start)),
                    std::size_t(end - start)};
    ReadAt(start, bytes.data.get(), bytes.size);
    if (blockOrder_.size() >= kReadBlocksKept) {
      blocks_.erase(blockOrder_.front());
      blockOrder_.erase(blockOrder_.begin());
    }
    blockOrder_.push_back(block);
    it = blocks_.emplace(block, std::move(bytes)).first;
  }
  if (offset - start + kCdxPageSize > it->second.size) {  // the file grew since
    ReadAt(offset, scratch.data(), scratch.size());
    return scratch.data();
  }
  return it->second.data.get() + (offset - start);
}

// A walk reads the leaves along the chain: the bytes of the next one, when
// already read and not decoded, are brought towards the processor meanwhile.
void CdxStore::PrefetchPage(uint32_t offset) const {
  if (offset == kCdxNone || !PageInRange(offset) || Find(offset) != nullptr)
    return;
  const auto it = blocks_.find(offset / kReadBlock);
  const std::size_t at = offset % kReadBlock;
  if (it == blocks_.end() || at + kCdxPageSize > it->second.size)
    return;
  for (std::size_t line = 0; line < kCdxPageSize; line += 64)
    __builtin_prefetch(it->second.data.get() + at + line);
}

bool CdxStore::HasDirtyPages() const {
  return std::any_of(dirty.begin(), dirty.end(), [&](uint32_t offset) {
    const Cached* c = Find(offset);
    return c && c->dirty;
  });
}

void CdxStore::MarkDirty(uint32_t offset) {
  Cached* c = Find(offset);
  if (!c)
    Corrupt("página " + CdxHex(offset) + " alterada fora do cache");
  if (!c->dirty) {
    c->dirty = true;
    dirty.push_back(offset);
  }
}

uint32_t CdxStore::Allocate(CdxNode node) {
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
  Place(offset, std::move(node));
  return offset;
}

void CdxStore::Place(uint32_t offset, CdxNode node) {
  const std::size_t slot = offset / kCdxPageSize;
  if (slot >= pages_.size())
    pages_.resize(slot + 1);
  pages_[slot] = std::make_unique<Cached>(Cached{std::move(node), true});
  dirty.push_back(offset);
}

void CdxStore::Release(uint32_t offset) {
  const std::size_t slot = offset / kCdxPageSize;
  if (slot < pages_.size())
    pages_[slot].reset();
  freePages.push_back(offset);
  const uint32_t block = offset / kReadBlock;
  if (blocks_.erase(block) != 0)
    blockOrder_.erase(std::find(blockOrder_.begin(), blockOrder_.end(), block));
}

void CdxStore::DropCache() {
  pages_.clear();
  dirty.clear();
  blocks_.clear();
  blockOrder_.clear();
  ++generation;
}

std::vector<uint32_t> CdxStore::DirtyPages() const {
  std::vector<uint32_t> out;
  out.reserve(dirty.size());
  for (uint32_t offset : dirty) {
    const Cached* c = Find(offset);
    if (c && c->dirty)
      out.push_back(offset);
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

void CdxStore::MarkWritten(const std::vector<uint32_t>& pages) {
  for (uint32_t offset : pages)
    if (Cached* c = Find(offset))
      c->dirty = false;
  dirty.clear();
}

// ---- navigation -------------------------------------------------------------

CdxStore::Path CdxStore::DescendPair(const TagInfo& t, std::string_view key, uint32_t recno) {
  return Descend(t, [&](const CdxNode& n, std::size_t i) {
    return ComparePair(n.Key(i), n.RecNo(i), key, recno) < 0;
  });
}

// The link is mirrored, the neighbour is a non-empty leaf and the order goes
// on across the boundary (so a chain can never loop).
uint32_t CdxStore::Hop(const TagInfo& t, uint32_t page, bool right) {
  const CdxNode& from = Node(t, page);
  const uint32_t next = right ? from.right : from.left;
  if (next == kCdxNone)
    return 0;
  if (from.empty())
    Corrupt("tag " + t.name + ": página " + CdxHex(page) + " vazia");
  const std::size_t edge = right ? from.size() - 1 : 0;
  const CdxNode& to = Node(t, next);
  if ((right ? to.left : to.right) != page)
    Corrupt("tag " + t.name + ": vizinhos de " + CdxHex(page) + " e " + CdxHex(next) +
            " não batem");
  if (!to.leaf() || to.empty())
    Corrupt("tag " + t.name + ": página vizinha " + CdxHex(next) + " inválida");
  const std::size_t other = right ? 0 : to.size() - 1;
  const int c = ComparePair(from.Key(edge), from.RecNo(edge), to.Key(other), to.RecNo(other));
  if (right ? c >= 0 : c <= 0)
    Corrupt("tag " + t.name + ": ordem quebrada entre " + CdxHex(page) + " e " + CdxHex(next));
  return next;
}

CdxPos CdxStore::Normalize(const TagInfo& t, CdxPos pos) {
  while (pos.valid()) {
    const CdxNode& node = Node(t, pos.page);
    if (pos.index < static_cast<int>(node.size()))
      return pos;
    if (node.empty())
      return {};  // empty root leaf
    pos = {Hop(t, pos.page, true), 0};
  }
  return pos;
}

CdxPos CdxStore::Next(const TagInfo& t, CdxPos pos) {
  if (!pos.valid())
    return pos;
  ++pos.index;
  return Normalize(t, pos);
}

CdxPos CdxStore::Prev(const TagInfo& t, CdxPos pos) {
  if (!pos.valid())
    return Last(t);
  if (pos.index > 0)
    return {pos.page, pos.index - 1};
  const uint32_t left = Hop(t, pos.page, false);
  if (left == 0)
    return {};
  return {left, static_cast<int>(Node(t, left).size()) - 1};
}

CdxPos CdxStore::First(const TagInfo& t) {
  auto path = Descend(t, [](const CdxNode&, std::size_t) { return false; });
  return Normalize(t, {path.back().page, 0});
}

CdxPos CdxStore::Last(const TagInfo& t) {
  auto path = Descend(t, [](const CdxNode&, std::size_t) { return true; });
  const CdxNode& leaf = Node(t, path.back().page);
  if (leaf.empty())
    return {};
  return {path.back().page, static_cast<int>(leaf.size()) - 1};
}

CdxPos CdxStore::LowerBound(const TagInfo& t, std::string_view key, uint32_t recno) {
  auto path = DescendPair(t, key, recno);
  return Normalize(t, {path.back().page, path.back().index});
}

}  // namespace cau::xbase
