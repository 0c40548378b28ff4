#include "db/xbase/RecordCache.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>
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

// A block of half a huge page or more is rounded up to whole huge pages and
// aligned on one, so that the system can back it with huge pages.
RecordCache::Block::Block(std::size_t size) {
  const bool huge = size >= kHugePage / 2;
  size_ = RoundUp(size, huge ? kHugePage : kPage);
  const std::size_t mapSize = size_ + (huge ? kHugePage : 0);
  void* map = ::mmap(nullptr, mapSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
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

RecordCache::Block::Block(Block&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

RecordCache::Block& RecordCache::Block::operator=(Block&& other) noexcept {
  if (this != &other) {
    if (data_)
      ::munmap(data_, size_);
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

RecordCache::Block::~Block() {
  if (data_)
    ::munmap(data_, size_);
}

void RecordCache::Reset(uint64_t headerLength, uint32_t recordLength) {
  headerLength_ = headerLength;
  recordLength_ = std::max<std::size_t>(1, recordLength);
  chunkRecords_ = uint32_t(std::max<std::size_t>(1, kChunkBytes / recordLength_));
  segmentChunks_ = uint32_t(
      std::max<std::size_t>(1, kSegmentBytes / (std::size_t(chunkRecords_) * recordLength_)));
  segments_.clear();
  held_.clear();
}

const char* RecordCache::Load(const TableFile& file, uint32_t chunk, uint32_t count) {
  const uint32_t first = chunk * chunkRecords_;  // records before the chunk
  const uint32_t n = std::min(chunkRecords_, count - first);
  Reserve(chunk, n);
  if (chunk >= held_.size())
    held_.resize(chunk + 1, 0);
  held_[chunk] = 0;  // nothing held if the read fails
  char* to = Place(chunk, 0);
  file.ReadExact(headerLength_ + uint64_t(first) * recordLength_, to,
                 std::size_t(n) * recordLength_);
  held_[chunk] = n;
  return to;
}

void RecordCache::Reserve(uint32_t chunk, uint32_t records) {
  const std::size_t segment = chunk / segmentChunks_;
  const std::size_t need =
      (std::size_t(chunk % segmentChunks_) * chunkRecords_ + records) * recordLength_;
  if (segment >= segments_.size())
    segments_.resize(segment + 1);
  Block& b = segments_[segment];
  if (b.size() >= need)
    return;
  // A segment grows by doubling up to its full size: small tables stay small.
  const std::size_t full = std::size_t(segmentChunks_) * chunkRecords_ * recordLength_;
  Block bigger(std::max(need, std::min(full, std::max(kChunkBytes, 2 * b.size()))));
  if (b.size() > 0)
    std::memcpy(bigger.data(), b.data(), b.size());
  b = std::move(bigger);
}

void RecordCache::Written(uint32_t recno, std::string_view bytes) {
  const uint32_t chunk = (recno - 1) / chunkRecords_;
  const uint32_t k = (recno - 1) % chunkRecords_;
  if (chunk < held_.size() && k < held_[chunk] && bytes.size() == recordLength_)
    std::memcpy(Place(chunk, k), bytes.data(), recordLength_);
}

void RecordCache::Appended(uint32_t recno, std::string_view bytes) {
  const uint32_t chunk = (recno - 1) / chunkRecords_;
  const uint32_t k = (recno - 1) % chunkRecords_;
  if (chunk >= held_.size() || k == 0 || held_[chunk] != k || bytes.size() != recordLength_)
    return;
  Reserve(chunk, k + 1);
  std::memcpy(Place(chunk, k), bytes.data(), recordLength_);
  held_[chunk] = k + 1;
}

void RecordCache::Truncate(uint32_t count) {
  for (std::size_t chunk = 0; chunk < held_.size(); ++chunk) {
    const uint64_t first = uint64_t(chunk) * chunkRecords_;
    held_[chunk] = uint32_t(std::min<uint64_t>(held_[chunk], count > first ? count - first : 0));
  }
}

void RecordCache::Drop() {
  std::fill(held_.begin(), held_.end(), 0);
}

}  // namespace cau::xbase
