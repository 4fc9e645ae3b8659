// The service's database procedures on a real database: the same bodies run
// on SQLite and PostgreSQL.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "service/export/database.h"
#include "service/export/schema.h"
#include "tests/ado/test_database.h"
#include "tests/export_db/service_fixture.h"

namespace corvane::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

class Procedures : public DatabaseTest {
 protected:
  void SetUp() override {
    DatabaseTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    sw.w.ServiceConnection = Connect();
  }
  ServiceWindow sw;
};

TEST_P(Procedures, DetermineDBTypeAnswersOtherWithoutLogging) {
  EXPECT_EQ(service::DetermineDBType(sw.w), "OTHER");
  EXPECT_TRUE(sw.lines.empty());
  // The connection is still usable after the refused probes.
  EXPECT_EQ(sw.w.ServiceConnection->Execute("select 1")->GetValue(0), ado::FieldValue("1"));
}

TEST_P(Procedures, TheRunsOwnStatementCreatesTheTemporaryTable) {
  const std::string temp = Table("temp_gal");
  DropLater(temp);
  const std::string longText = service::LongTextTypeFor(sw.w.ServiceConnection->DbmsName());
  EXPECT_EQ(longText, "text");
  service::droptable(sw.w, temp);  // not there yet: only logged
  sw.lines.clear();
  service::xSQL(sw.w, "CREATE TABLE " + temp + service::TempTableColumnList("OTHER", "GAL", longText));
  ASSERT_EQ(sw.lines.size(), 1u) << sw.lines[0];
  EXPECT_THAT(sw.lines[0], StartsWith("Xsql:CREATE TABLE " + temp + " (ENTRY_ID text, DISPLAY_NAME  varchar(255),"));

  // Digit-only identifiers stay text, and the proxy list holds more than 255 characters.
  std::string proxies;
  for (int i = 0; i < 30; ++i) proxies += "smtp:user" + std::to_string(i) + "@example.org{;},";
  service::xSQL(sw.w,
                "insert into " + temp + " (ENTRY_ID, EMS_AB_PROXY_ADDRESSES) values ('00123', '" + proxies + "')");
  auto rs = sw.w.ServiceConnection->Execute("select * from " + temp);
  ASSERT_EQ(rs->FieldCount(), 51);
  const auto names = service::TempTableColumnNames();
  for (int i = 0; i < 51; ++i) EXPECT_EQ(rs->FieldIndex(names[static_cast<size_t>(i)]), i);
  EXPECT_EQ(rs->GetValue("entry_id"), ado::FieldValue("00123"));
  EXPECT_EQ(rs->GetValue("ems_ab_proxy_addresses"), ado::FieldValue(proxies));
  EXPECT_EQ(rs->GetValue("addr1"), std::nullopt);
}

TEST_P(Procedures, AFailedStatementLogsTheProviderErrorsThenTheErrorThenTheStatement) {
  const std::string missing = Table("nosuch");
  service::xSQL(sw.w, "drop table " + missing);
  ASSERT_GE(sw.lines.size(), 3u);
  for (size_t i = 0; i + 2 < sw.lines.size(); ++i) EXPECT_THAT(sw.lines[i], StartsWith("ConnErr:"));
  EXPECT_THAT(sw.lines[sw.lines.size() - 2], StartsWith("Error: -2147217900 - "));
  EXPECT_THAT(sw.lines[sw.lines.size() - 2], HasSubstr(missing));
  EXPECT_EQ(sw.lines.back(), "Xsql:drop table " + missing);
  // The error collection was cleared: the next statement logs only itself.
  EXPECT_TRUE(sw.w.ServiceConnection->Errors().empty());
  sw.lines.clear();
  service::xSQL(sw.w, "select 1");
  EXPECT_THAT(sw.lines, ElementsAre("Xsql:select 1"));
}

TEST_P(Procedures, XsqlRemovesLineFeedsAndKeepsCarriageReturnsAndValuesWhole) {
  const std::string t = Table("crlf");
  DropLater(t);
  std::string statement = "create table " + t + "\r\n(a varchar(20),\r\n b varchar(20))";
  service::xSQL(sw.w, statement);
  EXPECT_EQ(statement, "create table " + t + "\r(a varchar(20),\r b varchar(20))");
  EXPECT_THAT(sw.lines, ElementsAre("Xsql:" + statement));
  EXPECT_EQ(sw.w.ServiceConnection->Execute("select count(*) from " + t)->GetValue(0), ado::FieldValue("0"));

  // Line feeds inside values are data: the table keeps them, and the
  // run-log line shows them as \n, so it stays one line.
  sw.lines.clear();
  statement = "insert into " + t + "\n values ('O''Hara\r\nHof', 'a\nb')";
  service::xSQL(sw.w, statement);
  EXPECT_EQ(statement, "insert into " + t + " values ('O''Hara\r\nHof', 'a\nb')");
  EXPECT_THAT(sw.lines, ElementsAre("Xsql:insert into " + t + " values ('O''Hara\r\\nHof', 'a\\nb')"));
  auto rs = sw.w.ServiceConnection->Execute("select a, b from " + t);
  EXPECT_EQ(rs->GetValue(0), ado::FieldValue("O'Hara\r\nHof"));
  EXPECT_EQ(rs->GetValue(1), ado::FieldValue("a\nb"));
}

TEST_P(Procedures, LoggedSqlLogsTheStatementAndReportsAFailureAsEventAndLine) {
  const std::string t = Table("logged");
  DropLater(t);
  service::LoggedSQL(sw.w, "create table " + t + " (a varchar(10))");
  EXPECT_THAT(sw.lines, ElementsAre("LoggedSQL: create table " + t + " (a varchar(10))"));
  EXPECT_TRUE(sw.control.events().empty());

  sw.lines.clear();
  service::LoggedSQL(sw.w, "insert into " + t + " values ('a', 'too many')");
  ASSERT_EQ(sw.lines.size(), 2u);
  EXPECT_EQ(sw.lines[0], "LoggedSQL: insert into " + t + " values ('a', 'too many')");
  EXPECT_THAT(sw.lines[1], StartsWith("LogSQLErr:[-2147217900] "));
  ASSERT_EQ(sw.control.events().size(), 1u);
  EXPECT_EQ(sw.control.events()[0].type, 1);
  EXPECT_EQ(sw.control.events()[0].id, 109);
  EXPECT_EQ(sw.control.events()[0].text, "SQL:" + sw.lines[1].substr(std::string("LogSQLErr:").size()));
}

TEST_P(Procedures, DoesSyncTableExistOpensItsOwnConnection) {
  sw.w.TableName = Table("gal");
  sw.control.Set("ConnectionString", ConnectionString());
  // The service's own connection plays no part.
  sw.w.ServiceConnection.reset();
  EXPECT_EQ(service::DoesSyncTableExist(sw.w), std::optional<bool>(false));
  ASSERT_EQ(sw.lines.size(), 1u);
  EXPECT_THAT(sw.lines[0], StartsWith("Connection String: "));
  EXPECT_EQ(sw.lines[0].find("corvane-test"), std::string::npos) << "the password must not be logged";
  if (Postgres()) {
    EXPECT_THAT(sw.lines[0], HasSubstr("Pwd=EXISTS"));
  }

  const std::string sync = sw.w.TableName + "_PFC_SyncData";
  DropLater(sync);
  Connect()->Execute("create table " + sync + " (entry_id varchar(255))");
  sw.lines.clear();
  EXPECT_EQ(service::DoesSyncTableExist(sw.w), std::optional<bool>(true));
  ASSERT_EQ(sw.lines.size(), 2u);
  EXPECT_EQ(sw.lines[1], "Opened Query: select * from " + sync);
}

CORVANE_DATABASE_TESTS(Procedures);

}  // namespace
}  // namespace corvane::testing
