// The registry keys the program reads and writes, kept in a small INI file
// of the user's configuration folder: registry.ini under
// $XDG_CONFIG_HOME/Causarium/ (else ~/.config/Causarium/). A key path is a
// section ("Software\VEXO\Causarium"); the value name "" is the key's default
// value. Key and value names compare without regard to case.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace cau {

// nullopt when the key or the value does not exist or cannot be read.
std::optional<std::string> RegistryRead(std::string_view key, std::string_view value);
// Creates the key when missing; false when the file cannot be written.
bool RegistryWrite(std::string_view key, std::string_view value, std::string_view data);
std::filesystem::path RegistryFile();

}  // namespace cau
