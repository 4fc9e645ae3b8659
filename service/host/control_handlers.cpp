// Handlers of the service requests: start, pause, continue and stop.
#include "service/host/service_host.h"

namespace corvane::service {

void ServiceHost::OnStart(bool& success) {
  int interval = timer_.Interval();
  if (interval > 100000 || interval < 1000) {
    interval = 60000;
    timer_.SetInterval(interval);
  }
  try {
    w_.SaveSetting("TimerInterval", std::to_string(interval));
  } catch (...) {
    // The handlers report no errors; the value is only a record.
  }
  if (w_.NoExtraEvents != 1) w_.LogEvent(ntservice::EVENTLOG_INFORMATION_TYPE, 110, kStartedEvent);
  timer_.SetEnabled(true);
  success = true;
}

// The paused state is only the service manager's view: the Timer keeps
// running and due runs still start.
void ServiceHost::OnPause(bool& success) {
  w_.LogEvent(ntservice::EVENTLOG_ERROR_TYPE, 109, "Service paused");
  success = true;
}

void ServiceHost::OnContinue(bool& success) {
  w_.LogEvent(ntservice::EVENTLOG_INFORMATION_TYPE, 110, "Service continued");
  success = true;
}

// Only records the request; the service control ends the event loop, and a
// run in progress ends at its next yield (GuardedDoEvents).
void ServiceHost::OnStop() { w_.run.StopRequested = true; }

void ServiceHost::Unload() {
  if (w_.FileLogging) {
    w_.runLog.CloseFile();
    w_.FileLogging = false;
  }
}

}  // namespace corvane::service
