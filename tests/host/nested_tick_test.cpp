// Re-entry on the real event loop: a run that yields to pending messages
// meets the next tick while it is still running.
#include <QElapsedTimer>
#include <gtest/gtest.h>

#include "platform/ntservice/event_loop.h"
#include "tests/host/host_harness.h"

namespace corvane::service::testing {
namespace {

ntservice::EventLoop& Loop() {
  static int argc = 1;
  static char name[] = "nested_tick_test";
  static char* argv[] = {name, nullptr};
  static ntservice::EventLoop loop(argc, argv);
  return loop;
}

// Drives the loop until `done` or five seconds have passed.
template <typename F>
bool PumpUntil(F done) {
  QElapsedTimer elapsed;
  elapsed.start();
  auto pump = Loop().ProcessPendingOnce();
  while (!done() && elapsed.elapsed() < 5000) pump();
  return done();
}

struct NestedHarness {
  TempHome home;
  SystemClock clock;
  RunLog runLog{clock};
  ntservice::FakeServiceControl control;
  std::unique_ptr<ntservice::Timer> timer = Loop().CreateTimer(10);
  ServiceMain w{runLog, control, clock, Loop().ProcessPendingOnce()};
  int calls = 0;         // calls of the run
  int turnedAway = 0;    // calls that found another run active
  int ticksDuringRun = 0;
  int maxDepth = 0;
  int depth = 0;
  // A run shaped like the update run: guards, then one yield per row
  // until a nested tick has been seen.
  ServiceHost host{w, *timer, [this](ServiceMain& m, bool& result) {
                     ++calls;
                     if (m.run.isrunning) {
                       ++turnedAway;
                       result = true;
                       return;
                     }
                     m.run.isrunning = true;
                     m.run.RunInProgress = true;
                     ++depth;
                     maxDepth = std::max(maxDepth, depth);
                     QElapsedTimer elapsed;
                     elapsed.start();
                     const int seenBefore = ticksSeen;
                     while (ticksSeen < seenBefore + 2 && elapsed.elapsed() < 5000) m.DoEvents();
                     --depth;
                     m.run.RunInProgress = false;
                     m.run.isrunning = false;
                     timer->SetEnabled(false);  // one full run per test
                     done = true;
                   }};
  int ticksSeen = 0;
  bool done = false;

  NestedHarness() {
    control.Set("ConnectionString", "DSN=x");
    auto tick = timer->OnTick;
    timer->OnTick = [this, tick] {
      ++ticksSeen;
      if (depth > 0) ++ticksDuringRun;
      tick();
    };
  }
};

TEST(NestedTick, ContinuousScheduleDoesNotCallTheRunWhileOneIsInProgress) {
  NestedHarness h;
  h.control.Set("ScheduleType", "6");
  ASSERT_EQ(h.host.Startup({"", h.home.path(), h.home.path(), "HOSTX"}), std::nullopt);
  h.timer->SetInterval(10);  // past the start handler, which keeps the built 10 seconds
  h.w.TickCount = 6;         // past the warm-up
  ASSERT_TRUE(PumpUntil([&] { return h.done; }));
  EXPECT_GE(h.ticksDuringRun, 2);
  EXPECT_EQ(h.calls, 1);
  EXPECT_EQ(h.turnedAway, 0);
  EXPECT_EQ(h.maxDepth, 1);
}

TEST(NestedTick, OtherSchedulesMeetTheRunsGuard) {
  NestedHarness h;
  h.control.Set("ScheduleType", "1");
  h.control.Set("ScheduleWeek", "0");
  h.control.Set("WeekDays", "1,2,3,4,5,6,7");
  ASSERT_EQ(h.host.Startup({"", h.home.path(), h.home.path(), "HOSTX"}), std::nullopt);
  h.timer->SetInterval(10);
  h.w.TickCount = 6;
  ASSERT_TRUE(PumpUntil([&] { return h.done; }));
  EXPECT_GE(h.ticksDuringRun, 2);
  EXPECT_GE(h.turnedAway, 2);
  EXPECT_EQ(h.calls, 1 + h.turnedAway);
  EXPECT_EQ(h.maxDepth, 1);
}

TEST(NestedTick, TimerIntervalAndEnabledFlag) {
  auto timer = Loop().CreateTimer(10000);
  EXPECT_EQ(timer->Interval(), 10000);
  EXPECT_FALSE(timer->Enabled());
  int ticks = 0;
  timer->OnTick = [&] {
    if (++ticks == 3) timer->SetEnabled(false);
  };
  timer->SetInterval(5);
  timer->SetEnabled(true);
  EXPECT_TRUE(PumpUntil([&] { return !timer->Enabled(); }));
  EXPECT_EQ(ticks, 3);
}

// The early first tick (what tests of the program use): it comes long
// before the interval, which stays as set.
TEST(NestedTick, FirstTickBroughtForward) {
  auto timer = Loop().CreateTimer(600000, 0);
  int ticks = 0;
  timer->OnTick = [&] { ++ticks; };
  timer->SetEnabled(true);
  EXPECT_TRUE(PumpUntil([&] { return ticks == 1; }));
  EXPECT_EQ(timer->Interval(), 600000);
  timer->SetEnabled(false);
}

}  // namespace
}  // namespace corvane::service::testing
