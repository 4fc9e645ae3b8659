// The SvcUtil object over a service manager, which is handed in: the
// component library gives it systemd's, tests an in-memory one.
#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include "platform/scm/scm.h"
#include "servicecontrol/svc_util.h"

namespace corvane::servicecontrol {

// Pause between two status polls of a pending-state wait: short enough for
// a window to feel responsive, long enough not to load the manager.
inline constexpr std::chrono::milliseconds kPollPause{100};

// How the waits read the time and pause; tests hand in a clock of their own.
struct WaitClock {
  std::function<std::chrono::steady_clock::time_point()> now;
  std::function<void(std::chrono::milliseconds)> sleep;

  // The steady clock and a real sleep.
  static WaitClock Real();
};

class SvcUtilObject : public SvcUtil {
 public:
  explicit SvcUtilObject(std::shared_ptr<scm::ServiceControlManager> manager, WaitClock clock = WaitClock::Real());

  com::Variant ListAllServices() override;
  com::Variant GetTargetServiceStatus() override;
  com::Variant StartTargetService() override;
  com::Variant StopTargetService() override;
  com::Variant BounceTargetService() override;

 private:
  // The manager and the target service, opened for one method; either is
  // null when it could not be opened, and `openError` says why.
  struct Target {
    std::unique_ptr<scm::ManagerHandle> manager;
    std::unique_ptr<scm::ServiceHandle> service;
    scm::Win32Error openError = scm::ERROR_SUCCESS;
  };
  Target OpenTarget();
  // Start or Stop: opens the target, sends `request`, waits while it is in
  // `pendingState`; true when the status could be read afterwards.
  com::Variant ControlTarget(scm::Win32Error (scm::ServiceHandle::*request)(), uint32_t pendingState);
  // Reads the target's status into *status; false when it cannot.
  static bool Query(Target& target, scm::ServiceStatus* status);
  // Sends a start or stop request to the target (when it is open), reads
  // its status and waits while it is in `pendingState`. A request that
  // cannot be sent or is refused sets LastRequestError.
  void RequestAndWait(Target& target, scm::Win32Error (scm::ServiceHandle::*request)(), uint32_t pendingState,
                      scm::ServiceStatus* status);
  // Polls while the target is in `pendingState`, at most TimeLimit, letting
  // the caller's messages run between polls (WaitStatus tells them the
  // status). Ends early when a poll fails.
  void WaitWhile(Target& target, uint32_t pendingState, scm::ServiceStatus* status);

  std::shared_ptr<scm::ServiceControlManager> manager_;
  WaitClock clock_;
};

}  // namespace corvane::servicecontrol
