// Temporary folders, environment and files for the config tests: nothing
// here touches the real home folder.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace cau::test {

namespace fs = std::filesystem;

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "cau-config-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr)
      throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// Sets (or with nullopt unsets) a variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, const std::optional<std::string>& value) : name_(std::move(name)) {
    if (const char* old = ::getenv(name_.c_str()))
      old_ = old;
    if (value)
      ::setenv(name_.c_str(), value->c_str(), 1);
    else
      ::unsetenv(name_.c_str());
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;
  ~ScopedEnv() {
    if (old_)
      ::setenv(name_.c_str(), old_->c_str(), 1);
    else
      ::unsetenv(name_.c_str());
  }

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// A fixture whose home, configuration and data folders live in a temporary
// folder.
class IsolatedHomeTest : public ::testing::Test {
 protected:
  fs::path Root() const { return tmp_.path(); }
  fs::path Home() const { return tmp_.path() / "home"; }
  fs::path ConfigDir() const { return Home() / "cfg"; }
  fs::path DataDirHome() const { return Home() / "data"; }

 private:
  TempDir tmp_;
  ScopedEnv home_{"HOME", (tmp_.path() / "home").string()};
  ScopedEnv config_{"XDG_CONFIG_HOME", (tmp_.path() / "home" / "cfg").string()};
  ScopedEnv data_{"XDG_DATA_HOME", (tmp_.path() / "home" / "data").string()};
  ScopedEnv docs_{"XDG_DOCUMENTS_DIR", std::nullopt};
};

inline std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline void WriteFile(const fs::path& p, const std::string& bytes) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << bytes;
}

// Names in a folder, sorted.
inline std::vector<std::string> Names(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Runs a shell command and gives its standard output without the final line
// break; fails the test when it exits with an error.
inline std::string RunCommand(const std::string& command) {
  std::string out;
  FILE* p = ::popen(command.c_str(), "r");
  if (p == nullptr) {
    ADD_FAILURE() << "cannot run " << command;
    return out;
  }
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;)
    out.append(buf, n);
  EXPECT_EQ(::pclose(p), 0) << command;
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
    out.pop_back();
  return out;
}

}  // namespace cau::test
