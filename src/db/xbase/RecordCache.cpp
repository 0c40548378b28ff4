#include "db/xbase/RecordCache.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

namespace cau::xbase {

void RecordCache::Reset(uint64_t headerLength, uint32_t recordLength) {
  headerLength_ = headerLength;
  recordLength_ = std::max<uint32_t>(1, recordLength);
  memory_ = AnonMemory();
  held_.clear();
}

void RecordCache::Reserve(uint64_t bytes) {
  if (bytes <= memory_.size())
    return;
  // Room to grow: appends in a row do not start over at every record.
  const uint64_t size = std::max<uint64_t>({bytes, 2 * uint64_t(memory_.size()), kBlockBytes});
  if (size > std::numeric_limits<std::size_t>::max() / 2)
    throw std::bad_alloc();
  memory_ = AnonMemory();  // the old memory first: never both at once
  held_.clear();
  memory_ = AnonMemory(std::size_t(size));
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
