// Puts a new executable in place of the running one without a moment in
// which the program is missing or half-written.
#pragma once

#include <filesystem>
#include <string_view>

namespace cau {

// The backup of `exe`: the same folder and name with the extension ".bak".
std::filesystem::path BackupPath(const std::filesystem::path& exe);

// Writes `bytes` beside `exe` under a temporary name, flushed to disk and
// with the executable's permissions; deletes an earlier backup, renames
// `exe` to the backup and the new file to `exe`. When that last rename
// fails the backup is renamed back. An `exe` that already holds `bytes`
// is left alone, with its backup. Throws cau::FileError; `exe` is then
// what it was.
void ReplaceExecutable(const std::filesystem::path& exe, std::string_view bytes);

}  // namespace cau
