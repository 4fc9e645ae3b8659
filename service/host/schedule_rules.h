// When a scheduled run is due: plain rules over the schedule values, the
// moments involved and the service state, so each rule can be checked
// against any clock reading.
//
// All measures are taken on the local wall clock as it reads: "hours since
// the last run" counts hour boundaries crossed (22:59 to 23:00 is one), and
// a day with a clock change still counts 24 of them.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "service/parameters/parameters.h"

namespace corvane::service {

using parameters::DateTime;

// Schedule kinds (the "ScheduleType" values).
enum ScheduleKind : int16_t {
  kDaily = 0,
  kWeekly = 1,
  kMonthly = 2,
  kOneTime = 3,
  kOnStartup = 4,
  kNever = 5,
  kContinuous = 6,
  kNoSchedule = 9,
};

// Seconds on the wall clock since 1 January 1970 00:00 of the same clock.
int64_t ClockSeconds(const DateTime& t);
// The wall-clock moment `seconds` after 1 January 1970 00:00 (ClockSeconds' inverse).
DateTime FromClockSeconds(int64_t seconds);
// 1 Sunday, 2 Monday, ... 7 Saturday.
int DayOfWeek(const DateTime& t);
// Seconds from `from` to `to` (negative when `to` is earlier).
int64_t SecondsSince(const DateTime& from, const DateTime& to);
// to's whole-hour count minus from's.
int64_t HourBoundariesCrossed(const DateTime& from, const DateTime& to);
// Whole seven-day periods between the two, never negative.
int64_t WholeWeeksBetween(const DateTime& a, const DateTime& b);
// The Nth weekday D (1 Sunday .. 7 Saturday) of date's month, at midnight;
// `date` itself when D is not 1..7 or N is not positive. A fifth weekday
// may fall into the next month.
DateTime dhNthWeekday(const DateTime& date, int16_t n, int16_t d);

// The moments a check compares.
struct ScheduleMoments {
  DateTime now;
  DateTime start;                   // "StartTime", or 1/1/2000 00:00:00 when invalid
  std::optional<DateTime> lastRun;  // "LastSuccessfulRun"; nullopt when not a date-time
};

// What a check reads for a missing (or empty) "LastSuccessfulRun", and for a
// missing "StartTime".
inline constexpr const char* kNoLastRun = "01/01/1990 11:25:31 AM";
inline constexpr const char* kDefaultStartTime = "01/01/2000 12:00:00 AM";

// The moments of a check at `now` from the stored texts: "StartTime" (not
// a date-time: 1/1/2000 00:00:00) and "LastSuccessfulRun" (empty:
// kNoLastRun).
ScheduleMoments MomentsOf(const DateTime& now, std::string_view startText, std::string_view lastText);

// Reads a schedule value by name; "" when missing.
using ScheduleValueReader = std::function<std::string(std::string_view name)>;

// How many update runs the check starts now (the monthly kind starts one
// per matching "Months" entry; the others at most one). A value the kind
// needs that is missing or not a number makes it not due.
int RunsDue(int16_t kind, const ScheduleValueReader& read, const ScheduleMoments& at, bool startupRunDone,
            bool runInProgress);

}  // namespace corvane::service
