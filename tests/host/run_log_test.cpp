// The run log: txtlog newest first and trimmed, the file oldest first with
// an empty line after each entry.
#include "service/host/run_log.h"

#include <gtest/gtest.h>

#include "tests/host/host_harness.h"

namespace corvane::service::testing {
namespace {

TEST(RunLog, TxtlogIsNewestFirstWithHourMinute) {
  FixedClock clock(LocalTime(2026, 12, 7, 9, 5, 59));
  RunLog log(clock);
  log.WriteLog("first");
  clock.Set(LocalTime(2026, 12, 7, 14, 0));
  log.WriteLog("second");
  EXPECT_EQ(log.txtlog(), "14:00 second\r\n09:05 first\r\n");
}

TEST(RunLog, MoreThan60000CharactersAreCutTo30000BeforeTheNewEntry) {
  FixedClock clock(LocalTime(2026, 12, 7, 14, 5));
  RunLog log(clock);
  std::string text(30000, 'n');
  text += std::string(30001, 'o');
  log.set_txtlog(text);
  log.WriteLog("new");
  EXPECT_EQ(log.txtlog(), "14:05 new\r\n" + std::string(30000, 'n'));

  log.set_txtlog(std::string(60000, 'x'));  // exactly 60000: kept
  log.WriteLog("new");
  EXPECT_EQ(log.txtlog().size(), 60000u + 11);
}

TEST(RunLog, TrimmingCountsCharactersNotBytes) {
  FixedClock clock(LocalTime(2026, 12, 7, 14, 5));
  RunLog log(clock);
  std::string text;
  for (int i = 0; i < 40000; ++i) text += "\xC3\xA9";  // 40000 characters, 80000 bytes: kept
  log.set_txtlog(text);
  log.WriteLog("a");
  EXPECT_EQ(log.txtlog().size(), 80000u + 9);
  text.clear();
  for (int i = 0; i < 60001; ++i) text += "\xC3\xA9";
  log.set_txtlog(text);
  log.WriteLog("a");
  EXPECT_EQ(log.txtlog(), "14:05 a\r\n" + text.substr(0, 60000));  // 30000 whole characters
}

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
  log.WriteLog("still fine");  // never fails
  EXPECT_EQ(log.txtlog().substr(0, 16), "09:01 still fine");
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
  EXPECT_EQ(log.txtlog().find("the process ends"), std::string::npos);  // not an entry
}

}  // namespace
}  // namespace corvane::service::testing
