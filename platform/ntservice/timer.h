// The service window's Timer: a repeating tick on the event loop. The
// interval and the enabled flag can change at any time, also from inside a
// tick. A tick may arrive while an earlier one is still running (the run
// inside a tick lets pending messages through), exactly as window timer
// messages do; at most one tick is pending at a time.
#pragma once

#include <functional>

namespace corvane::ntservice {

class Timer {
 public:
  virtual ~Timer() = default;

  virtual void SetInterval(int milliseconds) = 0;
  virtual int Interval() const = 0;
  virtual void SetEnabled(bool enabled) = 0;
  virtual bool Enabled() const = 0;

  // Called on every tick while enabled.
  std::function<void()> OnTick;
};

}  // namespace corvane::ntservice
