#include "db/xbase/AnonMemory.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <new>
#include <utility>

namespace cau::xbase {

namespace {

constexpr std::size_t kPage = 4096;
constexpr std::size_t kHugePage = 2 * 1024 * 1024;

std::size_t RoundUp(std::size_t n, std::size_t to) {
  return (n + to - 1) / to * to;
}

}  // namespace

// Memory of half a huge page or more is rounded up to whole huge pages and
// aligned on one, so that the system can back it with huge pages.
AnonMemory::AnonMemory(std::size_t size) {
  const bool huge = size >= kHugePage / 2;
  size_ = RoundUp(std::max<std::size_t>(size, 1), huge ? kHugePage : kPage);
  const std::size_t mapSize = size_ + (huge ? kHugePage : 0);
  void* map = ::mmap(nullptr, mapSize, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (map == MAP_FAILED)
    throw std::bad_alloc();
  char* start = static_cast<char*>(map);
  data_ = start;
  if (huge) {
    const auto at = reinterpret_cast<std::uintptr_t>(start);
    data_ = start + (RoundUp(at, kHugePage) - at);
    if (data_ > start)
      ::munmap(start, std::size_t(data_ - start));
    if (char* end = start + mapSize; end > data_ + size_)
      ::munmap(data_ + size_, std::size_t(end - (data_ + size_)));
#ifdef MADV_HUGEPAGE
    ::madvise(data_, size_, MADV_HUGEPAGE);  // a hint: without it, plain pages
#endif
  }
}

AnonMemory::AnonMemory(AnonMemory&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

AnonMemory& AnonMemory::operator=(AnonMemory&& other) noexcept {
  if (this != &other) {
    if (data_)
      ::munmap(data_, size_);
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

AnonMemory::~AnonMemory() {
  if (data_)
    ::munmap(data_, size_);
}

}  // namespace cau::xbase
