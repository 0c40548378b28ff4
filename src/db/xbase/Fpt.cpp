#include "db/xbase/Fpt.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "config/Errors.h"

namespace cau::xbase {

namespace {

constexpr uint32_t kHeaderSize = 512;
constexpr uint32_t kTextBlock = 1;
constexpr uint32_t kMaxMemo = 64u << 20;  // sanity bound for a single memo
constexpr uint32_t kMaxSkip = 1u << 20;   // blocks a write may leave unused, in bytes

}  // namespace

std::unique_ptr<FptFile> FptFile::Open(const std::filesystem::path& path, bool writable) {
  std::unique_ptr<FptFile> fpt(new FptFile);
  fpt->file_ = TableFile::Open(path, writable);
  fpt->ReadHeader();
  return fpt;
}

std::unique_ptr<FptFile> FptFile::OpenDbt(const std::filesystem::path& path, bool writable) {
  std::unique_ptr<FptFile> dbt(new FptFile);
  dbt->file_ = TableFile::Open(path, writable);
  dbt->dbt_ = true;
  dbt->blockSize_ = kHeaderSize;
  const std::string& p = dbt->path();
  if (dbt->file_.Size() < kHeaderSize) {
    throw FileError(p, p + ": arquivo de memos inválido: menor que o cabeçalho de 512 bytes");
  }
  char h[4];
  dbt->file_.ReadExact(0, h, 4);
  dbt->nextFree_ = GetLe32(h);
  if (dbt->nextFree_ < 1) {
    throw FileError(p, p + ": arquivo de memos inválido: próximo bloco livre 0");
  }
  return dbt;
}

std::unique_ptr<FptFile> FptFile::CreateDbt(const std::filesystem::path& path) {
  std::string h(kHeaderSize, '\0');
  PutLe32(h.data(), 1);
  h[16] = 0x03;  // dBASE III version mark
  {
    TableFile out = TableFile::Create(path);
    out.WriteAt(0, h);
    out.Sync();
    out.Close();
  }
  return OpenDbt(path, true);
}

void FptFile::ReadHeader() {
  const std::string& p = path();
  if (file_.Size() < kHeaderSize) {
    throw FileError(p, p + ": arquivo de memos inválido: menor que o cabeçalho de 512 bytes");
  }
  char h[8];
  file_.ReadExact(0, h, 8);
  nextFree_ = GetBe32(h);
  uint32_t bs = GetBe16(h + 6);
  if (bs == 0)
    bs = 1;
  blockSize_ = bs;
  uint32_t first = (kHeaderSize + blockSize_ - 1) / blockSize_;
  if (nextFree_ < first) {
    throw FileError(p, p + ": arquivo de memos inválido: próximo bloco livre " +
                           std::to_string(nextFree_) + " dentro do cabeçalho");
  }
}

std::unique_ptr<FptFile> FptFile::Create(const std::filesystem::path& path, uint32_t blockSize) {
  const std::string p = path.string();
  if (blockSize == 0 || blockSize > 65535) {
    throw FileError(p, p + ": tamanho de bloco de memo inválido: " + std::to_string(blockSize));
  }
  std::string h(kHeaderSize, '\0');
  uint32_t first = (kHeaderSize + blockSize - 1) / blockSize;
  PutBe32(h.data(), first);
  PutBe16(h.data() + 6, uint16_t(blockSize));
  // Pad up to the first block so that next free x block size = file size.
  h.resize(std::size_t(first) * blockSize, '\0');
  {
    TableFile out = TableFile::Create(path);
    out.WriteAt(0, h);
    out.Sync();
    out.Close();
  }
  return Open(path, true);
}

uint32_t FptFile::LengthAt(uint32_t block) const {
  const std::string& p = path();
  uint64_t size = file_.Size();
  uint64_t at = uint64_t(block) * blockSize_;
  if (dbt_) {
    if (block < 1 || at >= size) {
      throw FileError(p, p + ": ponteiro de memo " + std::to_string(block) +
                             " fora do arquivo de memos (" + std::to_string(size) + " bytes)");
    }
    // The text runs up to its end mark (or the end of the file).
    std::string buf(blockSize_, '\0');
    for (uint64_t pos = at; pos < size && pos - at <= kMaxMemo; pos += blockSize_) {
      std::size_t n = file_.ReadAt(pos, buf.data(), buf.size());
      auto end = std::string_view(buf.data(), n).find('\x1A');
      if (end != std::string_view::npos)
        return uint32_t(pos - at + end);
    }
    if (size - at > kMaxMemo)
      throw FileError(p, p + ": memo sem marca de fim");
    return uint32_t(size - at);
  }
  if (block < (kHeaderSize + blockSize_ - 1) / blockSize_ || at + 8 > size) {
    throw FileError(p, p + ": ponteiro de memo " + std::to_string(block) +
                           " fora do arquivo de memos (" + std::to_string(size) + " bytes)");
  }
  char h[8];
  file_.ReadExact(at, h, 8);
  uint32_t length = GetBe32(h + 4);
  if (length > kMaxMemo || at + 8 + length > size) {
    throw FileError(p, p + ": memo no bloco " + std::to_string(block) + " com tamanho " +
                           std::to_string(length) + " além do fim do arquivo");
  }
  return length;
}

std::string FptFile::Read(uint32_t block) const {
  if (block == 0)
    return {};
  uint32_t length = LengthAt(block);
  std::string data(length, '\0');
  file_.ReadExact(uint64_t(block) * blockSize_ + (dbt_ ? 0 : 8), data.data(), length);
  return data;
}

uint32_t FptFile::Write(std::string_view data, const std::function<bool(uint32_t)>& acceptable) {
  if (data.empty())
    return 0;
  if (data.size() > kMaxMemo)
    throw FileError(path(), path() + ": memo grande demais");
  std::string image;
  if (dbt_) {
    if (data.find('\x1A') != std::string_view::npos) {
      throw Error(path() + ": um memo dBASE III não pode conter o byte 0x1A");
    }
    image.assign(data);
    image += "\x1A\x1A";
  } else {
    image.assign(8, '\0');
    PutBe32(image.data(), kTextBlock);
    PutBe32(image.data() + 4, uint32_t(data.size()));
    image.append(data);
  }
  uint32_t need = BlocksOf(uint32_t(data.size()));
  // Re-read the next free block: another program may have appended a memo.
  char h[4];
  file_.ReadExact(0, h, 4);
  uint32_t at = dbt_ ? GetLe32(h) : GetBe32(h);
  uint64_t size = file_.Size();
  uint64_t endBlock = (size + blockSize_ - 1) / blockSize_;
  // Never write below the end of the file: past a stale pointer lie another
  // program's memo, or blocks whose header update a crash cut off.
  if (at < endBlock)
    at = uint32_t(endBlock);
  if (acceptable) {
    const uint32_t reach = std::max<uint32_t>(1, kMaxSkip / blockSize_);
    for (uint32_t b = at; b - at < reach && b < UINT32_MAX - need; ++b) {
      if (acceptable(b)) {
        at = b;
        break;
      }
    }
  }
  image.resize(std::size_t(need) * blockSize_, '\0');
  file_.WriteAt(uint64_t(at) * blockSize_, image);
  nextFree_ = at + need;
  if (dbt_) {
    PutLe32(h, nextFree_);
  } else {
    PutBe32(h, nextFree_);
  }
  file_.WriteAt(0, std::string_view(h, 4));
  return at;
}

void FptFile::Sync() {
  file_.Sync();
}

void FptFile::Close() {
  if (file_.isOpen()) {
    Sync();
    file_.Close();
  }
}

uint32_t DecodeMemoPointer(std::string_view b) {
  if (b.size() == 4) {
    return GetLe32(b.data());
  }
  uint32_t v = 0;
  bool digits = false;
  for (char c : b) {
    if (c == ' ' || c == '\0') {
      if (digits)
        break;
      continue;
    }
    if (c < '0' || c > '9')
      throw Error("ponteiro de memo inválido");
    v = v * 10 + uint32_t(c - '0');
    digits = true;
  }
  return v;
}

std::string EncodeMemoPointer(uint32_t block, int fieldLength) {
  if (fieldLength == 4) {
    std::string s(4, '\0');
    PutLe32(s.data(), block);
    return s;
  }
  std::string s(std::size_t(fieldLength), ' ');
  if (block == 0)
    return s;
  std::string d = std::to_string(block);
  if (d.size() > s.size())
    throw Error("ponteiro de memo grande demais");
  s.replace(s.size() - d.size(), d.size(), d);
  return s;
}

}  // namespace cau::xbase
