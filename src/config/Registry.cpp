#include "config/Registry.h"

#include "config/Errors.h"
#include "config/IniFile.h"
#include "config/Platform.h"

namespace cau {
namespace {

// The name under which a key's default value is kept.
constexpr std::string_view kDefaultValueName = "@";

// "\Software\VEXO\Causarium\" and "Software\VEXO\Causarium" are one key.
std::string_view KeyPath(std::string_view key) {
  while (!key.empty() && key.front() == '\\')
    key.remove_prefix(1);
  while (!key.empty() && key.back() == '\\')
    key.remove_suffix(1);
  return key;
}

std::string_view ValueName(std::string_view value) {
  return value.empty() ? kDefaultValueName : value;
}

// The registry holds Unicode text, so its stand-in is kept in UTF-8.
IniFile Store() {
  return IniFile(RegistryFile(), IniEncoding::Utf8);
}

}  // namespace

std::filesystem::path RegistryFile() {
  return ConfigHome() / "Causarium" / "registry.ini";
}

std::optional<std::string> RegistryRead(std::string_view key, std::string_view value) {
  try {
    return Store().Read(KeyPath(key), ValueName(value));
  } catch (const Error&) {
    return std::nullopt;
  }
}

bool RegistryWrite(std::string_view key, std::string_view value, std::string_view data) {
  try {
    std::error_code ec;
    std::filesystem::create_directories(RegistryFile().parent_path(), ec);
    Store().WriteString(KeyPath(key), ValueName(value), data);
    return true;
  } catch (const Error&) {
    return false;
  }
}

}  // namespace cau
