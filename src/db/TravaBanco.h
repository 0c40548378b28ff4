// The program's exclusive hold on the host's database: a write lock on
// dados/lock kept for the life of the program. Host stations hold read locks
// on the same file; a second copy of this program would hold a write lock.
#pragma once

#include <string>

namespace cau {

// The open lock file; the lock goes with it.
class DatabaseLock {
 public:
  DatabaseLock() = default;
  explicit DatabaseLock(int fd) : fd_(fd) {}
  DatabaseLock(DatabaseLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  DatabaseLock& operator=(DatabaseLock&& other) noexcept;
  DatabaseLock(const DatabaseLock&) = delete;
  DatabaseLock& operator=(const DatabaseLock&) = delete;
  ~DatabaseLock() { Release(); }

  bool Held() const { return fd_ >= 0; }
  // Closes the file, which drops the lock; the file stays in place.
  void Release();

 private:
  int fd_ = -1;
};

// Takes the lock on appDir + "dados/lock" (created empty when missing). True
// with the lock stored in `handle`; false with the user's message in `message`.
bool TravaBanco(const std::string& appDir, DatabaseLock& handle, std::string& message);

}  // namespace cau
