// pushsim: a stand-in push service on 127.0.0.1, driven by a scenario file.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "BuildInfo.h"
#include "Faults.h"
#include "PushModel.h"
#include "PushServer.h"
#include "RequestLog.h"
#include "Scenario.h"

namespace {

constexpr const char* kUsage =
    "usage: pushsim [--port N] [--scenario FILE] [--state FILE] [--log FILE]\n"
    "               [--wsdl FILE] [--downloads DIR] [--fault OP:KEY[=VALUE],...]...\n"
    "  --port N        port on 127.0.0.1; 0 (default) picks a free one\n"
    "  --scenario FILE accounts, scope, cases, notices, counters, update, faults\n"
    "  --state FILE    keeps monitored cases, notices and counters between starts\n"
    "  --log FILE      appends one JSON line per request received\n"
    "  --wsdl FILE     description served at \"?wsdl\" (default: docs/PushService.wsdl)\n"
    "  --downloads DIR files served under /downloads/\n"
    "  --fault SPEC    e.g. avisosN:close  login:fault=Conta bloqueada  escopoN:status=404\n"
    "The first line on standard output is \"port N\".\n";

struct Options {
  pushsim::ServerOptions server;
  std::optional<std::filesystem::path> scenario;
  std::optional<std::filesystem::path> state;
  std::optional<std::filesystem::path> log;
  std::vector<std::string> faults;
};

std::optional<std::filesystem::path> DefaultWsdl(const char* argv0) {
  std::error_code ec;
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) {
    exe = std::filesystem::absolute(argv0, ec);
  }
  const std::filesystem::path dir = exe.parent_path();
  for (const std::filesystem::path& candidate :
       {dir / "../docs/PushService.wsdl", dir / "../../docs/PushService.wsdl",
        std::filesystem::path(CAU_SOURCE_DIR) / "docs/PushService.wsdl"}) {
    if (std::filesystem::is_regular_file(candidate, ec)) {
      return candidate.lexically_normal();
    }
  }
  return std::nullopt;
}

// Returns false after printing what is wrong.
bool ParseOptions(int argc, char** argv, Options& options) {
  bool wsdlGiven = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      std::exit(0);
    }
    if (i + 1 >= argc) {
      std::cerr << "pushsim: " << arg << ": unknown option or value missing\n" << kUsage;
      return false;
    }
    const std::string value = argv[++i];
    if (arg == "--port") {
      char* end = nullptr;
      const long port = std::strtol(value.c_str(), &end, 10);
      if (value.empty() || *end != '\0' || port < 0 || port > 65535) {
        std::cerr << "pushsim: --port " << value << ": not a port number\n";
        return false;
      }
      options.server.port = static_cast<int>(port);
    } else if (arg == "--scenario") {
      options.scenario = value;
    } else if (arg == "--state") {
      options.state = value;
    } else if (arg == "--log") {
      options.log = value;
    } else if (arg == "--wsdl") {
      options.server.wsdl = value;
      wsdlGiven = true;
    } else if (arg == "--downloads") {
      options.server.downloads = value;
    } else if (arg == "--fault") {
      options.faults.push_back(value);
    } else {
      std::cerr << "pushsim: " << arg << ": unknown option\n" << kUsage;
      return false;
    }
  }
  if (!wsdlGiven) {
    options.server.wsdl = DefaultWsdl(argv[0]);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    return 2;
  }
  try {
    pushsim::Scenario scenario =
        options.scenario ? pushsim::LoadScenario(*options.scenario) : pushsim::Scenario{};
    pushsim::FaultPlan faults;
    faults.SetAll(scenario.faults);
    for (const std::string& spec : options.faults) {
      auto [operation, fault] = pushsim::FaultFromArgument(spec);
      faults.Set(operation, fault);
    }
    pushsim::PushModel model(std::move(scenario), options.state);
    pushsim::RequestLog log(options.log);

    // Signals are taken by one thread only, which stops the server.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    pushsim::PushServer server(model, faults, log, options.server);
    const int port = server.Bind();
    std::cout << "port " << port << std::endl;

    std::atomic<bool> signalled{false};
    std::atomic<bool> finished{false};
    std::thread waiter([&] {
      int received = 0;
      sigwait(&signals, &received);
      signalled = true;
      // A stop that comes before the server runs is repeated until it takes.
      while (!finished) {
        server.Stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    });
    const bool ok = server.Run();
    finished = true;
    if (!signalled) {
      pthread_kill(waiter.native_handle(), SIGTERM);  // the server ended on its own
    }
    waiter.join();
    model.Save();
    if (!ok) {
      std::cerr << "pushsim: the server stopped with an error\n";
      return 1;
    }
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "pushsim: " << e.what() << std::endl;
    return 2;
  }
}
