// The records of a .DBF held in memory: read a chunk at a time on first use,
// kept in step with this program's writes, dropped on demand.
//
// The bytes live in anonymous memory, never in a mapping of the file: the
// host may shrink the file while we run, and a read then fails with an
// error instead of a fault. Chunks sit side by side in segments of 2 MiB,
// backed by huge pages where the system allows, so a walk in tag order (a
// random order over the whole file) does not wait on address translation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "db/xbase/TableFile.h"

namespace cau::xbase {

class RecordCache {
 public:
  RecordCache() = default;
  RecordCache(const RecordCache&) = delete;
  RecordCache& operator=(const RecordCache&) = delete;

  // Record layout of the file; drops everything held.
  void Reset(uint64_t headerLength, uint32_t recordLength);

  // The bytes of record `recno` (1..count), its chunk read from `file` when
  // not held. Throws FileError when the file no longer holds them.
  const char* Record(const TableFile& file, uint32_t recno, uint32_t count) {
    const uint32_t at = recno - 1;
    const uint32_t chunk = at / chunkRecords_;
    const uint32_t k = at % chunkRecords_;
    if (chunk < held_.size() && k < held_[chunk])
      return Place(chunk, k);
    return Load(file, chunk, count) + std::size_t(k) * recordLength_;
  }

  // This program wrote record `recno`: a held copy follows.
  void Written(uint32_t recno, std::string_view bytes);
  // This program appended record `recno`: a held chunk ending just before it grows.
  void Appended(uint32_t recno, std::string_view bytes);
  // The file now counts `count` records: nothing past them is held.
  void Truncate(uint32_t count);
  // Forgets every record (the memory stays for the next reads).
  void Drop();

 private:
  // One block of anonymous memory.
  class Block {
   public:
    Block() = default;
    explicit Block(std::size_t size);
    Block(Block&& other) noexcept;
    Block& operator=(Block&& other) noexcept;
    ~Block();
    char* data() const { return data_; }
    std::size_t size() const { return size_; }

   private:
    char* data_ = nullptr;
    std::size_t size_ = 0;
  };

  char* Place(uint32_t chunk, uint32_t k) const {
    return segments_[chunk / segmentChunks_].data() +
           (std::size_t(chunk % segmentChunks_) * chunkRecords_ + k) * recordLength_;
  }
  const char* Load(const TableFile& file, uint32_t chunk, uint32_t count);
  // Makes the segment of `chunk` hold its first `records` records.
  void Reserve(uint32_t chunk, uint32_t records);

  static constexpr std::size_t kChunkBytes = 64 * 1024;
  static constexpr std::size_t kSegmentBytes = 2 * 1024 * 1024;
  uint64_t headerLength_ = 0;
  std::size_t recordLength_ = 1;
  uint32_t chunkRecords_ = 1;   // records read at once
  uint32_t segmentChunks_ = 1;  // chunks of a segment
  std::vector<Block> segments_;
  std::vector<uint32_t> held_;  // records held of each chunk (0: none)
};

}  // namespace cau::xbase
