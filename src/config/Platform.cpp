#include "config/Platform.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace cau {
namespace fs = std::filesystem;
namespace {

// An environment variable holding an absolute path; relative ones are
// invalid for the XDG variables and ignored.
std::optional<fs::path> AbsoluteEnv(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || value[0] != '/')
    return std::nullopt;
  return fs::path(value);
}

// XDG_DOCUMENTS_DIR="$HOME/Documentos" from user-dirs.dirs.
std::optional<fs::path> DocumentsFromUserDirs() {
  std::ifstream in(ConfigHome() / "user-dirs.dirs");
  std::string line;
  const std::string prefix = "XDG_DOCUMENTS_DIR=";
  while (std::getline(in, line)) {
    if (line.rfind(prefix, 0) != 0)
      continue;
    std::string value = line.substr(prefix.size());
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
      value = value.substr(1, value.size() - 2);
    if (value.rfind("$HOME", 0) == 0)
      value = HomeDir().string() + value.substr(5);
    if (!value.empty() && value.front() == '/')
      return fs::path(value);
    return std::nullopt;
  }
  return std::nullopt;
}

// The folder + "Causarium/", created; nullopt when it cannot be.
std::optional<std::string> Created(const fs::path& base) {
  if (base.empty())
    return std::nullopt;
  const fs::path dir = base / "Causarium";
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec || !fs::is_directory(dir, ec))
    return std::nullopt;
  return dir.string() + "/";
}

}  // namespace

fs::path HomeDir() {
  if (auto home = AbsoluteEnv("HOME"))
    return *home;
  std::vector<char> buf(16384);
  passwd pw{};
  passwd* result = nullptr;
  if (::getpwuid_r(::getuid(), &pw, buf.data(), buf.size(), &result) == 0 && result != nullptr &&
      result->pw_dir != nullptr)
    return fs::path(result->pw_dir);
  return fs::path("/");
}

fs::path ConfigHome() {
  if (auto dir = AbsoluteEnv("XDG_CONFIG_HOME"))
    return *dir;
  return HomeDir() / ".config";
}

fs::path DataHome() {
  if (auto dir = AbsoluteEnv("XDG_DATA_HOME"))
    return *dir;
  return HomeDir() / ".local" / "share";
}

fs::path DocumentsDir() {
  if (auto dir = AbsoluteEnv("XDG_DOCUMENTS_DIR"))
    return *dir;
  if (auto dir = DocumentsFromUserDirs())
    return *dir;
  return HomeDir();
}

fs::path TempDir() {
  if (auto dir = AbsoluteEnv("TMPDIR"))
    return *dir;
  return fs::path("/tmp");
}

std::string LocalAppDataDir() {
  for (const fs::path& base : {DataHome(), DocumentsDir()}) {
    if (auto dir = Created(base))
      return *dir;
  }
  if (auto dir = Created(TempDir()))
    return *dir;
  return (TempDir() / "Causarium").string() + "/";
}

}  // namespace cau
