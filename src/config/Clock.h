// The time of day, injectable: everything that reads the time takes a Clock,
// so tests can fix it (hearings, month turnover, stamps).
#pragma once

#include <chrono>

namespace cau {

using TimePoint = std::chrono::system_clock::time_point;

// Broken-down local time.
struct LocalTime {
  int year = 0, month = 0, day = 0;  // month 1..12, day 1..31
  int hour = 0, minute = 0, second = 0, millisecond = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  virtual TimePoint Now() const = 0;
  LocalTime NowLocal() const;
};

// The system's clock.
class SystemClock final : public Clock {
 public:
  TimePoint Now() const override { return std::chrono::system_clock::now(); }
};

// A clock that stands still at a given local time, for tests.
class FixedClock final : public Clock {
 public:
  explicit FixedClock(TimePoint t) : t_(t) {}
  explicit FixedClock(const LocalTime& local);
  TimePoint Now() const override { return t_; }
  void Set(TimePoint t) { t_ = t; }

 private:
  TimePoint t_;
};

LocalTime ToLocal(TimePoint t);
TimePoint FromLocal(const LocalTime& local);

}  // namespace cau
