// Faults a production machine meets, injected into real runs: corvane-run
// and CorvaneService as processes, a real SQLite file or a private
// PostgreSQL cluster, the real slapd. A run that meets one fails (exit 2
// for corvane-run), names the cause in an error event, keeps
// "LastSuccessfulRun", and leaves the published table as it was, or
// announces it incomplete when the fault hit its build; the run after the
// fault is complete. To land a fault at a known point, the test halts the
// process (SIGSTOP) once its output shows the phase, injects the fault, and
// lets it go on (SIGCONT). ToDoCount makes the GAL reader write a line per
// entry, so the output shows when the read is under way.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/ado/ado.h"
#include "platform/registry/registry.h"
#include "tests/support/test_postgres.h"
#include "tests/support/test_slapd.h"
#include "tools/gen-directory/generate_directory.h"

namespace corvane::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

template <typename F>
bool Eventually(F condition, std::chrono::seconds timeout = 30s) {
  for (auto until = std::chrono::steady_clock::now() + timeout; !condition(); std::this_thread::sleep_for(5ms))
    if (std::chrono::steady_clock::now() > until) return false;
  return true;
}

// A program started in the home, its standard output and error in a file.
struct Process {
  pid_t pid = -1;
  fs::path output;
  std::string Output() const { return ReadFile(output); }
  void Signal(int signal) const { ::kill(pid, signal); }
  // The exit status; -1 (after killing it) when it has not ended in time.
  int Wait() const {
    int status = 0;
    if (!Eventually([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, 90s)) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
};

// A Corvane home (also the working directory of its programs) with a SQLite
// database and a run's parameters; the directory comes from each test.
class FaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/corvane-faults-XXXXXX";
    home = ::mkdtemp(pattern);
    Set("ConnectionString",
        "Driver=SQLite3;Database=" + (home / "gal.db").string() + ";JournalMode=WAL;SyncPragma=NORMAL;Timeout=500");
    Set("Mailbox", gendir::kServiceAccount);
    Set("ToDoCount", "10");
    for (const char* box : {"GIVEN_NAME", "SURNAME", "DISPLAY_NAME"}) Set(box, "1");
  }
  void TearDown() override {
    for (pid_t pid : pids_) {  // what a failed test left running (or halted)
      if (::waitpid(pid, nullptr, WNOHANG) != 0) continue;
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
    std::error_code ignored;
    fs::remove_all(home, ignored);
  }

  fs::path WriteDirectory(uint64_t entries) {
    const fs::path ldif = home / "directory.ldif";
    std::ofstream out(ldif);
    gendir::WriteDirectory(out, {entries, 1});
    Set("Server", ldif.string());
    return ldif;
  }
  void Set(const std::string& name, const std::string& value) {
    registry::Hive(home / "registry.hive").Set(registry::kParametersKeyPath, name, registry::Value::Sz(value));
  }
  std::string Get(const std::string& name) {
    auto value = registry::Hive(home / "registry.hive").Get(registry::kParametersKeyPath, name);
    return value ? value->AsText() : "";
  }
  std::string Events() const { return ReadFile(home / "events.log"); }

  // Rows of a table; -1 while it cannot be counted.
  long Count(const std::string& table) {
    try {
      auto c = ado::CreateConnection();
      c->Open(Get("ConnectionString"));
      return std::stol(c->Execute("select count(*) from " + table)->GetValue(0).value_or("-1"));
    } catch (const std::exception&) {
      return -1;
    }
  }

  Process Start(const fs::path& program, const std::vector<std::string>& args = {}, const passwd* user = nullptr) {
    Process p{-1, home / ("output-" + std::to_string(++started_) + ".txt")};
    p.pid = ::fork();
    if (p.pid == 0) {
      const int out = ::open(p.output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(out, STDOUT_FILENO);
      ::dup2(out, STDERR_FILENO);
      ::setenv("CORVANE_HOME", home.c_str(), 1);
      if (::chdir(home.c_str()) != 0) ::_exit(126);
      if (user && (::setgroups(0, nullptr) != 0 || ::setgid(user->pw_gid) != 0 || ::setuid(user->pw_uid) != 0))
        ::_exit(125);
      std::vector<char*> argv{const_cast<char*>(program.c_str())};
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(program.c_str(), argv.data());
      ::_exit(127);
    }
    pids_.push_back(p.pid);
    return p;
  }
  Process StartRun(const passwd* user = nullptr) {
    return Start(fs::path(std::getenv("CORVANE_BIN_DIR")) / "corvane-run", {}, user);
  }
  // CorvaneService -log, from its own folder (where its "corvane.log" goes).
  Process StartService() {
    const fs::path bin = home / "bin";
    if (!fs::exists(bin)) {
      fs::create_directories(bin);
      for (const char* file : {"CorvaneService", "libCorvane.so"})
        fs::copy_file(fs::path(std::getenv("CORVANE_BIN_DIR")) / file, bin / file);
    }
    return Start(bin / "CorvaneService", {"-log"});
  }
  std::string ServiceLog() const { return ReadFile(home / "bin" / "corvane.log"); }

  // Starts a run and halts it once its output shows `text`.
  Process HaltRunAt(const std::string& text) {
    Process p = StartRun();
    EXPECT_TRUE(Eventually([&] { return Contains(p.Output(), text); })) << p.Output();
    p.Signal(SIGSTOP);
    return p;
  }

  // A complete run; answers the rows it published.
  long CompleteRun(const passwd* user = nullptr) {
    const Process p = StartRun(user);
    EXPECT_EQ(p.Wait(), 0) << p.Output();
    return Count("GAL");
  }

  // A failed run: status 2, an error event that begins with `cause`,
  // "LastSuccessfulRun" kept, and (`published` >= 0) the table as it was.
  void ExpectFailedRun(const Process& p, const std::string& cause, const std::string& lastRun, long published) {
    EXPECT_EQ(p.Wait(), 2) << p.Output();
    EXPECT_TRUE(Contains(Events(), "\t1\t109\t" + cause)) << Events();
    EXPECT_EQ(Get("LastSuccessfulRun"), lastRun);
    if (published >= 0) {
      EXPECT_EQ(Count("GAL"), published);
    }
  }

  fs::path home;
  int started_ = 0;
  std::vector<pid_t> pids_;
};

constexpr const char* kReading = "ToDoCount is being Used.";  // the GAL reader is in its row loop
constexpr const char* kCopying = "Xsql:insert into GAL(";      // the final table's row copy has begun
constexpr const char* kCutShort = "The GAL export was cut short after ";
constexpr const char* kNotFresh = "The temporary table TEMP_GAL could not be created afresh: ";

TEST_F(FaultTest, DamagedLdifFailsTheRun) {
  const fs::path ldif = WriteDirectory(600);
  ASSERT_EQ(CompleteRun(), 600);
  const std::string last = Get("LastSuccessfulRun");
  const std::string text = ReadFile(ldif);
  std::string damaged = text;
  // Only the reading pass decodes a title, so the damage surfaces half way.
  damaged.replace(damaged.find("\ntitle: ", text.size() / 2) + 1, 7, "title:: *");
  std::ofstream(ldif, std::ios::trunc) << damaged;
  ExpectFailedRun(StartRun(), kCutShort, last, 600);
  EXPECT_TRUE(Contains(Events(), "lpContents->QueryRows call failed with hRes = 0x8004011b")) << Events();
  std::ofstream(ldif, std::ios::trunc) << text;
  EXPECT_EQ(CompleteRun(), 600);
}

TEST_F(FaultTest, SlapdKilledDuringTheReadFailsTheRun) {
  const fs::path ldif = WriteDirectory(2500);  // more than two pages of 1000
  CORVANE_START_SLAPD(slapd, ldif.string(), SlapdOptions{});
  Set("Server", slapd->url() + "/" + slapd->base_dn());
  ASSERT_EQ(CompleteRun(), 2500);
  const std::string last = Get("LastSuccessfulRun");
  const Process run = HaltRunAt(kReading);
  slapd->Kill();
  run.Signal(SIGCONT);
  ExpectFailedRun(run, kCutShort, last, 2500);
  ASSERT_TRUE(slapd->Restart());
  EXPECT_EQ(CompleteRun(), 2500);
}

TEST_F(FaultTest, PostgresRestartedDuringTheReadAndDuringTheCopyFailsTheRun) {
  CORVANE_START_POSTGRES(pg);
  Set("ConnectionString", pg->connectionString());
  WriteDirectory(400);
  ASSERT_EQ(CompleteRun(), 400);
  const std::string last = Get("LastSuccessfulRun");

  const Process read = HaltRunAt(kReading);
  ASSERT_TRUE(pg->Restart());
  read.Signal(SIGCONT);
  ExpectFailedRun(read, kCutShort, last, 400);
  EXPECT_TRUE(Contains(Events(), "the database connection was lost"));
  // The export ended at the lost connection, not after trying every entry.
  const std::string log = ReadFile(home / "CorvaneDLL.log");
  size_t errors = 0;
  for (size_t at = log.find("Error! Description"); at != std::string::npos; at = log.find("Error! Description", at + 1))
    ++errors;
  EXPECT_LE(errors, 2u) << log;  // the refused insert (and its key insert)

  const Process copy = HaltRunAt(kCopying);
  ASSERT_TRUE(pg->Restart());
  copy.Signal(SIGCONT);
  ExpectFailedRun(copy, "The final table GAL is incomplete: the run failed while the table was being built", last, -1);
  EXPECT_EQ(Get("FinalTableIncomplete"), "1");
  EXPECT_EQ(CompleteRun(), 400);
  EXPECT_EQ(Get("FinalTableIncomplete"), "0");
}

// A swap run killed anywhere, from the GAL read to the middle of the swap,
// leaves the published table whole: the old one, or (past the commit) the
// new one. To land inside the swap's transaction, the test holds a lock
// that makes its next statement wait: on the published table (the swap's
// first statement, or its check just before), or on the work table (the
// second rename). The next run drops what the killed ones left and publishes.
TEST_F(FaultTest, SwapRunsKilledAnywhereLeaveThePublishedTableWholeOnPostgres) {
  CORVANE_START_POSTGRES(pg);
  Set("ConnectionString", pg->connectionString());
  Set("PublishMode", "swap");
  WriteDirectory(400);
  ASSERT_EQ(CompleteRun(), 400);
  const struct {
    const char* text;  // the run is killed once its output shows this
    int delayMs = 0;   // and this much later
    const char* gate = nullptr;  // a lock the test holds meanwhile, so the run waits at a known statement
  } points[] = {
      {kReading},
      {"ParseSrt:"},
      {"Xsql:create table GAL_new"},
      {"Xsql:create table GAL_new", 2},
      {"Xsql:insert into GAL_new"},
      {"Xsql:CREATE UNIQUE INDEX GAL_new_index"},
      {"Final table GAL_new: "},
      {"Final table GAL_new: ", 300, "lock table GAL in access exclusive mode"},  // just before the swap
      {"Xsql:begin", 300, "lock table GAL in access share mode"},                // at the first rename
      {"Xsql:alter table GAL rename to GAL_old", 300, "lock table GAL_new in access share mode"},  // at the second
  };
  long published = 400;
  for (size_t i = 0; i < std::size(points); ++i) {
    const auto& point = points[i];
    SCOPED_TRACE(point.text);
    const long entries = 500 + static_cast<long>(i);
    WriteDirectory(entries);
    std::unique_ptr<ado::Connection> gate;
    auto hold = [&] {
      try {
        gate = ado::CreateConnection();
        gate->Open(Get("ConnectionString"));
        gate->Execute("begin");
        gate->Execute(point.gate);
      } catch (const ado::AdoError&) {
        gate.reset();  // the run was past the gate already: an ordinary point
      }
    };
    // The work table exists only once the run made it: the run is halted
    // there while the test takes its lock.
    const bool onWorkTable = point.gate && Contains(point.gate, "GAL_new");
    if (point.gate && !onWorkTable) hold();
    const Process run = StartRun();
    if (onWorkTable) {
      EXPECT_TRUE(Eventually([&] { return Contains(run.Output(), "Xsql:create table GAL_new"); })) << run.Output();
      run.Signal(SIGSTOP);
      hold();
      run.Signal(SIGCONT);
    }
    EXPECT_TRUE(Eventually([&] { return Contains(run.Output(), point.text); })) << run.Output();
    std::this_thread::sleep_for(std::chrono::milliseconds(point.delayMs));
    run.Signal(SIGKILL);
    EXPECT_EQ(run.Wait(), 128 + SIGKILL);
    const bool gated = gate != nullptr;
    if (gate) gate->Execute("rollback");
    gate.reset();
    const long rows = Count("GAL");
    if (gated)
      EXPECT_EQ(rows, published);
    else
      EXPECT_TRUE(rows == published || rows == entries) << rows;
    published = rows;
  }
  WriteDirectory(600);
  EXPECT_EQ(CompleteRun(), 600);
  EXPECT_EQ(Count("GAL_new"), -1);
  EXPECT_EQ(Count("GAL_old"), -1);
}

TEST_F(FaultTest, LockedSqliteFileAtTheStartFailsTheRun) {
  WriteDirectory(300);
  ASSERT_EQ(CompleteRun(), 300);
  const std::string last = Get("LastSuccessfulRun");
  // Another program holds the database's write lock when the run starts.
  const fs::path locked = home / "locked";
  FILE* sqlite = ::popen(("sqlite3 '" + (home / "gal.db").string() + "'").c_str(), "w");
  std::fprintf(sqlite, "BEGIN EXCLUSIVE;\ninsert into GAL(entry_id) values ('x');\n.system touch '%s'\n",
               locked.c_str());
  std::fflush(sqlite);
  ASSERT_TRUE(Eventually([&] { return fs::exists(locked); }));
  ExpectFailedRun(StartRun(), kNotFresh, last, 300);
  EXPECT_TRUE(Contains(Events(), "database is locked")) << Events();
  std::fprintf(sqlite, "ROLLBACK;\n");
  ::pclose(sqlite);
  EXPECT_EQ(CompleteRun(), 300);
}

TEST_F(FaultTest, ReadOnlyDatabaseFileFailsTheRun) {
  const fs::path db = home / "gal.db";
  Set("ConnectionString", "Driver=SQLite3;Database=" + db.string() + ";SyncPragma=OFF");  // no WAL files
  WriteDirectory(300);
  ASSERT_EQ(CompleteRun(), 300);
  const std::string last = Get("LastSuccessfulRun");
  // The run's account may read the database file but not write it: as root
  // (who may write anything) the run is made as nobody, owning the rest.
  const passwd* nobody = ::geteuid() == 0 ? ::getpwnam("nobody") : nullptr;
  if (nobody) {
    for (const auto& entry : fs::recursive_directory_iterator(home)) {
      if (entry.path() == db) continue;
      ASSERT_EQ(::chown(entry.path().c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    }
    ASSERT_EQ(::chown(home.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
  }
  fs::permissions(db, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  ExpectFailedRun(StartRun(nobody), kNotFresh, last, 300);
  EXPECT_TRUE(Contains(Events(), "readonly database")) << Events();
  // Writable again (by the home's owner, who runs it: corvane-run refuses
  // root on another user's home).
  fs::permissions(db, fs::perms::owner_write, fs::perm_options::add);
  if (nobody) {
    ASSERT_EQ(::chown(db.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
  }
  EXPECT_EQ(CompleteRun(nobody), 300);
}

// The stop ends the run at once; the incomplete table is announced and
// remembered, and the service rebuilds it at its first schedule check
// although its schedule never runs the export.
TEST_F(FaultTest, StopDuringTheCopyAnnouncesTheIncompleteTableAndTheServiceRebuildsIt) {
  WriteDirectory(1000);
  ASSERT_EQ(CompleteRun(), 1000);
  const std::string last = Get("LastSuccessfulRun");
  const Process run = HaltRunAt(kCopying);
  run.Signal(SIGTERM);
  run.Signal(SIGCONT);
  ExpectFailedRun(run, "The final table GAL is incomplete: the run was stopped while the table was being built",
                  last, -1);
  EXPECT_EQ(Get("FinalTableIncomplete"), "1");

  Set("ScheduleType", "5");  // never
  const Process service = StartService();
  ASSERT_TRUE(Eventually([&] { return Get("FinalTableIncomplete") == "0"; }, 60s)) << ServiceLog();
  service.Signal(SIGTERM);
  EXPECT_EQ(service.Wait(), 0);
  EXPECT_EQ(Count("GAL"), 1000);
  EXPECT_NE(Get("LastSuccessfulRun"), last);
  EXPECT_TRUE(Contains(ServiceLog(), "The last run left the final table incomplete: the export runs now"));
}

// A stop while the library exports reaches it between two batches: the
// service ends without waiting for the export, its log complete.
TEST_F(FaultTest, StopDuringTheGalReadEndsTheServiceAtTheNextBatch) {
  WriteDirectory(2000);
  Set("ScheduleType", "4");  // on start-up
  const Process service = StartService();
  ASSERT_TRUE(Eventually([&] { return Contains(service.Output(), kReading); }, 60s)) << ServiceLog();
  service.Signal(SIGSTOP);
  service.Signal(SIGTERM);
  service.Signal(SIGCONT);
  EXPECT_EQ(service.Wait(), 0) << service.Output();
  EXPECT_LT(Count("TEMP_GAL"), 2000);
  EXPECT_TRUE(Contains(ReadFile(home / "CorvaneDLL.log"), "Stop requested: export ended after "));
  const std::string log = ServiceLog();
  EXPECT_EQ(log.substr(log.size() - 4), "\r\n\r\n");
  EXPECT_EQ(Get("LastSuccessfulRun"), "");
  EXPECT_FALSE(Contains(Events(), "UpdateGAL process finished."));
}

TEST_F(FaultTest, OneRunAtATimeAndOneServicePerHome) {
  WriteDirectory(600);
  const Process first = HaltRunAt(kReading);  // holds the run lock
  const Process second = StartRun();
  EXPECT_EQ(second.Wait(), 75);
  EXPECT_TRUE(Contains(second.Output(), "another run (process " + std::to_string(first.pid) + ") holds "));

  Set("ScheduleType", "4");  // on start-up
  const Process service = StartService();
  ASSERT_TRUE(Eventually([&] { return Contains(Events(), "Service Started."); })) << service.Output();
  const Process twin = StartService();
  EXPECT_EQ(twin.Wait(), 75);
  EXPECT_TRUE(Contains(twin.Output(), "CorvaneService already runs on ")) << twin.Output();
  // The service's check finds the run lock held: no run, and a log line.
  ASSERT_TRUE(Eventually([&] { return Contains(ServiceLog(), ": no run at this check"); }, 60s)) << ServiceLog();
  EXPECT_TRUE(Contains(ServiceLog(), "-log command line parameter used."));  // the twin left the log alone
  // Stopping the idle service stops only the service: the other process's
  // export, halted in the middle of its read, goes on to its end.
  service.Signal(SIGTERM);
  EXPECT_EQ(service.Wait(), 0);
  first.Signal(SIGCONT);
  EXPECT_EQ(first.Wait(), 0) << first.Output();
  EXPECT_EQ(Count("GAL"), 600);
}

}  // namespace
}  // namespace corvane::testing
