// The base of the host's table objects: each opens one table of the data
// folder for its whole life, with an engine handle of its own, walks it in
// the order of the tag "PRIMARYKEY" and copies the current record into the
// properties of its subclass.
//
// A table that cannot be opened leaves the object closed: Opened() is false
// and OpenError() says why (missing file, damaged file, no tag PRIMARYKEY,
// an index the engine cannot maintain). Engine failures during moves and
// writes throw cau::Error with the engine's message; lookups return false.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "db/CodeBase.h"

namespace cau::db {

// Where the host is installed when the given folder holds no "orgaos.xml".
inline constexpr std::string_view kDefaultHostDir = "/opt/VEXO/Causarium/";

class TcbCau {
 public:
  virtual ~TcbCau();  // moves one record on (writing a pending change), closes
  TcbCau(const TcbCau&) = delete;
  TcbCau& operator=(const TcbCau&) = delete;

  // The table's file name inside the data folder, e.g. "PROCESSO.DBF".
  virtual std::string TableName() const = 0;

  // The host installation folder, ending in "/".
  const std::string& BaseDir() const { return baseDir_; }
  // The table file this object opens (or tried to open).
  const std::string& TablePath() const { return tablePath_; }
  bool Opened() const { return table_ != nullptr; }
  // Why the table is not open (it failed to open, or Close() ran); empty while it is.
  const std::string& OpenError() const { return openError_; }
  // The engine's message of the last refused write (AppendProcesso false, ...).
  const std::string& LastError() const { return lastError_; }
  // Reads the whole table, its memo pointers and every tag of its index, and
  // says what does not agree (a record pointing past the memo file, an index
  // entry missing or left over, ...); empty when everything holds. The table
  // is not changed.
  std::string CheckFiles() const;

  // Lookups (Locate, GetOrCreateFolder, ...) find their record through a map
  // of the table kept by the object. With `walk` they read the table from
  // the top instead, record by record, with the same results: the slow way,
  // kept to compare against. The environment variable CAU_WALKING_LOOKUPS=1
  // sets it for every object made afterwards.
  void UseWalkingLookups(bool walk) { walking_ = walk; }
  bool WalkingLookups() const { return walking_; }

  void First();      // top in tag order, then the record is loaded
  void Next();       // one record on (writing a pending change), then loaded
  bool Eof() const;  // past the last record (always true when not open)
  long RecordCount() const;
  // The current record's number (RecordCount() + 1 at the end of the table).
  long RecNo() const { return table_ ? d4recNo(table_) : 0; }
  // One record on, changes flushed to disk, then the record now current is loaded.
  void SaveAndNext();
  // What the destructor does, with failures reported: moves one record on,
  // closes the table and releases the engine. Throws cau::Error.
  void Close();

 protected:
  // `hostFolder`: the program's folder (or a file in it); everything up to
  // its last "/" is the installation folder, unless that holds no
  // "orgaos.xml", when `defaultDir` is used.
  TcbCau(std::string_view hostFolder, std::string_view defaultDir);
  // Opens the engine and the table and selects the tag PRIMARYKEY; the
  // subclass's constructor calls it (TableName is virtual).
  void OpenTable();
  // Copies the fields of the current record into the subclass's properties.
  virtual void LoadRecord() = 0;

  Data4* Table() const { return table_; }
  Field4* FieldOf(std::string_view name) const;                    // null when the table lacks it
  std::string_view RawRecord() const { return d4record(table_); }  // the current record
  // Throws cau::Error when the table is not open.
  void Require() const;
  // Throws cau::Error with the engine's message when `result` is negative.
  void Check(int result);
  // Field writes: the engine's result (negative on failure, with the reason
  // kept for LastError(); a missing field is a failure).
  int Put(std::string_view field, std::string_view text);
  int PutInt(std::string_view field, long value);
  int PutChar(std::string_view field, char32_t character);
  int PutMemo(std::string_view field, std::string_view text);
  // The whole memo ("" for a missing field); throws cau::Error when the
  // memo cannot be read, so a damaged memo is never overwritten unseen.
  std::string Memo(std::string_view field);
  // Keeps the engine's message of a failed call; returns `result`.
  int Note(int result);
  // Called after each successful field write through Put, PutInt, PutChar
  // and PutMemo, so that a subclass can follow writes to its lookup keys.
  virtual void FieldWritten(std::string_view field) { (void)field; }

 private:
  Field4* Writable(std::string_view name);  // null (reason kept) when missing
  int Written(std::string_view field, int result);

  std::string baseDir_;
  std::string tablePath_;
  std::string openError_;
  std::string lastError_;
  Code4Handle engine_;
  Data4* table_ = nullptr;  // owned by the engine
  bool walking_ = false;
};

}  // namespace cau::db
