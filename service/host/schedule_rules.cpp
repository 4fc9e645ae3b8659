#include "service/host/schedule_rules.h"

#include <cstdlib>

namespace corvane::service {
namespace {

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

DateTime CivilFromDays(int64_t z) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const int64_t m = mp < 10 ? mp + 3 : mp - 9;
  DateTime t;
  t.year = static_cast<int>(yoe + era * 400 + (m <= 2));
  t.month = static_cast<int>(m);
  t.day = static_cast<int>(d);
  return t;
}

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

bool Daily(const ScheduleValueReader& read, const ScheduleMoments& at) {
  if (!at.lastRun) return false;
  auto scheduleDay = parameters::ToInt16(read("ScheduleDay"));
  if (!scheduleDay) return false;
  const int64_t hours = HourBoundariesCrossed(*at.lastRun, at.now);
  const bool started = SecondsSince(at.start, at.now) >= 0;
  switch (*scheduleDay) {
    case 0: return hours >= 24 && started;
    case 1: return DayOfWeek(at.now) <= 5 && hours >= 24 && started;  // Sunday to Thursday
    case 2: {
      auto n = parameters::ToInt16(read("DayCount"));
      if (!n) return false;
      const int32_t hoursNeeded = int32_t{*n} * 24;
      if (hoursNeeded > INT16_MAX || hoursNeeded < INT16_MIN) return false;  // does not fit 16 bits
      return std::llabs(hours) >= hoursNeeded && started;
    }
    default: return false;
  }
}

bool Weekly(const ScheduleValueReader& read, const ScheduleMoments& at) {
  auto weeks = parameters::ToInt16(read("ScheduleWeek"));
  if (!weeks) return false;
  const std::string weekDays = read("WeekDays");
  return SecondsSince(at.start, at.now) >= 0 && WholeWeeksBetween(at.start, at.now) >= *weeks &&
         weekDays.find(std::to_string(DayOfWeek(at.now))) != std::string::npos;
}

int Monthly(const ScheduleValueReader& read, const ScheduleMoments& at) {
  // Never in the calendar month of the start moment, in any year.
  if (SecondsSince(at.start, at.now) < 0 || at.now.month == at.start.month) return 0;
  auto scheduleMonth = parameters::ToInt16(read("ScheduleMonth"));
  if (!scheduleMonth) return 0;
  std::optional<int> targetDay;
  if (*scheduleMonth == 0) {
    if (auto day = parameters::ToInt16(read("MonthDay"))) targetDay = *day;
  } else if (*scheduleMonth == 1) {
    auto n = parameters::ToInt16(read("MonthOpt1"));
    auto d = parameters::ToInt16(read("MonthOpt2"));
    if (n && d) targetDay = dhNthWeekday(at.start, *n, *d).day;
  }
  if (!targetDay || *targetDay != at.now.day) return 0;
  const auto months = parameters::SplitList(read("Months"));
  const std::string thisMonth = std::to_string(at.now.month);
  int runs = 0;
  for (size_t i = 0; i < months.size() && i < 12; ++i) {
    if (months[i] == thisMonth) ++runs;
  }
  return runs;
}

}  // namespace

int64_t ClockSeconds(const DateTime& t) {
  return DaysFromCivil(t.year, t.month, t.day) * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
}

DateTime FromClockSeconds(int64_t seconds) {
  const int64_t days = FloorDiv(seconds, 86400);
  const int64_t rest = seconds - days * 86400;
  DateTime t = CivilFromDays(days);
  t.hour = static_cast<int>(rest / 3600);
  t.minute = static_cast<int>(rest % 3600 / 60);
  t.second = static_cast<int>(rest % 60);
  return t;
}

int DayOfWeek(const DateTime& t) {
  const int64_t days = DaysFromCivil(t.year, t.month, t.day);
  return static_cast<int>(((days % 7 + 7 + 4) % 7) + 1);  // 1970-01-01 was a Thursday (5)
}

int64_t SecondsSince(const DateTime& from, const DateTime& to) { return ClockSeconds(to) - ClockSeconds(from); }

int64_t HourBoundariesCrossed(const DateTime& from, const DateTime& to) {
  return FloorDiv(ClockSeconds(to), 3600) - FloorDiv(ClockSeconds(from), 3600);
}

int64_t WholeWeeksBetween(const DateTime& a, const DateTime& b) { return std::llabs(SecondsSince(a, b)) / (7 * 86400); }

DateTime dhNthWeekday(const DateTime& date, int16_t n, int16_t d) {
  if (d < 1 || d > 7 || n <= 0) return date;
  int64_t day = DaysFromCivil(date.year, date.month, 1);
  while (DayOfWeek(CivilFromDays(day)) != d) ++day;
  return CivilFromDays(day + int64_t{n - 1} * 7);
}

ScheduleMoments MomentsOf(const DateTime& now, std::string_view startText, std::string_view lastText) {
  ScheduleMoments at;
  at.now = now;
  at.start = parameters::ParseDateTime(startText).value_or(DateTime{2000, 1, 1, 0, 0, 0});
  at.lastRun = parameters::ParseDateTime(lastText.empty() ? kNoLastRun : lastText);
  return at;
}

int RunsDue(int16_t kind, const ScheduleValueReader& read, const ScheduleMoments& at, bool startupRunDone,
            bool runInProgress) {
  const bool started = SecondsSince(at.start, at.now) >= 0;
  switch (kind) {
    case kDaily: return Daily(read, at) ? 1 : 0;
    case kWeekly: return Weekly(read, at) ? 1 : 0;
    case kMonthly: return Monthly(read, at);
    case kOneTime: return parameters::ToInt16(read("OneTime")) == int16_t{1} && started ? 1 : 0;
    case kOnStartup: return !startupRunDone && started ? 1 : 0;
    case kContinuous: return runInProgress ? 0 : 1;
    default: return 0;
  }
}

}  // namespace corvane::service
