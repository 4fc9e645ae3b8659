// Service requests as signals: SIGTERM and SIGINT (stop), SIGUSR1 (pause)
// and SIGUSR2 (continue). The signal handler only writes the signal number
// into a pipe; the event loop reads it and calls the handler there, so a
// request never interrupts the program in the middle of its work (a hive
// write, a log line) and arrives in order with the other messages.
//
// Work that runs for long without the event loop (a library call) cannot
// hear a stop through the pipe. For it the handler also records the stop
// (RecordStopSignal), which a StopRelay around that work passes on; the
// handler itself writes no file.
#pragma once

#include <functional>
#include <memory>

namespace corvane::ntservice {

class SignalBridge {
 public:
  // Requires the event loop to exist. Only one bridge may exist at a time.
  explicit SignalBridge(std::function<void(int signal)> handler);
  ~SignalBridge();
  SignalBridge(const SignalBridge&) = delete;
  SignalBridge& operator=(const SignalBridge&) = delete;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace corvane::ntservice
