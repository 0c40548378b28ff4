// The records of a .DBF held in memory: read a 64 KiB block at a time on first use,
// kept in step with this program's writes, dropped on demand.
//
// The bytes live in anonymous memory (AnonMemory.h), never in a mapping of
// the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "db/xbase/AnonMemory.h"
#include "db/xbase/TableFile.h"

namespace cau::xbase {

class RecordCache {
 public:
  RecordCache() = default;
  RecordCache(const RecordCache&) = delete;
  RecordCache& operator=(const RecordCache&) = delete;

  // Record layout of the file; drops everything held.
  void Reset(uint64_t headerLength, uint32_t recordLength);

  // The bytes of record `recno` (1..count), read from `file` when not held.
  // Throws FileError when the file no longer holds them.
  const char* Record(const TableFile& file, uint32_t recno, uint32_t count) {
    const uint64_t at = uint64_t(recno - 1) * recordLength_;
    const uint64_t last = at + recordLength_ - 1;
    const uint64_t first = at >> kBlockShift, end = last >> kBlockShift;
    if (end < held_.size() && held_[end] > (last & (kBlockBytes - 1)) &&
        (first == end || held_[first] == kBlockBytes))
      return memory_.data() + at;
    return Load(file, recno, count);
  }

  // This program wrote record `recno`: a held copy follows.
  void Written(uint32_t recno, std::string_view bytes);
  // This program appended record `recno`: held bytes that ended just before it go on.
  void Appended(uint32_t recno, std::string_view bytes);
  // The file now counts `count` records: nothing past them is held.
  void Truncate(uint32_t count);
  // Forgets every record (the memory stays for the next reads).
  void Drop();

 private:
  const char* Load(const TableFile& file, uint32_t recno, uint32_t count);
  // Memory for the first `bytes` bytes of records; growing it drops what is held.
  void Reserve(uint64_t bytes);

  // The records' bytes are read in aligned blocks of 64 KiB, each held from
  // its start: no division on the way to a record.
  static constexpr int kBlockShift = 16;
  static constexpr uint32_t kBlockBytes = uint32_t{1} << kBlockShift;
  uint64_t headerLength_ = 0;
  uint64_t recordLength_ = 1;
  AnonMemory memory_;           // the records' bytes, as in the file after its header
  std::vector<uint32_t> held_;  // bytes held from the start of each block
};

}  // namespace cau::xbase
