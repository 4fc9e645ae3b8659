// The schedule as an administrator reads it: the configured kind in words,
// the values it lacks, and when a check will next find it due. Worked out
// by the scheduler's own rules (RunsDue), tried at every moment where one
// of their conditions can change.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "service/host/schedule_rules.h"

namespace corvane::service {

struct ScheduleForecast {
  std::string description;  // e.g. "weekly: Monday, Wednesday, every week from 6/1/2026 2:30:00 AM"
  // The first moment from `now` at which a check starts a run; nullopt
  // when the schedule does not depend on the clock or is never due.
  std::optional<DateTime> nextDue;
  // When the next run is due, in words: the moment, "at the next start of
  // the service", "never: ...".
  std::string nextDueText;
  // Why the schedule can never be due as configured (a value its kind
  // needs is missing or out of range); empty when nothing is wrong.
  std::vector<std::string> problems;
};

// The forecast for the schedule kind `kind` ("ScheduleType") with the
// values `read` gives ("StartTime", "LastSuccessfulRun" and the kind's
// details) at `now`. Looks ahead at most about four years.
ScheduleForecast ForecastSchedule(int16_t kind, const ScheduleValueReader& read, const DateTime& now);

}  // namespace corvane::service
