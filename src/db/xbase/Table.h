// An open table: the .DBF with its .FPT memos and its structural .CDX,
// a current record, moves in record or tag order, and writes that keep
// every tag exact.
//
// Write order: memo blocks (always fresh ones, never over the old text),
// then the record, then the header's count (append); index pages last, at
// the next move, Flush or Close. A crash leaves at worst a stale index,
// never a record pointing at garbage.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/xbase/Cdx.h"
#include "db/xbase/Dbf.h"
#include "db/xbase/Expr.h"
#include "db/xbase/Fpt.h"

namespace cau::xbase {

// A write refused because a candidate (or, when asked, unique) tag holds the key.
class DuplicateKey : public Error {
 public:
  using Error::Error;
};

// A record image as the expressions read it.
class RecordImage : public ExprRecord {
 public:
  RecordImage(const DbfFile& dbf, std::string_view bytes, uint32_t recno)
      : dbf_(dbf), bytes_(bytes), recno_(recno) {}
  Value Field(int index) const override;
  void Field(int index, Value& out) const;  // reuses out's text buffer
  bool Deleted() const override { return !bytes_.empty() && bytes_[0] == '*'; }
  uint32_t RecNo() const override { return recno_; }
  std::string_view bytes() const { return bytes_; }

 private:
  const DbfFile& dbf_;
  std::string_view bytes_;
  uint32_t recno_;
};

// One tag as the table evaluates it.
struct TableTag {
  std::string name;
  std::optional<Expression> key;      // empty when the tag cannot be evaluated
  std::optional<Expression> forExpr;  // empty when the tag has no FOR clause
  std::string problem;                // why the tag cannot be maintained; empty = ok
  int keyLength = 0;
  bool nullable = false;
  int nullField = -1;  // the nullable field whose NULL gives the null key
};

// How the table evaluates the tag `info` over the fields of `dbf`; a tag it
// cannot evaluate exactly gets an empty key and a problem text.
TableTag MakeTableTag(const DbfFile& dbf, const TagInfo& info);
// The key bytes of `tag` for `record`, nullopt when its FOR clause is false.
// Throws cau::Error when the tag cannot be evaluated.
std::optional<std::string> TagKey(const DbfFile& dbf, const TableTag& tag,
                                  const RecordImage& record);

class Table {
 public:
  struct Options {
    bool readOnly = false;
    // A key already present in a UNIQUE tag rejects the write (otherwise the
    // tag keeps its first record, as the host does).
    bool rejectUniqueDuplicates = false;
    // Index pages are written at the next move (Go, Skip, Seek, ...), Flush
    // or Close after a change, once each however many records changed them:
    // appends in a row share one write, and a crash may leave the index
    // stale, never a record pointing at garbage. This writes them after
    // every record write instead, for a file another program reads while
    // this one appends to it.
    bool writeIndexEachRecord = false;
  };

  // Opens `dbfPath` (the name is matched without regard to case), its memo
  // file and its structural index. Throws FileError/Error with the reason;
  // nothing is written. A tag the engine cannot evaluate exactly opens the
  // table read-only; readOnlyReason() names the tag and its expression.
  static std::unique_ptr<Table> Open(const std::filesystem::path& dbfPath, Options options);
  static std::unique_ptr<Table> Open(const std::filesystem::path& dbfPath) {
    return Open(dbfPath, Options{});
  }

  ~Table();  // writes a pending change and closes; errors are lost: call Close()
  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;

  const DbfFile& dbf() const { return *dbf_; }
  const FptFile* fpt() const { return fpt_.get(); }
  const CdxFile* cdx() const { return cdx_.get(); }
  const std::filesystem::path& path() const { return path_; }
  bool readOnly() const { return readOnly_; }
  const std::string& readOnlyReason() const { return readOnlyReason_; }

  const std::vector<DbfField>& fields() const { return dbf_->fields(); }
  int FieldIndex(std::string_view name) const { return dbf_->FindField(name); }
  uint32_t RecordCount() const { return dbf_->recordCount(); }

  // Tags of the structural index.
  const std::vector<TableTag>& tags() const { return tags_; }
  int FindTag(std::string_view name) const;
  void SelectTag(int tag);  // -1: record order
  int selectedTag() const { return selected_; }
  // The key bytes of `tag` for the current record (nullopt when FOR is false).
  std::optional<std::string> KeyOf(int tag, const RecordImage& record) const {
    return TagKey(*dbf_, tags_[std::size_t(tag)], record);
  }

  // Moves. Each first writes a changed current record, then the index pages.
  void GoTop();
  void GoBottom();
  void Skip(long n = 1);
  void Go(uint32_t recno);  // record order; 0 or past the end: end of file
  bool Eof() const { return eof_; }
  bool Bof() const { return bof_; }
  uint32_t RecNo() const { return recno_; }
  // Positions at the first entry of the selected tag whose key starts with
  // `key` (raw bytes; character keys may be shorter than the key length).
  enum class SeekResult { Found, After, Eof };
  SeekResult Seek(std::string_view key);
  SeekResult Seek(const Value& value);

  // The current record.
  RecordImage current() const { return RecordImage(*dbf_, record_, recno_); }
  std::string_view RawRecord() const { return record_; }
  std::string_view RawField(int index) const;
  Value FieldValue(int index) const { return current().Field(index); }
  // The same into `out`: a caller reading many records reuses its values'
  // text buffers instead of allocating one per character field.
  void FieldValue(int index, Value& out) const { current().Field(index, out); }
  bool IsNull(int index) const;
  bool Deleted() const { return !record_.empty() && record_[0] == '*'; }
  std::string MemoText(int index) const;  // raw bytes; empty memo = ""

  // Changes to the current record, written by the next move, Flush or Close.
  void SetRaw(int index, std::string_view bytes);  // padded with blanks / cut
  void SetValue(int index, const Value& value);
  void SetMemo(int index, std::string_view bytes);
  void SetDeleted(bool deleted);
  void Blank();  // every field blank (a memo becomes empty)
  bool changed() const { return changed_; }

  // Append: AppendStart makes the current buffer a new record (a copy of the
  // current one with empty memos); Append writes it and makes it current.
  void AppendStart();
  void Append();
  void AppendBlank() {
    AppendStart();
    Blank();
    Append();
  }

  void Flush();  // the pending record, then the index pages: everything handed to the OS
  void Close();  // Flush, then fsync and release the files

 private:
  Table() = default;
  void LoadTags();
  void Require() const;  // throws when read-only
  void Touch();
  void WritePending();
  void Settle();
  void Commit(bool isNew);
  void LoadRecord(uint32_t recno);
  void SetEofState();
  void FromCursor();
  void ReadAhead();
  uint32_t MemoPointer(int index, std::string_view record) const;
  std::function<bool(uint32_t)> SurvivesACut(uint32_t recno, const DbfField& field,
                                             const std::string& onDisk) const;

  std::filesystem::path path_;
  Options options_;
  std::unique_ptr<DbfFile> dbf_;
  std::unique_ptr<FptFile> fpt_;
  std::unique_ptr<CdxFile> cdx_;
  std::vector<TableTag> tags_;
  bool readOnly_ = false;
  std::string readOnlyReason_;

  int selected_ = -1;
  std::optional<CdxFile::Cursor> cursor_;
  uint32_t recno_ = 0;
  bool eof_ = true;
  bool bof_ = false;
  bool appending_ = false;
  bool changed_ = false;
  bool cursorAhead_ = false;            // the cursor already sits on the entry after the record
  bool indexPending_ = false;           // index entries changed since the index pages were written
  static constexpr int kReadAhead = 8;  // tag entries between a record's prefetch and its read
  std::string record_;                  // current record as the caller sees it
  std::string disk_;                    // the same record as it is on disk
  std::map<int, std::string> pendingMemos_;
  bool closed_ = false;
};

}  // namespace cau::xbase
