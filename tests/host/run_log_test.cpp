// The run log: the file oldest first with an empty line after each entry,
// and every entry to its listeners.
#include "service/core/run_log.h"

#include <gtest/gtest.h>

#include "tests/host/host_harness.h"

namespace corvane::service::testing {
namespace {

TEST(RunLog, FileHasOldestFirstAndAnEmptyLineAfterEachEntry) {
  TempDir dir;
  FixedClock clock(LocalTime(2026, 12, 7, 8, 1));
  RunLog log(clock);
  log.WriteLog("before the file");
  ASSERT_TRUE(log.OpenFile(dir.path() / "corvane.log"));
  log.WriteLog("one");
  clock.Advance(3600);
  log.WriteLog("two");
  EXPECT_EQ(ReadFile(dir.path() / "corvane.log"), "08:01 one\r\n\r\n09:01 two\r\n\r\n");  // complete while open
  log.CloseFile();
  log.WriteLog("after");
  EXPECT_EQ(ReadFile(dir.path() / "corvane.log"), "08:01 one\r\n\r\n09:01 two\r\n\r\n");
  EXPECT_FALSE(log.OpenFile(dir.path() / "missing" / "corvane.log"));
  std::string seen;
  log.OnEntry = [&](const std::string& entry, LogPriority) { seen = entry; };
  log.WriteLog("still fine");  // never fails
  EXPECT_EQ(seen, "09:01 still fine");
}

TEST(RunLog, EveryEntryReachesOnEntryAndWarningsAndErrorsTheAlertSink) {
  FixedClock clock(LocalTime(2026, 12, 7, 8, 1));
  RunLog log(clock);
  std::vector<std::string> seen, alerts;
  log.OnEntry = [&](const std::string& entry, LogPriority) { seen.push_back(entry); };
  log.OnAlert = [&](LogPriority p, const std::string& message) {
    alerts.push_back(std::to_string(static_cast<int>(p)) + " " + message);
  };
  log.WriteLog("x");
  log.WriteLog("Error: -1 - refused", LogPriority::Error);
  log.WriteLog("No records in temp!", LogPriority::Warning);
  log.Alert(LogPriority::Error, "the process ends");
  EXPECT_EQ(seen, (std::vector<std::string>{"08:01 x", "08:01 Error: -1 - refused", "08:01 No records in temp!"}));
  EXPECT_EQ(alerts, (std::vector<std::string>{"3 Error: -1 - refused", "4 No records in temp!", "3 the process ends"}));
  EXPECT_EQ(seen.size(), 3u);  // the alert is not an entry
}

}  // namespace
}  // namespace corvane::service::testing
