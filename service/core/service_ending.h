// How the service process ends where it must: the exception that carries
// the ending to the top of a run, and the exit statuses of the endings by
// design.
#pragma once

#include <string>

namespace corvane::service {

// Exit statuses of the endings by design; a restart cannot help with
// either, so the systemd unit lists both in RestartPreventExitStatus.
inline constexpr int kExitMissingSetting = 78;  // EX_CONFIG: connection string, mailbox, server, profile or table name
inline constexpr int kExitEndedByDesign = 69;   // EX_UNAVAILABLE: a GAL count of 0, or 1000 failures in a run

// Thrown where the service process must end (a missing setting, a GAL count
// of 0, too many failures) and by the run's yield (DoEvents) once a stop is
// requested. The host catches it, closes the log file and exits with
// `exitCode`.
//
// It deliberately does not derive from std::exception: the many
// `catch (const std::exception&)` that skip a failed step, row or job let
// it through, so an ending or a stop always reaches the top of the run.
// Keep it so, and keep `catch (...)` off the paths that can yield (the
// steps, passes and follow-on jobs of a run); where one is unavoidable it
// must rethrow.
struct EndServiceProcess {
  std::string reason;
  int exitCode = 1;
};

}  // namespace corvane::service
