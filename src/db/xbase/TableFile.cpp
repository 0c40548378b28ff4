#include "db/xbase/TableFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "config/Errors.h"
#include "db/xbase/WriteCut.h"

namespace cau::xbase {

namespace {

[[noreturn]] void Fail(const std::string& path, const std::string& what) {
  throw FileError(path, path + ": " + what + ": " + std::strerror(errno));
}

bool SameNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    unsigned char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z')
      x -= 32;
    if (y >= 'a' && y <= 'z')
      y -= 32;
    if (x != y)
      return false;
  }
  return true;
}

}  // namespace

TableFile TableFile::Open(const std::filesystem::path& path, bool writable) {
  TableFile f;
  f.path_ = path.string();
  f.fd_ = ::open(f.path_.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
  if (f.fd_ < 0)
    Fail(f.path_, "não foi possível abrir");
  struct stat st {};
  if (::fstat(f.fd_, &st) == 0 && !S_ISREG(st.st_mode)) {
    throw FileError(f.path_, f.path_ + ": não é um arquivo");
  }
  f.writable_ = writable;
  return f;
}

TableFile TableFile::Create(const std::filesystem::path& path) {
  TableFile f;
  f.path_ = path.string();
  f.fd_ = ::open(f.path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (f.fd_ < 0)
    Fail(f.path_, "não foi possível criar");
  f.writable_ = true;
  return f;
}

TableFile::TableFile(TableFile&& other) noexcept
    : fd_(other.fd_), writable_(other.writable_), path_(std::move(other.path_)) {
  other.fd_ = -1;
}

TableFile& TableFile::operator=(TableFile&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0)
      ::close(fd_);
    fd_ = other.fd_;
    writable_ = other.writable_;
    path_ = std::move(other.path_);
    other.fd_ = -1;
  }
  return *this;
}

TableFile::~TableFile() {
  if (fd_ >= 0)
    ::close(fd_);
}

uint64_t TableFile::Size() const {
  struct stat st {};
  if (::fstat(fd_, &st) != 0)
    Fail(path_, "falha ao ler o tamanho");
  return uint64_t(st.st_size);
}

std::size_t TableFile::ReadAt(uint64_t offset, char* out, std::size_t size) const {
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = ::pread(fd_, out + done, size - done, off_t(offset + done));
    if (n < 0) {
      if (errno == EINTR)
        continue;
      Fail(path_, "falha de leitura");
    }
    if (n == 0)
      break;
    done += std::size_t(n);
  }
  return done;
}

void TableFile::ReadExact(uint64_t offset, char* out, std::size_t size) const {
  if (ReadAt(offset, out, size) != size) {
    throw FileError(path_, path_ + ": arquivo truncado (leitura de " + std::to_string(size) +
                               " bytes na posição " + std::to_string(offset) + ")");
  }
}

void TableFile::WriteAt(uint64_t offset, std::string_view bytes) {
  if (!writable_)
    throw FileError(path_, path_ + ": aberto somente para leitura");
  const std::size_t size = BytesBeforeCut(path_, offset, bytes.size());
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = ::pwrite(fd_, bytes.data() + done, size - done, off_t(offset + done));
    if (n < 0) {
      if (errno == EINTR)
        continue;
      Fail(path_, "falha de gravação");
    }
    done += std::size_t(n);
  }
  if (size < bytes.size())
    CutNow();
}

void TableFile::Truncate(uint64_t size) {
  if (::ftruncate(fd_, off_t(size)) != 0)
    Fail(path_, "falha ao ajustar o tamanho");
}

void TableFile::Sync() {
  if (fd_ >= 0 && writable_ && ::fsync(fd_) != 0)
    Fail(path_, "falha ao gravar no disco");
}

void TableFile::Close() {
  if (fd_ >= 0) {
    int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0)
      Fail(path_, "falha ao fechar");
  }
}

std::filesystem::path FindFileNoCase(const std::filesystem::path& dir, std::string_view name) {
  std::error_code ec;
  auto exact = dir / std::string(name);
  if (std::filesystem::is_regular_file(exact, ec))
    return exact;
  for (auto it = std::filesystem::directory_iterator(dir.empty() ? "." : dir, ec);
       !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
    if (SameNoCase(it->path().filename().string(), name) && it->is_regular_file(ec)) {
      return it->path();
    }
  }
  return {};
}

}  // namespace cau::xbase
