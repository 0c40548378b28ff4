#include "service/uMaquina.h"

#include <pwd.h>
#include <sys/statvfs.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <vector>

#include "config/Cp1252.h"
#include "config/Registry.h"

namespace cau {
namespace {

constexpr std::size_t kCompNomeChars = 15;

struct RegistryValue {
  const char* key;
  const char* value;
};

// The first non-empty of the values, in order.
std::string FirstInRegistry(const std::array<RegistryValue, 3>& chain) {
  for (const auto& [key, value] : chain) {
    if (auto v = RegistryRead(key, value); v && !v->empty()) {
      return *v;
    }
  }
  return {};
}

std::string Hex8(std::uint32_t v) {
  char buf[9];
  std::snprintf(buf, sizeof buf, "%08X", static_cast<unsigned>(v));
  return buf;
}

}  // namespace

namespace machine {

std::string KernelVersion(std::string_view release) {
  long parts[3] = {0, 0, 0};
  std::size_t pos = 0;
  for (int i = 0; i < 3; ++i) {
    long n = 0;
    bool any = false;
    while (pos < release.size() && std::isdigit(static_cast<unsigned char>(release[pos])) &&
           n < 100000000) {
      n = n * 10 + (release[pos++] - '0');
      any = true;
    }
    if (!any) {
      break;
    }
    parts[i] = n;
    if (pos >= release.size() || release[pos] != '.') {
      break;
    }
    ++pos;
  }
  return std::to_string(parts[0]) + "." + std::to_string(parts[1]) + "." + std::to_string(parts[2]);
}

std::string FullNameFromGecos(std::string_view gecos) {
  std::string_view name = gecos.substr(0, gecos.find(','));
  while (!name.empty() && name.front() == ' ') {
    name.remove_prefix(1);
  }
  while (!name.empty() && name.back() == ' ') {
    name.remove_suffix(1);
  }
  return text::ReduceToCp1252(name);
}

std::optional<std::string> SerialFromFsid(std::uint64_t fsid) {
  const auto folded = static_cast<std::uint32_t>(fsid ^ (fsid >> 32));
  if (fsid == 0) {
    return std::nullopt;
  }
  return Hex8(folded);
}

std::optional<std::string> SerialFromMachineId(std::string_view id) {
  std::string digits;
  for (char c : id) {
    if (digits.size() == 8 || c == '\n') {
      break;
    }
    if (!std::isxdigit(static_cast<unsigned char>(c))) {
      return std::nullopt;
    }
    digits += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  if (digits.size() != 8) {
    return std::nullopt;
  }
  return digits;
}

}  // namespace machine

std::string GetWindowsDir() {
  return "/";
}

std::string GetCompNome() {
  std::array<char, 256> name{};
  if (::gethostname(name.data(), name.size() - 1) != 0) {
    return {};
  }
  const std::string host = text::ReduceToCp1252(name.data());
  return std::string(text::LeftChars(host, kCompNomeChars));
}

std::string GetWinVer() {
  utsname u{};
  if (::uname(&u) != 0) {
    return "0.0.0";
  }
  return machine::KernelVersion(u.release);
}

std::string GetWinDono() {
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
      found->pw_gecos) {
    if (auto name = machine::FullNameFromGecos(found->pw_gecos); !name.empty()) {
      return name;
    }
  }
  return FirstInRegistry({{
      {"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "RegisteredOwner"},
      {"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", "RegisteredOwner"},
      {"SOFTWARE\\MICROSOFT\\MS SETUP (ACME)\\User Info", "DefName"},
  }});
}

std::string GetWinEmpresa() {
  return FirstInRegistry({{
      {"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "RegisteredOrganization"},
      {"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", "RegisteredOrganization"},
      {"SOFTWARE\\MICROSOFT\\MS SETUP (ACME)\\User Info", "DefCompany"},
  }});
}

std::string GetHdSerial() {
  struct statvfs fs {};
  if (::statvfs(GetWindowsDir().c_str(), &fs) == 0) {
    if (auto serial = machine::SerialFromFsid(fs.f_fsid)) {
      return *serial;
    }
  }
  std::ifstream in("/etc/machine-id");
  std::string id;
  if (in && std::getline(in, id)) {
    if (auto serial = machine::SerialFromMachineId(id)) {
      return *serial;
    }
  }
  return "00000000";
}

}  // namespace cau
