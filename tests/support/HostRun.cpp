#include "HostRun.h"

#include <cstdlib>
#include <regex>

namespace cau::test {

namespace fs = std::filesystem;

namespace {

void PointUserFolders(const fs::path& root) {
  ::setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
  ::setenv("XDG_DATA_HOME", (root / "data").c_str(), 1);
  ::setenv("LC_ALL", "C", 1);
}

}  // namespace

HostRun::HostRun(fs::path root, const std::vector<std::string>& mkhostArgs)
    : root_(std::move(root)) {
  fs::create_directories(root_);
  PointUserFolders(root_);
  std::vector<std::string> args = {BinPath("mkhost"), Host().string()};
  args.insert(args.end(), mkhostArgs.begin(), mkhostArgs.end());
  made_ = RunProcess(args, root_);
  if (made_.status == 0)
    fs::copy_file(BinPath("VuzaZoz"), Host() / "VuzaZoz", fs::copy_options::overwrite_existing);
}

HostRun::HostRun(fs::path root, const HostRun& from) : root_(std::move(root)), made_(from.made_) {
  fs::create_directories(root_);
  PointUserFolders(root_);
  fs::remove_all(Host());
  fs::copy(from.Host(), Host(), fs::copy_options::recursive);
}

Finished HostRun::Run(const Pushsim& sim, const std::vector<std::string>& extra,
                      std::chrono::seconds limit) const {
  std::vector<std::string> args = {(Host() / "VuzaZoz").string(), "-CONSOLE", "-AUTOSTART", "-URL",
                                   sim.Url()};
  args.insert(args.end(), extra.begin(), extra.end());
  return RunProcess(args, root_, limit);
}

Finished HostRun::Check() const {
  return RunProcess({BinPath("xbase"), "check", Dados().string()}, root_);
}

std::string HostRun::Dump(const std::string& table) const {
  return RunProcess({BinPath("xbase"), "dump", (Dados() / table).string()}, root_).out;
}

std::string HostRun::StateValue(const std::string& key) const {
  std::smatch m;
  const std::string cfg = ReadFile(Dados() / "cauPush.cfg");
  return std::regex_search(cfg, m, std::regex("(^|\n)" + key + "=([^\r\n]*)")) ? m[2].str() : "";
}

void HostRun::SetStateValue(const std::string& key, const std::string& value) const {
  const fs::path file = Dados() / "cauPush.cfg";
  WriteFile(file, std::regex_replace(ReadFile(file), std::regex("(^|\n)" + key + "=[^\r\n]*"),
                                     "$1" + key + "=" + value));
}

}  // namespace cau::test
