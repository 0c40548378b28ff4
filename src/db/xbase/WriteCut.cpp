#include "db/xbase/WriteCut.h"

#include <fcntl.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "db/xbase/TableFile.h"

namespace cau::xbase {

namespace {

struct CutPlan {
  int log = -1;
  uint64_t cutAt = 0;  // 0: never
  bool torn = false;
  std::atomic<uint64_t> writes{0};

  CutPlan() {
    if (const char* file = std::getenv("CAU_XBASE_WRITE_LOG"); file && *file)
      log = ::open(file, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (const char* n = std::getenv("CAU_XBASE_CUT_AT"))
      cutAt = std::strtoull(n, nullptr, 10);
    const char* t = std::getenv("CAU_XBASE_CUT_TORN");
    torn = t && std::string_view(t) == "1";
  }
  bool active() const { return log >= 0 || cutAt > 0; }
};

CutPlan& Plan() {
  static CutPlan plan;  // read once from the environment
  return plan;
}

}  // namespace

std::size_t BytesBeforeCut(std::string_view path, uint64_t offset, std::size_t size) {
  CutPlan& plan = Plan();
  if (!plan.active())
    return size;
  const uint64_t n = ++plan.writes;
  if (plan.log >= 0) {
    std::string_view ext = path.substr(path.find_last_of("./") + 1);
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    char line[128];
    int len = std::snprintf(line, sizeof line, "%llu %.*s %llu %zu %lld\n",
                            static_cast<unsigned long long>(n), int(ext.size()), ext.data(),
                            static_cast<unsigned long long>(offset), size,
                            static_cast<long long>(now.tv_sec) * 1000000 + now.tv_nsec / 1000);
    if (len > 0 && ::write(plan.log, line, std::size_t(len)) < 0) {
      // the log is a test aid; a failed line changes nothing
    }
  }
  if (n != plan.cutAt)
    return size;
  const uint64_t boundary = (offset / kUncutBlock + 1) * kUncutBlock;
  if (plan.torn && offset + size > boundary)
    return std::size_t(boundary - offset);
  return 0;
}

void CutNow() {
  ::kill(::getpid(), SIGKILL);
  std::_Exit(137);  // not reached
}

}  // namespace cau::xbase
