#include "config/Clock.h"

#include <ctime>

namespace cau {

LocalTime ToLocal(TimePoint t) {
  using namespace std::chrono;
  const auto secs = floor<seconds>(t);
  const std::time_t tt = system_clock::to_time_t(secs);
  std::tm tm{};
  localtime_r(&tt, &tm);
  LocalTime lt;
  lt.year = tm.tm_year + 1900;
  lt.month = tm.tm_mon + 1;
  lt.day = tm.tm_mday;
  lt.hour = tm.tm_hour;
  lt.minute = tm.tm_min;
  lt.second = tm.tm_sec;
  lt.millisecond = static_cast<int>(duration_cast<milliseconds>(t - secs).count());
  return lt;
}

TimePoint FromLocal(const LocalTime& lt) {
  std::tm tm{};
  tm.tm_year = lt.year - 1900;
  tm.tm_mon = lt.month - 1;
  tm.tm_mday = lt.day;
  tm.tm_hour = lt.hour;
  tm.tm_min = lt.minute;
  tm.tm_sec = lt.second;
  tm.tm_isdst = -1;
  const std::time_t tt = std::mktime(&tm);
  return std::chrono::system_clock::from_time_t(tt) + std::chrono::milliseconds(lt.millisecond);
}

LocalTime Clock::NowLocal() const {
  return ToLocal(Now());
}

FixedClock::FixedClock(const LocalTime& local) : t_(FromLocal(local)) {}

}  // namespace cau
