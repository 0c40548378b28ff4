#include "ui/ReplaceExecutable.h"

#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

#include "config/Errors.h"
#include "config/IniFile.h"

namespace cau {

namespace fs = std::filesystem;

fs::path BackupPath(const fs::path& exe) {
  fs::path backup = exe;
  backup.replace_extension(".bak");
  return backup;
}

void ReplaceExecutable(const fs::path& exe, std::string_view bytes) {
  const auto fail = [&](const std::string& what, const std::error_code& ec) {
    return FileError(exe.string(), what + " \"" + exe.string() + "\": " + ec.message());
  };
  std::error_code ec;
  const fs::perms mode = fs::status(exe, ec).permissions();
  if (ec)
    throw fail("Executável não encontrado", ec);

  // Already this version (a second check in the same run): keep the backup
  // of the version it replaced.
  {
    std::ifstream current(exe, std::ios::binary);
    const std::string onDisk{std::istreambuf_iterator<char>(current),
                             std::istreambuf_iterator<char>()};
    if (onDisk == bytes)
      return;
  }

  const fs::path fresh = exe.parent_path() / ("." + exe.filename().string() + ".novo");
  fs::remove(fresh, ec);
  WriteFileAtomically(fresh, bytes);  // flushed to disk before it is renamed
  fs::permissions(fresh, mode, fs::perm_options::replace, ec);
  if (ec) {
    fs::remove(fresh, ec);
    throw fail("Não foi possível dar as permissões do executável à nova versão de", ec);
  }

  const fs::path backup = BackupPath(exe);
  fs::remove(backup, ec);  // an earlier update's backup; none is fine
  fs::rename(exe, backup, ec);
  if (ec) {
    const std::error_code why = ec;
    fs::remove(fresh, ec);
    throw fail("Não foi possível renomear", why);
  }
  fs::rename(fresh, exe, ec);
  if (ec) {
    const std::error_code why = ec;
    fs::rename(backup, exe, ec);
    fs::remove(fresh, ec);
    throw fail("Não foi possível substituir", why);
  }
}

}  // namespace cau
