// A file of a table (records, memos): an owned descriptor with positioned
// reads and writes that report failures as cau::FileError naming the file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace cau::xbase {

// A write that lies within one aligned block of this size reaches the file
// whole or not at all even when a kill comes during it: the kernel checks
// for a fatal signal only between the pages of a write. A longer write can
// be cut at such a boundary.
inline constexpr uint64_t kUncutBlock = 4096;

class TableFile {
 public:
  TableFile() = default;
  // Opens an existing file; throws FileError when it cannot be opened.
  static TableFile Open(const std::filesystem::path& path, bool writable);
  // Creates a new file; fails when it already exists.
  static TableFile Create(const std::filesystem::path& path);

  TableFile(TableFile&& other) noexcept;
  TableFile& operator=(TableFile&& other) noexcept;
  TableFile(const TableFile&) = delete;
  TableFile& operator=(const TableFile&) = delete;
  ~TableFile();

  bool isOpen() const { return fd_ >= 0; }
  bool writable() const { return writable_; }
  const std::string& path() const { return path_; }

  uint64_t Size() const;
  // Reads up to `size` bytes at `offset`; returns how many were read (short at end of file).
  std::size_t ReadAt(uint64_t offset, char* out, std::size_t size) const;
  // Reads exactly `size` bytes or throws FileError with `what` in the message.
  void ReadExact(uint64_t offset, char* out, std::size_t size) const;
  void WriteAt(uint64_t offset, std::string_view bytes);
  void Truncate(uint64_t size);
  void Sync();  // to disk (fsync)
  void Close();

 private:
  int fd_ = -1;
  bool writable_ = false;
  std::string path_;
};

// The file in `dir` whose name equals `name` ignoring ASCII case; an exact
// match wins. Empty when there is none.
std::filesystem::path FindFileNoCase(const std::filesystem::path& dir, std::string_view name);

// Little- and big-endian integers inside file images.
inline uint32_t GetLe32(const char* p) {
  auto b = reinterpret_cast<const unsigned char*>(p);
  return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}
inline uint16_t GetLe16(const char* p) {
  auto b = reinterpret_cast<const unsigned char*>(p);
  return uint16_t(b[0] | b[1] << 8);
}
inline uint32_t GetBe32(const char* p) {
  auto b = reinterpret_cast<const unsigned char*>(p);
  return uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | uint32_t(b[3]);
}
inline uint16_t GetBe16(const char* p) {
  auto b = reinterpret_cast<const unsigned char*>(p);
  return uint16_t(b[0] << 8 | b[1]);
}
inline void PutLe32(char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    p[i] = char(v >> (8 * i));
}
inline void PutLe16(char* p, uint16_t v) {
  p[0] = char(v);
  p[1] = char(v >> 8);
}
inline void PutBe32(char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    p[i] = char(v >> (8 * (3 - i)));
}
inline void PutBe16(char* p, uint16_t v) {
  p[0] = char(v >> 8);
  p[1] = char(v);
}

}  // namespace cau::xbase
