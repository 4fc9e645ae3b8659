#include "platform/scm/unit_state.h"

#include "platform/scm/scm.h"

namespace corvane::scm {

uint32_t ServiceStateOfUnit(std::string_view activeState, std::string_view freezerState, std::string_view jobType) {
  const bool up = activeState == "active" || activeState == "reloading";
  const bool down = activeState == "inactive" || activeState == "failed";
  const bool restartJob = jobType == "restart" || jobType == "try-restart";
  const bool startJob = jobType == "start" || jobType == "reload-or-start" || restartJob;

  if (activeState == "activating" || (down && startJob)) return SERVICE_START_PENDING;
  if (activeState == "deactivating" || (up && (jobType == "stop" || restartJob))) return SERVICE_STOP_PENDING;
  if (down) return SERVICE_STOPPED;
  if (!up) return 0;
  if (freezerState == "frozen") return SERVICE_PAUSED;
  if (freezerState == "freezing") return SERVICE_PAUSE_PENDING;
  if (freezerState == "thawing") return SERVICE_CONTINUE_PENDING;
  return SERVICE_RUNNING;
}

}  // namespace corvane::scm
