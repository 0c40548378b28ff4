#include "app/CommandLine.h"

#include "config/Cp1252.h"

namespace cau {

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine result;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string arg = text::UpperCp1252(args[i]);
    if (arg == "-DEBUG") {
      result.debug = true;
    } else if (arg.starts_with("-URL")) {
      result.url = i + 1 < args.size() ? args[i + 1] : std::string();
    } else if (arg.starts_with("-SEMPROXY")) {
      result.semProxy = true;
    } else if (arg.starts_with("-AUTOSTART")) {
      result.autoStart = true;
    } else if (arg == "-CONSOLE") {
      result.console = true;
    }
  }
  return result;
}

}  // namespace cau
