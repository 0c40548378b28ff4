#include "app/CommandLine.h"

#include <gtest/gtest.h>

namespace cau {
namespace {

struct Case {
  std::vector<std::string> args;
  bool debug, semProxy, autoStart, console;
  std::string url;
};

TEST(CommandLineTest, SwitchesAndAddress) {
  const Case cases[] = {
      {{}, false, false, false, false, ""},
      {{"-url", "http://h/x", "-debug"}, true, false, false, false, "http://h/x"},
      {{"-DEBUGX"}, false, false, false, false, ""},  // -DEBUG must match exactly
      {{"-URLX", "a"}, false, false, false, false, "a"},
      {{"-URL"}, false, false, false, false, ""},
      {{"-URL", "a", "-URL"}, false, false, false, false, ""},  // a later -URL wins
      {{"-URL", "a", "-URL", "b"}, false, false, false, false, "b"},
      // The address is examined in its turn like any other argument.
      {{"-URL", "-AUTOSTART"}, false, false, true, false, "-AUTOSTART"},
      {{"-URL", "-url", "x"}, false, false, false, false, "x"},
      {{"-SemProxyAgora", "-autostart1", "-console"}, false, true, true, true, ""},
      {{"-CONSOLEX", "debug", "URL"}, false, false, false, false, ""},
      {{"-AUTOSTART", "-DEBUG"}, true, false, true, false, ""},
  };
  for (const Case& c : cases) {
    std::string shown;
    for (const auto& a : c.args)
      shown += a + " ";
    SCOPED_TRACE(shown);
    const CommandLine line = ParseCommandLine(c.args);
    EXPECT_EQ(line.debug, c.debug);
    EXPECT_EQ(line.semProxy, c.semProxy);
    EXPECT_EQ(line.autoStart, c.autoStart);
    EXPECT_EQ(line.console, c.console);
    EXPECT_EQ(line.url, c.url);
  }
}

}  // namespace
}  // namespace cau
