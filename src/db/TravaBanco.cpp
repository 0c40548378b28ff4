#include "db/TravaBanco.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace cau {
namespace {

constexpr const char* kCannotLock = "Não foi possível travar o banco de dados";
constexpr const char* kStations =
    "O banco de dados está em uso por outro usuário.\r\n\r\n"
    "Feche as estações em execução do Causarium e tente novamente.";
constexpr const char* kExclusive = "Outro usuário está utilizando o banco de dados exclusivamente";

// The lock file, found without regard to case: the folder may come from Windows.
std::filesystem::path LockPath(const std::filesystem::path& dataDir) {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dataDir, ec)) {
    std::string name = entry.path().filename().string();
    for (char& c : name)
      c = static_cast<char>((c >= 'A' && c <= 'Z') ? c + 32 : c);
    if (name == "lock")
      return entry.path();
  }
  return dataDir / "lock";
}

// A whole-file lock owned by the open file description, so that two opens in
// one process conflict like two processes do.
struct flock WholeFile(short type) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = 0;
  fl.l_len = 0;
  return fl;
}

}  // namespace

DatabaseLock& DatabaseLock::operator=(DatabaseLock&& other) noexcept {
  if (this != &other) {
    Release();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

void DatabaseLock::Release() {
  if (fd_ >= 0)
    ::close(fd_);  // an error while closing changes nothing for us
  fd_ = -1;
}

bool TravaBanco(const std::string& appDir, DatabaseLock& handle, std::string& message) {
  const std::filesystem::path path = LockPath(std::filesystem::path(appDir) / "dados");
  std::error_code ec;
  const bool existed = std::filesystem::exists(path, ec);

  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | (existed ? 0 : O_CREAT), 0666);
  if (fd < 0) {
    message = existed ? kExclusive : kCannotLock;
    return false;
  }
  struct flock fl = WholeFile(F_WRLCK);
  if (::fcntl(fd, F_OFD_SETLK, &fl) == 0) {
    handle = DatabaseLock(fd);
    return true;
  }
  // Someone holds it: read locks are the host's stations, a write lock is
  // another exclusive user.
  struct flock probe = WholeFile(F_WRLCK);
  const bool probed = ::fcntl(fd, F_OFD_GETLK, &probe) == 0;
  ::close(fd);
  message = (probed && probe.l_type == F_RDLCK) ? kStations : kExclusive;
  return false;
}

}  // namespace cau
