#include "tests/support/recording_connection.h"

#include <gtest/gtest.h>

namespace corvane::ado {
namespace {

TEST(RecordingConnection, RecordsStatementsAndAnswersFromItsScript) {
  auto db = std::make_shared<RecordingDatabase>();
  db->When("select a, b from t", ScriptedAnswer::Rows({"A", "B"}, {{"1", std::nullopt}, {"2", ""}}));
  db->WhenPrefix("drop table",
                 ScriptedAnswer::Fail(adErrStatementRefused, "no such table",
                                      {{208, "42S02", "Invalid object name 'x'."}, {0, "01000", "more"}}));
  RecordingConnection c(db);
  EXPECT_THROW(c.Execute("select 1"), AdoError);  // closed
  c.Open("Driver=X;PWD=secret");
  EXPECT_EQ(db->connectionStrings, std::vector<std::string>{"Driver=X;PWD=secret"});

  EXPECT_EQ(c.Execute("create table x (a int)")->State(), adStateClosed);  // unscripted: runs, no rows
  auto rs = c.Execute("  SELECT a, b FROM t ");
  ASSERT_EQ(rs->State(), adStateOpen);
  EXPECT_EQ(rs->GetValue("a"), FieldValue("1"));
  EXPECT_EQ(rs->GetValue(1), std::nullopt);
  rs->MoveNext();
  EXPECT_EQ(rs->GetValue("B"), FieldValue(""));
  rs->MoveNext();
  EXPECT_TRUE(rs->IsEOF());

  try {
    c.Execute("DROP TABLE x");
    FAIL();
  } catch (const AdoError& e) {
    EXPECT_EQ(e.Number, adErrStatementRefused);
    EXPECT_EQ(e.Description, "no such table");
  }
  ASSERT_EQ(c.Errors().size(), 2u);
  EXPECT_EQ(c.Errors()[0].Number, 208);
  EXPECT_EQ(c.statements(),
            (std::vector<std::string>{"create table x (a int)", "  SELECT a, b FROM t ", "DROP TABLE x"}));
}

TEST(RecordingConnection, RecordsRowsWrittenBackAndLimitedRules) {
  RecordingDatabase db;
  db.When("select k, v from t", ScriptedAnswer::Rows({"k", "v"}, {{"1", "x"}, {"2", "y"}}));
  db.When("select k, v from t", ScriptedAnswer::Rows({"k", "v"}), 1);  // added last: answers first
  auto c = db.Factory()();
  c->Open("cs");
  auto rs = c->CreateRecordset();
  rs->Open("select k, v from t", *c, adOpenDynamic, adLockOptimistic);
  EXPECT_TRUE(rs->IsEOF());  // first open: empty
  rs->Close();
  rs->Open("select k, v from t", *c, adOpenDynamic, adLockOptimistic);
  ASSERT_FALSE(rs->IsEOF());
  rs->SetValue("v", std::string("changed"));
  rs->Update();
  rs->MoveNext();
  rs->SetValue(1, std::nullopt);
  rs->MoveNext();  // writes the row back, as a dynamic cursor does
  ASSERT_EQ(db.updates.size(), 2u);
  EXPECT_EQ(db.updates[0].row, 0u);
  EXPECT_EQ(db.updates[0].values[0], (std::pair<std::string, FieldValue>{"v", "changed"}));
  EXPECT_EQ(db.updates[1].row, 1u);
  EXPECT_EQ(db.updates[1].values[0].second, std::nullopt);

  auto ro = c->Execute("select k, v from t");
  EXPECT_THROW(ro->SetValue(0, "z"), AdoError);
}

TEST(RecordingConnection, FedLikeTheDatabasesWithoutATestServer) {
  RecordingConnection mssql(RecordingDatabase::LikeMssql());
  mssql.Open("cs");
  EXPECT_EQ(mssql.Execute("sp_tables")->State(), adStateOpen);

  RecordingConnection oracle(RecordingDatabase::LikeOracle());
  oracle.Open("cs");
  EXPECT_THROW(oracle.Execute("sp_tables"), AdoError);
  EXPECT_EQ(oracle.Execute("select sysdate from dual")->State(), adStateOpen);

  auto down = std::make_shared<RecordingDatabase>();
  down->FailOpen();
  RecordingConnection c(down);
  try {
    c.Open("cs");
    FAIL();
  } catch (const AdoError& e) {
    EXPECT_EQ(e.Number, adErrGeneric);
  }
  EXPECT_EQ(c.State(), adStateClosed);
}

TEST(RecordingConnection, RecordsTransactionsAndPreparedStatements) {
  auto db = RecordingDatabase::LikeMssql();
  db->When("insert into t values (?)", ScriptedAnswer::Fail(adErrStatementRefused, "refused"), 1);
  RecordingConnection c(db);
  c.Open("cs");
  auto insert = c.Prepare("insert into t values (?)");
  {
    Transaction tx(c);
    EXPECT_THROW(insert->Execute({"a"}), AdoError);
    insert->Execute({std::nullopt});
    tx.Commit();
  }
  { Transaction tx(c); }
  EXPECT_EQ(db->transactions, (std::vector<std::string>{"BeginTrans", "CommitTrans", "BeginTrans", "RollbackTrans"}));
  EXPECT_EQ(db->statements, (std::vector<std::string>{"insert into t values (?)", "insert into t values (?)"}));
  EXPECT_EQ(db->parameters, (std::vector<std::vector<FieldValue>>{{"a"}, {std::nullopt}}));
}

}  // namespace
}  // namespace corvane::ado
