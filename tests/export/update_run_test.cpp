// The update run over a real database with a stand-in GAL library: the
// whole export, its log lines and events, the recovery handler and the
// ways a run ends early.
#include "service/export/update_run.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/recording_connection.h"
#include "service/export/gal_library.h"
#include "tests/export/export_fixture.h"

namespace corvane::testing {
namespace {

using ntservice::EVENTLOG_ERROR_TYPE;
using ntservice::EVENTLOG_INFORMATION_TYPE;

std::vector<Row> SampleEntries() {
  return {Entry("00A1", "Ann", "O'Hara", "SMTP:ann.o'hara@example.org{;},smtp:ann@example.org{;},X400:c=US;a= ;p=Org{;}"),
          Entry("00A2", "Bob", "Roe", std::nullopt),
          Entry("00A3", "Cy", "Low", "smtp:cy@example.org{;}"),
          Entry("00A4", "Dee", "Zhang", "X500:/o=Org/cn=dee{;},smtp:d1@x.org{;},smtp:d2@x.org{;},SMTP:dee@x.org{;},smtp:d3@x.org{;},smtp:d4@x.org{;}")};
}

class UpdateRun : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    auto db = OpenTestDatabase(GetParam(), "run");
    CORVANE_REQUIRE_DATABASE(db);
    h = std::make_unique<Harness>(*db);
    h->ConfigureDefaults();
    h->library.entries = SampleEntries();
  }
  void TearDown() override {
    if (!h) return;
    auto c = h->Db();
    Quietly(*c, "drop table " + h->w.TableName);
    Quietly(*c, "drop table " + h->w.TempTableName);
  }
  // Index of the first log entry that starts with `prefix`, or -1.
  int Find(const std::string& prefix, int from = 0) {
    for (int i = from; i < static_cast<int>(h->entries.size()); ++i)
      if (h->entries[i].rfind(prefix, 0) == 0) return i;
    return -1;
  }
  std::unique_ptr<Harness> h;
};

TEST_P(UpdateRun, ExportsTheDirectoryIntoTheFinalTable) {
  ASSERT_EQ(h->Run(), true);
  auto c = h->Db();
  std::vector<std::string> expected = {"ENTRY_ID", "GIVEN_NAME", "SURNAME", "DISPLAY_NAME", "TITLE", "COMPANY_NAME",
                                       "OFFICE_TELEPHONE_NUMBER", "MOBILE_TELEPHONE_NUMBER", "BUS_DEPARTMENT_NAME",
                                       "ACCOUNT", "ADDR1", "ADDR2", "ADDR3", "ADDR4", "ADDR5", "SMTP", "DEFSMTP"};
  EXPECT_EQ(ColumnsOf(*c, h->w.TableName), expected);
  auto rows = ReadRows(*c, "select * from " + h->w.TableName + " order by entry_id");
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0]["SURNAME"], "O'Hara");
  EXPECT_EQ(rows[0]["ADDR1"], "SMTP:ann.o'hara@example.org");
  EXPECT_EQ(rows[0]["ADDR3"], "X400:c=US;a= ;p=Org");
  EXPECT_EQ(rows[0]["SMTP"], "ann.o'hara@example.org");
  EXPECT_EQ(rows[0]["DEFSMTP"], "ann.o'hara@example.org");
  EXPECT_EQ(rows[1]["ADDR1"], std::nullopt);
  EXPECT_EQ(rows[1]["GIVEN_NAME"], "Bob");
  EXPECT_EQ(rows[2]["ADDR1"], "smtp:cy@example.org");
  EXPECT_EQ(rows[2]["SMTP"], std::nullopt);  // an empty SMTP is not copied
  EXPECT_EQ(rows[3]["ADDR5"], "smtp:d3@x.org");
  EXPECT_EQ(rows[3]["SMTP"], "dee@x.org");

  // Bookkeeping of a finished run.
  EXPECT_EQ(h->control.settings["LastSuccessfulRun"], "1-1-2027 0:5:30 AM");
  EXPECT_EQ(h->control.settings["MailProfile"], "TWCorvane");
  EXPECT_FALSE(h->run.isrunning);
  EXPECT_FALSE(h->run.RunInProgress);
  EXPECT_TRUE(h->run.StartupRunDone);
  EXPECT_EQ(h->library.calls,
            (std::vector<std::string>{"CreateProfileWithIProfAdmin(jdoe,/srv/directory.ldif,TRUE)",
                                      "GetGALCount(TWCorvane,TRUE)",
                                      "ModifyStruct(TWCorvane," + h->w.TempTableName + ",TRUE,0)"}));

  // The run log, in order.
  int at = 0;
  for (const char* line : {"Update GAL Started:", "isrunning = true", "About to open ADO Objects", "Opened ADO Objects",
                           "connstr:", "Saved Service Parameters", "Database Connect attempt finished", "DBtype:OTHER",
                           "Start: ", "Profile: 1", "Total GAL entries: 4", "DllEnd: ", "ParseSrt:",
                           "Email not found for entry this entry", "Parse End:"}) {
    int found = Find(line, at);
    EXPECT_GE(found, 0) << line << "\n" << h->LogText();
    if (found >= 0) at = found;
  }
  auto info = h->EventTexts(EVENTLOG_INFORMATION_TYPE, 110);
  ASSERT_EQ(info.size(), 2u);
  EXPECT_EQ(info[0], "UpdateGAL process initiated.\rUpdateGAL has started to run at: 1/1/2027 12:05:30 AM");
  EXPECT_EQ(info[1], "UpdateGAL process finished.\rUpdateGAL has ended at: 1/1/2027 12:05:30 AM");
  EXPECT_TRUE(h->EventTexts(EVENTLOG_ERROR_TYPE, 109).empty());

  // The next run replaces both tables.
  ASSERT_EQ(h->Run(), true);
  EXPECT_EQ(ReadRows(*c, "select entry_id from " + h->w.TableName).size(), 4u);
}

TEST_P(UpdateRun, DatabaseFailureDuringTheParsePassEndsTheRunAndTheNextRunWorks) {
  int updates = 0;
  *h->faults = [&](const std::string& op) { return op == "Update" && ++updates == 2; };
  ASSERT_EQ(h->Run(), false);
  EXPECT_GE(Find("-2147467259  Injected failure of Update"), 0) << h->LogText();
  auto info = h->EventTexts(EVENTLOG_INFORMATION_TYPE, 110);
  ASSERT_FALSE(info.empty());
  EXPECT_EQ(info.back().rfind("An Error occured within the program that most likely was caused by a previous incomplete run.", 0), 0u);
  EXPECT_FALSE(h->run.isrunning);
  EXPECT_FALSE(h->run.RunInProgress);
  EXPECT_EQ(h->w.ServiceConnection, nullptr);
  EXPECT_FALSE(TableExists(*h->Db(), h->w.TempTableName));
  EXPECT_EQ(h->control.settings.count("LastSuccessfulRun"), 0u);

  *h->faults = nullptr;
  ASSERT_EQ(h->Run(), true);
  EXPECT_EQ(ReadRows(*h->Db(), "select entry_id from " + h->w.TableName).size(), 4u);
}

TEST_P(UpdateRun, NoPasswordInTheLogOrEvents) {
  std::string cs = h->db.connectionString;
  if (GetParam() == "sqlite") cs += ";PWD=Sup3r$ecret";  // the SQLite driver ignores it
  h->control.settings["ConnectionString"] = cs;
  ASSERT_EQ(h->Run(), true);
  std::string password = GetParam() == "sqlite" ? "Sup3r$ecret" : "corvane-test";
  EXPECT_EQ(h->LogText().find(password), std::string::npos) << h->LogText();
  EXPECT_EQ(h->LogText().find(password), std::string::npos);
  for (const auto& e : h->control.events) EXPECT_EQ(e.text.find(password), std::string::npos) << e.text;
  EXPECT_NE(h->LogText().find("=EXISTS"), std::string::npos);
}

// Without a final table the run has not published the address list: it
// fails, and the table is remembered as incomplete.
TEST_P(UpdateRun, ExcludeWithoutFieldNameWritesEventAndBuildsNoFinalTable) {
  h->control.settings["Exclude"] = "1";
  h->control.settings["ExcludeFieldName"] = "";
  ASSERT_EQ(h->Run(), false);
  auto info = h->EventTexts(EVENTLOG_INFORMATION_TYPE, 110);
  EXPECT_NE(std::find(info.begin(), info.end(), "Exclude Settings invalid\r\n"), info.end());
  EXPECT_EQ(h->EventTexts(EVENTLOG_ERROR_TYPE, 109).front(),
            "Exclude Settings invalid: the final table " + h->w.TableName + " was not built");
  EXPECT_EQ(h->control.settings["FinalTableIncomplete"], "1");
  EXPECT_EQ(h->control.settings.count("LastSuccessfulRun"), 0u);
  EXPECT_FALSE(TableExists(*h->Db(), h->w.TableName));
  // The copy does not try every row against a missing table.
  EXPECT_GE(Find("Final table " + h->w.TableName + " was not created; no rows copied"), 0) << h->LogText();
  EXPECT_EQ(Find("Xsql:insert"), -1);
}

TEST_P(UpdateRun, ExclusionIsNotAppliedOnTheOtherKind) {
  auto c = h->Db();
  Quietly(*c, "drop table " + h->w.TableName + "_EX");
  c->Execute("create table " + h->w.TableName + "_EX (ACCOUNT varchar(255))");
  c->Execute("insert into " + h->w.TableName + "_EX values ('broe')");
  h->control.settings["Exclude"] = "1";
  h->control.settings["ExcludeTableName"] = h->w.TableName + "_EX";
  h->control.settings["ExcludeFieldName"] = "ACCOUNT";
  ASSERT_EQ(h->Run(), true);
  EXPECT_EQ(ReadRows(*c, "select entry_id from " + h->w.TableName).size(), 4u);
  Quietly(*c, "drop table " + h->w.TableName + "_EX");
}

TEST_P(UpdateRun, NothingSelectedPublishesIdentifiersAndAddresses) {
  for (auto& [name, value] : h->control.settings)
    if (value == "1") value = "0";
  ASSERT_EQ(h->Run(), true);
  auto c = h->Db();
  EXPECT_EQ(ColumnsOf(*c, h->w.TableName),
            (std::vector<std::string>{"ENTRY_ID", "ADDR1", "ADDR2", "ADDR3", "ADDR4", "ADDR5", "SMTP", "DEFSMTP"}));
  EXPECT_EQ(ReadRows(*c, "select entry_id from " + h->w.TableName).size(), 4u);
}

INSTANTIATE_TEST_SUITE_P(Databases, UpdateRun, ::testing::Values("sqlite", "postgres", "mariadb"),
                         [](const auto& info) { return info.param; });

// Paths that do not depend on the database kind run on SQLite only.
class UpdateRunPaths : public ::testing::Test {
 protected:
  void SetUp() override {
    h = std::make_unique<Harness>(*OpenTestDatabase("sqlite", "paths"));
    h->ConfigureDefaults();
    h->library.entries = SampleEntries();
  }
  int Find(const std::string& prefix) {
    for (int i = 0; i < static_cast<int>(h->entries.size()); ++i)
      if (h->entries[i].rfind(prefix, 0) == 0) return i;
    return -1;
  }
  std::unique_ptr<Harness> h;
};

TEST_F(UpdateRunPaths, OracleRunShapesItsStatementsForOracle) {
  auto oracle = ado::RecordingDatabase::LikeOracle();
  h->w.NewConnection = oracle->Factory();
  h->w.TableName = "GAL";
  h->w.TempTableName = "TEMP_GAL";
  h->library.entries.clear();
  h->library.galCount = 2;
  h->control.settings["Exclude"] = "1";
  h->control.settings["ExcludeTableName"] = "EXCLUDES";
  h->control.settings["ExcludeFieldName"] = "ACCOUNT";
  oracle->WhenPrefix("select count(*) from", ado::ScriptedAnswer::Rows({"n"}, {{"0"}}));
  ASSERT_EQ(h->Run(), true) << h->LogText();
  EXPECT_GE(Find("DBtype:ORACLE"), 0);
  const auto& s = oracle->statements;
  auto has = [&](const std::string& prefix) {
    return std::any_of(s.begin(), s.end(), [&](const std::string& x) { return x.rfind(prefix, 0) == 0; });
  };
  EXPECT_TRUE(has("drop table TEMP_GAL"));
  EXPECT_TRUE(has("alter table TEMP_GAL drop constraint GAL_ENTRY_ID"));
  EXPECT_TRUE(has("CREATE TABLE TEMP_GAL (ENTRY_ID varchar(1024)"));
  EXPECT_NE(std::find_if(s.begin(), s.end(),
                         [](const std::string& x) { return x.find("CONSTRAINT GAL_ENTRY_ID PRIMARY KEY (entry_id))") != std::string::npos; }),
            s.end());
  EXPECT_TRUE(has("create table GAL as select  entry_id, GIVEN_NAME,SURNAME,DISPLAY_NAME,TITLE,COMPANY_NAME,"));
  EXPECT_TRUE(has("select entry_id, ems_ab_proxy_addresses, addr1, addr2, addr3, addr4, addr5, smtp from TEMP_GAL"));
  EXPECT_NE(std::find_if(s.begin(), s.end(),
                         [](const std::string& x) {
                           return x.find(" from TEMP_GAL a where not exists (select 'x' from EXCLUDES b where "
                                         "upper(a.ACCOUNT) = upper(b.ACCOUNT))") != std::string::npos;
                         }),
            s.end());
  // The password-bearing connection string reaches the database, not the log.
  EXPECT_EQ(oracle->connectionStrings.front(), h->db.connectionString);
}

TEST_F(UpdateRunPaths, ASecondCallDuringARunIsTurnedAway) {
  h->run.isrunning = true;
  ASSERT_EQ(h->Run(), true);
  ASSERT_EQ(h->entries.size(), 1u);
  EXPECT_EQ(h->entries[0].rfind("Update GAL Started:", 0), 0u);
  EXPECT_FALSE(h->run.RunInProgress);
  EXPECT_TRUE(h->library.calls.empty());
}

TEST_F(UpdateRunPaths, ATickDuringTheParsePassCannotStartASecondRun) {
  int nested = 0;
  h->w.DoEvents = [&] {
    if (nested++ == 3) {
      bool inner = false;
      service::UpdateGAL(h->w, h->run, inner, h->hooks);
      EXPECT_TRUE(inner);
    }
  };
  ASSERT_EQ(h->Run(), true);
  EXPECT_EQ(h->library.calls.size(), 3u);
  EXPECT_FALSE(h->run.RunInProgress);
}

// A stop request met at any yield of the run (its steps, the passes, the
// follow-on jobs), or raised inside any database operation, passes through
// every catch on the way: the run ends as stopped with the stop's exit
// status and goes no further.
TEST_F(UpdateRunPaths, AStopAtAnyYieldEndsTheRunAsStopped) {
  const auto prepare = [&] {
    h->w.DistList = true;
    h->control.settings["chkcontacts0"] = "1";
    h->control.settings["chkcontacts1"] = "1";
    h->hooks.ImportDL = h->hooks.ExportLocalContacts = h->hooks.SyncPublicFolderContacts =
        [](service::ExportContext& m) { m.DoEvents(); };
  };
  prepare();
  int yields = 0, operations = 0;
  h->w.DoEvents = [&] { ++yields; };
  *h->faults = [&](const std::string&) { return ++operations, false; };
  ASSERT_EQ(h->Run(), true);
  ASSERT_GT(yields, 6);
  ASSERT_GT(operations, 20);
  for (const bool inOperation : {false, true}) {
    for (int at = 1; at <= (inOperation ? operations : yields); ++at) {
      h.reset();  // a fresh database file for each stop
      SetUp();
      prepare();
      int calls = 0;
      const auto stopAt = [&] {
        if (++calls < at) return false;
        h->run.StopRequested = true;
        throw service::EndServiceProcess{"", 0};  // as the host's guarded yield throws it
      };
      if (inOperation)
        *h->faults = [&](const std::string&) { return stopAt(); };
      else
        h->w.DoEvents = [&] { stopAt(); };
      const std::string where = (inOperation ? "stop in operation " : "stop at yield ") + std::to_string(at);
      EXPECT_EQ(h->Run(), std::nullopt) << where;
      EXPECT_EQ(calls, at) << where;
      ASSERT_TRUE(h->ended && !h->outcomes.empty()) << where;
      EXPECT_EQ(h->ended->exitCode, 0);
      EXPECT_EQ(h->outcomes.back().kind, service::RunOutcome::Kind::Stopped) << where;
    }
  }
}

TEST_F(UpdateRunPaths, NoExtraEventsSuppressesStartAndEndEvents) {
  h->w.NoExtraEvents = 1;
  ASSERT_EQ(h->Run(), true);
  EXPECT_TRUE(h->control.events.empty());
}

TEST_F(UpdateRunPaths, BeforeAndAfterCommandsAreOpenedAndNotWaitedFor) {
  h->control.settings["RunBefore"] = "1";
  h->control.settings["RunBeforeCommand"] = "/opt/corvane/before.sh";
  h->control.settings["RunAfter"] = "True";
  h->control.settings["RunAfterCommand"] = "/opt/corvane/after.sh --flag";
  h->shell.result = false;  // a command that cannot be opened changes nothing
  ASSERT_EQ(h->Run(), true);
  EXPECT_EQ(h->shell.opened, (std::vector<std::string>{"/opt/corvane/before.sh", "/opt/corvane/after.sh --flag"}));
  EXPECT_LT(Find("RunBeforeCommand: /opt/corvane/before.sh"), Find("About to open ADO Objects"));
  EXPECT_GE(Find("RunAfterCommand: /opt/corvane/after.sh --flag"), 0);
}

TEST_F(UpdateRunPaths, SwitchesOffOpenNothing) {
  h->control.settings["RunBefore"] = "0";
  h->control.settings["RunBeforeCommand"] = "/opt/corvane/before.sh";
  ASSERT_EQ(h->Run(), true);
  EXPECT_TRUE(h->shell.opened.empty());
}

TEST_F(UpdateRunPaths, AfterSqlIsSplitAtSemicolonsAndATrailingOneRunsAnEmptyStatement) {
  h->control.settings["RunSQLAfter"] = "1";
  h->control.settings["RunSQLAfterCmd"] =
      "update " + h->w.TableName + " set TITLE='A'; update " + h->w.TableName + " set COMPANY_NAME='B';";
  ASSERT_EQ(h->Run(), true);
  EXPECT_GE(Find("LoggedSQL: update " + h->w.TableName + " set TITLE='A'"), 0);
  EXPECT_GE(Find("LoggedSQL: update " + h->w.TableName + " set COMPANY_NAME='B'"), 0) << h->LogText();
  auto rows = ReadRows(*h->Db(), "select TITLE, COMPANY_NAME from " + h->w.TableName);
  EXPECT_EQ(rows[0]["COMPANY_NAME"], "B");
  EXPECT_EQ(std::count(h->entries.begin(), h->entries.end(), std::string("LoggedSQL: ")), 1);
  // The empty statement is refused: an error event and a log line, and the run finishes.
  auto errors = h->EventTexts(EVENTLOG_ERROR_TYPE, 109);
  ASSERT_EQ(errors.size(), 1u) << h->LogText();
  EXPECT_EQ(errors[0].rfind("SQL:[", 0), 0u);
  EXPECT_GE(Find("LogSQLErr:["), 0);
}

// The administrator's statements run with the database's own like (on
// SQLite: case-insensitive), before and after the final-table copy.
TEST_F(UpdateRunPaths, AdministratorStatementsKeepTheDatabasesOwnLike) {
  h->control.settings["RunSQLPreParse"] = "1";
  h->control.settings["RunSQLPreParseCmd"] =
      "update " + h->w.TempTableName + " set COMPANY_NAME='pre' where SURNAME like 'ROE'";
  h->control.settings["RunSQLAfter"] = "1";
  h->control.settings["RunSQLAfterCmd"] = "update " + h->w.TableName + " set TITLE='after' where DISPLAY_NAME like 'ANN%'";
  ASSERT_EQ(h->Run(), true) << h->LogText();
  auto rows = ReadRows(*h->Db(), "select entry_id, TITLE, COMPANY_NAME from " + h->w.TableName + " order by entry_id");
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0]["TITLE"], "after");        // Ann O'Hara
  EXPECT_EQ(rows[1]["COMPANY_NAME"], "pre");    // Bob Roe
  EXPECT_EQ(rows[2]["TITLE"], "Engineer");
}

TEST_F(UpdateRunPaths, MissingMailboxEndsTheProcess) {
  h->control.settings.erase("Mailbox");
  EXPECT_EQ(h->Run(), std::nullopt);
  EXPECT_EQ(h->ended->exitCode, service::kExitMissingSetting);
  EXPECT_GE(Find("Mailbox and Server not specified.  Application Shutting Down."), 0);
  EXPECT_FALSE(h->run.RunInProgress);
  EXPECT_TRUE(h->library.calls.empty());
}

TEST_F(UpdateRunPaths, MissingServerEndsTheProcess) {
  h->control.settings["Server"] = "";
  EXPECT_EQ(h->Run(), std::nullopt);
  EXPECT_GE(Find("Mailbox and Server not specified.  Application Shutting Down."), 0);
  EXPECT_TRUE(h->library.calls.empty());
}

TEST_F(UpdateRunPaths, EmptyGalStopsTheService) {
  h->library.galCount = 0;
  EXPECT_EQ(h->Run(), std::nullopt);
  EXPECT_EQ(h->ended->exitCode, service::kExitEndedByDesign);
  EXPECT_TRUE(h->control.stopRequested);
  EXPECT_FALSE(h->run.RunInProgress);
  auto info = h->EventTexts(EVENTLOG_INFORMATION_TYPE, 110);
  ASSERT_EQ(info.size(), 2u);
  EXPECT_EQ(info[1].rfind("Unable to use the specified server (/srv/directory.ldif) and mailbox (jdoe) to read the "
                          "global address list or no GAL entries found.\r\r Check that a MAPI Client",
                          0),
            0u);
  EXPECT_NE(info[1].find("\r The Service will now be stopped:1/1/2027 12:05:30 AM"), std::string::npos);
}

TEST_F(UpdateRunPaths, EmptyGalWithFileLoggingShowsAMessage) {
  h->library.galCount = 0;
  h->w.FileLogging = true;
  EXPECT_EQ(h->Run(), std::nullopt);
  ASSERT_EQ(h->control.msgBoxes.size(), 1u);
  EXPECT_EQ(h->control.msgBoxes[0].rfind("Global Address List entry count is zero|No entries read", 0), 0u);
  EXPECT_TRUE(h->control.stopRequested);
  EXPECT_EQ(h->library.calls[0], "CreateProfileWithIProfAdmin(jdoe,/srv/directory.ldif,FALSE)");

  h->control.msgBoxes.clear();
  h->library.profileResult = 0;
  h->control.stopRequested = false;
  h->run.isrunning = false;
  EXPECT_EQ(h->Run(), std::nullopt);
  ASSERT_EQ(h->control.msgBoxes.size(), 1u);
  EXPECT_EQ(h->control.msgBoxes[0], "Corvane|# of entries read from GAL is 0.  Ending.");
  EXPECT_FALSE(h->control.stopRequested);
}

TEST_F(UpdateRunPaths, LibraryThatCannotBeLoadedFailsIntoRecoveryThenEndsOnTheEmptyCount) {
  service::DynamicGalLibrary missing(h->db.dir / "nowhere", "libCorvaneMissing.so");
  h->hooks.library = &missing;
  EXPECT_EQ(h->Run(), std::nullopt);
  auto errors = h->EventTexts(EVENTLOG_ERROR_TYPE, 109);
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_EQ(errors[0].rfind("[53] File not found: libCorvaneMissing.so", 0), 0u);
  EXPECT_GE(Find("53  File not found: libCorvaneMissing.so"), 0);
  EXPECT_GE(Find("Total GAL entries: 0"), 0);
  EXPECT_TRUE(h->control.stopRequested);
}

TEST_F(UpdateRunPaths, MissingConnectionStringTakesTheDatabaseBranch) {
  h->control.settings.erase("ConnectionString");
  EXPECT_EQ(h->Run(), false);
  EXPECT_EQ(h->control.settings["ConnectionString"], "Need Connection String");
  EXPECT_FALSE(h->run.isrunning);
  EXPECT_TRUE(h->library.calls.empty());
}

TEST_F(UpdateRunPaths, EmptyTemporaryTableNameEndsTheProcess) {
  h->w.TempTableName = "";
  EXPECT_EQ(h->Run(), std::nullopt);
  EXPECT_EQ(h->ended->exitCode, service::kExitMissingSetting);
  EXPECT_GE(Find("UpdateGAL quit, because it was missing a connectstring, a mailprofilename or a temp tablename. "), 0);
  EXPECT_FALSE(h->run.RunInProgress);
}

TEST_F(UpdateRunPaths, ASwitchThatIsNotANumberIsReportedAndTheRunGoesOn) {
  h->control.settings["TITLE"] = "yes";
  ASSERT_EQ(h->Run(), true);
  auto errors = h->EventTexts(EVENTLOG_ERROR_TYPE, 109);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], "[13] Type mismatch");
}

TEST_F(UpdateRunPaths, AThousandFailuresEndTheProcess) {
  h->faultNumber = ado::adErrStatementRefused;
  *h->faults = [](const std::string& op) { return op == "MoveNext"; };
  EXPECT_EQ(h->Run(), std::nullopt);
  auto errors = h->EventTexts(EVENTLOG_ERROR_TYPE, 109);
  ASSERT_EQ(errors.size(), 1002u);
  EXPECT_EQ(errors.back(), "Quiting... To many errors. Check configuration. Injected failure of MoveNext");
  EXPECT_FALSE(h->run.RunInProgress);
  EXPECT_EQ(h->ended->exitCode, service::kExitEndedByDesign);
}

TEST_F(UpdateRunPaths, TheFailureCountStartsAgainOnANewDay) {
  h->faultNumber = ado::adErrStatementRefused;
  *h->faults = [](const std::string& op) { return op == "MoveNext"; };
  int calls = 0;
  h->w.DoEvents = [&] {
    if (++calls == 1200) h->clock.Advance(24 * 3600);  // midnight passes during the pass
  };
  EXPECT_EQ(h->Run(), std::nullopt);
  auto errors = h->EventTexts(EVENTLOG_ERROR_TYPE, 109);
  // Without the new day the process would have ended after 1002 events.
  EXPECT_GT(errors.size(), 1100u);
  EXPECT_EQ(errors.back(), "Quiting... To many errors. Check configuration. Injected failure of MoveNext");
}

TEST_F(UpdateRunPaths, AnUnreadableParameterIsAFailedStepAndTheRunGoesOn) {
  h->control.unreadable.insert("RunSQLBefore");
  ASSERT_EQ(h->Run(), true);
  auto errors = h->EventTexts(EVENTLOG_ERROR_TYPE, 109);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], "[-2147418113] registry hive unreadable at RunSQLBefore");
}

TEST_F(UpdateRunPaths, DebugModeStopsAtTheFirstTrappedFailure) {
  h->w.DebugMode = true;
  h->faultNumber = ado::adErrStatementRefused;
  *h->faults = [](const std::string& op) { return op == "Update"; };
  EXPECT_EQ(h->Run(), std::nullopt);
  EXPECT_TRUE(h->EventTexts(EVENTLOG_ERROR_TYPE, 109).empty());
}

// Whatever keeps the temporary table from holding the address list as read
// fails the run before the final table is touched.
TEST_F(UpdateRunPaths, AnExportThatIsNotWholeFailsTheRunAndKeepsThePublishedTable) {
  using State = galreader::ExportReport::State;
  ASSERT_EQ(h->Run(), true);  // the published table: four rows
  const std::string last = h->control.settings["LastSuccessfulRun"];
  const struct {
    std::optional<galreader::ExportReport> report;
    std::string cause;
  } cases[] = {
      {galreader::ExportReport{State::CutShort, 4, 2, 2, 0, "the database connection was lost"},
       "The GAL export was cut short after 2 of 4 entries: the database connection was lost"},
      {galreader::ExportReport{State::Stopped, 4, 2, 2, 0, ""}, "The GAL export was stopped after 2 of 4 entries"},
      {std::nullopt, "The GAL export left no report in CorvaneDLL.ctl"},
      {galreader::ExportReport{State::Complete, 4, 4, 3, 1, ""},
       "The temporary table " + h->w.TempTableName + " holds 4 rows where the GAL export wrote 3"},
  };
  for (const auto& c : cases) {
    h->control.events.clear();
    h->library.report = c.report;
    ASSERT_EQ(h->Run(), false) << c.cause;
    ASSERT_FALSE(h->EventTexts(EVENTLOG_ERROR_TYPE, 109).empty());
    EXPECT_EQ(h->EventTexts(EVENTLOG_ERROR_TYPE, 109).front().rfind(c.cause, 0), 0u) << c.cause;
    EXPECT_EQ(h->outcomes.back().kind, service::RunOutcome::Kind::Failed);
    EXPECT_EQ(h->outcomes.back().cause.rfind(c.cause, 0), 0u);
    EXPECT_EQ(h->control.settings["LastSuccessfulRun"], last);
    EXPECT_EQ(ReadRows(*h->Db(), "select entry_id from " + h->w.TableName).size(), 4u);
  }
}

// A final table that does not hold every row fails the run with the counts,
// and is remembered as incomplete until a run completes.
TEST_F(UpdateRunPaths, AShortFinalTableFailsTheRunUntilARunCompletes) {
  *h->faults = [](const std::string& op) {
    return op.rfind("insert into", 0) == 0 && op.find("'00A3'") != std::string::npos;  // one row of the copy
  };
  h->faultNumber = ado::adErrStatementRefused;
  ASSERT_EQ(h->Run(), false);
  auto errors = h->EventTexts(EVENTLOG_ERROR_TYPE, 109);
  ASSERT_EQ(errors.size(), 2u) << h->LogText();
  EXPECT_EQ(errors[0], "The final table " + h->w.TableName +
                           " holds 3 rows where 4 were expected from the temporary table " + h->w.TempTableName);
  EXPECT_EQ(errors[1].rfind("The final table " + h->w.TableName + " is incomplete: the run failed", 0), 0u);
  EXPECT_EQ(h->control.settings["FinalTableIncomplete"], "1");
  EXPECT_EQ(h->outcomes.back().finalRows, 3);

  *h->faults = nullptr;
  ASSERT_EQ(h->Run(), true);
  EXPECT_EQ(h->control.settings["FinalTableIncomplete"], "0");
  EXPECT_EQ(h->outcomes.back().kind, service::RunOutcome::Kind::Completed);
  EXPECT_EQ(h->outcomes.back().temporaryRows, 4);
  EXPECT_EQ(h->outcomes.back().finalRows, 4);
}

TEST_F(UpdateRunPaths, FollowOnJobsRunWhenSwitchedOn) {
  std::vector<std::string> jobs;
  h->hooks.ImportDL = [&](service::ExportContext&) {
    jobs.push_back("dl");
    throw std::runtime_error("cannot start /opt/corvane/dsimport");  // skipped with a line saying why
  };
  h->hooks.ExportLocalContacts = [&](service::ExportContext&) { jobs.push_back("local"); };
  h->hooks.SyncPublicFolderContacts = [&](service::ExportContext&) {
    jobs.push_back("pf");
    throw std::runtime_error("mail store unavailable");  // skipped; the run still finishes
  };
  h->w.DistList = true;
  h->control.settings["chkcontacts0"] = "1";
  h->control.settings["chkcontacts1"] = "1";
  ASSERT_EQ(h->Run(), true);
  EXPECT_EQ(jobs, (std::vector<std::string>{"dl", "local", "pf"}));
  EXPECT_GE(Find("createdistlist"), 0);
  EXPECT_GE(Find("Local Contacts Done: "), 0);
  EXPECT_EQ(Find("PF Contacts Done: "), -1);
  EXPECT_GE(Find("ImportDL failed: cannot start /opt/corvane/dsimport"), 0);
}

}  // namespace
}  // namespace corvane::testing
