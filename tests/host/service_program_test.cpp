// CorvaneService as a process: command-line errors, install and uninstall,
// and a logging daemon that answers pause, continue and stop signals.
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include <gtest/gtest.h>

#include "platform/ado/ado.h"
#include "platform/registry/registry.h"
#include "tests/host/host_harness.h"

namespace corvane::service::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string BinDir() {
  const char* value = std::getenv("CORVANE_BIN_DIR");
  return value != nullptr && *value != '\0' ? value : CORVANE_DEFAULT_BIN_DIR;
}

// A copy of the program in its own folder, so its "corvane.log" lands
// there and parallel tests never share one.
struct Installation {
  TempDir dir;
  fs::path home = dir.path() / "home";
  fs::path bin = dir.path() / "bin";
  fs::path units = dir.path() / "units";
  fs::path program = bin / "CorvaneService";
  std::string notifySocket;  // $NOTIFY_SOCKET of the program; empty: none

  Installation() {
    fs::create_directories(bin);
    fs::create_directories(home);
    fs::create_directories(units);
    fs::copy_file(fs::path(BinDir()) / "CorvaneService", program);
    fs::permissions(program, fs::perms::owner_all);
  }

  registry::Hive Hive() const { return registry::Hive(home / "registry.hive"); }
  void Set(const std::string& name, const std::string& value) const {
    Hive().Set(registry::kParametersKeyPath, name, registry::Value::Sz(value));
  }
  std::string Get(const std::string& name) const {
    auto v = Hive().Get(registry::kParametersKeyPath, name);
    return v ? v->AsText() : "<missing>";
  }
  std::string Events() const { return ReadFile(home / "events.log"); }
  std::string Stderr() const { return ReadFile(dir.path() / "stderr.txt"); }

  // With `journal`, standard error is announced as the journal's stream,
  // as systemd does for a service.
  pid_t Start(std::vector<std::string> args, bool journal = false) const {
    pid_t pid = ::fork();
    if (pid == 0) {
      int err = ::open((dir.path() / "stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ::dup2(err, STDERR_FILENO);
      struct stat st {};
      if (journal && ::fstat(err, &st) == 0) {
        ::setenv("JOURNAL_STREAM", (std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino)).c_str(), 1);
      } else {
        ::unsetenv("JOURNAL_STREAM");
      }
      int out = ::open((dir.path() / "stdout.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ::dup2(out, STDOUT_FILENO);
      int null = ::open("/dev/null", O_RDONLY);
      ::dup2(null, STDIN_FILENO);
      ::setenv("CORVANE_HOME", home.c_str(), 1);
      ::setenv("CORVANE_UNIT_DIR", units.c_str(), 1);
      ::setenv("COMPUTERNAME", "TESTHOST", 1);
      if (notifySocket.empty())
        ::unsetenv("NOTIFY_SOCKET");
      else
        ::setenv("NOTIFY_SOCKET", notifySocket.c_str(), 1);
      // The first schedule check comes at once instead of after 10 seconds
      // (unless the environment names a delay: 10000 times the old way).
      ::setenv("CORVANE_TEST_FIRST_TICK_MS", "100", 0);
      // The working directory of the unit: the library writes its log there.
      if (::chdir(home.c_str()) != 0 && ::chdir(dir.path().c_str()) != 0) ::_exit(126);
      std::vector<char*> argv{const_cast<char*>(program.c_str())};
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(program.c_str(), argv.data());
      ::_exit(127);
    }
    return pid;
  }

  // Exit status, or -1 when it has not ended within the timeout (then it is killed).
  static int Wait(pid_t pid, std::chrono::milliseconds timeout = 20s) {
    auto until = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > until) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        return -1;
      }
      std::this_thread::sleep_for(20ms);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  int Run(std::vector<std::string> args) const { return Wait(Start(std::move(args))); }
};

template <typename F>
bool Eventually(F condition, std::chrono::milliseconds timeout = 20s) {
  auto until = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

std::string EnvOr(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : fallback;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Every program answers --help and --version on standard output with exit
// status 0, and touches nothing: neither the home nor the working directory.
TEST(ServiceProgram, EveryProgramAnswersHelpAndVersion) {
  TempDir dir;
  const fs::path home = dir.path() / "home";
  for (const char* program : {"CorvaneService", "corvane-run", "corvane-reg", "corvane-regsvr", "dsimport",
                              "corvane-gen-directory"}) {
    for (const std::string option : {"--help", "--version"}) {
      const std::string command = "cd '" + dir.path().string() + "' && CORVANE_HOME='" + home.string() + "' '" +
                                  (fs::path(BinDir()) / program).string() + "' " + option + " 2>stderr.txt";
      FILE* p = ::popen(command.c_str(), "r");
      ASSERT_NE(p, nullptr);
      std::string out;
      char buffer[4096];
      for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;) out.append(buffer, n);
      EXPECT_EQ(::pclose(p), 0) << program << " " << option;
      if (option == "--version") {
        EXPECT_EQ(out, std::string(program) + " (Corvane) 4.1\n");
      } else {
        EXPECT_TRUE(out.starts_with("usage: ") || out.starts_with("Usage:")) << program << ": " << out;
      }
      EXPECT_EQ(ReadFile(dir.path() / "stderr.txt"), "") << program << " " << option;
      fs::remove(dir.path() / "stderr.txt");
      EXPECT_TRUE(fs::is_empty(dir.path())) << program << " " << option << " left a file";
    }
  }
}

TEST(ServiceProgram, WithoutConnectionStringEveryOptionEnds) {
  Installation in;
  fs::remove_all(in.home);  // a fresh machine: even the home is missing
  EXPECT_EQ(in.Run({"-install"}), 78);
  EXPECT_TRUE(Contains(in.Events(), "\t4\t110\t[99999] No ConnectString Information."));
  EXPECT_TRUE(Contains(in.Stderr(), "[99999] No ConnectString Information."));
  EXPECT_TRUE(fs::is_empty(in.units));
}

TEST(ServiceProgram, InvalidOptionsAreRejected) {
  Installation in;
  in.Set("ConnectionString", "DSN=x");
  for (const char* bad : {"-LOG", "-log "}) {
    EXPECT_EQ(in.Run({bad}), 64) << bad;
    EXPECT_TRUE(Contains(in.Stderr(), "Invalid command option. Available options are -install, -uninstall, "
                                      "-debug, -log, -dlog"));
  }
  EXPECT_EQ(in.Run({"-log", "x"}), 64);
  EXPECT_FALSE(fs::exists(in.bin / "corvane.log"));
}

TEST(ServiceProgram, UnreadableSettingsAreReported) {
  Installation in;
  std::ofstream(in.home / "registry.hive") << "[SYSTEM\\x]\nnonsense\n";
  EXPECT_EQ(in.Run({}), 1);
  EXPECT_TRUE(Contains(in.Stderr(), "registry.hive:2")) << in.Stderr();
}

TEST(ServiceProgram, InstallWritesTheUnitAndStoresThreeValues) {
  Installation in;
  in.Set("connectionstring", "Driver=SQLite3;Database=/tmp/g.db");
  ASSERT_EQ(in.Run({"-install"}), 0) << in.Stderr();
  const fs::path unit = in.units / "Corvane\\x20Service.service";
  const std::string text = ReadFile(unit);
  EXPECT_TRUE(Contains(text, "ExecStart=\"" + in.program.string() + "\"\n")) << text;
  EXPECT_TRUE(Contains(text, "Environment=\"CORVANE_HOME=" + in.home.string() + "\"\n"));
  EXPECT_EQ(in.Get("TimerInterval"), "1000");
  EXPECT_EQ(in.Get("MailProfile"), "Microsoft Outlook");
  EXPECT_EQ(in.Get("ConnectionString"), "Driver=SQLite3;Database=/tmp/g.db");

  // Installing again fails with the install box and leaves every value alone.
  in.Set("MailProfile", "TWCorvane");
  in.Set("TimerInterval", "60000");
  EXPECT_EQ(in.Run({"-install"}), 1);
  EXPECT_TRUE(Contains(in.Stderr(), "already installed")) << in.Stderr();
  EXPECT_TRUE(Contains(in.Stderr(), "\nTarnwick Corvane Service failed to install\n")) << in.Stderr();
  EXPECT_EQ(in.Get("MailProfile"), "TWCorvane");
  EXPECT_EQ(in.Get("TimerInterval"), "60000");

  ASSERT_EQ(in.Run({"-uninstall"}), 0) << in.Stderr();
  EXPECT_FALSE(fs::exists(unit));
  EXPECT_EQ(in.Get("ConnectionString"), "Driver=SQLite3;Database=/tmp/g.db");  // the settings stay
  EXPECT_EQ(in.Run({"-uninstall"}), 1);
  // The reason on its own line, then the message box's fixed text.
  EXPECT_TRUE(Contains(in.Stderr(), "is not installed"));
  EXPECT_TRUE(Contains(in.Stderr(), "\nTarnwick Corvane Service failed to uninstall\n")) << in.Stderr();
}

TEST(ServiceProgram, InstallIntoAnUnwritableUnitDirectoryFails) {
  Installation in;
  in.Set("ConnectionString", "DSN=x");
  fs::remove(in.units);
  std::ofstream(in.units) << "a file, not a folder";
  EXPECT_EQ(in.Run({"-install"}), 1);
  EXPECT_TRUE(Contains(in.Stderr(), "\nTarnwick Corvane Service failed to install\n")) << in.Stderr();
  EXPECT_EQ(in.Get("TimerInterval"), "<missing>");
}

// A logging daemon with nothing scheduled: the start event, a schedule
// check at the first tick (brought forward from 10 seconds), pause and
// continue events, the timer interval of "-log" stored, and a
// clean stop with the log file complete.
TEST(ServiceProgram, LoggingDaemonAnswersSignals) {
  Installation in;
  in.Set("ConnectionString", "DSN=x");
  in.Set("ScheduleType", "5");
  const pid_t pid = in.Start({"-log"});
  const fs::path log = in.bin / "corvane.log";
  ASSERT_TRUE(Eventually([&] { return Contains(in.Events(), "Service Started."); })) << in.Stderr();
  ::kill(pid, SIGUSR1);
  ASSERT_TRUE(Eventually([&] { return Contains(in.Events(), "\t1\t109\tService paused\n"); }));
  ::kill(pid, SIGUSR2);
  ASSERT_TRUE(Eventually([&] { return Contains(in.Events(), "\t4\t110\tService continued\n"); }));
  ASSERT_TRUE(Eventually([&] { return Contains(ReadFile(log), " Never\r\n\r\n"); }, 30s));
  ::kill(pid, SIGTERM);
  EXPECT_EQ(Installation::Wait(pid), 0);
  EXPECT_EQ(in.Get("TimerInterval"), "10000");

  const std::string text = ReadFile(log);
  EXPECT_TRUE(Contains(text, " -log command line parameter used.  Starting to log events."));
  EXPECT_TRUE(Contains(text, " Corvane Version:4.1 running on TESTHOST\r\n\r\n"));
  EXPECT_TRUE(Contains(text, " LastSuccessfulRun:01/01/1990 11:25:31 AM\r\n\r\n"));
  EXPECT_TRUE(Contains(text, " StartTime:01-01-2000 00:00:00\r\n\r\n"));
  EXPECT_EQ(text.substr(text.size() - 4), "\r\n\r\n");
  const std::string events = in.Events();
  EXPECT_EQ(std::count(events.begin(), events.end(), '\n'), 3) << events;
}

// The daemon on its own: with the on-start-up schedule and "-log" it
// exports the sample directory into a SQLite file at its first check,
// answers pause and continue, and ends cleanly on SIGTERM.
TEST(ServiceProgram, DaemonExportsTheSampleDirectoryByItself) {
  Installation in;
  const std::string source = EnvOr("CORVANE_SOURCE_DIR", CORVANE_DEFAULT_SOURCE_DIR);
  fs::copy_file(fs::path(BinDir()) / "libCorvane.so", in.bin / "libCorvane.so");
  const fs::path database = in.dir.path() / "gal.db";
  const std::string connection =
      "Driver=SQLite3;Database=" + database.string() + ";JournalMode=WAL;SyncPragma=NORMAL";
  in.Set("ConnectionString", connection);
  in.Set("ScheduleType", "4");
  in.Set("Mailbox", "corvane.service");
  in.Set("Server", (fs::path(source) / "samples" / "directory.ldif").string());
  for (const char* column : {"GIVEN_NAME", "SURNAME", "DISPLAY_NAME", "ACCOUNT"}) in.Set(column, "1");
  // systemd's notification socket, as the unit's NotifyAccess=main opens it.
  in.notifySocket = (in.dir.path() / "notify").string();
  const int notify = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", in.notifySocket.c_str());
  ASSERT_EQ(::bind(notify, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

  const pid_t pid = in.Start({"-log"});
  ASSERT_TRUE(Eventually([&] { return in.Get("LastSuccessfulRun") != "<missing>"; }, 50s))
      << ReadFile(in.bin / "corvane.log") << in.Stderr();
  ::kill(pid, SIGUSR1);
  ::kill(pid, SIGUSR2);
  ASSERT_TRUE(Eventually([&] { return Contains(in.Events(), "\tService continued\n"); }));
  ::kill(pid, SIGTERM);
  EXPECT_EQ(Installation::Wait(pid), 0);

  std::vector<std::string> statuses;
  char datagram[512];
  for (ssize_t n; (n = ::recv(notify, datagram, sizeof datagram, 0)) > 0;) statuses.emplace_back(datagram, n);
  ::close(notify);
  for (const char* status : {"STATUS=Update In Progress: GAL read", "STATUS=Done"})
    EXPECT_NE(std::find(statuses.begin(), statuses.end(), status), statuses.end()) << status;

  const std::string events = in.Events();
  EXPECT_TRUE(Contains(events, "\t1\t109\tService paused\n"));
  const std::string log = ReadFile(in.bin / "corvane.log");
  EXPECT_TRUE(Contains(log, " On Startup Schedule\r\n\r\n"));
  EXPECT_EQ(log.substr(log.size() - 4), "\r\n\r\n");
  EXPECT_EQ(log.find("PWD="), std::string::npos);

  auto c = ado::CreateConnection();
  c->Open(connection);
  auto rs = c->Execute("select count(*) from GAL");
  ASSERT_FALSE(rs->IsEOF());
  EXPECT_EQ(rs->GetValue(0), std::optional<std::string>("300"));
  rs->Close();
  c->Close();

  // The run's record for monitoring.
  const std::string record = ReadFile(in.home / "last-run.json");
  for (const char* field : {"\"program\": \"CorvaneService\"", "\"outcome\": \"completed\"", "\"exit_status\": 0",
                            "\"final_rows\": 300", "\"next_due_text\": \"at the next start of the service\""})
    EXPECT_TRUE(Contains(record, field)) << field << "\n" << record;
}

// A run that ends the process (here: no mailbox configured) ends it with
// the run's status, one the unit does not restart, and the log file
// complete. Its error lines reach the journal at error priority.
TEST(ServiceProgram, RunEndingTheProcessSetsTheExitStatus) {
  Installation in;
  const fs::path database = in.dir.path() / "gal.db";
  in.Set("ConnectionString", "Driver=SQLite3;Database=" + database.string());
  in.Set("ScheduleType", "4");
  EXPECT_EQ(Installation::Wait(in.Start({"-log"}, true), 40s), kExitMissingSetting);
  const std::string text = ReadFile(in.bin / "corvane.log");
  EXPECT_TRUE(Contains(text, " Mailbox and Server not specified.  Application Shutting Down.\r\n\r\n")) << text;
  EXPECT_EQ(text.substr(text.size() - 4), "\r\n\r\n");
  const std::string journal = in.Stderr();
  EXPECT_TRUE(Contains(journal, "<3>Mailbox and Server not specified.  Application Shutting Down.\n")) << journal;
  EXPECT_TRUE(Contains(journal, "<3>mailbox or server not specified\n")) << journal;
  EXPECT_FALSE(Contains(journal, "Update GAL Started")) << journal;  // information stays out
  const std::string record = ReadFile(in.home / "last-run.json");
  EXPECT_TRUE(Contains(record, "\"outcome\": \"ended\",\n  \"exit_status\": 78")) << record;
  EXPECT_TRUE(Contains(record, "\"next_due\": null")) << record;
}

// A stop during a run ends the run at its next yield; the process ends
// with status 0 and a complete log file.
TEST(ServiceProgram, StopDuringARunEndsTheProcessCleanly) {
  Installation in;
  fs::copy_file(fs::path(BinDir()) / "libCorvane.so", in.bin / "libCorvane.so");
  const fs::path database = in.dir.path() / "gal.db";
  in.Set("ConnectionString", "Driver=SQLite3;Database=" + database.string() + ";JournalMode=WAL;SyncPragma=NORMAL");
  in.Set("ScheduleType", "6");
  in.Set("Mailbox", "corvane.service");
  in.Set("Server",
         (fs::path(EnvOr("CORVANE_SOURCE_DIR", CORVANE_DEFAULT_SOURCE_DIR)) / "samples" / "directory.ldif").string());
  const pid_t pid = in.Start({"-log"});
  const fs::path log = in.bin / "corvane.log";
  ASSERT_TRUE(Eventually([&] { return Contains(ReadFile(log), " Update GAL Started:"); }, 30s)) << in.Stderr();
  ::kill(pid, SIGTERM);
  EXPECT_EQ(Installation::Wait(pid), 0);
  const std::string text = ReadFile(log);
  EXPECT_EQ(text.substr(text.size() - 4), "\r\n\r\n");
  EXPECT_EQ(in.Get("LastSuccessfulRun"), "<missing>");  // the run did not pretend to finish
}

}  // namespace
}  // namespace corvane::service::testing
