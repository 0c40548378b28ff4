// Record numbers of one table by a 64-bit hash of a lookup key, so that a
// lookup reads a handful of records instead of walking the table. Built in
// one pass over the file on first use; records appended since (by anyone)
// are added when Update sees the table grow, and records whose key fields
// this program rewrote are read again after Touch.
//
// Entries may be stale or collide: the map only narrows the search. Callers
// read each candidate as it is now, test it exactly as the walk would, and
// take the first survivor in tag order (d4tagOrder).
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>
#include <utility>
#include <vector>

#include "db/CodeBase.h"

namespace cau::db {

// FNV-1a, for the hashes the maps are keyed by.
class KeyHash {
 public:
  KeyHash& Add(std::string_view bytes);
  KeyHash& Add(long value);
  uint64_t value() const { return h_; }

 private:
  uint64_t h_ = 14695981039346656037ull;
};

// The hash of a court and a case number as the walk compares them (the
// stored number trimmed, the looked-up one exactly), from the stored bytes
// without decoding them: decoding is one to one, and the trimmed characters
// (blanks and controls) are the same bytes in both encodings.
uint64_t CaseHashOfRecord(long codTrib, std::string_view storedNumber);
uint64_t CaseHashOfLookup(long codTrib, std::string_view number);

class KeyMap {
 public:
  // The hash of a record's lookup key, from its bytes.
  using HashOf = std::function<uint64_t(std::string_view record)>;
  explicit KeyMap(HashOf hashOf) : hashOf_(std::move(hashOf)) {}

  // Brings the map up to the table's last record (after a move that re-read
  // the record count, such as d4goBof). Throws cau::Error when the file
  // cannot be read.
  void Update(Data4* table);
  // Reads the whole table again in one pass and hands every record to
  // `visit`, which returns the record's hash: one read serves the map and a
  // caller's scan. Throws cau::Error when the file cannot be read.
  using Visit = std::function<uint64_t(long recno, std::string_view record)>;
  void Rebuild(Data4* table, const Visit& visit);
  // The key fields of `recno` were written: its new key is read at the next Update.
  void Touch(long recno) { touched_.push_back(recno); }
  // The records that may have key `hash`, in record order, each once.
  std::vector<long> Candidates(uint64_t hash) const;
  // Forgets everything; the next Update reads the whole table again.
  void Clear();
  long covered() const { return covered_; }

 private:
  using Entry = std::pair<uint64_t, uint32_t>;  // hash, record number
  void Add(uint64_t hash, long recno);
  void Merge();

  HashOf hashOf_;
  std::vector<Entry> sorted_;  // by hash, then record
  std::vector<Entry> recent_;  // appended since the last merge, unsorted
  std::vector<long> touched_;
  long covered_ = 0;  // records 1..covered_ are in the map
};

}  // namespace cau::db
