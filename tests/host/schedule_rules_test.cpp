// The due rules of every schedule kind, against chosen clock readings.
#include "service/host/schedule_rules.h"
#include "service/host/schedule_forecast.h"

#include <map>

#include <gtest/gtest.h>

namespace corvane::service {
namespace {

DateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) { return {y, mo, d, h, mi, s}; }

struct Values {
  std::map<std::string, std::string, std::less<>> map;
  ScheduleValueReader reader() const {
    return [this](std::string_view name) {
      auto it = map.find(name);
      return it == map.end() ? std::string() : it->second;
    };
  }
};

int Due(int16_t kind, const Values& v, DateTime now, DateTime start = At(2000, 1, 1),
        std::optional<DateTime> last = At(1990, 1, 1, 11, 25, 31), bool startupRunDone = false,
        bool runInProgress = false) {
  return RunsDue(kind, v.reader(), {now, start, last}, startupRunDone, runInProgress);
}

TEST(ClockMeasures, HourBoundariesWeeksAndWeekdays) {
  EXPECT_EQ(HourBoundariesCrossed(At(2026, 12, 6, 22, 59, 59), At(2026, 12, 6, 23, 0, 0)), 1);
  EXPECT_EQ(HourBoundariesCrossed(At(2026, 12, 6, 10, 30), At(2026, 12, 7, 10, 0)), 24);
  EXPECT_EQ(HourBoundariesCrossed(At(2026, 12, 7, 10, 0), At(2026, 12, 6, 10, 30)), -24);
  EXPECT_EQ(WholeWeeksBetween(At(2026, 12, 1), At(2026, 12, 14, 23, 59, 59)), 1);
  EXPECT_EQ(WholeWeeksBetween(At(2026, 12, 15), At(2026, 12, 1)), 2);
  EXPECT_EQ(DayOfWeek(At(2026, 12, 6)), 1);  // Sunday
  EXPECT_EQ(DayOfWeek(At(2026, 12, 7)), 2);  // Monday
  EXPECT_EQ(DayOfWeek(At(2026, 12, 12)), 7);  // Saturday
  EXPECT_EQ(DayOfWeek(At(1900, 3, 1)), 5);    // Thursday
}

TEST(ClockMeasures, NthWeekday) {
  EXPECT_EQ(dhNthWeekday(At(2007, 6, 20, 9, 30), 2, 3), At(2007, 6, 12));  // second Tuesday of June 2007
  EXPECT_EQ(dhNthWeekday(At(2026, 12, 7), 1, 1), At(2026, 12, 6));        // first Sunday
  EXPECT_EQ(dhNthWeekday(At(2026, 12, 7), 5, 4), At(2026, 12, 30));       // fifth Wednesday
  EXPECT_EQ(dhNthWeekday(At(2026, 12, 7), 5, 2), At(2027, 1, 4));         // no fifth Monday: runs over, not corrected
  EXPECT_EQ(dhNthWeekday(At(2026, 12, 7, 8), 0, 2), At(2026, 12, 7, 8));  // N not positive: unchanged
  EXPECT_EQ(dhNthWeekday(At(2026, 12, 7, 8), 1, 8), At(2026, 12, 7, 8));  // no such weekday: unchanged
}

TEST(DailySchedule, EveryDayCountsHourBoundaries) {
  Values v{{{"ScheduleDay", "0"}}};
  const auto last = At(2026, 12, 6, 10, 30);
  EXPECT_EQ(Due(kDaily, v, At(2026, 12, 7, 9, 59, 59), At(2000, 1, 1), last), 0);
  EXPECT_EQ(Due(kDaily, v, At(2026, 12, 7, 10, 0), At(2000, 1, 1), last), 1);  // not only from 10:30
  // Not before the start moment.
  EXPECT_EQ(Due(kDaily, v, At(2026, 12, 7, 10, 0), At(2026, 12, 7, 10, 0, 1), last), 0);
  EXPECT_EQ(Due(kDaily, v, At(2026, 12, 7, 10, 0), At(2026, 12, 7, 10, 0, 0), last), 1);
  // The fallback last run of 1990 makes it due at once.
  EXPECT_EQ(Due(kDaily, v, At(2026, 12, 7, 10, 0)), 1);
}

TEST(DailySchedule, WeekDaysAreSundayToThursday) {
  Values v{{{"ScheduleDay", "1"}}};
  const int expected[] = {1, 1, 1, 1, 1, 0, 0};  // 6 Dec 2026 is a Sunday
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(Due(kDaily, v, At(2026, 12, 6 + i, 12)), expected[i]) << "day " << 6 + i;
  }
}

TEST(DailySchedule, EveryNDaysInBothDirections) {
  Values v{{{"ScheduleDay", "2"}, {"DayCount", "3"}}};
  const auto now = At(2026, 12, 7, 12);
  EXPECT_EQ(Due(kDaily, v, now, At(2000, 1, 1), At(2026, 12, 4, 12)), 1);      // 72 hours ago
  EXPECT_EQ(Due(kDaily, v, now, At(2000, 1, 1), At(2026, 12, 4, 13)), 0);      // 71
  EXPECT_EQ(Due(kDaily, v, now, At(2000, 1, 1), At(2026, 12, 10, 12)), 1);     // 72 hours ahead
  EXPECT_EQ(Due(kDaily, v, now, At(2000, 1, 1), At(2026, 12, 10, 11, 59)), 0);  // 71 ahead
  // N times 24 must fit 16 bits.
  Values big{{{"ScheduleDay", "2"}, {"DayCount", "1366"}}};
  EXPECT_EQ(Due(kDaily, big, now), 0);
}

TEST(DailySchedule, MissingOrNonNumericValuesAreNotDue) {
  const auto now = At(2026, 12, 7, 12);
  EXPECT_EQ(Due(kDaily, Values{}, now), 0);
  EXPECT_EQ(Due(kDaily, Values{{{"ScheduleDay", "x"}}}, now), 0);
  EXPECT_EQ(Due(kDaily, Values{{{"ScheduleDay", "3"}}}, now), 0);
  EXPECT_EQ(Due(kDaily, Values{{{"ScheduleDay", "2"}}}, now), 0);
  EXPECT_EQ(Due(kDaily, Values{{{"ScheduleDay", "2"}, {"DayCount", ""}}}, now), 0);
  // A last run that is not a date-time.
  EXPECT_EQ(Due(kDaily, Values{{{"ScheduleDay", "0"}}}, now, At(2000, 1, 1), std::nullopt), 0);
}

TEST(WeeklySchedule, AfterWholeWeeksOnListedDays) {
  Values v{{{"ScheduleWeek", "2"}, {"WeekDays", "2,4"}}};  // Monday and Wednesday
  const auto start = At(2026, 11, 30, 9);                  // a Monday
  EXPECT_EQ(Due(kWeekly, v, At(2026, 11, 30, 9), start), 0);   // week 0
  EXPECT_EQ(Due(kWeekly, v, At(2026, 12, 9, 9), start), 0);    // Wednesday of week 1
  EXPECT_EQ(Due(kWeekly, v, At(2026, 12, 14, 8, 59), start), 0);  // not yet two whole weeks
  EXPECT_EQ(Due(kWeekly, v, At(2026, 12, 14, 9), start), 1);   // Monday, two weeks
  EXPECT_EQ(Due(kWeekly, v, At(2026, 12, 15, 9), start), 0);   // Tuesday
  EXPECT_EQ(Due(kWeekly, v, At(2026, 12, 16, 23), start), 1);  // Wednesday
  EXPECT_EQ(Due(kWeekly, v, At(2027, 3, 1, 0, 1), start), 1);  // any later Monday
  // No last-run condition: due at every check on a matching day.
  EXPECT_EQ(Due(kWeekly, v, At(2026, 12, 14, 9), start, At(2026, 12, 14, 9)), 1);
  EXPECT_EQ(Due(kWeekly, Values{{{"WeekDays", "2,4"}}}, At(2026, 12, 14, 9), start), 0);
  EXPECT_EQ(Due(kWeekly, Values{{{"ScheduleWeek", "2"}}}, At(2026, 12, 14, 9), start), 0);
}

TEST(MonthlySchedule, DayNumberNeverInTheStartMonth) {
  Values v{{{"ScheduleMonth", "0"}, {"MonthDay", "15"}, {"Months", "3,4"}}};
  const auto start = At(2026, 3, 1);
  EXPECT_EQ(Due(kMonthly, v, At(2026, 3, 15, 12), start), 0);
  EXPECT_EQ(Due(kMonthly, v, At(2027, 3, 15, 12), start), 0);  // any March
  EXPECT_EQ(Due(kMonthly, v, At(2026, 4, 15, 12), start), 1);
  EXPECT_EQ(Due(kMonthly, v, At(2026, 4, 16, 12), start), 0);
  EXPECT_EQ(Due(kMonthly, v, At(2026, 5, 15, 12), start), 0);  // not listed
  EXPECT_EQ(Due(kMonthly, v, At(2026, 4, 15, 12), At(2026, 4, 20)), 0);  // before the start moment
  // A month listed twice starts two runs.
  Values twice{{{"ScheduleMonth", "0"}, {"MonthDay", "15"}, {"Months", "4, 4"}}};
  EXPECT_EQ(Due(kMonthly, twice, At(2026, 4, 15, 12), start), 2);
}

TEST(MonthlySchedule, NthWeekdayOfTheStartMonth) {
  // Second Tuesday; the start moment in June 2007, whose second Tuesday is the 12th.
  Values v{{{"ScheduleMonth", "1"}, {"MonthOpt1", "2"}, {"MonthOpt2", "3"}, {"Months", "1,6,9"}}};
  const auto start = At(2007, 6, 1);
  EXPECT_EQ(Due(kMonthly, v, At(2007, 9, 12, 8), start), 1);
  EXPECT_EQ(Due(kMonthly, v, At(2008, 1, 12, 8), start), 1);
  EXPECT_EQ(Due(kMonthly, v, At(2008, 6, 12, 8), start), 0);  // June excluded
  EXPECT_EQ(Due(kMonthly, v, At(2007, 9, 11, 8), start), 0);  // the real second Tuesday of September 2007
  Values missing{{{"ScheduleMonth", "1"}, {"MonthOpt1", "2"}, {"Months", "9"}}};
  EXPECT_EQ(Due(kMonthly, missing, At(2007, 9, 12, 8), start), 0);
  Values other{{{"ScheduleMonth", "2"}, {"MonthDay", "12"}, {"Months", "9"}}};
  EXPECT_EQ(Due(kMonthly, other, At(2007, 9, 12, 8), start), 0);
}

TEST(OtherSchedules, OneTimeStartupNeverContinuousNone) {
  const auto now = At(2026, 12, 7, 12);
  Values pending{{{"OneTime", "1"}}};
  EXPECT_EQ(Due(kOneTime, pending, now), 1);
  EXPECT_EQ(Due(kOneTime, pending, now, At(2026, 12, 7, 12, 0, 1)), 0);  // start moment in the future
  EXPECT_EQ(Due(kOneTime, Values{{{"OneTime", "0"}}}, now), 0);
  EXPECT_EQ(Due(kOneTime, Values{}, now), 0);

  EXPECT_EQ(Due(kOnStartup, Values{}, now), 1);
  EXPECT_EQ(Due(kOnStartup, Values{}, now, At(2000, 1, 1), std::nullopt, /*startupRunDone=*/true), 0);
  EXPECT_EQ(Due(kOnStartup, Values{}, now, At(2027, 1, 1)), 0);

  EXPECT_EQ(Due(kContinuous, Values{}, now), 1);
  EXPECT_EQ(Due(kContinuous, Values{}, now, At(2000, 1, 1), std::nullopt, false, /*runInProgress=*/true), 0);

  for (int16_t kind : {5, 7, 8, 9, -1, 42}) EXPECT_EQ(Due(kind, pending, now), 0) << kind;
}

// The forecast follows the rules above: the first moment a check finds
// each kind due, from Monday 7 December 2026 10:05:03.
TEST(ScheduleForecast, NamesTheNextDueMomentOrWhyThereIsNone) {
  struct Case {
    int16_t kind;
    std::map<std::string, std::string, std::less<>> values;
    std::string nextDue;
    std::string inDescription;
  };
  const std::vector<Case> cases = {
      {kDaily, {{"ScheduleDay", "0"}, {"LastSuccessfulRun", "12-7-2026 2:0:0 AM"}}, "12/8/2026 2:00:00 AM", "every day"},
      {kDaily, {{"ScheduleDay", "0"}}, "12/7/2026 10:05:03 AM (now: the next check starts a run)", "daily"},
      {kWeekly, {{"ScheduleWeek", "0"}, {"WeekDays", "4"}, {"StartTime", "1-1-2026 0:0:0 AM"}},
       "12/9/2026 12:00:00 AM", "on Wednesday"},
      {kMonthly,
       {{"ScheduleMonth", "1"}, {"MonthOpt1", "2"}, {"MonthOpt2", "3"}, {"Months", "1"}, {"StartTime", "6-1-2007 0:0:0 AM"}},
       "1/12/2027 12:00:00 AM", "day 12 (the second Tuesday of June 2007"},
      {kOneTime, {{"OneTime", "1"}, {"StartTime", "12-24-2026 18:0:0 PM"}}, "12/24/2026 6:00:00 PM", "one time only"},
      {kWeekly, {{"ScheduleWeek", "1"}}, "never, as configured", "weekly"},
      {kNoSchedule, {}, "never", "never runs the export"},
  };
  for (const auto& c : cases) {
    Values v{c.values};
    const ScheduleForecast f = ForecastSchedule(c.kind, v.reader(), At(2026, 12, 7, 10, 5, 3));
    EXPECT_EQ(f.nextDueText, c.nextDue) << f.description;
    EXPECT_NE(f.description.find(c.inDescription), std::string::npos) << f.description;
    EXPECT_EQ(f.problems.empty(), c.nextDue != "never, as configured") << f.description;
  }
}

}  // namespace
}  // namespace corvane::service
