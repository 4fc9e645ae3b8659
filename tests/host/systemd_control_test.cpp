// The systemd service control: settings in the hive, the events file, and
// the unit file written by install.
#include "platform/ntservice/systemd_service_control.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "platform/logfile/log_file.h"
#include "platform/ntservice/event_file.h"
#include "platform/ntservice/standard_error.h"
#include "platform/ntservice/unit_file.h"
#include "tests/host/host_harness.h"

namespace corvane::ntservice {
namespace {

using service::testing::ReadFile;
using service::testing::TempDir;
using service::testing::TempHome;

struct Control {
  TempHome home;
  TempDir units;
  SystemdServiceControl control{Settings()};
  SystemdSettings Settings() const {
    SystemdSettings s;
    s.home = home.path();
    s.unitDir = units.path();
    s.program = "/opt/corvane/bin/CorvaneService";
    return s;
  }
};

TEST(SystemdControl, SettingsLiveInTheParametersKey) {
  Control c;
  registry::Hive hive = registry::Hive::Machine();
  EXPECT_EQ(hive.file(), c.home.path() / "registry.hive");
  EXPECT_EQ(c.control.GetSetting("Parameters", "connectionstring", "none"), "none");
  hive.Set(registry::kParametersKeyPath, "ConnectionString", registry::Value::ExpandSz("DSN=a"));
  EXPECT_EQ(c.control.GetSetting("Parameters", "connectionstring", ""), "DSN=a");
  // A save keeps an existing value's string type and creates new ones as REG_SZ.
  c.control.SaveSetting("Parameters", "CONNECTIONSTRING", "DSN=b");
  c.control.SaveSetting("Parameters", "TimerInterval", "10000");
  EXPECT_EQ(hive.Get(registry::kParametersKeyPath, "ConnectionString"), registry::Value::ExpandSz("DSN=b"));
  EXPECT_EQ(hive.Get(registry::kParametersKeyPath, "timerinterval"), registry::Value::Sz("10000"));
  hive.Set(registry::kParametersKeyPath, "Count", registry::Value::Number(7));
  EXPECT_EQ(c.control.GetSetting("Parameters", "Count", ""), "7");
  c.control.SaveSetting("Parameters", "Count", "8");
  EXPECT_EQ(hive.Get(registry::kParametersKeyPath, "Count"), registry::Value::Sz("8"));
}

TEST(SystemdControl, DamagedHiveIsAnErrorNotAnEmptyStore) {
  Control c;
  std::ofstream(c.home.path() / "registry.hive") << "[SYSTEM\\x]\nnot a value line\n";
  EXPECT_THROW(c.control.GetSetting("Parameters", "connectionstring", ""), registry::RegistryError);
}

TEST(SystemdControl, EventsAreOneLineEach) {
  Control c;
  EXPECT_TRUE(c.control.LogEvent(4, 110, "Service Started. "));
  EXPECT_TRUE(c.control.LogEvent(1, 109, "line one\r\nline two \\ end"));
  std::string text = ReadFile(c.home.path() / "events.log");
  ASSERT_EQ(std::count(text.begin(), text.end(), '\n'), 2);
  std::istringstream lines(text);
  std::string first, second;
  std::getline(lines, first);
  std::getline(lines, second);
  EXPECT_EQ(first.substr(19), "\t4\t110\tService Started. ");
  EXPECT_EQ(second.substr(19), "\t1\t109\tline one\\r\\nline two \\\\ end");
  EXPECT_EQ(EventLine(service::testing::LocalTime(2026, 12, 7, 9, 5, 3), 4, 110, "x"),
            "2026-12-07 09:05:03\t4\t110\tx\n");
  // A full events file is kept as events.log.1 and a new one begins.
  std::filesystem::resize_file(c.home.path() / "events.log", logfile::kLogRotateBytes);
  EXPECT_TRUE(c.control.LogEvent(4, 110, "next"));
  EXPECT_EQ(ReadFile(c.home.path() / "events.log").substr(19), "\t4\t110\tnext\n");
  EXPECT_TRUE(std::filesystem::exists(c.home.path() / "events.log.1"));
}

TEST(SystemdControl, MessageBoxWithoutTerminalBecomesAnEvent) {
  if (::isatty(STDERR_FILENO)) GTEST_SKIP() << "standard error is a terminal";
  Control c;
  c.control.MsgBox("Tarnwick Corvane Service failed to install", "title");
  EXPECT_NE(ReadFile(c.home.path() / "events.log").find("\t1\t109\tTarnwick Corvane Service failed to install\n"),
            std::string::npos);
}

// Priority prefixes only where standard error is the journal's stream.
TEST(StandardError, JournalLinesCarryTheirPriorityAndOtherStreamsPlainText) {
  EXPECT_EQ(PrioritizedLines(3, "Error: refused", true), "<3>Error: refused\n");
  EXPECT_EQ(PrioritizedLines(4, "one\r  two\r\nthree", true), "<4>one\n<4>  two\n<4>three\n");
  EXPECT_EQ(PrioritizedLines(3, "one\rtwo", false), "one\ntwo\n");
  struct stat st {};
  ASSERT_EQ(::fstat(STDERR_FILENO, &st), 0);
  const std::string mine = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
  for (const auto& [stream, journal] : {std::pair{mine, true}, {"1:2", false}, {"", false}}) {
    ::setenv("JOURNAL_STREAM", stream.c_str(), 1);
    EXPECT_EQ(IsJournalStream(STDERR_FILENO), journal) << stream;
  }
  ::unsetenv("JOURNAL_STREAM");
}

TEST(SystemdControl, UnitNameIsSystemdEscaped) {
  EXPECT_EQ(SystemdEscape("Corvane Service"), "Corvane\\x20Service");
  EXPECT_EQ(SystemdEscape(".a-b/c_d:e"), "\\x2ea\\x2db-c_d:e");
  EXPECT_EQ(UnitFileName("Corvane Service"), "Corvane\\x20Service.service");
}

TEST(SystemdControl, InstallWritesAndUninstallRemovesTheUnit) {
  Control c;
  ASSERT_TRUE(c.control.Install()) << c.control.LastError();
  const auto unit = c.units.path() / "Corvane\\x20Service.service";
  EXPECT_EQ(c.control.UnitFile(), unit);
  EXPECT_NE(c.control.LastReport().find("Installed Tarnwick Corvane Service as " + unit.string()), std::string::npos)
      << c.control.LastReport();
  const std::string text = ReadFile(unit);
  EXPECT_NE(text.find("Description=Tarnwick Corvane Service\n"), std::string::npos);
  EXPECT_NE(text.find("ExecStart=\"/opt/corvane/bin/CorvaneService\"\n"), std::string::npos);
  EXPECT_NE(text.find("Environment=\"CORVANE_HOME=" + c.home.path().string() + "\"\n"), std::string::npos);
  EXPECT_NE(text.find("WorkingDirectory=" + c.home.path().string() + "\n"), std::string::npos);
  EXPECT_NE(text.find("Restart=on-failure\n"), std::string::npos);
  EXPECT_NE(text.find("RestartSec=300\n"), std::string::npos);
  EXPECT_NE(text.find("RestartPreventExitStatus=78 69\n"), std::string::npos);
  EXPECT_NE(text.find("StartLimitBurst=5\n"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(unit.string() + ".tmp"));
  EXPECT_TRUE(registry::Hive::Machine().KeyExists(registry::kParametersKeyPath));

  const auto wants = c.units.path() / "multi-user.target.wants";
  std::filesystem::create_directories(wants);
  std::filesystem::create_symlink(unit, wants / unit.filename());  // as `systemctl enable` leaves it
  std::ofstream(wants / "other.service") << "";
  EXPECT_TRUE(c.control.Uninstall());
  EXPECT_FALSE(std::filesystem::exists(unit));
  EXPECT_FALSE(std::filesystem::is_symlink(wants / unit.filename()));
  EXPECT_TRUE(std::filesystem::exists(wants / "other.service"));
  EXPECT_FALSE(c.control.Uninstall());
  EXPECT_NE(c.control.LastError().find("not installed"), std::string::npos);
}

// The hardening keeps the service able to start wherever its home and
// program lie.
TEST(SystemdControl, TheUnitIsHardenedAroundItsHome) {
  const struct {
    UnitSettings settings;
    std::vector<std::string> present, absent;
  } cases[] = {
      {{"D", "/usr/lib/corvane/CorvaneService", "/var/lib/corvane", "corvane"},
       {"User=corvane\n", "NoNewPrivileges=yes\n", "UMask=0077\n", "ProtectSystem=strict\n", "ReadWritePaths=\"/var/lib/corvane\"\n",
        "PrivateTmp=yes\n", "ProtectHome=yes\n"},
       {}},
      {{"D", "/home/ann/build/bin/CorvaneService", "/var/lib/corvane", ""},
       {"ProtectHome=read-only\n", "PrivateTmp=yes\n"},
       {"User="}},
      {{"D", "/opt/corvane/CorvaneService", "/tmp/home", ""}, {"ProtectHome=yes\n"}, {"PrivateTmp"}},
  };
  for (const auto& c : cases) {
    const std::string text = UnitFileText(c.settings);
    for (const auto& line : c.present) EXPECT_NE(text.find(line), std::string::npos) << line << text;
    for (const auto& line : c.absent) EXPECT_EQ(text.find(line), std::string::npos) << line << text;
  }
}

TEST(SystemdControl, InstallingAnInstalledServiceFailsAndChangesNothing) {
  Control c;
  ASSERT_TRUE(c.control.Install()) << c.control.LastError();
  std::ofstream(c.control.UnitFile(), std::ios::app) << "# the administrator's own line\n";
  const std::string before = ReadFile(c.control.UnitFile());
  EXPECT_FALSE(c.control.Install());
  EXPECT_NE(c.control.LastError().find("already installed"), std::string::npos) << c.control.LastError();
  EXPECT_EQ(ReadFile(c.control.UnitFile()), before);
}

// The unit as systemd reads it: no warning, no error.
TEST(SystemdControl, TheUnitPassesSystemdAnalyzeVerify) {
  if (::access("/usr/bin/systemd-analyze", X_OK) != 0) {
    const char* ci = std::getenv("CI");
    if (ci != nullptr && std::string(ci) == "true") FAIL() << "systemd-analyze is not installed";
    GTEST_SKIP() << "systemd-analyze is not installed";
  }
  Control c;
  SystemdSettings s = c.Settings();
  s.program = std::filesystem::read_symlink("/proc/self/exe");  // ExecStart must name an executable
  SystemdServiceControl control(s);
  ASSERT_TRUE(control.Install()) << control.LastError();
  const std::string command = "/usr/bin/systemd-analyze verify --man=no '" + control.UnitFile().string() + "' 2>&1";
  FILE* p = ::popen(command.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string output;
  char buffer[512];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;) output.append(buffer, n);
  EXPECT_EQ(::pclose(p), 0) << output;
  EXPECT_EQ(output, "");
}

TEST(SystemdControl, InstallIntoAMissingUnitDirectoryFails) {
  Control c;
  SystemdSettings s = c.Settings();
  s.unitDir = c.units.path() / "no" / "such" / "dir";
  SystemdServiceControl control(s);
  EXPECT_FALSE(control.Install());
  EXPECT_NE(control.LastError().find("no/such/dir"), std::string::npos);
}

}  // namespace
}  // namespace corvane::ntservice
