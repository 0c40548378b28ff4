// The program's switches. Each argument is compared in upper case: -DEBUG
// must match exactly, the others need only begin with their name. The
// argument after -URL becomes the service address and is then examined like
// any other; a later -URL wins, and one at the end leaves the address empty
// (the built-in endpoint).
#pragma once

#include <string>
#include <vector>

namespace cau {

struct CommandLine {
  bool debug = false;      // -DEBUG
  bool semProxy = false;   // -SEMPROXY
  bool autoStart = false;  // -AUTOSTART
  bool console = false;    // -CONSOLE: the terminal front end
  std::string url;         // -URL <address>
};

// `args` without the program's own name.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

}  // namespace cau
