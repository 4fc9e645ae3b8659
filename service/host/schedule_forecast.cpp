#include "service/host/schedule_forecast.h"

#include <algorithm>
#include <map>

#include <fmt/format.h>

namespace corvane::service {
namespace {

constexpr int64_t kHour = 3600;
constexpr int64_t kWeek = 7 * 86400;
constexpr int64_t kHorizon = 4 * 366 * 86400;

constexpr const char* kDayNames[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
constexpr const char* kMonthNames[] = {"January", "February", "March",     "April",   "May",      "June",
                                       "July",    "August",   "September", "October", "November", "December"};
constexpr const char* kOrdinals[] = {"first", "second", "third", "fourth", "fifth"};

std::string When(const DateTime& t) { return parameters::FormatDefaultDateTime(t); }

// "2,4" -> "Monday, Wednesday" (or "Months" with the month names).
std::string Names(const std::string& list, const char* const* names, int count) {
  std::vector<std::string> out;
  for (const auto& item : parameters::SplitList(list)) {
    auto n = parameters::ToInt16(item);
    if (n && *n >= 1 && *n <= count) out.emplace_back(names[*n - 1]);
  }
  return fmt::format("{}", fmt::join(out, ", "));
}

// The first moment from at.now, up to the horizon, at which a check
// starts a run. The rules' conditions change only on hour boundaries (the
// hours since the last run, days, months), at the start moment and at
// whole weeks after it, so those are the moments tried.
std::optional<DateTime> FirstDue(int16_t kind, const ScheduleValueReader& read, const ScheduleMoments& at) {
  const int64_t now = ClockSeconds(at.now);
  const int64_t start = ClockSeconds(at.start);
  const int64_t end = now + kHorizon;
  std::vector<int64_t> moments{now};
  for (int64_t t = (now / kHour + 1) * kHour; t <= end; t += kHour) moments.push_back(t);
  for (int64_t t = start; t <= end; t += kWeek)
    if (t > now) moments.push_back(t);
  std::sort(moments.begin(), moments.end());
  ScheduleMoments m = at;
  for (int64_t t : moments) {
    m.now = FromClockSeconds(t);
    if (RunsDue(kind, read, m, false, false) > 0) return m.now;
  }
  return std::nullopt;
}

class Forecaster {
 public:
  Forecaster(const ScheduleValueReader& read, const DateTime& now) : read_(read) {
    at_ = MomentsOf(now, Value("StartTime"), Value("LastSuccessfulRun"));
  }

  ScheduleForecast Run(int16_t kind) {
    bool clockDriven = true;
    switch (kind) {
      case kDaily: Daily(); break;
      case kWeekly: Weekly(); break;
      case kMonthly: Monthly(); break;
      case kOneTime: clockDriven = OneTime(); break;
      case kOnStartup:
        f_.description = "on start-up: once at every start of the service";
        f_.nextDueText = "at the next start of the service";
        clockDriven = false;
        break;
      case kContinuous:
        f_.description = "continuously: each run starts at the first check after the previous one ended";
        f_.nextDueText = "at the next check, and again after every run";
        clockDriven = false;
        break;
      case kNever:
        f_.description = "never (ScheduleType 5)";
        f_.nextDueText = "never";
        clockDriven = false;
        break;
      default:
        f_.description = fmt::format("none (ScheduleType {}): the service never runs the export", kind);
        f_.nextDueText = "never";
        clockDriven = false;
        break;
    }
    if (!clockDriven) return f_;
    if (!f_.problems.empty()) {
      f_.nextDueText = "never, as configured";
      return f_;
    }
    if (SecondsSince(at_.now, at_.start) > 0) f_.description += fmt::format("; not before {}", When(at_.start));
    f_.nextDue = FirstDue(kind, Cached(), at_);
    if (!f_.nextDue) {
      f_.nextDueText = "not within the next four years";
    } else if (*f_.nextDue == at_.now) {
      f_.nextDueText = When(*f_.nextDue) + " (now: the next check starts a run)";
    } else {
      f_.nextDueText = When(*f_.nextDue);
    }
    return f_;
  }

 private:
  // Every value is read once: the search asks the rules thousands of times.
  std::string Value(const std::string& name) {
    auto it = values_.find(name);
    if (it == values_.end()) it = values_.emplace(name, read_(name)).first;
    return it->second;
  }
  ScheduleValueReader Cached() {
    return [this](std::string_view name) { return Value(std::string(name)); };
  }
  // The value as a number from lo to hi; a problem is noted when it is not.
  std::optional<int> Number(const std::string& name, int lo, int hi, const std::string& purpose) {
    auto n = parameters::ToInt16(Value(name));
    if (n && *n >= lo && *n <= hi) return *n;
    f_.problems.push_back(fmt::format("{} is \"{}\", not a number from {} to {}: {}", name, Value(name), lo, hi, purpose));
    return std::nullopt;
  }
  std::string List(const std::string& name, const char* const* names, int count, const std::string& purpose) {
    std::string shown = Names(Value(name), names, count);
    if (shown.empty()) f_.problems.push_back(fmt::format("{} names no {}: {}", name, purpose, "the schedule is never due"));
    return shown;
  }

  void Daily() {
    const std::string never = "a daily schedule is never due";
    if (!at_.lastRun) f_.problems.push_back("LastSuccessfulRun is not a date-time: " + never);
    const auto day = Number("ScheduleDay", 0, 2, never);
    const char* measure = "24 hour boundaries after the last successful run";
    if (!day) {
      f_.description = "daily";
    } else if (*day == 0) {
      f_.description = fmt::format("daily: every day, {}", measure);
    } else if (*day == 1) {
      f_.description = fmt::format("daily: on week days (Sunday to Thursday), {}", measure);
    } else if (auto n = Number("DayCount", 1, 1365, never)) {
      f_.description = fmt::format("daily: every {} days, {} hour boundaries after the last successful run", *n, *n * 24);
    } else {
      f_.description = "daily: every DayCount days";
    }
  }

  void Weekly() {
    const auto weeks = Number("ScheduleWeek", 0, 32767, "a weekly schedule is never due");
    const std::string days = List("WeekDays", kDayNames, 7, "day of the week (1 Sunday ... 7 Saturday)");
    const std::string from = weeks.value_or(0) > 0
                                 ? fmt::format("once {} whole weeks have passed since {}", *weeks, When(at_.start))
                                 : "from " + When(at_.start);
    f_.description = fmt::format("weekly: on {} {}; a run at every check of those days", days.empty() ? "no day" : days,
                                 from);
  }

  void Monthly() {
    const std::string never = "a monthly schedule is never due";
    const auto kind = Number("ScheduleMonth", 0, 1, never);
    std::string day = "a day";
    if (kind == 0) {
      if (auto d = Number("MonthDay", 1, 31, never)) day = fmt::format("day {}", *d);
    } else if (kind == 1) {
      auto n = Number("MonthOpt1", 1, 5, never);
      auto d = Number("MonthOpt2", 1, 7, never);
      if (n && d) {
        day = fmt::format("day {} (the {} {} of {} {}, the month of StartTime)",
                          dhNthWeekday(at_.start, static_cast<int16_t>(*n), static_cast<int16_t>(*d)).day,
                          kOrdinals[*n - 1], kDayNames[*d - 1], kMonthNames[at_.start.month - 1], at_.start.year);
      }
    }
    const std::string months = List("Months", kMonthNames, 12, "month (1 January ... 12 December)");
    const std::string startMonth = kMonthNames[at_.start.month - 1];
    if (!months.empty() && months == startMonth)
      f_.problems.push_back(fmt::format("Months names only {}, the month of StartTime, when monthly runs never happen",
                                        startMonth));
    f_.description = fmt::format("monthly: on {} of {} (never in {}, the month of StartTime); a run at every check "
                                 "of that day",
                                 day, months.empty() ? "no month" : months, startMonth);
  }

  // Whether the one-time run is still to come (and so depends on the clock).
  bool OneTime() {
    if (parameters::ToInt16(Value("OneTime")) == int16_t{1}) {
      f_.description = fmt::format("one time only, at {}", When(at_.start));
      return true;
    }
    f_.description = "one time only: done (OneTime is not 1)";
    f_.nextDueText = "never: the one-time run is done";
    return false;
  }

  const ScheduleValueReader& read_;
  std::map<std::string, std::string> values_;
  ScheduleMoments at_;
  ScheduleForecast f_;
};

}  // namespace

ScheduleForecast ForecastSchedule(int16_t kind, const ScheduleValueReader& read, const DateTime& now) {
  return Forecaster(read, now).Run(kind);
}

}  // namespace corvane::service
