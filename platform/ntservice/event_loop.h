// The service program's message loop (Qt Core underneath). It owns the
// application object, makes Timers that tick on it, and offers "process
// pending messages once" as a plain callback for code that runs long
// inside a tick. Create exactly one, on the main thread, before any Timer
// or before the service control connects.
#pragma once

#include <functional>
#include <memory>

#include "platform/ntservice/timer.h"

namespace corvane::ntservice {

class EventLoop {
 public:
  EventLoop(int& argc, char** argv);
  ~EventLoop();
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  // A new, disabled timer with the given interval. With
  // `firstTickMilliseconds` (>= 0), the first tick after the first enable
  // comes after that delay instead of one interval; the ones after it
  // follow every interval.
  std::unique_ptr<Timer> CreateTimer(int intervalMilliseconds, int firstTickMilliseconds = -1);

  // Delivers the messages that are pending now, once, and returns.
  std::function<void()> ProcessPendingOnce();

  // Runs until Quit (or a stop request) and returns the exit code. Returns
  // at once when Quit was called before.
  int Run();
  // Ends Run with `exitCode`; may be called before Run or from inside a tick.
  void Quit(int exitCode);
  bool QuitRequested() const { return quitRequested_; }

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  bool quitRequested_ = false;
  int exitCode_ = 0;
};

}  // namespace corvane::ntservice
