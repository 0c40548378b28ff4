// The program entry: the terminal front end (the window front end is chosen
// here once it exists, when there is a display and no -CONSOLE).
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "ui/console/ConsoleDesktop.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::error_code ec;
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec)
    exe = std::filesystem::absolute(argv[0], ec);
  return cau::RunConsole(args, exe.string());
}
