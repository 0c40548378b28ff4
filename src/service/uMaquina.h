// Facts of this machine that describe it to the service at login. On Linux
// they come from the system; what a Windows machine keeps in its registry
// comes from the registry stand-in (config/Registry.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace cau {

// The system folder whose volume GetHdSerial describes: "/".
std::string GetWindowsDir();
// The host name, at most 15 characters.
std::string GetCompNome();
// The kernel version as major.minor.build, e.g. "6.1.0".
std::string GetWinVer();
// The user's full name (the first field of the account's GECOS entry), else
// the first non-empty registered owner of the registry stand-in, else empty.
std::string GetWinDono();
// The first non-empty registered organisation of the registry stand-in, else
// empty.
std::string GetWinEmpresa();
// 8 upper-case hexadecimal digits: the root file system's id folded to 32
// bits; when the system reports none, the first 8 digits of /etc/machine-id;
// "00000000" when neither can be read.
std::string GetHdSerial();

// The pieces of the above that do not touch the system.
namespace machine {
// "6.1.0-18-amd64" -> "6.1.0"; missing numbers count as 0.
std::string KernelVersion(std::string_view release);
// The first field of a GECOS entry ("Ana Souza,Sala 3,,"), trimmed.
std::string FullNameFromGecos(std::string_view gecos);
// A 64-bit file system id folded to 8 hex digits; nullopt for 0.
std::optional<std::string> SerialFromFsid(std::uint64_t fsid);
// The first 8 hex digits of a machine id, upper-cased; nullopt when there
// are not 8.
std::optional<std::string> SerialFromMachineId(std::string_view id);
}  // namespace machine

}  // namespace cau
