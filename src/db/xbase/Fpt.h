// A .FPT memo file: a 512-byte header (next free block, block size, both
// big-endian) followed by blocks holding [type, length, data]; or the .DBT
// of dBASE III tables.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "db/xbase/TableFile.h"

namespace cau::xbase {

class FptFile {
 public:
  // Validates the header; throws FileError and writes nothing.
  static std::unique_ptr<FptFile> Open(const std::filesystem::path& path, bool writable);
  static std::unique_ptr<FptFile> Create(const std::filesystem::path& path, uint32_t blockSize);
  // The .DBT memo file of dBASE III tables: 512-byte blocks, next free block
  // little-endian at offset 0, each text ended by 0x1A 0x1A; a rewrite always
  // goes to the end.
  static std::unique_ptr<FptFile> OpenDbt(const std::filesystem::path& path, bool writable);
  static std::unique_ptr<FptFile> CreateDbt(const std::filesystem::path& path);

  const std::string& path() const { return file_.path(); }
  uint32_t blockSize() const { return blockSize_; }
  uint32_t nextFree() const { return nextFree_; }

  // The data of the memo starting at `block` (0 = empty memo). Throws
  // FileError for a block outside the file or a length that runs past it.
  std::string Read(uint32_t block) const;
  // Stores `data` as a new text memo in fresh blocks at the end of the file
  // and returns the block to put in the record (0 for empty data). A memo
  // that replaces another never overwrites the old blocks, even when it would
  // fit them: until the record points at the new blocks, the old text must
  // stay whole, or a crash between the two writes would leave the record
  // pointing at a mix of both. The old blocks become unused space, as the
  // host's own program leaves them. Order: blocks, then the header's next
  // free block; the caller writes the record last.
  // `acceptable`, when given, may turn down a first block: the memo then
  // goes a little further on (the blocks skipped stay unused), to the first
  // one it accepts within a short distance, else to the first free one.
  uint32_t Write(std::string_view data, const std::function<bool(uint32_t)>& acceptable = {});

  // Every block a memo occupies: [first, first + count). 0 count for empty.
  uint32_t BlocksOf(uint32_t length) const {
    return ((dbt_ ? 2 : 8) + length + blockSize_ - 1) / blockSize_;
  }
  // The stored length of the memo at `block` after checking it lies inside the file.
  uint32_t LengthAt(uint32_t block) const;

  void Sync();
  void Close();

 private:
  FptFile() = default;
  void ReadHeader();

  TableFile file_;
  bool dbt_ = false;
  uint32_t blockSize_ = 64;
  uint32_t nextFree_ = 0;
};

// Memo pointers inside a record: 10 ASCII digits (FoxPro 2.x, dBASE) or a
// 4-byte little-endian integer (Visual FoxPro). Throws cau::Error for bytes
// that are neither.
uint32_t DecodeMemoPointer(std::string_view fieldBytes);
std::string EncodeMemoPointer(uint32_t block, int fieldLength);

}  // namespace cau::xbase
