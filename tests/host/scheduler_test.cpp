// The Timer's schedule check and the request handlers, on a manual timer
// and a fixed clock.
#include <gtest/gtest.h>

#include "service/host/schedule_rules.h"
#include "tests/host/host_harness.h"

namespace corvane::service::testing {
namespace {

using ntservice::RecordedEvent;

// A started service with the given schedule kind.
void Start(Harness& h, int kind, const char* option = "") {
  h.control.Set("ScheduleType", std::to_string(kind));
  ASSERT_EQ(h.host.Startup(h.Options(option)), std::nullopt);
}

TEST(Tick, WarmUpTakesSixTicks) {
  Harness h;
  Start(h, kContinuous);
  for (int i = 0; i < 6; ++i) {
    h.w.run.isrunning = true;
    h.timer.Fire();
    EXPECT_FALSE(h.w.run.isrunning) << "warm-up tick " << i + 1 << " clears isrunning";
  }
  EXPECT_EQ(h.runs, 0);
  EXPECT_EQ(h.Entries().size(), 1u);  // only the start-up line
  h.timer.Fire();
  EXPECT_EQ(h.runs, 1);
  EXPECT_EQ(h.w.TickCount, 6);
}

TEST(Tick, LogRunsChecksAtTheFirstTickEveryTenSeconds) {
  Harness h;
  Start(h, kContinuous, "-log");
  h.timer.SetInterval(60000);
  h.timer.Fire();
  EXPECT_EQ(h.runs, 1);
  EXPECT_EQ(h.timer.Interval(), 10000);
}

TEST(Tick, AnIncompleteFinalTableIsRebuiltAtTheFirstCheckOnlyWhateverTheSchedule) {
  Harness h;
  Start(h, kNever, "-log");
  h.control.Set("FinalTableIncomplete", "1");
  h.timer.Fire();
  EXPECT_EQ(h.runs, 1);
  EXPECT_EQ(h.Entries().back(), "The last run left the final table incomplete: the export runs now");
  h.timer.Fire();  // the run did not complete: no second run in this process
  EXPECT_EQ(h.runs, 1);
}

// While another process's run holds the lock, a check starts no run and
// keeps its bookkeeping for the check that can.
TEST(Tick, AHeldRunLockPutsTheRunOffToTheNextCheck) {
  Harness h;
  Start(h, kOnStartup, "-log");
  bool held = true;
  h.host.TryRunLock = [&](std::string& why) -> std::shared_ptr<void> {
    if (!held) return std::make_shared<int>(0);
    why = "held elsewhere";
    return nullptr;
  };
  h.timer.Fire();
  EXPECT_EQ(h.runs, 0);
  EXPECT_EQ(h.Entries().back(), "held elsewhere");
  EXPECT_FALSE(h.w.run.StartupRunDone);
  held = false;
  h.timer.Fire();
  EXPECT_EQ(h.runs, 1);
}

TEST(Tick, LogsTheDateLinesAndTheKind) {
  Harness h;
  Start(h, kNoSchedule, "-log");
  h.control.Set("StartTime", "6-15-2007 14:5:7 PM");
  h.timer.Fire();
  EXPECT_EQ(h.Entries(), (std::vector<std::string>{
                             "-log command line parameter used.  Starting to log events.12/7/2026 10:05:03 AM",
                             "Corvane Version:4.1 running on HOSTX",
                             "LastSuccessfulRun:01/01/1990 11:25:31 AM",
                             "StartTime:06-15-2007 14:05:07",
                             "NoScheduletype",
                         }));
  EXPECT_EQ(h.runs, 0);

  Harness c;
  Start(c, kContinuous, "-log");
  c.control.Set("LastSuccessfulRun", "12-6-2026 9:0:0 AM");
  c.control.Set("StartTime", "garbage");
  c.timer.Fire();
  auto e = c.Entries();
  EXPECT_EQ(std::vector<std::string>(e.end() - 3, e.end()),
            (std::vector<std::string>{"LastSuccessfulRun:12-6-2026 9:0:0 AM", "StartTime:garbage",
                                      "Continous Schedule: 12/7/2026 10:05:03 AM"}));
}

TEST(Tick, EachKindLogsItsLineAfterTheDateLines) {
  const std::pair<int, const char*> kinds[] = {
      {0, "Daily Schedule"},      {1, "Weekly Schedule"}, {2, "Monthly Schedule"},
      {3, "One Time Schedule"},   {4, "On Startup Schedule"}, {5, "Never"},
      {6, "Continous Schedule: 12/7/2026 10:05:03 AM"}, {9, "NoScheduletype"}};
  for (auto [kind, line] : kinds) {
    Harness h;
    Start(h, kind, "-log");
    h.timer.Fire();
    auto e = h.Entries();
    ASSERT_GE(e.size(), 5u) << kind;
    EXPECT_EQ(e[2], "LastSuccessfulRun:01/01/1990 11:25:31 AM") << kind;
    EXPECT_EQ(e[3], "StartTime:01-01-2000 00:00:00") << kind;
    EXPECT_EQ(e[4], line) << kind;
  }
}

TEST(Tick, NeverAndUnknownKindsStartNothing) {
  for (int kind : {5, 7, 8}) {
    Harness h;
    Start(h, kind, "-log");
    h.timer.Fire();
    EXPECT_EQ(h.runs, 0) << kind;
    EXPECT_EQ(h.Entries().back() == "Never", kind == 5) << kind;
  }
}

TEST(Tick, DailyUsesTheLastSuccessfulRun) {
  Harness h;
  Start(h, kDaily, "-log");
  h.control.Set("ScheduleDay", "0");
  h.clock.Set(LocalTime(2026, 12, 7, 9, 59));
  h.control.Set("LastSuccessfulRun", parameters::FormatStoredDateTime({2026, 12, 6, 10, 30, 0}));
  h.runBody = [&](ServiceMain& m, bool&) {
    m.SaveSetting("LastSuccessfulRun", parameters::FormatStoredDateTime(parameters::ToDateTime(m.clock.Now())));
  };
  h.timer.Fire();
  EXPECT_EQ(h.runs, 0);
  h.clock.Set(LocalTime(2026, 12, 7, 10, 0));
  h.timer.Fire();
  EXPECT_EQ(h.runs, 1);
  h.timer.Fire();  // the run stored its time: not due again today
  EXPECT_EQ(h.runs, 1);
}

TEST(Tick, OneTimeRunsOnceAndClearsTheSwitch) {
  Harness h;
  Start(h, kOneTime, "-log");
  h.control.Set("OneTime", "1");
  h.control.Set("StartTime", "12-8-2026 0:0:0 AM");
  h.timer.Fire();
  h.timer.Fire();
  EXPECT_EQ(h.runs, 0);
  EXPECT_EQ(h.Entries().back(), "NOT: onetime = 1 And DateDiff('s', startDT, Now()) >= 0");
  EXPECT_EQ(h.control.GetSetting("Parameters", "OneTime", ""), "1");

  h.clock.Set(LocalTime(2026, 12, 8, 0, 0, 0));
  bool switchDuringRun = false;
  h.runBody = [&](ServiceMain& m, bool&) { switchDuringRun = m.GetSetting("OneTime", "") == "1"; };
  h.timer.Fire();
  EXPECT_EQ(h.runs, 1);
  EXPECT_TRUE(switchDuringRun) << "the switch is cleared after the run returns";
  EXPECT_EQ(h.control.GetSetting("Parameters", "OneTime", ""), "0");
  h.timer.Fire();
  EXPECT_EQ(h.runs, 1);
  EXPECT_EQ(h.Entries().back(), "NOT: onetime = 1 And DateDiff('s', startDT, Now()) >= 0");
}

TEST(Tick, OnStartupRunsOncePerProcess) {
  Harness h;
  Start(h, kOnStartup, "-log");
  h.control.Set("StartTime", "12-7-2026 11:0:0 AM");
  h.timer.Fire();
  EXPECT_EQ(h.runs, 0);  // before the start moment
  h.clock.Set(LocalTime(2026, 12, 7, 11, 0));
  h.timer.Fire();
  h.timer.Fire();
  EXPECT_EQ(h.runs, 1);
  EXPECT_TRUE(h.w.run.StartupRunDone);
}

TEST(Tick, MonthlyStartsOneRunPerMatchingEntry) {
  Harness h;
  Start(h, kMonthly, "-log");
  h.control.Set("StartTime", "3-1-2026 0:0:0 AM");
  h.control.Set("ScheduleMonth", "0");
  h.control.Set("MonthDay", "7");
  h.control.Set("Months", "12,12");
  h.timer.Fire();
  EXPECT_EQ(h.runs, 2);
}

TEST(Tick, RunEndingTheProcessIsCaught) {
  Harness h;
  Start(h, kContinuous, "-log");
  h.runBody = [](ServiceMain&, bool&) { throw EndServiceProcess{"GAL count is 0", 3}; };
  h.timer.Fire();
  EXPECT_EQ(h.exits, std::vector<int>{3});
  EXPECT_EQ(h.host.exitCode(), 3);
  EXPECT_FALSE(h.timer.Enabled());
  h.timer.Fire();  // a tick already queued does nothing more
  EXPECT_EQ(h.runs, 1);
}

TEST(Tick, AnUnreadableSettingSkipsTheCheckOnly) {
  Harness h;
  Start(h, kContinuous, "-log");
  h.runBody = [](ServiceMain& m, bool&) {
    m.run.isrunning = true;
    m.run.RunInProgress = true;
    throw std::runtime_error("hive.reg:3: bad line");
  };
  h.timer.Fire();
  EXPECT_EQ(h.Entries().back(), "Schedule check failed: hive.reg:3: bad line");
  EXPECT_FALSE(h.w.run.isrunning);
  EXPECT_FALSE(h.w.run.RunInProgress);
  EXPECT_TRUE(h.exits.empty());
}

TEST(Tick, StopRequestEndsARunAtItsNextYield) {
  Harness h;
  Start(h, kContinuous, "-log");
  int rowsDone = 0;
  h.w.DoEvents = h.host.GuardedDoEvents([&] {
    if (rowsDone == 2) h.host.OnStop();  // the stop request arrives among the pending messages
  });
  h.runBody = [&](ServiceMain& m, bool&) {
    for (int row = 0; row < 5; ++row) {
      m.DoEvents();
      ++rowsDone;
    }
  };
  h.timer.Fire();
  EXPECT_EQ(rowsDone, 2);
  EXPECT_EQ(h.exits, std::vector<int>{0});
}

TEST(Handlers, StartCorrectsTheIntervalAndSavesIt) {
  const std::pair<int, int> cases[] = {{10000, 10000}, {1000, 1000}, {100000, 100000},
                                       {999, 60000},   {100001, 60000}, {0, 60000}};
  for (auto [interval, expected] : cases) {
    Harness h;
    h.timer.SetInterval(interval);
    bool success = false;
    h.host.OnStart(success);
    EXPECT_TRUE(success);
    EXPECT_EQ(h.timer.Interval(), expected) << interval;
    EXPECT_EQ(h.control.GetSetting("Parameters", "TimerInterval", ""), std::to_string(expected));
    EXPECT_TRUE(h.timer.Enabled());
    EXPECT_EQ(h.control.events(), (std::vector<RecordedEvent>{{4, 110, kStartedEvent}}));
  }
}

TEST(Handlers, StartupRunsTheStartHandler) {
  Harness h;
  Start(h, kNever);
  EXPECT_EQ(h.control.GetSetting("Parameters", "TimerInterval", ""), "10000");
  EXPECT_EQ(h.control.events(), (std::vector<RecordedEvent>{{4, 110, kStartedEvent}}));
  EXPECT_TRUE(h.timer.Enabled());
  // Requests arriving through the service control reach the handlers.
  bool success = false;
  h.control.OnStart(success);
  EXPECT_TRUE(success);
  EXPECT_EQ(h.control.events().size(), 2u);
  h.control.OnStop();
  EXPECT_TRUE(h.w.run.StopRequested);
}

TEST(Handlers, NoExtraEventsSilencesOnlyTheStartEvent) {
  Harness h;
  h.control.Set("NoExtraEvents", "1");
  Start(h, kNever);
  EXPECT_TRUE(h.control.events().empty());
  bool success = false;
  h.control.OnPause(success);
  EXPECT_TRUE(success);
  success = false;
  h.control.OnContinue(success);
  EXPECT_TRUE(success);
  EXPECT_EQ(h.control.events(),
            (std::vector<RecordedEvent>{{1, 109, "Service paused"}, {4, 110, "Service continued"}}));
}

TEST(Handlers, PausedServiceStillRunsWhatIsDue) {
  Harness h;
  Start(h, kContinuous, "-log");
  bool success = false;
  h.host.OnPause(success);
  EXPECT_TRUE(h.timer.Enabled());
  h.timer.Fire();
  EXPECT_EQ(h.runs, 1);
}

}  // namespace
}  // namespace corvane::service::testing
