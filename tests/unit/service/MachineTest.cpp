// The machine description's facts: the parsing pieces, and the real calls
// on this machine with the registry stand-in in a temporary folder.
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "config/Registry.h"
#include "service/uMaquina.h"

namespace cau {
namespace {

TEST(Machine, KernelVersionKeepsMajorMinorBuild) {
  const std::pair<const char*, const char*> cases[] = {
      {"6.1.0-18-amd64", "6.1.0"},
      {"6.10.14-200.fc40.x86_64", "6.10.14"},
      {"5.15", "5.15.0"},
      {"4.19.0+", "4.19.0"},
      {"7", "7.0.0"},
      {"", "0.0.0"},
      {"abc", "0.0.0"},
      {"1.2.3.4", "1.2.3"},
  };
  for (const auto& [release, expected] : cases) {
    EXPECT_EQ(machine::KernelVersion(release), expected) << release;
  }
}

TEST(Machine, FullNameIsTheFirstGecosField) {
  EXPECT_EQ(machine::FullNameFromGecos("Ana Souza,Sala 3,,"), "Ana Souza");
  EXPECT_EQ(machine::FullNameFromGecos("  José  "), "José");
  EXPECT_EQ(machine::FullNameFromGecos(",,,"), "");
  EXPECT_EQ(machine::FullNameFromGecos(""), "");
}

TEST(Machine, SerialIsEightUpperCaseHexDigits) {
  EXPECT_EQ(machine::SerialFromFsid(0), std::nullopt);
  EXPECT_EQ(machine::SerialFromFsid(0x1234), "00001234");
  EXPECT_EQ(machine::SerialFromFsid(0xaabbccdd00000000), "AABBCCDD");
  EXPECT_EQ(machine::SerialFromFsid(0x00ff00ff0f0f0f0f), "0FF00FF0");
  EXPECT_EQ(machine::SerialFromMachineId("0a1b2c3d4e5f60718293a4b5c6d7e8f9"), "0A1B2C3D");
  EXPECT_EQ(machine::SerialFromMachineId("0a1b2c"), std::nullopt);
  EXPECT_EQ(machine::SerialFromMachineId("uninitialized"), std::nullopt);
  EXPECT_EQ(machine::SerialFromMachineId(""), std::nullopt);

  const std::string serial = GetHdSerial();
  EXPECT_TRUE(std::regex_match(serial, std::regex("[0-9A-F]{8}"))) << serial;
  EXPECT_EQ(GetHdSerial(), serial);
}

TEST(Machine, SystemFactsHaveTheirShapes) {
  char host[256] = {};
  ASSERT_EQ(::gethostname(host, sizeof host - 1), 0);
  EXPECT_EQ(GetCompNome(), std::string(host).substr(0, 15));
  EXPECT_TRUE(std::regex_match(GetWinVer(), std::regex("[0-9]+\\.[0-9]+\\.[0-9]+"))) << GetWinVer();
  EXPECT_EQ(GetWindowsDir(), "/");
}

class MachineRegistry : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("cau-machine-" + std::to_string(::getpid()));
    if (const char* old = std::getenv("XDG_CONFIG_HOME")) {
      old_ = old;
    }
    ::setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
  }
  void TearDown() override {
    if (old_.empty()) {
      ::unsetenv("XDG_CONFIG_HOME");
    } else {
      ::setenv("XDG_CONFIG_HOME", old_.c_str(), 1);
    }
    std::filesystem::remove_all(dir_);
  }
  std::filesystem::path dir_;
  std::string old_;
};

TEST_F(MachineRegistry, OrganisationIsTheFirstNonEmptyOfTheChain) {
  EXPECT_EQ(GetWinEmpresa(), "");
  ASSERT_TRUE(
      RegistryWrite("SOFTWARE\\MICROSOFT\\MS SETUP (ACME)\\User Info", "DefCompany", "Acme Setup"));
  EXPECT_EQ(GetWinEmpresa(), "Acme Setup");
  ASSERT_TRUE(
      RegistryWrite("SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "RegisteredOrganization", ""));
  ASSERT_TRUE(RegistryWrite("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
                            "RegisteredOrganization", "Escritório Souza"));
  EXPECT_EQ(GetWinEmpresa(), "Escritório Souza");
}

TEST_F(MachineRegistry, OwnerIsTheAccountsFullNameElseTheRegistry) {
  ASSERT_TRUE(RegistryWrite("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", "RegisteredOwner",
                            "Dono Registrado"));
  const passwd* pw = ::getpwuid(::geteuid());
  const std::string gecos =
      pw && pw->pw_gecos ? machine::FullNameFromGecos(pw->pw_gecos) : std::string();
  EXPECT_EQ(GetWinDono(), gecos.empty() ? "Dono Registrado" : gecos);
}

}  // namespace
}  // namespace cau
