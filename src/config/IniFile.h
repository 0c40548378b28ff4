// INI files with the host's profile semantics: section and key names match
// without regard to case, values are trimmed, the first occurrence wins.
// Writing or deleting one key leaves every other byte of the file as it was
// (comments, order, blank lines, line ends, other sections, accents), and the
// file is replaced atomically, so a crash never leaves it half written.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cau {

// How the file stores text; inside the program values are always UTF-8.
enum class IniEncoding { Cp1252, Utf8 };

// The lines of one INI file, edited in memory. Names and values given and
// returned are the file's own bytes; the encoding only decides how names
// compare without regard to case.
class IniDocument {
 public:
  explicit IniDocument(std::string_view bytes = {}, IniEncoding encoding = IniEncoding::Cp1252);

  std::string Bytes() const;

  std::optional<std::string> Read(std::string_view section, std::string_view key) const;
  // Replaces the value of the first occurrence, keeping the line's spelling
  // and spacing up to the value; a new key goes after the last key of its
  // section, a new section at the end. Returns false when nothing changed.
  bool Write(std::string_view section, std::string_view key, std::string_view value);
  // Removes every line of the key in its section (so that reading it gives
  // the default afterwards). Returns false when there was none.
  bool Erase(std::string_view section, std::string_view key);

 private:
  struct Line {
    std::string text;
    std::string eol;  // "\r\n", "\n" or "" (last line without one)
  };
  // Index of the line that holds the key, or lines_.size().
  std::size_t Find(std::string_view section, std::string_view key) const;
  std::string NewLineEnd() const;
  std::string Fold(std::string_view name) const;

  IniEncoding encoding_;
  std::vector<Line> lines_;
};

// One INI file on disk. Every call reads the file afresh (the host may change
// it while the program runs); writes replace it atomically. A missing file
// reads as empty. Failures throw cau::FileError naming the file.
class IniFile {
 public:
  explicit IniFile(std::filesystem::path path, IniEncoding encoding = IniEncoding::Cp1252);

  const std::filesystem::path& Path() const { return path_; }

  std::optional<std::string> Read(std::string_view section, std::string_view key) const;
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view fallback = {}) const;
  // The fallback also for a value that is not a decimal integer.
  std::int64_t ReadInteger(std::string_view section, std::string_view key,
                           std::int64_t fallback) const;

  // A character the file's encoding cannot hold becomes "?"; line breaks and
  // other control characters in the value become blanks.
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, std::int64_t value);
  void DeleteKey(std::string_view section, std::string_view key);

 private:
  IniDocument Load() const;
  void Save(const IniDocument& doc) const;

  std::filesystem::path path_;
  IniEncoding encoding_;
};

// Replaces `path` with `bytes` atomically: a temporary file in the same
// folder, written, flushed to disk, renamed over the target, then the folder
// flushed. Keeps the permissions of the file it replaces. Throws
// cau::FileError naming the file.
void WriteFileAtomically(const std::filesystem::path& path, std::string_view bytes);

// Parses a decimal integer with an optional sign; nullopt for anything else.
std::optional<std::int64_t> ParseInteger(std::string_view text);

}  // namespace cau
