// Anonymous memory for the engine's read caches: owned, page-aligned, and
// from half a huge page up backed by huge pages where the system allows, so
// that reads in a random order over it do not wait on address translation.
// Never a mapping of a table file: the host may shrink a file while we run,
// and a read then fails with an error instead of a fault.
#pragma once

#include <cstddef>

namespace cau::xbase {

class AnonMemory {
 public:
  AnonMemory() = default;
  explicit AnonMemory(std::size_t size);  // zero-filled; throws std::bad_alloc
  AnonMemory(AnonMemory&& other) noexcept;
  AnonMemory& operator=(AnonMemory&& other) noexcept;
  AnonMemory(const AnonMemory&) = delete;
  AnonMemory& operator=(const AnonMemory&) = delete;
  ~AnonMemory();

  char* data() const { return data_; }
  std::size_t size() const { return size_; }

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace cau::xbase
