// The one text codec of the program: the host's files are Windows-1252,
// everything inside the program is UTF-8.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace cau::text {

// Total and lossless: every byte maps to one code point (the five bytes the
// code page leaves undefined map to U+0081, U+008D, U+008F, U+0090, U+009D).
std::string FromCp1252(std::string_view bytes);

// The byte for one code point, or nullopt when the code page cannot hold it.
std::optional<unsigned char> Cp1252Byte(char32_t cp);

// UTF-8 to Windows-1252. Characters outside the repertoire (and malformed
// UTF-8) become `replacement`.
std::string ToCp1252(std::string_view utf8, char replacement = '?');

// UTF-8 to Windows-1252, or nullopt when any character is outside the
// repertoire or the input is not valid UTF-8.
std::optional<std::string> ToCp1252Exact(std::string_view utf8);

// UTF-8 in, UTF-8 out: what Windows-1252 cannot hold becomes "?". Used on
// text that arrives from the wire.
std::string ReduceToCp1252(std::string_view utf8);

// Characters (code points) of a UTF-8 text; a malformed byte counts as one.
std::size_t CharCount(std::string_view utf8);

// The first `n` characters of a UTF-8 text.
std::string_view LeftChars(std::string_view utf8, std::size_t n);

// Upper/lower case of the letters of Windows-1252 (accented ones included).
std::string UpperCp1252(std::string_view utf8);
std::string LowerCp1252(std::string_view utf8);

// The same case mapping on raw Windows-1252 bytes (not UTF-8); the length is
// kept, every byte maps to one byte.
std::string UpperCp1252Bytes(std::string_view bytes);
std::string LowerCp1252Bytes(std::string_view bytes);

// Upper case of the letters a to z only.
std::string UpperAscii(std::string_view text);

// Decodes one code point at `pos` and advances it; malformed input yields
// U+FFFD and advances by one byte.
char32_t NextCodePoint(std::string_view utf8, std::size_t& pos);
void AppendUtf8(std::string& out, char32_t cp);

}  // namespace cau::text
