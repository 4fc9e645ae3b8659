// A stop request (SIGTERM, SIGINT) for work that runs long without the
// event loop, such as the GAL reader library's export, which cannot hear
// a request through the loop.
//
// The signal handler only records that a stop came (RecordStopSignal).
// While a StopRelay lives, a thread of its own waits for that record and
// writes the stop note into the work's file; without a relay nothing is
// written anywhere. So a stop reaches only the work of the process that
// received it: a service that is told to stop while it idles leaves the
// export of another process on the same home alone.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

namespace corvane::ntservice {

// Records that this process received a stop request. Only what a signal
// handler may do (async-signal-safe): a flag and one byte into a pipe.
void RecordStopSignal();

// True once this process has received a stop request.
bool StopSignalled();

class StopRelay {
 public:
  // From now until the relay ends, a stop request that this process has
  // received or receives is written as `note` into `file` (mode 0600). The
  // note only creates the file: a file that exists by then (the work's own
  // report) is left as it is.
  StopRelay(std::filesystem::path file, std::string note);
  // Ends the relay's thread; no note is written after it returns.
  ~StopRelay();
  StopRelay(const StopRelay&) = delete;
  StopRelay& operator=(const StopRelay&) = delete;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace corvane::ntservice
