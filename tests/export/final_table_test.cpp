// The final-table build: the statement text per database kind (through the
// recording connection for the kinds no test server exists for) and the
// row copy of the other kind on real databases.
#include "service/export/database_dialect.h"
#include "service/export/final_table.h"

#include <gtest/gtest.h>

#include "service/export/final_table_swap.h"
#include "tests/support/recording_connection.h"
#include "service/export/schema.h"
#include "tests/export/export_fixture.h"

namespace corvane::testing {
namespace {

class ContinueRecovery : public service::Recovery {
 public:
  bool RunRecovery(const service::RunFailure& f) override {
    failures.push_back(f);
    return true;
  }
  std::vector<service::RunFailure> failures;
};

struct RecordedBuild {
  std::shared_ptr<ado::RecordingDatabase> db;
  service::FixedClock clock{1798761930};
  service::RunLog log{clock};
  FakeServiceControl control;
  service::ExportContext w{log, control, clock, [] {}};
  ContinueRecovery recovery;
  std::string logText;  // every entry, oldest first

  explicit RecordedBuild(std::shared_ptr<ado::RecordingDatabase> database, const std::string& kind) : db(database) {
    log.OnEntry = [this](const std::string& entry, service::LogPriority) { logText += entry + "\n"; };
    w.NewConnection = db->Factory();
    w.ServiceConnection = w.NewConnection();
    w.ServiceConnection->Open("Driver=X;Uid=sa;Pwd=secret");
    w.connectionstring = "Driver=X;Uid=sa;Pwd=secret";
    w.Dialect = std::make_shared<service::DatabaseDialect>(kind, w.ServiceConnection->DbmsName());
    w.chkDBFields[0] = 1;  // GIVEN_NAME
    w.chkDBFields[2] = 1;  // SURNAME
    w.chkDBFields[5] = 1;  // ENTRY_ID adds nothing
  }
  std::vector<std::string> Build() {
    db->statements.clear();
    service::BuildFinalTable(w, recovery, "memo");
    return db->statements;
  }
  // The swap's build and publication; `failure` gets what kept it from publishing.
  std::vector<std::string> Swap(std::optional<service::StatementFailure>* failure = nullptr) {
    db->statements.clear();
    service::BuildWorkTable(w, recovery, "memo");
    auto published = service::PublishWorkTable(w, recovery);
    if (failure) *failure = published;
    return db->statements;
  }
};

const std::string kSelect = "  entry_id, GIVEN_NAME,SURNAME,ADDR1, ADDR2 , ADDR3, ADDR4, ADDR5, SMTP, DEFSMTP";

TEST(FinalTableStatements, Oracle) {
  RecordedBuild b(ado::RecordingDatabase::LikeOracle(), "ORACLE");
  EXPECT_EQ(b.Build(), (std::vector<std::string>{
                           "alter table TEMP_GAL drop constraint GAL_ENTRY_ID",
                           "drop table GAL",
                           "commit",
                           "create table GAL as select" + kSelect + " from TEMP_GAL",
                           "Create INDEX [GALindex] ON GAL ([entry_id]) WITH DROP_EXISTING",
                           "commit",
                           "grant select on GAL to public",
                           "commit",
                       }));
  // The connection is closed and opened again between the index and the grant.
  EXPECT_EQ(b.db->connectionStrings.back(), "Driver=X;Uid=sa;Pwd=secret");
}

TEST(FinalTableStatements, OracleWithExclusion) {
  RecordedBuild b(ado::RecordingDatabase::LikeOracle(), "ORACLE");
  b.control.settings["Exclude"] = "1";
  b.control.settings["ExcludeTableName"] = "EXCLUDES";
  b.control.settings["ExcludeFieldName"] = "ACCOUNT";
  auto s = b.Build();
  ASSERT_GE(s.size(), 4u);
  EXPECT_EQ(s[3], "create table GAL as select" + kSelect +
                      " from TEMP_GAL a where not exists (select 'x' from EXCLUDES b where upper(a.ACCOUNT) = "
                      "upper(b.ACCOUNT))");
}

TEST(FinalTableStatements, MssqlWithAndWithoutExclusion) {
  RecordedBuild b(ado::RecordingDatabase::LikeMssql(), "MSSQL");
  EXPECT_EQ(b.Build(), (std::vector<std::string>{
                           "drop table GAL",
                           "select" + kSelect + " into GAL from TEMP_GAL",
                           "Create INDEX [GALindex] ON GAL ([entry_id]) WITH DROP_EXISTING",
                           "grant select on GAL to public",
                       }));
  b.control.settings["Exclude"] = "1";
  b.control.settings["ExcludeFieldName"] = "DISPLAY_NAME";  // table name takes its default
  auto s = b.Build();
  ASSERT_GE(s.size(), 2u);
  EXPECT_EQ(s[1], "select" + kSelect +
                      " into GAL from TEMP_GAL a where not exists (select 'x' from EXCLUDES b where "
                      "upper(a.DISPLAY_NAME) = upper(b.DISPLAY_NAME))");
}

TEST(FinalTableStatements, InvalidExcludeSettingsWriteAnEventAndCreateNoTable) {
  RecordedBuild b(ado::RecordingDatabase::LikeMssql(), "MSSQL");
  b.control.settings["Exclude"] = "1";
  b.control.settings["ExcludeTableName"] = "";
  b.control.settings["ExcludeFieldName"] = "ACCOUNT";
  auto s = b.Build();
  for (const auto& statement : s) EXPECT_EQ(statement.find("into GAL"), std::string::npos) << statement;
  ASSERT_EQ(b.control.events.size(), 1u);
  EXPECT_EQ(b.control.events[0].type, 4);
  EXPECT_EQ(b.control.events[0].id, 110);
  EXPECT_EQ(b.control.events[0].text, "Exclude Settings invalid\r\n");
}

// The swap on the kinds that build the table in one statement: no work or
// old table left over, the published table there (Oracle, whose renames are
// not transactional: a refused second rename puts the old table back) or
// not yet (SQL Server, whose renames are transactional).
TEST(FinalTableStatements, SwapOnOracleAndMssql) {
  const ado::ScriptedAnswer missing = ado::ScriptedAnswer::Fail(ado::adErrStatementRefused, "no such table");
  RecordedBuild oracle(ado::RecordingDatabase::LikeOracle(), "ORACLE");
  for (const char* probe : {"select * from GAL_new where 1=0", "select * from GAL_old where 1=0"})
    oracle.db->When(probe, missing);
  const std::vector<std::string> built = {
      "select * from GAL_new where 1=0",
      "select * from GAL_old where 1=0",
      "alter table TEMP_GAL drop constraint GAL_ENTRY_ID",
      "create table GAL_new as select" + kSelect + " from TEMP_GAL",
      "commit",
      "Create INDEX [GALindex] ON GAL_new ([entry_id]) WITH DROP_EXISTING",
      "grant select on GAL_new to public",
      "commit",
      "select * from GAL where 1=0",
  };
  auto expected = built;
  expected.insert(expected.end(), {"alter table GAL rename to GAL_old", "alter table GAL_new rename to GAL",
                                   "drop table GAL_old", "commit"});
  EXPECT_EQ(oracle.Swap(), expected);
  oracle.db->WhenPrefix("alter table GAL_new rename", ado::ScriptedAnswer::Fail(ado::adErrStatementRefused, "busy"));
  std::optional<service::StatementFailure> failure;
  expected = built;
  expected.insert(expected.end(), {"alter table GAL rename to GAL_old", "alter table GAL_new rename to GAL",
                                   "alter table GAL_old rename to GAL"});
  EXPECT_EQ(oracle.Swap(&failure), expected);
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->description, "busy");

  RecordedBuild mssql(ado::RecordingDatabase::LikeMssql(), "MSSQL");
  for (const char* probe :
       {"select * from GAL_new where 1=0", "select * from GAL_old where 1=0", "select * from GAL where 1=0"})
    mssql.db->When(probe, missing);
  EXPECT_EQ(mssql.Swap(), (std::vector<std::string>{
                              "select * from GAL_new where 1=0",
                              "select * from GAL_old where 1=0",
                              "select" + kSelect + " into GAL_new from TEMP_GAL",
                              "Create INDEX [GALindex] ON GAL_new ([entry_id]) WITH DROP_EXISTING",
                              "grant select on GAL_new to public",
                              "select * from GAL where 1=0",
                              "begin transaction",
                              "exec sp_rename 'GAL_new', 'GAL'",
                              "commit transaction",
                          }));
}

TEST(FinalTableStatements, MissingExclusionTableIsLoggedAndTheBuildGoesOn) {
  RecordedBuild b(ado::RecordingDatabase::LikeMssql(), "MSSQL");
  b.db->WhenPrefix("select  entry_id", ado::ScriptedAnswer::Fail(ado::adErrStatementRefused, "Invalid object name 'NOEXCL'."));
  b.control.settings["Exclude"] = "1";
  b.control.settings["ExcludeTableName"] = "NOEXCL";
  b.control.settings["ExcludeFieldName"] = "ACCOUNT";
  auto s = b.Build();
  EXPECT_EQ(s.back(), "grant select on GAL to public");
  EXPECT_TRUE(b.recovery.failures.empty());
  EXPECT_NE(b.logText.find("Error: -2147217900 - Invalid object name 'NOEXCL'."), std::string::npos);
}

TEST(FinalTableStatements, DosModeAddsTheFixedIndex) {
  RecordedBuild b(ado::RecordingDatabase::LikeOracle(), "ORACLE");
  b.w.DOS = true;
  auto s = b.Build();
  ASSERT_GE(s.size(), 3u);
  EXPECT_EQ(s[s.size() - 3].rfind("CREATE UNIQUE INDEX VUZ_OPR.GAL_ENTRY_ID ON VUZ_OPR.GAL(ENTRY_ID)", 0), 0u);
}

// The other kind: a database lost while the copy starts is a failure of the
// copy's read, for the recovery to handle, not a final table to skip.
TEST(FinalTableStatements, OtherKindLostDatabaseAtTheCopyGoesToRecovery) {
  auto db = std::make_shared<ado::RecordingDatabase>();
  RecordedBuild b(db, "OTHER");
  db->WhenPrefix("select * from GAL", ado::ScriptedAnswer::Fail(ado::adErrGeneric, "connection lost"));
  db->WhenPrefix("select * from TEMP_GAL", ado::ScriptedAnswer::Fail(ado::adErrGeneric, "connection lost"));
  b.Build();
  ASSERT_EQ(b.recovery.failures.size(), 1u);
  EXPECT_EQ(b.recovery.failures[0].Number, ado::adErrGeneric);
  EXPECT_EQ(b.logText.find("no rows copied"), std::string::npos);
}

// The other kind without a final table (invalid exclude settings): nothing
// to copy into, and no failure for the recovery.
TEST(FinalTableStatements, OtherKindWithoutFinalTableCopiesNothing) {
  auto db = std::make_shared<ado::RecordingDatabase>();
  RecordedBuild b(db, "OTHER");
  b.control.settings["Exclude"] = "1";
  b.control.settings["ExcludeFieldName"] = "";
  db->WhenPrefix("select * from GAL", ado::ScriptedAnswer::Fail(ado::adErrStatementRefused, "no such table: GAL"));
  auto s = b.Build();
  EXPECT_TRUE(b.recovery.failures.empty());
  for (const auto& statement : s) EXPECT_NE(statement, "select * from TEMP_GAL");
  EXPECT_EQ(s.back(), "grant select on GAL to public");
}

TEST(FinalTableStatements, CopyStatementsDoubleApostrophesInValuesOnly) {
  EXPECT_EQ(service::CopyInsertStatement("GAL", "entry_id", "00AB"), "insert into GAL(entry_id) values ('00AB')");
  EXPECT_EQ(service::CopyUpdateStatement("GAL", "SURNAME", "O'Hara ''x", "00AB"),
            "update GAL set SURNAME='O''Hara ''''x' where entry_id like '00AB'");
}

// The other kind's copy on real databases.
class OtherKindCopy : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    auto db = OpenTestDatabase(GetParam(), "copy");
    CORVANE_REQUIRE_DATABASE(db);
    h = std::make_unique<Harness>(*db);
    h->w.ServiceConnection = h->w.NewConnection();
    h->w.ServiceConnection->Open(db->connectionString);
    h->w.Dialect = std::make_shared<service::DatabaseDialect>("OTHER", h->w.ServiceConnection->DbmsName());
    auto& c = *h->w.ServiceConnection;
    Quietly(c, "drop table " + h->w.TempTableName);
    types = service::OtherKindTypesFor(c.DbmsName());
    c.Execute("CREATE TABLE " + h->w.TempTableName + service::TempTableColumnList("OTHER", h->w.TableName, types));
    h->library.entries = {Entry("0D01", "Ann", "O'Hara", "SMTP:a@x.org{;}"), Entry("0D02", "Bob", "", std::nullopt)};
    h->library.ModifyStruct(db->connectionString, "TWCorvane", h->w.TempTableName, "TRUE", 0);
    h->w.chkDBFields[0] = 1;
    h->w.chkDBFields[2] = 1;
  }
  void TearDown() override {
    if (!h) return;
    h->w.ServiceConnection.reset();
    auto c = h->Db();
    Quietly(*c, "drop table " + h->w.TableName);
    Quietly(*c, "drop table " + h->w.TempTableName);
  }
  std::unique_ptr<Harness> h;
  ContinueRecovery recovery;
  service::OtherKindTypes types;
};

TEST_P(OtherKindCopy, CopiesEveryRowWithTheSelectedColumns) {
  std::vector<long> progress;
  service::BuildFinalTable(h->w, recovery, types, [&](long n, bool final) {
    if (final) progress.push_back(n);
  });
  EXPECT_TRUE(recovery.failures.empty());
  auto rows = ReadRows(*h->Db(), "select * from " + h->w.TableName + " order by entry_id");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0]["SURNAME"], "O'Hara");
  EXPECT_EQ(rows[0]["GIVEN_NAME"], "Ann");
  EXPECT_EQ(rows[0]["DEFSMTP"], "a@x.org");
  EXPECT_EQ(rows[1]["SURNAME"], std::nullopt);  // empty values are not copied
  EXPECT_EQ(progress, (std::vector<long>{2}));
  // Only the final table's columns are written: no copy statement is
  // refused (the index and grant statements of other dialects are).
  for (size_t i = 0; i + 1 < h->entries.size(); ++i) {
    if (h->entries[i].rfind("Error: ", 0) != 0) continue;
    EXPECT_NE(h->entries[i + 1].rfind("Xsql:update", 0), 0u) << h->entries[i + 1];
    EXPECT_NE(h->entries[i + 1].rfind("Xsql:insert", 0), 0u) << h->entries[i + 1];
  }
}

TEST_P(OtherKindCopy, AnIdentifierThatLooksLikeANumberStaysText) {
  h->library.entries = {Entry("00123", "Num", "Ber", std::nullopt)};
  h->library.ModifyStruct(h->db.connectionString, "TWCorvane", h->w.TempTableName, "TRUE", 0);
  service::BuildFinalTable(h->w, recovery, types);
  auto rows = ReadRows(*h->Db(), "select entry_id, SURNAME from " + h->w.TableName + " where SURNAME = 'Ber'");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0]["ENTRY_ID"], "00123");
}

// A proxy list longer than 255 characters reaches the final table whole.
TEST_P(OtherKindCopy, LongProxyListsAreCopiedWhole) {
  std::string proxies = "SMTP:long@x.org{;}";
  for (int i = 0; proxies.size() < 900; ++i) proxies += ",smtp:alias" + std::to_string(i) + "@example.org{;}";
  h->library.entries = {Entry("0D03", "Lo", "Ng", proxies)};
  h->library.ModifyStruct(h->db.connectionString, "TWCorvane", h->w.TempTableName, "TRUE", 0);
  h->w.chkDBFields[17] = 1;  // EMS_AB_PROXY_ADDRESSES
  service::BuildFinalTable(h->w, recovery, types);
  auto rows = ReadRows(*h->Db(), "select EMS_AB_PROXY_ADDRESSES from " + h->w.TableName + " where entry_id = '0D03'");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0]["EMS_AB_PROXY_ADDRESSES"], proxies);
}

// Each row goes in with one insert where that leaves what its statements
// leave; where it would not (an identifier met before, whose updates
// change the earlier row; a wildcard in the identifier), the row's
// statements run one by one, as the log shows them for every row.
TEST_P(OtherKindCopy, RowsEndAsTheirStatementsLeaveThem) {
  h->w.ServiceConnection->Execute("delete from " + h->w.TempTableName);
  h->library.entries = {Entry("0D01", "Ann", "O'Hara", "SMTP:a@x.org{;}"), Entry("0D01", "Cy", "Dee", std::nullopt),
                        Entry("0D_2", "Eve", "Eff", std::nullopt), Entry("0D03", "Gus", "Hay", std::nullopt)};
  h->library.ModifyStruct(h->db.connectionString, "TWCorvane", h->w.TempTableName, "TRUE", 0);
  h->entries.clear();
  service::BuildFinalTable(h->w, recovery, types);
  auto rows = ReadRows(*h->Db(), "select * from " + h->w.TableName + " order by entry_id");
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0]["GIVEN_NAME"], "Cy");
  EXPECT_EQ(rows[0]["SURNAME"], "Dee");
  EXPECT_EQ(rows[0]["DEFSMTP"], "a@x.org");
  EXPECT_EQ(rows[1]["ENTRY_ID"], "0D03");
  EXPECT_EQ(rows[1]["GIVEN_NAME"], "Gus");
  EXPECT_EQ(rows[2]["ENTRY_ID"], "0D_2");
  EXPECT_EQ(rows[2]["SURNAME"], "Eff");
  long inserts = 0, refusedInserts = 0;
  for (size_t i = 0; i < h->entries.size(); ++i) {
    if (h->entries[i].rfind("Xsql:insert into " + h->w.TableName + "(", 0) == 0) ++inserts;
    if (h->entries[i].rfind("Error: ", 0) == 0 && i + 1 < h->entries.size() &&
        h->entries[i + 1].rfind("Xsql:insert into " + h->w.TableName + "(", 0) == 0)
      ++refusedInserts;
  }
  EXPECT_EQ(inserts, 4);
  EXPECT_EQ(refusedInserts, 1);  // the second 0D01
}

TEST(FinalTableStatements, RowsGoInWithOneInsertOnlyWhereTheirUpdatesFindThemAlone) {
  using service::CopiedValue;
  using Rows = std::vector<std::vector<CopiedValue>>;
  const auto row = [](const std::string& id) {
    return std::vector<CopiedValue>{{"entry_id", id}, {"SURNAME", "O'Hara"}, {"GIVEN_NAME", "Ann"}};
  };
  EXPECT_EQ(service::CopyRowsInsert("GAL", {row("00AB")}),
            "insert into GAL(entry_id, SURNAME, GIVEN_NAME) values ('00AB', 'O''Hara', 'Ann')");
  EXPECT_EQ(service::CopyRowsInsert("GAL", Rows{{{"entry_id", "01"}, {"TITLE", "Boss"}}, row("02")}),
            "insert into GAL(entry_id, TITLE, SURNAME, GIVEN_NAME) values ('01', 'Boss', DEFAULT, DEFAULT), "
            "('02', DEFAULT, 'O''Hara', 'Ann')");
  for (const std::string id : {"", "0%", "0_", "0\\", "0'"})
    EXPECT_EQ(service::CopyRowsInsert("GAL", {row("01"), row(id)}), std::nullopt) << id;
  EXPECT_EQ(service::CopyRowsInsert("GAL", Rows{{{"SURNAME", "x"}, {"entry_id", "00AB"}}}), std::nullopt);
  EXPECT_EQ(service::CopyRowsInsert("GAL", Rows{}), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(Databases, OtherKindCopy, ::testing::Values("sqlite", "postgres", "mariadb"),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace corvane::testing
