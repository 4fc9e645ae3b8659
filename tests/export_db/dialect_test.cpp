// The database procedures on databases without a test server (SQL Server,
// Oracle), through the recording connection, and the cases a real database
// cannot stage.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/recording_connection.h"
#include "service/export/database.h"
#include "service/export/database_dialect.h"
#include "tests/export_db/service_fixture.h"

namespace corvane::testing {
namespace {

using ado::RecordingConnection;
using ado::RecordingDatabase;
using ado::ScriptedAnswer;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

struct Dialect : ::testing::Test {
  std::shared_ptr<RecordingDatabase> Use(std::shared_ptr<RecordingDatabase> db) {
    auto c = std::make_unique<RecordingConnection>(db);
    c->Open("Provider=x");
    sw.w.ServiceConnection = std::move(c);
    return db;
  }
  ServiceWindow sw;
};

TEST_F(Dialect, DetermineDBTypeAnswersByWhichProbeReturnsAResult) {
  auto mssql = Use(RecordingDatabase::LikeMssql());
  EXPECT_EQ(service::DetermineDBType(sw.w), "MSSQL");
  EXPECT_THAT(mssql->statements, ElementsAre("sp_tables"));

  auto oracle = Use(RecordingDatabase::LikeOracle());
  EXPECT_EQ(service::DetermineDBType(sw.w), "ORACLE");
  EXPECT_THAT(oracle->statements, ElementsAre("sp_tables", "select sysdate from dual"));

  // Both probes run but return no result (a database that accepts the texts
  // as commands): neither kind.
  auto other = Use(std::make_shared<RecordingDatabase>());
  EXPECT_EQ(service::DetermineDBType(sw.w), "OTHER");
  EXPECT_THAT(other->statements, ElementsAre("sp_tables", "select sysdate from dual"));
  EXPECT_THAT(sw.lines, IsEmpty());

  // No connection at all.
  sw.w.ServiceConnection.reset();
  EXPECT_EQ(service::DetermineDBType(sw.w), "OTHER");
}

TEST_F(Dialect, XsqlLogsEveryProviderRecordWithItsNativeNumber) {
  auto db = Use(std::make_shared<RecordingDatabase>());
  db->When("drop table GAL",
           ScriptedAnswer::Fail(-2147217865, "[Microsoft][ODBC SQL Server Driver][SQL Server]Cannot drop",
                                {{3701, "42S02", "Cannot drop the table 'GAL'"}, {-5, "01000", "second record"}}));
  std::string statement = "drop table\n GAL";
  service::xSQL(sw.w, statement);
  EXPECT_THAT(db->statements, ElementsAre("drop table GAL"));
  EXPECT_THAT(sw.lines, ElementsAre("ConnErr:3701-Cannot drop the table 'GAL'", "ConnErr:-5-second record",
                                    "Error: -2147217865 - [Microsoft][ODBC SQL Server Driver][SQL Server]Cannot drop",
                                    "Xsql:drop table GAL"));
  EXPECT_THAT(sw.w.ServiceConnection->Errors(), IsEmpty());
}

TEST_F(Dialect, XsqlWithoutAConnectionLogsTheFailureAndGoesOn) {
  service::xSQL(sw.w, "select 1");
  EXPECT_THAT(sw.lines, ElementsAre("Error: 91 - Object variable or With block variable not set", "Xsql:select 1"));
}

TEST_F(Dialect, LoggedSqlSendsTheStatementUnchanged) {
  auto db = Use(std::make_shared<RecordingDatabase>());
  db->When("bad\r\nstatement", ScriptedAnswer::Fail(-2147217900, "Incorrect syntax"));
  service::LoggedSQL(sw.w, "update x set a = 1\r\nwhere b = 2");
  service::LoggedSQL(sw.w, "bad\r\nstatement");
  EXPECT_THAT(db->statements, ElementsAre("update x set a = 1\r\nwhere b = 2", "bad\r\nstatement"));
  EXPECT_THAT(sw.lines, ElementsAre("LoggedSQL: update x set a = 1\r\nwhere b = 2", "LoggedSQL: bad\r\nstatement",
                                    "LogSQLErr:[-2147217900] Incorrect syntax"));
  ASSERT_EQ(sw.control.events().size(), 1u);
  EXPECT_EQ(sw.control.events()[0], (ntservice::RecordedEvent{1, 109, "SQL:[-2147217900] Incorrect syntax"}));
}

TEST_F(Dialect, ConstraintProceduresRunOnlyWhereTheyApply) {
  auto db = Use(std::make_shared<RecordingDatabase>());
  sw.w.TempTableName = "TEMP_GAL";
  sw.w.TableName = "GAL";
  for (const char* kind : {"MSSQL", "OTHER", ""}) {
    sw.w.Dialect = std::make_shared<service::DatabaseDialect>(kind, sw.w.ServiceConnection->DbmsName());
    service::dropconstraint(sw.w);
  }
  service::addconstraint(sw.w);  // DOS is off
  EXPECT_THAT(db->statements, IsEmpty());

  sw.w.Dialect = std::make_shared<service::DatabaseDialect>("ORACLE", sw.w.ServiceConnection->DbmsName());
  service::dropconstraint(sw.w);
  sw.w.DOS = true;
  service::addconstraint(sw.w);
  service::droptable(sw.w, "small_gal");
  EXPECT_THAT(
      db->statements,
      ElementsAre("alter table TEMP_GAL drop constraint GAL_ENTRY_ID",
                  "CREATE UNIQUE INDEX VUZ_OPR.GAL_ENTRY_ID ON VUZ_OPR.GAL(ENTRY_ID) TABLESPACE ZODURAZ PCTFREE "
                  "10 INITRANS 2 MAXTRANS 255 STORAGE ( INITIAL 104K NEXT 104K MINEXTENTS 1 MAXEXTENTS "
                  "2147483645 PCTINCREASE 0 FREELISTS 1 FREELIST GROUPS 1) LOGGING",
                  "drop table small_gal"));
}

TEST_F(Dialect, DoesSyncTableExistWithoutAConnectionStringAnswersNothing) {
  EXPECT_EQ(service::DoesSyncTableExist(sw.w), std::nullopt);
  EXPECT_THAT(sw.lines, ElementsAre("Connection String: ", "Connection String Not found, exiting"));
}

TEST_F(Dialect, DoesSyncTableExistAnswersFalseWhenTheDatabaseIsDown) {
  RecordingDatabase down;
  down.FailOpen();
  sw.w.NewConnection = down.Factory();
  sw.control.Set("ConnectionString", "Provider=MSDASQL;Server=db;Password=s3cret;Database=gal");
  EXPECT_EQ(service::DoesSyncTableExist(sw.w), std::optional<bool>(false));
  EXPECT_THAT(sw.lines, ElementsAre("Connection String: Provider=MSDASQL;Server=db;Password=EXISTS;Database=gal"));
}

TEST_F(Dialect, DoesSyncTableExistOpensTheSyncTableOnItsOwnConnection) {
  RecordingDatabase db;
  db.When("select * from GAL_PFC_SyncData", ScriptedAnswer::Rows({"ENTRY_ID"}));
  sw.w.NewConnection = db.Factory();
  sw.control.Set("ConnectionString", "DSN=gal");
  EXPECT_EQ(service::DoesSyncTableExist(sw.w), std::optional<bool>(true));
  EXPECT_THAT(sw.lines, ElementsAre("Connection String: DSN=gal", "Opened Query: select * from GAL_PFC_SyncData"));
  EXPECT_THAT(db.connectionStrings, ElementsAre("DSN=gal"));
  EXPECT_EQ(db.closes, 1);
}

}  // namespace
}  // namespace corvane::testing
