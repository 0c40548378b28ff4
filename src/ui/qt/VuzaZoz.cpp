// The program entry: the window front end when there is a display and no
// -CONSOLE, the terminal front end otherwise.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "app/CommandLine.h"
#include "ui/console/ConsoleDesktop.h"
#include "ui/qt/WindowFront.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::error_code ec;
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec)
    exe = std::filesystem::absolute(argv[0], ec);
  try {
    if (!cau::ParseCommandLine(args).console && cau::HasDisplay())
      return cau::RunWindow(argc, argv, args, exe.string());
    return cau::RunConsole(args, exe.string());
  } catch (const std::exception& e) {
    // A failure no handler caught: say what it was instead of aborting.
    std::fprintf(stderr, "Push Causarium: %s\n", e.what());
    return 1;
  }
}
