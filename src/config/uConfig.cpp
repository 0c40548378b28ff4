#include "config/uConfig.h"

#include <sys/stat.h>

#include <algorithm>
#include <limits>
#include <vector>

#include "config/Cp1252.h"
#include "config/Platform.h"
#include "config/Registry.h"
#include "config/Utils.h"

namespace cau {
namespace fs = std::filesystem;
namespace {

constexpr std::string_view kGlobal = "GLOBAL";
constexpr std::string_view kCauPush = "CAUPUSH";

// The host obscures the names of its scrambled keys with "l"/"1" and "O"/"0";
// they are spelled exactly as the host writes them.
constexpr std::string_view kUsuarioKey = "X01YlOQZ0VOPSPAOT0K0";
constexpr std::string_view kSenhaKey = "X01YlOQZOV0PSPA0TOKO";
constexpr std::string_view kProxyKey = "X01Y10QZ0V0PSPA0T0K0";
constexpr std::string_view kProxyUsuarioKey = "X01Y10QZ0V0PSPAOTOK0";
constexpr std::string_view kProxySenhaKey = "X0lY1OQZ0VOPSPA0TOKO";
constexpr std::string_view kProxyModeKey = "PROXY";
constexpr std::string_view kIdSessaoKey = "IDSESSAOPUSH";
constexpr std::string_view kSyncPushKey = "syncPush";

// The host's folders come from Windows, where names ignore case.
std::string FoldName(const fs::path& name) {
  return text::LowerCp1252(name.filename().string());
}

std::vector<fs::path> EntriesNamed(const fs::path& dir, std::string_view name) {
  std::vector<fs::path> found;
  const std::string want = text::LowerCp1252(name);
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    if (FoldName(it->path()) == want)
      found.push_back(it->path());
  }
  return found;
}

void DeleteFilesNamed(const fs::path& dir, std::string_view name) {
  for (const fs::path& p : EntriesNamed(dir, name)) {
    std::error_code ec;
    if (!fs::is_directory(fs::symlink_status(p, ec)))
      fs::remove(p, ec);
  }
}

std::string WithSlash(std::string dir) {
  if (dir.empty() || dir.back() != '/')
    dir += '/';
  return dir;
}

// The highest folder above `p` that is still on its file system.
fs::path MountPointOf(const fs::path& p) {
  std::error_code ec;
  fs::path here = fs::weakly_canonical(fs::absolute(p, ec), ec);
  if (here.empty())
    return fs::path("/");
  if (!here.has_filename())  // "dir/" names dir
    here = here.parent_path();
  struct stat st {};
  while (::stat(here.c_str(), &st) != 0) {  // from the nearest folder that exists
    if (!here.has_relative_path())
      return fs::path("/");
    here = here.parent_path();
  }
  const dev_t dev = st.st_dev;
  while (here.has_relative_path()) {
    const fs::path up = here.parent_path();
    if (::stat(up.c_str(), &st) != 0 || st.st_dev != dev)
      break;
    here = up;
  }
  return here;
}

}  // namespace

// On the host the old backups are "\backup.cau\" on the drive of the
// installation. A drive is a file system of its own, so here it is the root
// of the file system that holds the installation (its mount point): on a
// single-partition machine "/backup.cau", with the installation on a mounted
// disk the root of that disk.
fs::path OldBackupsFolder(const fs::path& appDir) {
  const fs::path root = MountPointOf(appDir);
  const auto found = EntriesNamed(root, "backup.cau");
  return found.empty() ? root / "backup.cau" : found.front();
}

bool FirstStartCleanUp(const fs::path& appDir, const fs::path& dataDir, const fs::path& localDir,
                       const fs::path& backupDir, const fs::path& oldBackups) {
  const auto markers = EntriesNamed(appDir, "primeiraVez");
  if (markers.empty())
    return false;
  for (const char* name : {"chprocesso.dbf", "agenda.cdx", "ccorrente.cdx", "chprocesso.cdx",
                           "clientes.cdx", "links.cdx", "log.cdx"})
    DeleteFilesNamed(dataDir, name);
  for (const char* name : {"log.dbf", "log.cdx"})
    DeleteFilesNamed(localDir, name);
  for (const char* name : {"pasta.cdx", "processo.cdx", "procscliente.cdx", "tribextra.cdx"})
    DeleteFilesNamed(dataDir, name);

  std::error_code ec;
  std::vector<fs::path> entries;
  for (fs::directory_iterator it(oldBackups, ec), end; !ec && it != end; it.increment(ec))
    entries.push_back(it->path());
  std::sort(entries.begin(), entries.end());
  for (const fs::path& entry : entries)
    ShellMove(entry, backupDir / ("_" + entry.filename().string()));
  fs::remove(oldBackups, ec);  // only when it is empty now

  for (const fs::path& marker : markers)
    fs::remove(marker, ec);
  return true;
}

TConfig::TConfig(std::string appDir, Scrambler& scrambler)
    : appDir_(WithSlash(std::move(appDir))),
      dataDir_(appDir_ + "dados/"),
      localDir_(LocalAppDataDir()),
      backupDir_(appDir_ + "backup/"),
      ini_(appDir_ + "causarium.ini"),
      scrambler_(scrambler) {
  const auto recorded = RegistryRead(kHostRegistryKey, "");
  if (!recorded || text::LowerCp1252(*recorded) != text::LowerCp1252(appDir_))
    RegistryWrite(kHostRegistryKey, "", appDir_);

  FirstStartCleanUp(appDir_, dataDir_, localDir_, backupDir_, OldBackupsFolder(appDir_));
}

std::string TConfig::ReadScrambled(std::string_view key) const {
  return scrambler_.Unscramble(ini_.ReadString(kGlobal, key));
}

int TConfig::ProxyMode() const {
  const std::int64_t mode = ini_.ReadInteger(kGlobal, kProxyModeKey, 1);
  if (mode < std::numeric_limits<int>::min() || mode > std::numeric_limits<int>::max())
    return 1;
  return static_cast<int>(mode);
}

std::string TConfig::GetUsuario() const {
  return ReadScrambled(kUsuarioKey);
}
std::string TConfig::GetSenha() const {
  return ReadScrambled(kSenhaKey);
}
std::string TConfig::GetProxy() const {
  return ReadScrambled(kProxyKey);
}
std::string TConfig::GetProxyUsuario() const {
  return ReadScrambled(kProxyUsuarioKey);
}
std::string TConfig::GetProxySenha() const {
  return ReadScrambled(kProxySenhaKey);
}

std::string TConfig::GetIdSessaoPush() const {
  return ini_.ReadString(kGlobal, kIdSessaoKey);
}

void TConfig::SetIdSessaoPush(std::string_view id) {
  ini_.WriteString(kGlobal, kIdSessaoKey, id);
}

bool TConfig::SyncPushRequested() const {
  return ini_.ReadInteger(kCauPush, kSyncPushKey, 0) == 1;
}

void TConfig::ClearSyncPush() {
  ini_.DeleteKey(kCauPush, kSyncPushKey);
}

}  // namespace cau
