// Entry maintenance of a compound-index tag: insert and remove one entry,
// with leaf and branch splits, emptied pages unlinked and freed, and branch
// keys brought to the last pair of their child.
#include <algorithm>
#include <string>

#include "config/Errors.h"
#include "db/xbase/CdxStore.h"

namespace cau::xbase {

// Moves the lower part of an overfull page into a new page placed as its
// left sibling; returns the new page. The split point is the one nearest
// the middle that leaves both halves fitting.
uint32_t CdxStore::Split(const TagInfo& t, uint32_t page) {
  CdxNode& node = Node(t, page);
  const std::size_t n = node.size();
  auto fits = [&](std::size_t from, std::size_t to) {
    if (!node.leaf())
      return to - from <= BranchCapacity(t.keyLength);
    return node.PackedBytes(from, to) <= kLeafSpace;
  };
  std::size_t at = 0;
  for (std::size_t d = 0; d < n && at == 0; ++d) {
    const std::ptrdiff_t half = std::ptrdiff_t(n / 2);
    for (std::ptrdiff_t m : {half - std::ptrdiff_t(d), half + std::ptrdiff_t(d) + 1}) {
      if (m >= 1 && m < std::ptrdiff_t(n) && fits(0, std::size_t(m)) && fits(std::size_t(m), n)) {
        at = std::size_t(m);
        break;
      }
    }
  }
  if (at == 0)
    throw Error("índice: página não pôde ser dividida");
  const uint32_t oldLeft = node.left;
  if (oldLeft != kCdxNone)
    Node(t, oldLeft);  // read before changing anything
  CdxNode lower(node.leaf() ? kAttrLeaf : 0, t.keyLength, t.fill);
  node.MoveFront(at, lower);
  lower.left = oldLeft;
  lower.right = page;
  const uint32_t fresh = Allocate(std::move(lower));
  node.left = fresh;  // the cache keeps references stable
  MarkDirty(page);
  if (oldLeft != kCdxNone) {
    Node(t, oldLeft).right = fresh;
    MarkDirty(oldLeft);
  }
  return fresh;
}

// The root stays where the header points: its contents move to a new
// page, which is split, and the root becomes a branch over the two.
void CdxStore::SplitRoot(const TagInfo& t, uint32_t rootPage) {
  CdxNode copy = Node(t, rootPage);
  copy.attr = copy.leaf() ? kAttrLeaf : 0;
  copy.left = copy.right = kCdxNone;
  const uint32_t upper = Allocate(std::move(copy));
  const uint32_t lower = Split(t, upper);
  CdxNode root(kAttrRoot, t.keyLength, t.fill);
  for (uint32_t child : {lower, upper}) {
    const CdxNode& c = Node(t, child);
    root.Append(c.Key(c.size() - 1), c.RecNo(c.size() - 1), child);
  }
  Node(t, rootPage) = std::move(root);
  MarkDirty(rootPage);
}

void CdxStore::Unlink(const TagInfo& t, uint32_t page) {
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
void CdxStore::Repair(const TagInfo& t, const Path& path) {
  for (int d = path.depth - 1; d >= 0; --d) {
    const uint32_t page = path[d].page;
    CdxNode& node = Node(t, page);
    if (d == 0) {
      if (node.empty() && !node.leaf()) {
        node.attr = kAttrRoot | kAttrLeaf;  // the tag became empty
        MarkDirty(page);
      } else if (node.Overflows()) {
        SplitRoot(t, page);
      }
      return;
    }
    const uint32_t parentPage = path[d - 1].page;
    const auto ci = std::size_t(path[d - 1].index);
    CdxNode& parent = Node(t, parentPage);
    if (node.empty()) {
      Unlink(t, page);
      parent.Erase(ci);
      MarkDirty(parentPage);
      continue;
    }
    const uint32_t lower = node.Overflows() ? Split(t, page) : 0;
    const std::size_t last = node.size() - 1;
    if (parent.Key(ci) != node.Key(last) || parent.RecNo(ci) != node.RecNo(last)) {
      parent.SetKey(ci, node.Key(last), node.RecNo(last));
      MarkDirty(parentPage);
    }
    if (lower != 0) {
      const CdxNode& l = Node(t, lower);
      parent.Insert(ci, l.Key(l.size() - 1), l.RecNo(l.size() - 1), lower);
      MarkDirty(parentPage);
    }
  }
}

bool CdxStore::Insert(const TagInfo& t, std::string_view key, uint32_t recno) {
  auto path = DescendPair(t, key, recno);
  CdxNode& leaf = Node(t, path.back().page);
  const auto idx = std::size_t(path.back().index);
  if (idx < leaf.size() && leaf.Key(idx) == key && leaf.RecNo(idx) == recno)
    return false;
  leaf.Insert(idx, key, recno);
  MarkDirty(path.back().page);
  ++generation;
  Repair(t, path);
  return true;
}

bool CdxStore::Remove(const TagInfo& t, std::string_view key, uint32_t recno) {
  auto path = DescendPair(t, key, recno);
  CdxNode& leaf = Node(t, path.back().page);
  const auto idx = std::size_t(path.back().index);
  if (idx >= leaf.size() || leaf.Key(idx) != key || leaf.RecNo(idx) != recno)
    return false;
  leaf.Erase(idx);
  MarkDirty(path.back().page);
  ++generation;
  Repair(t, path);
  return true;
}

}  // namespace cau::xbase
