// What the host installation knows: its folders, the service credentials and
// proxy settings the user entered in the host (kept scrambled in
// causarium.ini), the last push session and the host's request for a
// resynchronisation. One instance per run.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "config/IniFile.h"
#include "config/Scrambler.h"

namespace cau {

class TConfig {
 public:
  // `appDir` is the installation folder; a missing final "/" is added. Also
  // updates the registry's record of the installation and, on the first
  // start after an installation, cleans up the data folder.
  explicit TConfig(std::string appDir, Scrambler& scrambler = ProcessScrambler());

  const IniFile& Ini() const { return ini_; }
  const std::string& AppDir() const { return appDir_; }
  const std::string& DataDir() const { return dataDir_; }
  const std::string& LocalDir() const { return localDir_; }
  const std::string& BackupDir() const { return backupDir_; }

  // The proxy settings apply only when this is greater than 1.
  int ProxyMode() const;
  std::string GetUsuario() const;
  std::string GetSenha() const;
  std::string GetProxy() const;
  std::string GetProxyUsuario() const;
  std::string GetProxySenha() const;

  std::string GetIdSessaoPush() const;
  // Throws cau::FileError naming causarium.ini when it cannot be written.
  void SetIdSessaoPush(std::string_view id);

  bool SyncPushRequested() const;
  // Throws cau::FileError naming causarium.ini when it cannot be written.
  void ClearSyncPush();

 private:
  std::string ReadScrambled(std::string_view key) const;

  std::string appDir_, dataDir_, localDir_, backupDir_;
  IniFile ini_;
  Scrambler& scrambler_;
};

// The registry key under which the host records its installation folder.
inline constexpr std::string_view kHostRegistryKey = "Software\\VEXO\\Causarium";

// The folder of old backups: "backup.cau" at the root of the file system
// that holds the installation, found without regard to case.
std::filesystem::path OldBackupsFolder(const std::filesystem::path& appDir);

// The one-time clean-up after an installation, when the marker file
// "primeiraVez" is in `appDir`: deletes the host's stale files, moves the old
// backups into `backupDir` (each name prefixed with "_"), removes their folder
// when it is empty and deletes the marker. File names match without regard to
// case; failures are silent. Returns whether the marker was there.
bool FirstStartCleanUp(const std::filesystem::path& appDir, const std::filesystem::path& dataDir,
                       const std::filesystem::path& localDir,
                       const std::filesystem::path& backupDir,
                       const std::filesystem::path& oldBackups);

}  // namespace cau
