// 100 000 AddLine calls against a plain buffered write of the same lines.
//
//   log_bench [rounds]
//
// Per round: the median cost of one AddLine call, the time from the last
// call until Stop returns (the file complete), and the time std::ofstream
// takes to write the same texts, each followed by CR LF.
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "log/HotLog.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
constexpr int kLines = 100000;

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

std::vector<std::string> MakeLines() {
  std::vector<std::string> lines;
  lines.reserve(kLines);
  for (int i = 0; i < kLines; ++i)
    lines.push_back("{now}[PUSH] Processo 0001234-56.2011.8.26." + std::to_string(i) +
                    ": movimentação importada");
  return lines;
}

struct Round {
  double medianNs, callsMs, drainMs, logMs, plainMs;
};

Round RunRound(const fs::path& dir) {
  Round r{};
  std::vector<std::string> lines = MakeLines();
  std::vector<Clock::duration> costs(kLines);
  {
    cau::THotLog log;
    log.FileDef().SetFileName("LogCau.log");
    log.FileDef().SetFolder(dir.string());
    log.FileDef().SetAppendMode(false);
    log.Start();
    const auto first = Clock::now();
    for (int i = 0; i < kLines; ++i) {
      const auto t0 = Clock::now();
      log.AddLine(std::move(lines[i]));
      costs[i] = Clock::now() - t0;
    }
    const auto last = Clock::now();
    log.Stop();
    const auto done = Clock::now();
    r.callsMs = Ms(last - first);
    r.drainMs = Ms(done - last);
    r.logMs = Ms(done - first);
  }
  std::nth_element(costs.begin(), costs.begin() + kLines / 2, costs.end());
  r.medianNs = std::chrono::duration<double, std::nano>(costs[kLines / 2]).count();

  lines = MakeLines();
  const auto start = Clock::now();
  {
    std::ofstream out(dir / "plain.log", std::ios::binary | std::ios::trunc);
    for (const auto& line : lines)
      out << line << "\r\n";
  }
  r.plainMs = Ms(Clock::now() - start);
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  std::string tmpl = (fs::temp_directory_path() / "logbench-XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) {
    std::perror("mkdtemp");
    return 1;
  }
  const fs::path dir = tmpl;

  std::printf("%d AddLine calls per round\n", kLines);
  std::printf("%6s %12s %10s %14s %12s %12s %12s %12s\n", "round", "median ns", "calls ms",
              "last->file ms", "log total ms", "ofstream ms", "drain/plain", "total/plain");
  std::vector<Round> all;
  for (int i = 0; i < rounds; ++i) {
    const Round r = RunRound(dir);
    all.push_back(r);
    std::printf("%6d %12.0f %10.1f %14.1f %12.1f %12.1f %12.2f %12.2f\n", i + 1, r.medianNs,
                r.callsMs, r.drainMs, r.logMs, r.plainMs, r.drainMs / r.plainMs,
                r.logMs / r.plainMs);
  }
  auto median = [&](auto field) {
    std::vector<double> v;
    for (const auto& r : all)
      v.push_back(field(r));
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
  };
  std::printf(
      "median: one AddLine %.0f ns; last call to file complete %.1f ms; ofstream %.1f ms;"
      " ratio (last->file)/ofstream %.2f; ratio (log total)/ofstream %.2f\n",
      median([](const Round& r) { return r.medianNs; }),
      median([](const Round& r) { return r.drainMs; }),
      median([](const Round& r) { return r.plainMs; }),
      median([](const Round& r) { return r.drainMs / r.plainMs; }),
      median([](const Round& r) { return r.logMs / r.plainMs; }));
  std::error_code ec;
  fs::remove_all(dir, ec);
  return 0;
}
