// Compound index file (.CDX): a bag of tags, each a B+-tree of 512-byte pages
// with compressed leaves. Reads every tag the host writes, keeps MACHINE
// tags exact on insert/remove, builds tags in bulk and creates new bags.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "db/xbase/CdxKey.h"
#include "db/xbase/Value.h"

namespace cau::xbase {

class CdxStore;  // pages, cache and file (CdxStore.h)
class CdxNode;   // a decoded page (CdxPage.h)

// What a new tag looks like (Create).
struct TagSpec {
  std::string name;     // up to 10 characters; stored upper case
  std::string keyExpr;  // stored as given
  std::string forExpr;  // empty: no FOR clause
  ValueType keyType = ValueType::Character;
  int keyLength = 0;  // 1..240
  bool unique = false;
  bool candidate = false;  // option 0x04: duplicates are refused
  bool descending = false;
  bool nullable = false;  // option 0x02: keys carry the null-marker byte
};

// One tag as read from its header.
struct TagInfo {
  std::string name;       // as stored in the directory (upper case)
  std::string keyExpr;    // expression pool text
  std::string forExpr;    // empty: none
  std::string collation;  // empty = MACHINE; anything else: read-only
  int keyLength = 0;
  uint8_t options = 0;      // raw option byte (offset 14)
  uint8_t signature = 0;    // offset 15
  bool unique = false;      // 0x01
  bool nullable = false;    // 0x02
  bool candidate = false;   // 0x04
  bool hasFor = false;      // 0x08
  bool descending = false;  // order word = 1
  char fill = ' ';          // trailing-compression byte in use (see SetKeyType)
  uint32_t headerOffset = 0;
  uint32_t rootPage = 0;
};

class CdxFile {
 public:
  // Opens an existing bag. Everything read is validated (header fields, page
  // offsets in range and aligned, node attributes, leaf bit widths, page
  // loops); a bad file throws cau::FileError naming it and is never written.
  // A writable open also walks every tag once (CheckStructure) and refuses a
  // file with any problem.
  static std::unique_ptr<CdxFile> Open(const std::filesystem::path& path, bool writable);

  // Writes a new bag (replacing any file at `path`; write to a new name and
  // rename to replace a live index): bag header, directory, and one empty
  // tag per spec laid out in the given order. Returns it open for writing.
  // Throws cau::Error for a bad spec, cau::FileError on I/O.
  static std::unique_ptr<CdxFile> Create(const std::filesystem::path& path,
                                         const std::vector<TagSpec>& tags);

  ~CdxFile();  // flushes what is still dirty (best effort) unless a failure occurred
  CdxFile(const CdxFile&) = delete;
  CdxFile& operator=(const CdxFile&) = delete;

  const std::filesystem::path& path() const;
  bool writable() const;
  const std::vector<TagInfo>& tags() const;  // directory order: by name
  int FindTag(std::string_view name) const;  // case-insensitive, -1 if none

  // The key type of a tag decides the byte that leaf compression drops
  // (0x20 character, 0x00 otherwise). The file does not record it: on open it
  // is inferred from the pages; the table, which knows each expression's
  // type, confirms it here before using the tag. Call before any change.
  void SetKeyType(int tag, ValueType type);

  // Entry maintenance; `key` must have the tag's key length (cau::Error
  // otherwise). Insert returns false when nothing was added: the exact pair
  // is present, or the tag is unique and holds the key already. On a
  // candidate tag a present key throws cau::Error (check HasKey first).
  // Both throw cau::Error on a read-only file or a collated tag.
  bool Insert(int tag, std::string_view key, uint32_t recno);
  // Removes exactly (key, recno); false when that pair is not in the tag.
  bool Remove(int tag, std::string_view key, uint32_t recno);
  // When Remove finds no exact pair because the stored key differs from the
  // one computed now: removes the entry of `recno` wherever it is in the tag
  // (a full walk) and returns the key it had, nullopt if the record is not
  // in the tag. Leaves no stale entry behind; the caller reports the mismatch.
  std::optional<std::string> RemoveRecord(int tag, uint32_t recno);
  bool HasKey(int tag, std::string_view key) const;  // any record with this key
  // Replaces the tag's whole tree with these entries (any order; exact
  // duplicates dropped; unique keeps the lowest record of each key; a
  // candidate tag with a repeated key throws cau::Error). Pages are packed
  // full, the root stays where the tag header points.
  void Build(int tag, std::vector<std::pair<std::string, uint32_t>> entries);

  // Writes the dirty pages (new pages first, then changed ones, the bag
  // header with its change counter bumped last); with `sync`, fsyncs.
  // Refuses with cau::FileError, writing nothing, when another program
  // changed the file since we read it (see Refresh).
  void Flush(bool sync = false);
  void Close();  // Flush(true) and release the file; the object is then unusable
  // Another program may change the file between our changes (under the
  // lock the caller holds): when its change counter moved, every cached page
  // is dropped and the bag is read again. Returns true when that happened;
  // throws cau::Error when this side still has unwritten changes.
  bool Refresh();
  uint32_t changeCounter() const;

  // Tree problems, empty when the bag is sound: page offsets, attributes,
  // leaf encoding and free space, order within and across pages, sibling
  // links, branch keys = last pair of their child, equal depth, no page
  // reached twice or from two tags, no repeated key in a unique tag, no
  // record 0, free pages not in use.
  std::vector<std::string> CheckStructure() const;

  // Shape of a tag's tree (walks it).
  struct TagStats {
    int levels = 0;  // 1: the root is a leaf
    int pages = 0;
    long keys = 0;
  };
  TagStats Stats(int tag) const;

  // All entries of a tag in its logical order (descending tags reversed).
  std::vector<std::pair<std::string, uint32_t>> Entries(int tag) const;

  // A position in one tag, in the tag's logical order. Cursors survive
  // changes to the file: after an Insert/Remove they find their entry again
  // (or the next one, if it was removed) on the next move. Next at the end
  // stays at the end; Prev at the end goes to the last entry. A cursor must
  // not outlive its file.
  class Cursor {
   public:
    bool First();
    bool Last();
    bool Next();
    bool Prev();
    // First entry, in tag order, whose key (compared over key.size() bytes,
    // so a prefix works) is >= key; for a descending tag: <= key.
    bool Seek(std::string_view key);
    // Positions at (key, recno) or, if absent, where it would be.
    bool SeekExact(std::string_view key, uint32_t recno);
    bool Eof() const { return eof_; }
    const std::string& Key() const { return key_; }
    uint32_t RecNo() const { return recno_; }
    // The record `n` entries further on in tag order when that entry is in
    // the same leaf, else 0: what a walk will read next.
    uint32_t RecNoAhead(int n) const;

   private:
    friend class CdxFile;
    Cursor(const CdxFile* file, int tag) : file_(file), tag_(tag) {}
    bool Step(bool forward);
    bool StepWithinLeaf(bool physForward);
    bool Resync();
    bool Load();
    void SetKey(std::string_view key);
    const CdxFile* file_;
    int tag_;
    uint32_t page_ = 0;              // leaf page of the entry
    int index_ = 0;                  // entry within that leaf (physical order)
    const CdxNode* node_ = nullptr;  // that leaf, while the generation holds
    bool descending_ = false;        // the tag's order, read with node_
    uint64_t generation_ = 0;
    bool eof_ = true;
    std::string key_;
    uint32_t recno_ = 0;
  };
  Cursor OpenCursor(int tag) const;

 private:
  CdxFile();
  std::unique_ptr<CdxStore> store_;
};

}  // namespace cau::xbase
