// Small routines the rest of the program shares: date texts of the movement
// list, text helpers, the program's version text, moving files and the
// user's folders. Texts are UTF-8; positions and lengths count characters.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace cau {

// "dd/mm/yyyy" from a date written with "/", "." or "-", one- or two-digit
// day and month, two- or four-digit year; "erro" for anything else.
std::string NormalizeDate(std::string_view text);

// "yyyymmdd" from "dd/mm/yyyy"; empty for an empty text; "erro" when a part
// is not a number, the year is before 1950, the month not 1-12 or the day
// not 1-31.
std::string DateToKey(std::string_view text);

// `text` without the blanks and control characters at both ends.
std::string Trim(std::string_view text);

// What follows the first occurrence of `separator` (trimmed when `trim`);
// empty when either text is empty, the separator is missing or ends the text.
std::string TextAfter(std::string_view text, std::string_view separator, bool trim = true);

// What precedes the first occurrence of `separator`, trimmed; empty when the
// separator is missing or begins the text.
std::string TextBefore(std::string_view text, std::string_view separator);

// `text` without any occurrence of `part`, scanned left to right.
std::string RemoveAll(std::string_view text, std::string_view part);

// The program's version, "major.minor.release.build", followed by
// " (debug)", " (pre-release)" or " (debug,pre-release)" for such builds.
std::string ExeVersion();
std::string FormatVersion(int major, int minor, int release, int build, bool debug,
                          bool prerelease);

// Moves a file or a folder (with everything in it) to `target`, across file
// systems too. Never replaces an existing target; false when nothing moved.
bool ShellMove(const std::filesystem::path& source, const std::filesystem::path& target);

// The path of a shell folder: 5 the documents folder, 26 the user's
// configuration folder, 28 the local application data; empty for others.
std::string SpecialFolderPath(int id);

}  // namespace cau
