#include "db/xbase/RecordCache.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <limits>
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
RecordCache::Memory::Memory(std::size_t size) {
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

RecordCache::Memory::Memory(Memory&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

RecordCache::Memory& RecordCache::Memory::operator=(Memory&& other) noexcept {
  if (this != &other) {
    if (data_)
      ::munmap(data_, size_);
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

RecordCache::Memory::~Memory() {
  if (data_)
    ::munmap(data_, size_);
}

void RecordCache::Reset(uint64_t headerLength, uint32_t recordLength) {
  headerLength_ = headerLength;
  recordLength_ = std::max<uint32_t>(1, recordLength);
  memory_ = Memory();
  held_.clear();
}

void RecordCache::Reserve(uint64_t bytes) {
  if (bytes <= memory_.size())
    return;
  // Room to grow: appends in a row do not start over at every record.
  const uint64_t size = std::max<uint64_t>({bytes, 2 * uint64_t(memory_.size()), kBlockBytes});
  if (size > std::numeric_limits<std::size_t>::max() / 2)
    throw std::bad_alloc();
  memory_ = Memory();  // the old memory first: never both at once
  held_.clear();
  memory_ = Memory(std::size_t(size));
}

const char* RecordCache::Load(const TableFile& file, uint32_t recno, uint32_t count) {
  const uint64_t total = uint64_t(count) * recordLength_;
  const uint64_t at = uint64_t(recno - 1) * recordLength_;
  const uint64_t last = at + recordLength_ - 1;
  Reserve(total);
  const std::size_t blocks = std::size_t((total + kBlockBytes - 1) >> kBlockShift);
  if (held_.size() < blocks)
    held_.resize(blocks, 0);
  for (uint64_t b = at >> kBlockShift; b <= last >> kBlockShift; ++b) {
    const uint64_t from = b << kBlockShift;
    const auto n = uint32_t(std::min<uint64_t>(kBlockBytes, total - from));
    if (held_[b] >= n)
      continue;
    held_[b] = 0;  // nothing held if the read fails
    file.ReadExact(headerLength_ + from, memory_.data() + from, n);
    held_[b] = n;
  }
  return memory_.data() + at;
}

void RecordCache::Written(uint32_t recno, std::string_view bytes) {
  const uint64_t at = uint64_t(recno - 1) * recordLength_;
  if (bytes.size() == recordLength_ && at + recordLength_ <= memory_.size())
    std::memcpy(memory_.data() + at, bytes.data(), bytes.size());  // unheld bytes are read again
}

void RecordCache::Appended(uint32_t recno, std::string_view bytes) {
  const uint64_t at = uint64_t(recno - 1) * recordLength_;
  const uint64_t end = at + recordLength_;
  if (bytes.size() != recordLength_ || end > memory_.size())
    return;
  std::memcpy(memory_.data() + at, bytes.data(), bytes.size());
  for (uint64_t b = at >> kBlockShift; b <= (end - 1) >> kBlockShift; ++b) {
    const uint64_t from = b << kBlockShift;
    const uint64_t start = std::max(at, from) - from;  // where the record starts in the block
    if (b >= held_.size()) {
      if (start != 0)
        break;
      held_.resize(std::size_t(b) + 1, 0);
    }
    if (held_[b] == start)
      held_[b] = uint32_t(std::min<uint64_t>(kBlockBytes, end - from));
  }
}

void RecordCache::Truncate(uint32_t count) {
  const uint64_t total = uint64_t(count) * recordLength_;
  for (std::size_t b = 0; b < held_.size(); ++b) {
    const uint64_t from = uint64_t(b) << kBlockShift;
    held_[b] = uint32_t(std::min<uint64_t>(held_[b], total > from ? total - from : 0));
  }
}

void RecordCache::Drop() {
  std::fill(held_.begin(), held_.end(), 0);
}

}  // namespace cau::xbase
