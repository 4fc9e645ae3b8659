// Start-up: the order of the settings checks, the command-line table, the
// install values, DOS mode and the log file.
#include <gtest/gtest.h>

#include "tests/host/host_harness.h"

namespace corvane::service::testing {
namespace {

using ntservice::RecordedEvent;

TEST(CommandLine, OnlyTheExactOptionWordsAreAccepted) {
  for (const char* bad : {"-LOG", "-log ", " -log", "-Install", "-install now", "-dlog -log", "log", "/debug"}) {
    Harness h;
    EXPECT_EQ(h.host.Startup(h.Options(bad)), kExitUsage) << bad;
    EXPECT_EQ(h.control.messages(), std::vector<std::string>{kInvalidOption}) << bad;
    EXPECT_EQ(h.control.startServiceCalls(), 0);
    EXPECT_FALSE(h.timer.Enabled());
  }
  for (const char* good : {"", "-debug", "-log", "-dlog"}) {
    Harness h;
    EXPECT_EQ(h.host.Startup(h.Options(good)), std::nullopt) << good;
    EXPECT_TRUE(h.control.messages().empty());
    EXPECT_EQ(h.control.startServiceCalls(), 1);
    EXPECT_EQ(h.control.controlsAccepted(), 4);
    EXPECT_TRUE(h.timer.Enabled());
  }
}

TEST(CommandLine, ArgumentsAreJoinedIntoOneString) {
  char prog[] = "CorvaneService", a[] = "-log", b[] = "x", spaced[] = "-log ";
  char* one[] = {prog, a};
  char* two[] = {prog, a, b};
  char* quoted[] = {prog, spaced};
  EXPECT_EQ(CommandLine(1, one), "");
  EXPECT_EQ(CommandLine(2, one), "-log");
  EXPECT_EQ(CommandLine(3, two), "-log x");
  EXPECT_EQ(CommandLine(2, quoted), "-log ");
}

TEST(Startup, ConnectionStringIsCheckedBeforeTheCommandLine) {
  for (const char* option : {"", "-install", "-uninstall", "-log", "-LOG"}) {
    Harness h;
    h.control.Remove("ConnectionString");
    EXPECT_EQ(h.host.Startup(h.Options(option)), kExitNotConfigured) << option;
    EXPECT_EQ(h.control.events(), (std::vector<RecordedEvent>{{4, 110, kNoConnectString}}));
    EXPECT_EQ(h.control.installCalls() + h.control.uninstallCalls(), 0);
    EXPECT_TRUE(h.control.messages().empty());  // not even the invalid-option box
    EXPECT_FALSE(h.timer.Enabled());
  }
  Harness empty;
  empty.control.Set("connectionstring", "");
  EXPECT_EQ(empty.host.Startup(empty.Options("-install")), kExitNotConfigured);
  EXPECT_EQ(empty.control.installCalls(), 0);
}

TEST(Startup, InstallStoresItsThreeValuesAndEnds) {
  Harness h;
  h.control.Set("ConnectionString", "DSN=corvane;UID=gal");
  EXPECT_EQ(h.host.Startup(h.Options("-install")), 0);
  EXPECT_TRUE(h.control.interactive());
  EXPECT_EQ(h.control.installCalls(), 1);
  EXPECT_EQ(h.control.GetSetting("Parameters", "TimerInterval", ""), "1000");
  EXPECT_EQ(h.control.GetSetting("Parameters", "MailProfile", ""), "Microsoft Outlook");
  EXPECT_EQ(h.control.GetSetting("Parameters", "ConnectionString", ""), "DSN=corvane;UID=gal");
  EXPECT_TRUE(h.control.messages().empty());
  EXPECT_EQ(h.control.startServiceCalls(), 0);
  EXPECT_FALSE(h.timer.Enabled());
}

TEST(Startup, InstallAndUninstallFailuresShowTheirMessage) {
  // The box keeps its fixed text even when the control knows why it failed.
  Harness install;
  install.control.installResult = false;
  install.control.lastError = "cannot write /etc/systemd/system/x.service";
  EXPECT_EQ(install.host.Startup(install.Options("-install")), kExitFailure);
  EXPECT_EQ(install.control.messages(), std::vector<std::string>{"Tarnwick Corvane Service failed to install"});
  EXPECT_FALSE(install.control.Has("TimerInterval"));
  EXPECT_FALSE(install.control.Has("MailProfile"));

  Harness uninstall;
  uninstall.control.uninstallResult = false;
  uninstall.control.lastError = "Corvane Service is not installed";
  EXPECT_EQ(uninstall.host.Startup(uninstall.Options("-uninstall")), kExitFailure);
  EXPECT_EQ(uninstall.control.messages(), std::vector<std::string>{"Tarnwick Corvane Service failed to uninstall"});

  Harness ok;
  EXPECT_EQ(ok.host.Startup(ok.Options("-uninstall")), 0);
  EXPECT_EQ(ok.control.uninstallCalls(), 1);
  EXPECT_TRUE(ok.control.messages().empty());
}

TEST(Startup, ReadsTheStartupValues) {
  Harness h;
  h.control.Set("ToDoCount", "25");
  h.control.Set("NoExtraEvents", "1");
  h.control.Set("NoParse", "1");
  h.control.Set("NoSMTP", "x");  // not a number: skipped, stays 0
  h.control.Set("TableName", "MY_GAL");
  h.control.Set("ScheduleType", "6");
  h.control.Set("DistList", "True");
  h.control.Set("DistListFile", "/tmp/dl.csv");
  ASSERT_EQ(h.host.Startup(h.Options("")), std::nullopt);
  EXPECT_EQ(h.w.ToDoCount, 25);
  EXPECT_EQ(h.w.NoExtraEvents, 1);
  EXPECT_EQ(h.w.NoParse, 1);
  EXPECT_EQ(h.w.NoSMTP, 0);
  EXPECT_EQ(h.w.TableName, "MY_GAL");
  EXPECT_EQ(h.w.TempTableName, "TEMP_GAL");
  EXPECT_EQ(h.w.ScheduleType, 6);
  EXPECT_TRUE(h.w.DistList);
  EXPECT_EQ(h.w.DistListFile, "/tmp/dl.csv");
  EXPECT_EQ(h.Entries(), std::vector<std::string>{"Corvane Version:4.1 running on HOSTX"});

  Harness defaults;
  defaults.control.Set("DistListFile", "/tmp/dl.csv");  // read only with DistList on
  ASSERT_EQ(defaults.host.Startup(defaults.Options("")), std::nullopt);
  EXPECT_EQ(defaults.w.ScheduleType, 9);
  EXPECT_FALSE(defaults.w.DistList);
  EXPECT_EQ(defaults.w.DistListFile, "");
  EXPECT_FALSE(defaults.w.DOS);
}

TEST(Startup, DosModeForcesTheTableNames) {
  for (const char* dos : {"True", "1", "true"}) {
    Harness h;
    h.control.Set("DOS", dos);
    h.control.Set("TableName", "MY_GAL");
    h.control.Set("TempTableName", "MY_TEMP");
    ASSERT_EQ(h.host.Startup(h.Options("")), std::nullopt);
    EXPECT_TRUE(h.w.DOS) << dos;
    EXPECT_EQ(h.w.TableName, "small_gal");
    EXPECT_EQ(h.w.TempTableName, "temp_small_gal");
  }
  Harness off;
  off.control.Set("DOS", "False");
  off.control.Set("TableName", "MY_GAL");
  ASSERT_EQ(off.host.Startup(off.Options("")), std::nullopt);
  EXPECT_EQ(off.w.TableName, "MY_GAL");
}

TEST(Startup, DebugAndLoggingOptions) {
  Harness debug;
  ASSERT_EQ(debug.host.Startup(debug.Options("-debug")), std::nullopt);
  EXPECT_TRUE(debug.w.DebugMode);
  EXPECT_TRUE(debug.control.debug());
  EXPECT_FALSE(debug.w.FileLogging);

  Harness dlog;
  std::filesystem::create_directories(dlog.home.path() / "bin");
  ASSERT_EQ(dlog.host.Startup(dlog.Options("-dlog")), std::nullopt);
  EXPECT_TRUE(dlog.control.debug());
  EXPECT_FALSE(dlog.w.DebugMode);
  EXPECT_TRUE(dlog.w.FileLogging);
  EXPECT_EQ(dlog.host.logFilePath(), dlog.home.path() / "bin" / "corvane.log");
  EXPECT_EQ(dlog.Entries().front(),
            "-dlog command line parameter used.  Starting to log events.12/7/2026 10:05:03 AM");

  Harness log;
  std::filesystem::create_directories(log.home.path() / "bin");
  ASSERT_EQ(log.host.Startup(log.Options("-log")), std::nullopt);
  EXPECT_FALSE(log.control.debug());
  EXPECT_TRUE(log.w.FileLogging);
  EXPECT_EQ(ReadFile(log.home.path() / "bin" / "corvane.log"),
            "10:05 -log command line parameter used.  Starting to log events.12/7/2026 10:05:03 AM\r\n\r\n"
            "10:05 Corvane Version:4.1 running on HOSTX\r\n\r\n");
  log.host.Unload();
  EXPECT_FALSE(log.w.FileLogging);
  EXPECT_FALSE(log.runLog.FileOpen());
}

TEST(Startup, LogFileGoesToTheHomeWhenTheProgramFolderCannotBeWritten) {
  Harness h;  // the program folder <home>/bin does not exist
  ASSERT_EQ(h.host.Startup(h.Options("-log")), std::nullopt);
  EXPECT_EQ(h.host.logFilePath(), h.home.path() / "corvane.log");
  EXPECT_NE(ReadFile(h.home.path() / "corvane.log").find("running on HOSTX"), std::string::npos);
}

TEST(Startup, LogFileIsReplacedAtEachStart) {
  Harness h;
  std::filesystem::create_directories(h.home.path() / "bin");
  std::ofstream(h.home.path() / "bin" / "corvane.log") << "old run\n";
  ASSERT_EQ(h.host.Startup(h.Options("-log")), std::nullopt);
  EXPECT_EQ(ReadFile(h.home.path() / "bin" / "corvane.log").find("old run"), std::string::npos);
}

}  // namespace
}  // namespace corvane::service::testing
