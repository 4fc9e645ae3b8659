// The record of a finished run, with when the schedule is next due, left in
// the Corvane home for monitoring (see service/export/last_run.h).
#pragma once

#include <ctime>
#include <string>

#include "service/export/last_run.h"
#include "service/host/service_main.h"

namespace corvane::service {

// Writes $CORVANE_HOME/last-run.json for a run of `program` on w that began
// at `start` and ended now with `outcome`. The next due moment comes from
// w.ScheduleType and the schedule values; where the run ends the service
// (`endsTheService`), there is none until it is started again. A record
// that cannot be written costs a warning in the run log, never the run.
void RecordRun(ServiceMain& w, const std::string& program, std::time_t start, const RunOutcome& outcome,
               bool endsTheService);

}  // namespace corvane::service
