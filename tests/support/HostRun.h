// A sample host installation (mkhost) with the program copied in, run as a
// process against pushsim; its tables read back through the xbase tool.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "support/Process.h"

namespace cau::test {

class HostRun {
 public:
  // Makes `root`/host with mkhost and `mkhostArgs` (for example
  // {"--cases", "300", "--scenario", root/"scenario.json", "--busy", "60"})
  // and copies the program in. Points the user's folders under `root` and
  // the locale at C, for this process and every child.
  HostRun(std::filesystem::path root, const std::vector<std::string>& mkhostArgs);
  // A copy of `from`'s installation under `root`/host (scenario files stay
  // where `from` made them).
  HostRun(std::filesystem::path root, const HostRun& from);

  // mkhost's status and output; 0 when the installation is there.
  const Finished& Made() const { return made_; }
  const std::filesystem::path& Root() const { return root_; }
  std::filesystem::path Host() const { return root_ / "host"; }
  std::filesystem::path Dados() const { return Host() / "dados"; }

  // The copy in the host folder: VuzaZoz -CONSOLE -AUTOSTART -URL <sim> [extra...].
  Finished Run(const Pushsim& sim, const std::vector<std::string>& extra = {},
               std::chrono::seconds limit = std::chrono::seconds(300)) const;
  // `xbase check dados`.
  Finished Check() const;
  // `xbase dump` of one table of dados ("PROCESSO.DBF"): its JSON text.
  std::string Dump(const std::string& table) const;

  // A key of dados/cauPush.cfg ("lastIdHistorico"); empty when absent.
  std::string StateValue(const std::string& key) const;
  void SetStateValue(const std::string& key, const std::string& value) const;

 private:
  std::filesystem::path root_;
  Finished made_;
};

}  // namespace cau::test
