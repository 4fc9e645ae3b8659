// The clock the service reads "now" from; tests hand in a fixed one.
#pragma once

#include <ctime>

namespace corvane::service {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::time_t Now() const = 0;
};

class SystemClock : public Clock {
 public:
  std::time_t Now() const override { return std::time(nullptr); }
};

// A clock that stands still until set; for tests.
class FixedClock : public Clock {
 public:
  explicit FixedClock(std::time_t t = 0) : t_(t) {}
  std::time_t Now() const override { return t_; }
  void Set(std::time_t t) { t_ = t; }
  void Advance(std::time_t seconds) { t_ += seconds; }

 private:
  std::time_t t_;
};

}  // namespace corvane::service
