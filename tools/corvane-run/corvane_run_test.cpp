// corvane-run as a process: a Corvane home with parameters pointing at the
// sample directory and a SQLite file, and the exit status of each ending.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "platform/ado/ado.h"
#include "platform/registry/registry.h"
#include "service/export/final_table_record.h"
#include "service/export/last_run.h"
#include "tools/corvane-run/foreground_run.h"
#include "tools/gen-directory/generate_directory.h"

namespace fs = std::filesystem;
using corvane::registry::Hive;
using corvane::registry::kParametersKeyPath;
using corvane::registry::Value;

namespace {

fs::path FromEnv(const char* name, const char* fallback) {
  const char* v = std::getenv(name);
  return v && *v ? fs::path(v) : fs::path(fallback);
}
fs::path BinDir() { return FromEnv("CORVANE_BIN_DIR", CORVANE_DEFAULT_BIN_DIR); }
fs::path SourceDir() { return FromEnv("CORVANE_SOURCE_DIR", CORVANE_DEFAULT_SOURCE_DIR); }

struct Outcome {
  int status = -1;
  std::string output;
};

class CorvaneRun : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(BinDir() / "libCorvane.so")) GTEST_SKIP() << "libCorvane.so not built";
    home = fs::temp_directory_path() / ("corvane_run_test_" + std::to_string(getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(home);
    fs::create_directories(home);
    Set("ConnectionString", "Driver=SQLite3;Database=" + (home / "gal.db").string() + ";JournalMode=WAL;SyncPragma=NORMAL");
    Set("Mailbox", "corvane.service");
    Set("Server", (SourceDir() / "samples" / "directory.ldif").string());
    for (const char* box : {"GIVEN_NAME", "SURNAME", "DISPLAY_NAME", "TITLE", "ACCOUNT"}) Set(box, "1");
  }
  void TearDown() override { fs::remove_all(home); }
  void Set(const std::string& name, const std::string& value) {
    Hive(home / "registry.hive").Set(kParametersKeyPath, name, Value::Sz(value));
  }
  std::string Get(const std::string& name) {
    auto v = Hive(home / "registry.hive").Get(kParametersKeyPath, name);
    return v ? v->text : "";
  }
  Outcome Run(const std::string& arguments = "", const std::string& standardError = "2>&1") {
    // The usual umask, which would leave files 0644: modes are the program's.
    std::string command = "umask 022 && cd '" + home.string() + "' && CORVANE_HOME='" + home.string() + "' TZ=UTC '" +
                          (BinDir() / "corvane-run").string() + "' " + arguments + " " + standardError;
    Outcome o;
    FILE* p = popen(command.c_str(), "r");
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) o.output.append(buffer, n);
    int status = pclose(p);
    o.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return o;
  }
  fs::path home;
};

TEST_F(CorvaneRun, ExportsTheSampleDirectoryAndSaysSo) {
  Outcome o = Run();
  EXPECT_EQ(o.status, 0) << o.output;
  for (const char* text : {"Update GAL Started:", "== temporary table", "== GAL read", "Total GAL entries: ",
                           "== address parse", "address parse: ", "== final table", "final table: ",
                           "corvane-run: the run reached its end"})
    EXPECT_NE(o.output.find(text), std::string::npos) << text << "\n" << o.output;
  // Newest last: the start comes before the end.
  EXPECT_LT(o.output.find("Update GAL Started:"), o.output.find("Parse End:"));
  EXPECT_FALSE(Get("LastSuccessfulRun").empty());
  std::ifstream events(home / "events.log");
  std::stringstream text;
  text << events.rdbuf();
  EXPECT_NE(text.str().find("UpdateGAL process finished."), std::string::npos);
  // The address list is its owner's only; the record of the run is for the home's group too.
  EXPECT_EQ(fs::status(home / "gal.db").permissions(), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(fs::status(home / "last-run.json").permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(CorvaneRun, QuietSqlLeavesOutStatementsButNotFailures) {
  Outcome o = Run("--quiet-sql");
  EXPECT_EQ(o.status, 0) << o.output;
  EXPECT_EQ(o.output.find("Xsql:"), std::string::npos);
  EXPECT_NE(o.output.find("Error: "), std::string::npos);  // the dialect's refused index statements
  EXPECT_NE(o.output.find("Parse End:"), std::string::npos);
}

TEST_F(CorvaneRun, UnknownArgumentIsAUsageError) { EXPECT_EQ(Run("--bogus").status, corvane::runtool::kUsage); }

TEST_F(CorvaneRun, MissingMailboxEndsEarly) {
  Set("Mailbox", "");
  Outcome o = Run();
  EXPECT_EQ(o.status, 78) << o.output;  // the service's status for a missing setting
  EXPECT_NE(o.output.find("Mailbox and Server not specified.  Application Shutting Down."), std::string::npos);
  EXPECT_NE(o.output.find("corvane-run: the run ended early"), std::string::npos);
}

// A logon that fails gives a count of 0 like an empty list; the ending
// names the directory's own reason.
TEST_F(CorvaneRun, AFailedLogonEndsEarlyNamingItsCause) {
  const std::string sample = (SourceDir() / "samples" / "directory.ldif").string();
  const struct {
    std::string mailbox, server, cause;
  } cases[] = {
      {"no.such.person", sample, "the mailbox \"no.such.person\" names no entry of the LDIF file"},
      {"corvane.service", (home / "missing.ldif").string(), "cannot open LDIF file"},
      {"corvane.service", "ldap://127.0.0.1:1/DC=harbourline,DC=example", "Can't contact LDAP server"},
  };
  for (const auto& c : cases) {
    Hive(home / "registry.hive").DeleteKey("SOFTWARE\\Corvane\\MAPI\\Profiles\\TWCorvane");  // a fresh profile
    Set("Mailbox", c.mailbox);
    Set("Server", c.server);
    Outcome o = Run();
    EXPECT_EQ(o.status, 69) << o.output;  // the service's status for an empty address list
    EXPECT_NE(o.output.find("Total GAL entries: 0"), std::string::npos);
    // The run log and the closing line both name the cause.
    const size_t logged = o.output.find(" The directory could not be read: ");
    ASSERT_NE(logged, std::string::npos) << o.output;
    EXPECT_NE(o.output.find(c.cause, logged), std::string::npos) << o.output;
    const size_t closing = o.output.find("corvane-run: the run ended early after");
    ASSERT_NE(closing, std::string::npos) << o.output;
    EXPECT_NE(o.output.find(": the directory could not be read: ", closing), std::string::npos) << o.output;
    EXPECT_NE(o.output.find(c.cause, closing), std::string::npos) << o.output;
  }
}

// The stored profile keeps its first server: the run warns while it differs.
TEST_F(CorvaneRun, AProfileThatNoLongerMatchesTheParametersIsNamed) {
  ASSERT_EQ(Run("--quiet-sql").status, 0);
  const fs::path moved = home / "moved.ldif";
  fs::copy_file(SourceDir() / "samples" / "directory.ldif", moved);
  Set("Server", moved.string());
  Outcome o = Run("--quiet-sql");
  EXPECT_EQ(o.status, 0) << o.output;
  EXPECT_NE(o.output.find("Warning: mail profile 'TWCorvane' keeps server " +
                          (SourceDir() / "samples" / "directory.ldif").string() + " and mailbox corvane.service; " +
                          "the parameters say server " + moved.string()),
            std::string::npos)
      << o.output;
  Hive(home / "registry.hive").DeleteKey("SOFTWARE\\Corvane\\MAPI\\Profiles\\TWCorvane");
  o = Run("--quiet-sql");
  EXPECT_EQ(o.status, 0) << o.output;
  EXPECT_EQ(o.output.find("Warning: mail profile"), std::string::npos) << o.output;
}

// Every phase ends with its last count, also at a multiple of 1000, and
// the run with the rows of the final table.
TEST_F(CorvaneRun, EveryPhaseShowsItsFinalCountAndTheRunItsTableRows) {
  const fs::path directory = home / "two-thousand.ldif";
  {
    std::ofstream out(directory);
    corvane::gendir::WriteDirectory(out, {2000, 3});
  }
  Set("Server", directory.string());
  Outcome o = Run("--quiet-sql");
  EXPECT_EQ(o.status, 0) << o.output;
  for (const char* text : {"   GAL read: 2000 entries in the temporary table\n", "   address parse: 2000 rows\n",
                           "   final table: 2000 rows\n", "; final table GAL: 2000 rows\n",
                           // the generator's entry with forty long addresses
                           "GAL export: 1 entry has more proxy addresses than fit in 1023 characters;",
                           "corvane-run: 1 entry's proxy-address list was cut at 1023 characters;"})
    EXPECT_NE(o.output.find(text), std::string::npos) << text << o.output;
}

TEST_F(CorvaneRun, UnreachableDatabaseTakesTheRecoveryPath) {
  Set("ConnectionString", "Driver=NoSuchDriver;Database=x;PWD=hidden-value");
  Outcome o = Run();
  EXPECT_EQ(o.status, corvane::runtool::kRunRecovered) << o.output;
  EXPECT_EQ(o.output.find("hidden-value"), std::string::npos) << o.output;
  EXPECT_NE(o.output.find("PWD=EXISTS"), std::string::npos) << o.output;
}

TEST_F(CorvaneRun, NoConnectionStringIsNotConfigured) {
  Set("ConnectionString", "");
  EXPECT_EQ(Run().status, corvane::runtool::kNotConfigured);
}

std::string ReadText(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// --check on the fixture's configuration and on one fault of each kind; it
// changes nothing (no database file, no mail profile, the same settings).
TEST_F(CorvaneRun, CheckJudgesTheConfigurationAndChangesNothing) {
  const std::string sample = (SourceDir() / "samples" / "directory.ldif").string();
  Set("ScheduleType", "0");
  Set("ScheduleDay", "0");
  Outcome good = Run("--check");
  EXPECT_EQ(good.status, 0) << good.output;
  for (const char* line : {"ok: database: ", "ok: directory: ", " holds 300 address-list entries; the mailbox "
                           "corvane.service is CN=corvane.service,", "ok: mail profile TWCorvane does not exist yet",
                           "ok: schedule (ScheduleType 0, read when the service starts): daily: every day", "ok: final table GAL columns: entry_id, GIVEN_NAME, SURNAME, "
                           "DISPLAY_NAME, TITLE, ACCOUNT, ADDR1, ADDR2, ADDR3, ADDR4, ADDR5, SMTP, DEFSMTP (13 columns)\n"})
    EXPECT_NE(good.output.find(line), std::string::npos) << line << "\n" << good.output;
  std::set<std::string> made;
  for (const auto& entry : fs::directory_iterator(home)) made.insert(entry.path().filename());
  EXPECT_EQ(made, (std::set<std::string>{"registry.hive", "registry.hive.lock"}));  // the fixture's, nothing else

  const struct {
    std::string name, value;
    int status;
    std::string line;
  } cases[] = {
      {"DISPLAY_NAM", "1", 1, "warning: DISPLAY_NAM is not a value Corvane reads (did you mean DISPLAY_NAME?)"},
      {"DistList", "yes", 2, "error: DistList: \"yes\" is not 0, 1, True or False"},
      {"StartTime", "2026-06-01", 2, "error: StartTime: \"2026-06-01\" is not a date and time"},
      {"ScheduleType", "7", 2, "error: ScheduleType: \"7\" is not one of 0, 1, 2, 3, 4, 5, 6, 9"},
      {"ScheduleType", "1", 1, "warning: schedule: WeekDays names no day of the week"},
      {"ConnectionString", "Driver=NoSuchDriver;PWD=hidden", 2, "error: database: cannot connect with "
                                                                "Driver=NoSuchDriver;PWD=EXISTS: "},
      {"ConnectionString", "Driver=SQLite3;Database=/tmp/corvane-elsewhere.db", 1,
       "warning: database: the SQLite file /tmp/corvane-elsewhere.db lies outside the home "},
      {"Mailbox", "no.such.person", 2, "error: directory: cannot log on to " + sample + " as no.such.person: "},
      {"Server", "", 2, "error: Server is not set"},
  };
  for (const auto& c : cases) {
    const std::string before = Get(c.name);
    Set(c.name, c.value);
    Outcome o = Run("--check");
    EXPECT_EQ(o.status, c.status) << o.output;
    EXPECT_NE(o.output.find(c.line), std::string::npos) << c.line << "\n" << o.output;
    EXPECT_EQ(o.output.find("hidden"), std::string::npos) << o.output;
    Set(c.name, before);
  }

  // A list name that every run's dsimport would refuse is an error.
  Set("DistList", "1");
  Set("DistListName", "Sales, Berlin");
  const Outcome comma = Run("--check");
  EXPECT_EQ(comma.status, 2) << comma.output;
  EXPECT_NE(comma.output.find("error: DistListName: \"Sales, Berlin\" holds a comma"), std::string::npos)
      << comma.output;
  Set("DistList", "0");

  // A password file without a bind DN is not used: said, not passed over.
  Set("Server", "ldap://127.0.0.1:1/dc=example");
  Set("LdapPasswordFile", "/nonexistent/ldap-password");
  const Outcome unused = Run("--check");
  EXPECT_NE(unused.output.find("warning: directory: the password file /nonexistent/ldap-password (LdapPasswordFile) "
                               "is set but no bind DN is"),
            std::string::npos)
      << unused.output;
  Set("Server", sample);
  Set("LdapPasswordFile", "");

  // A stored profile that no longer matches Server is a warning.
  ASSERT_EQ(Run("--quiet-sql").status, 0);
  const fs::path moved = home / "moved.ldif";
  fs::copy_file(SourceDir() / "samples" / "directory.ldif", moved);
  Set("Server", moved.string());
  const std::string settings = ReadText(home / "registry.hive");
  Outcome o = Run("--check");
  EXPECT_EQ(o.status, 1) << o.output;
  EXPECT_NE(o.output.find("warning: mail profile 'TWCorvane' keeps server " + sample), std::string::npos) << o.output;
  EXPECT_NE(o.output.find("ok: final table GAL holds 300 rows"), std::string::npos) << o.output;
  EXPECT_EQ(ReadText(home / "registry.hive"), settings);
}

// --status as a monitoring check: a fresh completed run, a stale one, a
// failed one, and no record at all.
TEST_F(CorvaneRun, StatusJudgesTheLastRun) {
  EXPECT_EQ(Run("--status").status, 3);
  ASSERT_EQ(Run("--quiet-sql").status, 0);
  Outcome fresh = Run("--status --max-age 26h");
  EXPECT_EQ(fresh.status, 0) << fresh.output;
  EXPECT_EQ(fresh.output.rfind("CORVANE OK: the last run completed ", 0), 0u) << fresh.output;
  EXPECT_NE(fresh.output.find("final table GAL: 300 rows"), std::string::npos) << fresh.output;

  // The same run, 30 hours ago.
  std::string error;
  auto record = corvane::service::ReadLastRun(home / "last-run.json", error);
  ASSERT_TRUE(record) << error;
  record->start -= 30 * 3600;
  record->end -= 30 * 3600;
  corvane::service::WriteLastRun(home / "last-run.json", *record);
  Outcome stale = Run("--status --max-age 26h");
  EXPECT_EQ(stale.status, 2) << stale.output;
  EXPECT_NE(stale.output.find("CORVANE CRITICAL: the last run completed"), std::string::npos) << stale.output;
  EXPECT_NE(stale.output.find("; that is more than 1 d 2 h ago"), std::string::npos) << stale.output;
  EXPECT_EQ(Run("--status").status, 0);  // no age given, no age judged

  // A contact job that did only part of its work: a warning naming it.
  record->end += 30 * 3600;
  record->outcome.followOn = {{"local contacts export", corvane::service::FollowOnOutcome::Kind::Completed, ""},
                              {"public-folder contact sync", corvane::service::FollowOnOutcome::Kind::Partial,
                               "3 failures, the first: -2147221227  No space left on device"}};
  corvane::service::WriteLastRun(home / "last-run.json", *record);
  Outcome partial = Run("--status");
  EXPECT_EQ(partial.status, 1) << partial.output;
  EXPECT_NE(partial.output.find("CORVANE WARNING: the last run completed"), std::string::npos) << partial.output;
  EXPECT_NE(partial.output.find("; the public-folder contact sync completed only in part\n"), std::string::npos);
  EXPECT_NE(partial.output.find("  follow-on    public-folder contact sync: partly completed: 3 failures, the first: "
                                "-2147221227  No space left on device\n"),
            std::string::npos) << partial.output;

  Set("ConnectionString", "Driver=NoSuchDriver;Database=x");
  ASSERT_EQ(Run().status, corvane::runtool::kRunRecovered);
  Outcome failed = Run("--status");
  EXPECT_EQ(failed.status, 2) << failed.output;
  EXPECT_NE(failed.output.find("CORVANE CRITICAL: the last run failed "), std::string::npos) << failed.output;
  EXPECT_NE(failed.output.find("outcome      failed (exit status 2), run by corvane-run"), std::string::npos);
  EXPECT_EQ(Run("--status --max-age soon").status, corvane::runtool::kUsage);

  // A build of the final table under way, and one whose process is gone.
  corvane::service::FinalTableRecord build;
  build.table = "GAL";
  build.state = corvane::service::FinalTableRecord::State::Building;
  build.since = std::time(nullptr);
  build.process = getpid();
  build.completedRows = 300;
  build.completedAt = build.since;
  corvane::service::WriteFinalTableRecord(home / "final-table.json", build);
  Outcome underway = Run("--status");
  EXPECT_EQ(underway.status, 2) << underway.output;  // the failed run above, not the build
  EXPECT_NE(underway.output.find("CORVANE CRITICAL: the last run failed "), std::string::npos) << underway.output;
  EXPECT_NE(underway.output.find("  build        GAL being rebuilt by process " + std::to_string(getpid())),
            std::string::npos)
      << underway.output;
  const pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  build.process = gone;
  corvane::service::WriteFinalTableRecord(home / "final-table.json", build);
  Outcome killed = Run("--status");
  EXPECT_EQ(killed.status, 2) << killed.output;
  EXPECT_NE(killed.output.find("CORVANE CRITICAL: the final table GAL may be incomplete: its build that began "),
            std::string::npos)
      << killed.output;
}

// Under systemd standard error is the journal. The refusals SQLite gives
// for the fixed index, drop-index and grant statements on every run, and
// for both drops on a first run, make one information line there, and the
// run log keeps their lines; a drop refused for another reason (a view of
// that name) stays an error.
TEST_F(CorvaneRun, KnownRefusalsMakeOneInformationLineInTheJournal) {
  std::ofstream(home / "journal.txt").close();
  auto journal = [&](int expected) {
    struct stat file {};  // the journal's stream is named by its device and inode
    stat((home / "journal.txt").c_str(), &file);
    setenv("JOURNAL_STREAM", (std::to_string(file.st_dev) + ":" + std::to_string(file.st_ino)).c_str(), 1);
    const Outcome o = Run("--quiet-sql", "2> journal.txt");
    unsetenv("JOURNAL_STREAM");
    EXPECT_EQ(o.status, expected) << o.output;
    return std::make_pair(o.output, ReadText(home / "journal.txt"));
  };
  const auto [log, first] = journal(0);
  EXPECT_NE(log.find("Error: -2147217900 - [SQLite]near \"grant\""), std::string::npos) << log;
  EXPECT_EQ(first.find("<3>"), std::string::npos) << first;
  const size_t line = first.find("<6>refused as expected on SQLite: drop table TEMP_GAL (");
  ASSERT_NE(line, std::string::npos) << first;
  EXPECT_EQ(first.find("<6>refused as expected", line + 1), std::string::npos) << first;
  for (const char* statement :
       {"; drop table GAL (", "; Create INDEX [GALindex] ON GAL ([entry_id]) WITH DROP_EXISTING (",
        "; DROP INDEX GAL_index on GAL (", "; grant select on GAL to public ("})
    EXPECT_NE(first.find(statement, line), std::string::npos) << statement << "\n" << first;

  auto db = corvane::ado::CreateConnection();
  db->Open(Get("ConnectionString"));
  db->Execute("drop table TEMP_GAL");
  db->Execute("create view TEMP_GAL as select 1 as entry_id");
  db.reset();
  const std::string failed = journal(corvane::runtool::kRunRecovered).second;
  EXPECT_NE(failed.find("<3>Error: -2147217900 - [SQLite]use DROP VIEW to delete view TEMP_GAL"), std::string::npos)
      << failed;
}

// The import the run starts and does not wait for leaves its own record,
// which --status and --check report: a failed import, or none after a
// completed run within the margin, is a warning.
TEST_F(CorvaneRun, StatusAndCheckReportTheLastDistributionListImport) {
  ASSERT_EQ(Run("--quiet-sql").status, 0);
  std::string error;
  auto run = corvane::service::ReadLastRun(home / "last-run.json", error);
  ASSERT_TRUE(run) << error;
  run->start -= 2 * 3600;  // the run ended two hours ago
  run->end -= 2 * 3600;
  corvane::service::WriteLastRun(home / "last-run.json", *run);
  const fs::path record = home / "last-dsimport.json";
  // An import that ended after the run, as dsimport records it.
  auto import = [&](const std::string& result, const std::string& cause) {
    std::ofstream(record) << R"({"program": "dsimport", "start": "2099-01-01T00:00:00Z", "end": "2099-01-01T00:01:00Z", )"
                          << R"("result": ")" << result << R"(", "outcome": "updated", "list": "Staff", "file": null, )"
                          << R"("directory": null, "group": "CN=Staff,OU=Groups", "members": 3, "added": 1, )"
                          << R"("removed": 0, "unchanged": 2, "unresolved": 0, "kept_ambiguous": 0, "cause": )"
                          << (cause.empty() ? "null" : "\"" + cause + "\"") << R"(, "margin_minutes": null})";
  };
  const struct {
    std::string distList, margin, result, cause;
    int status;
    std::string line;
  } cases[] = {
      {"True", "", "", "", 1, "; no distribution-list import followed the run that completed "},
      {"True", "180", "", "", 0, "CORVANE OK: "},
      {"True", "", "completed", "", 0, "  dsimport     completed 1/1/2099 12:01:00 AM: updated CN=Staff,OU=Groups: 3 "
                                       "members; added 1, removed 0, unchanged 2, unresolved 0\n"},
      {"True", "", "failed", "Insufficient access", 1, "; the last distribution-list import failed 1/1/2099 12:01:00 AM "
                                                       "(list \"Staff\"): Insufficient access\n"},
      {"False", "", "failed", "Insufficient access", 0, "  dsimport     failed 1/1/2099"},
  };
  for (const auto& c : cases) {
    Set("DistList", c.distList);
    Set("DistListImportMargin", c.margin);
    fs::remove(record);
    if (!c.result.empty()) import(c.result, c.cause);
    Outcome o = Run("--status");
    EXPECT_EQ(o.status, c.status) << o.output;
    EXPECT_NE(o.output.find(c.line), std::string::npos) << c.line << "\n" << o.output;
  }
  Set("DistList", "True");
  Set("EMS_AB_PROXY_ADDRESSES", "1");
  Set("DistListFile", (home / "distlist.csv").string());
  Outcome check = Run("--check");
  EXPECT_NE(check.output.find("warning: distribution list: the last dsimport failed 1/1/2099 12:01:00 AM (list "
                              "\"Staff\"): Insufficient access\n"),
            std::string::npos)
      << check.output;
}

TEST(IsStatementEntry, OnlyXsqlEntries) {
  EXPECT_TRUE(corvane::runtool::IsStatementEntry("10:00 Xsql:drop table GAL"));
  EXPECT_FALSE(corvane::runtool::IsStatementEntry("10:00 Error: -1 - x"));
  EXPECT_FALSE(corvane::runtool::IsStatementEntry("10:00 LoggedSQL: Xsql:"));
}

TEST(PrintableEntry, CarriageReturnsBecomeIndentedLines) {
  EXPECT_EQ(corvane::runtool::PrintableEntry("10:00 connstr:x\r  Mailprofile:y"), "10:00 connstr:x\n        Mailprofile:y");
  EXPECT_EQ(corvane::runtool::PrintableEntry("a\r\nb"), "a\n      b");
}

}  // namespace
