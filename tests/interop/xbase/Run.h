// Runs a command and returns what it printed on standard output.
#pragma once

#include <sys/wait.h>
#include <cstdio>
#include <stdexcept>
#include <string>

namespace cau::xbase::testing {

struct RunResult {
  int status = -1;
  std::string out;
};

inline RunResult RunCommand(const std::string& command) {
  RunResult r;
  FILE* p = ::popen(command.c_str(), "r");
  if (!p)
    throw std::runtime_error("popen failed: " + command);
  char buf[65536];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
    r.out.append(buf, n);
  int st = ::pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

inline std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'') {
      q += "'\\''";
    } else {
      q += c;
    }
  }
  return q + "'";
}

}  // namespace cau::xbase::testing
