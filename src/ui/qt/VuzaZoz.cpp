// The program entry: the window front end when there is a display and no
// -CONSOLE, the terminal front end otherwise.
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
  if (!cau::ParseCommandLine(args).console && cau::HasDisplay())
    return cau::RunWindow(argc, argv, args, exe.string());
  return cau::RunConsole(args, exe.string());
}
