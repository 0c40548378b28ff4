// The scans of a host's case table beside a raw read of its bytes, in one
// process on one host: scan_bench HOST_FOLDER. Best of three of each: the
// raw read (1 MiB blocks), the scans' first read (ScanCases fresh: the file
// in blocks, the tag's order, the lookup map) and a scan over the rows kept,
// each visit testing scope, kind and duplicates as the registration scans do;
// then, once, the walk of the table in tag order that the scans made before.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "config/Clock.h"
#include "db/processoCauDao.h"
#include "sync/CaseScan.h"

namespace {

double Seconds(const std::chrono::steady_clock::time_point& from) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

template <typename F>
double BestOfThree(F&& f) {
  double best = 1e30;
  for (int i = 0; i < 3; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    best = std::min(best, Seconds(t0));
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "uso: scan_bench PASTA_DO_HOST\n");
    return 2;
  }
  const std::string host = std::string(argv[1]) + "/";
  cau::SystemClock clock;
  cau::db::TProcessoDao processos(host + "VuzaZoz", clock, host);
  if (!processos.Opened()) {
    std::fprintf(stderr, "%s\n", processos.OpenError().c_str());
    return 1;
  }
  std::vector<std::string> escopo;
  for (int code = 1; code <= 100; ++code)
    escopo.push_back(std::to_string(code) + "=1,2,3,");
  const cau::ScopeIndex scope(&escopo);

  std::size_t bytes = 0;
  const double raw = BestOfThree([&] {
    std::ifstream in(processos.TablePath(), std::ios::binary);
    std::vector<char> block(1 << 20);
    bytes = 0;
    while (in.read(block.data(), std::streamsize(block.size())) || in.gcount() > 0)
      bytes += std::size_t(in.gcount());
  });
  long visited = 0, selected = 0, duplicates = 0;
  const auto scan = [&](bool fresh) {
    cau::DuplicateFinder seen(std::size_t(processos.RecordCount()));
    visited = selected = duplicates = 0;
    processos.ScanCases(fresh, [&](const cau::db::TProcessoDao::CaseRow& row) {
      ++visited;
      const std::string* tipos = scope.Types(row.codTrib);
      if (!tipos || !cau::KindMatchesStored(row.number, *tipos))
        return;
      ++selected;
      if (row.state != "5" && row.state != "1" && seen.Seen(row.codTrib, row.number))
        ++duplicates;
    });
  };
  const double fresh = BestOfThree([&] { scan(true); });
  const double kept = BestOfThree([&] { scan(false); });
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  const double scansPeak = double(usage.ru_maxrss) / 1024.0;
  // The walk from First to Eof that the scans made before, once.
  processos.UseWalkingLookups(true);
  const auto w0 = std::chrono::steady_clock::now();
  scan(true);
  const double walk = Seconds(w0);
  ::getrusage(RUSAGE_SELF, &usage);
  std::printf("records %ld (%ld in scope and kind, %ld duplicates), DBF %.0f MiB\n", visited,
              selected, duplicates, double(bytes) / (1 << 20));
  std::printf("raw read %.3f s; fresh scan %.3f s (%.2f x raw); kept scan %.3f s (%.2f x raw)\n",
              raw, fresh, fresh / raw, kept, kept / raw);
  std::printf("walk %.3f s (%.2f x raw)\n", walk, walk / raw);
  std::printf("peak memory %.0f MiB after the scans, %.0f MiB after the walk\n", scansPeak,
              double(usage.ru_maxrss) / 1024.0);
  return 0;
}
