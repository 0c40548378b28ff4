// Positions in a compound-index tag, in the tag's logical order. A step
// inside the current leaf touches only that leaf; leaving it, or any change
// to the file since the last move, goes through the store.
#include "db/xbase/CdxStore.h"

#include <cstring>

namespace cau::xbase {

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
    node_ = nullptr;
    return false;
  }
  const CdxNode& n = s.Node(t, page_);
  node_ = &n;
  descending_ = t.descending;
  SetKey(n.Key(std::size_t(index_)));
  recno_ = n.RecNo(std::size_t(index_));
  eof_ = false;
  return true;
}

bool CdxFile::Cursor::StepWithinLeaf(bool physForward) {
  if (node_ == nullptr || generation_ != file_->store_->generation)
    return false;
  if (physForward) {
    if (index_ + 1 >= static_cast<int>(node_->size()))
      return false;
    ++index_;
  } else {
    if (index_ == 0)
      return false;
    --index_;
  }
  SetKey(node_->Key(std::size_t(index_)));
  recno_ = node_->RecNo(std::size_t(index_));
  return true;
}

// Keys of one tag all have the same length: a step copies over the last one.
void CdxFile::Cursor::SetKey(std::string_view key) {
  if (key_.size() == key.size())
    std::memcpy(key_.data(), key.data(), key.size());
  else
    key_.assign(key);
}

uint32_t CdxFile::Cursor::RecNoAhead(int n) const {
  const CdxStore& s = *file_->store_;
  if (node_ == nullptr || generation_ != s.generation)
    return 0;
  const int at = descending_ ? index_ - n : index_ + n;
  return at >= 0 && at < static_cast<int>(node_->size()) ? node_->RecNo(std::size_t(at)) : 0;
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
  return s.KeyAt(t, p) == key_ && s.RecNoAt(t, p) == recno_;
}

bool CdxFile::Cursor::Step(bool forward) {
  // Inside the leaf the order read with it holds (StepWithinLeaf checks the generation).
  if (node_ != nullptr && StepWithinLeaf(forward != descending_))
    return true;
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
    auto path = s.Descend(
        t, [&](const CdxNode& n, std::size_t i) { return ComparePrefix(n.Key(i), key) < 0; });
    p = s.Normalize(t, {path.back().page, path.back().index});
  } else {
    auto path = s.Descend(
        t, [&](const CdxNode& n, std::size_t i) { return ComparePrefix(n.Key(i), key) <= 0; });
    p = s.Normalize(t, {path.back().page, path.back().index});
    p = s.Prev(t, p);
    if (p.valid() && ComparePrefix(s.KeyAt(t, p), key) > 0)
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
    const bool exact = p.valid() && s.KeyAt(t, p) == key && s.RecNoAt(t, p) == recno;
    if (!exact)
      p = s.Prev(t, p);
  }
  page_ = p.page;
  index_ = p.index;
  return Load();
}

}  // namespace cau::xbase
