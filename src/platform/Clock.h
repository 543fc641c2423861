#pragma once
// The UTC clock the report window reads; replaceable for tests.
#include <memory>

namespace ordana {

struct TUtcNow {
  int Year = 1, Month = 1, Day = 1, Hour = 0, Minute = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  virtual TUtcNow NowUtc() const = 0;
};

// The system clock in UTC (not local time).
class SystemClock : public Clock {
 public:
  TUtcNow NowUtc() const override;
};

// A clock that always gives one moment.
class FixedClock : public Clock {
 public:
  explicit FixedClock(TUtcNow t) : t_(t) {}
  TUtcNow NowUtc() const override { return t_; }
 private:
  TUtcNow t_;
};

}  // namespace ordana
