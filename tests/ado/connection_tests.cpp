// The database layer against a real database: the same bodies run on SQLite
// and PostgreSQL (see sqlite_binding.cpp, postgres_binding.cpp).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>

#include "tests/ado/test_database.h"

namespace corvane::testing {
namespace {

using ado::AdoError;
using ado::FieldValue;
using ::testing::HasSubstr;

// Runs `f`, expecting an AdoError, and returns it.
template <typename F>
AdoError Raised(F&& f) {
  try {
    f();
  } catch (const AdoError& e) {
    return e;
  }
  ADD_FAILURE() << "no error raised";
  return AdoError(0, "", "");
}

class Ado : public DatabaseTest {
 protected:
  // A table (k, a, b) with rows k=1..count.
  std::string MakeTable(ado::Connection& c, const std::string& tag, int count) {
    const std::string t = Table(tag);
    DropLater(t);
    try {
      c.Execute("drop table " + t);
    } catch (const AdoError&) {
    }
    c.Execute("create table " + t + " (k varchar(100), a varchar(255), b varchar(255))");
    for (int i = 1; i <= count; ++i)
      c.Execute("insert into " + t + " values ('" + std::to_string(i) + "', 'a" + std::to_string(i) + "', NULL)");
    return t;
  }
};

TEST_P(Ado, ExecuteReturnsOpenResultForQueriesAndClosedForOtherStatements) {
  auto c = Connect();
  EXPECT_EQ(c->State(), ado::adStateOpen);
  const std::string t = MakeTable(*c, "exec", 2);

  auto rows = c->Execute("select k, a as Alias, b from " + t + " order by k");
  ASSERT_EQ(rows->State(), ado::adStateOpen);
  ASSERT_EQ(rows->FieldCount(), 3);
  EXPECT_EQ(rows->FieldName(0), "k");
  EXPECT_EQ(rows->FieldIndex("ALIAS"), 1);  // names compare without regard to case
  EXPECT_EQ(rows->GetValue(0), FieldValue("1"));
  EXPECT_EQ(rows->GetValue("alias"), FieldValue("a1"));
  rows->MoveNext();
  EXPECT_EQ(rows->GetValue("K"), FieldValue("2"));
  rows->MoveNext();
  EXPECT_TRUE(rows->IsEOF());
  EXPECT_EQ(Raised([&] { rows->GetValue(0); }).Number, ado::adErrNoCurrentRecord);
  EXPECT_THROW(rows->FieldIndex("nosuch"), AdoError);
  rows->Close();
  EXPECT_EQ(rows->State(), ado::adStateClosed);

  EXPECT_EQ(c->Execute("update " + t + " set b = 'x'")->State(), ado::adStateClosed);
  EXPECT_EQ(c->Execute("delete from " + t + " where k = 'none'")->State(), ado::adStateClosed);

  auto empty = c->Execute("select * from " + t + " where k = 'none'");
  EXPECT_EQ(empty->State(), ado::adStateOpen);
  EXPECT_TRUE(empty->IsEOF());
  EXPECT_EQ(empty->FieldCount(), 3);  // "select *": the table's columns in table order
  EXPECT_EQ(empty->FieldName(2), "b");

  c->Close();
  EXPECT_EQ(c->State(), ado::adStateClosed);
  c->Open(ConnectionString());  // a closed connection opens again
  EXPECT_EQ(c->State(), ado::adStateOpen);
}

TEST_P(Ado, NullIsDistinctFromEmptyTextBothWays) {
  auto c = Connect();
  const std::string t = MakeTable(*c, "null", 0);
  c->Execute("insert into " + t + " values ('1', '', NULL)");
  auto rs = c->CreateRecordset();
  rs->Open("select k, a, b from " + t, *c, ado::adOpenDynamic, ado::adLockOptimistic);
  EXPECT_EQ(rs->GetValue("a"), FieldValue(""));
  EXPECT_EQ(rs->GetValue("b"), std::nullopt);
  rs->SetValue("a", std::nullopt);
  rs->SetValue("b", std::string());
  rs->Update();
  rs->Close();
  auto back = c->Execute("select a, b from " + t);
  EXPECT_EQ(back->GetValue(0), std::nullopt);
  EXPECT_EQ(back->GetValue(1), FieldValue(""));
}

TEST_P(Ado, QuotesBackslashesAndNonAsciiTextRoundTrip) {
  auto c = Connect();
  const std::string t = MakeTable(*c, "text", 0);
  // Every kind of quote, backslashes, ODBC's own markers and text outside ASCII.
  const std::string value = "O'Brien \"q\" `b` \\\\server\\share\\ {;} ? {fn x} Zoë Ĳssel 東京 €";
  std::string literal;
  for (char ch : value) literal += ch == '\'' ? std::string("''") : std::string(1, ch);
  c->Execute("insert into " + t + " (k, a) values ('1', '" + literal + "')");
  EXPECT_EQ(c->Execute("select a from " + t)->GetValue(0), FieldValue(value));
  EXPECT_EQ(c->Execute("select k from " + t + " where a = '" + literal + "'")->GetValue(0), FieldValue("1"));

  // The same value written back through a recordset.
  auto rs = c->CreateRecordset();
  rs->Open("select k, b from " + t, *c, ado::adOpenDynamic, ado::adLockOptimistic);
  rs->SetValue(1, value);
  rs->Update();
  rs->Close();
  EXPECT_EQ(c->Execute("select b from " + t)->GetValue(0), FieldValue(value));

  // Long text comes back whole (it exceeds the driver's read buffer).
  const std::string t2 = Table("long");
  DropLater(t2);
  c->Execute("create table " + t2 + " (k varchar(10), v text)");
  std::string long_text;
  for (int i = 0; i < 3000; ++i) long_text += "é0123456789";
  c->Execute("insert into " + t2 + " values ('1', '" + long_text + "')");
  EXPECT_EQ(c->Execute("select v from " + t2)->GetValue(0), FieldValue(long_text));
}

TEST_P(Ado, UpdateWritesTheCurrentRowBackAndMoveFirstSeesIt) {
  auto c = Connect();
  const std::string t = MakeTable(*c, "upd", 3);
  auto rs = c->CreateRecordset();
  rs->Open("select k, b from " + t + " where k <> '2'", *c, ado::adOpenDynamic, ado::adLockOptimistic);
  std::vector<std::string> seen;
  while (!rs->IsEOF()) {
    seen.push_back(*rs->GetValue(0));
    rs->SetValue("b", "first " + seen.back());
    rs->Update();
    rs->SetValue("b", "second " + seen.back());  // the same row twice
    rs->Update();
    rs->MoveNext();
  }
  EXPECT_EQ(seen.size(), 2u);
  rs->MoveFirst();
  ASSERT_FALSE(rs->IsEOF());
  EXPECT_THAT(*rs->GetValue("b"), HasSubstr("second"));
  rs->SetValue("b", "moved on");  // written back by MoveNext, as a dynamic cursor does
  rs->MoveNext();
  rs->Close();

  auto check = c->Execute("select k, b from " + t + " order by k");
  EXPECT_EQ(check->GetValue(1), FieldValue("moved on"));
  check->MoveNext();
  EXPECT_EQ(check->GetValue(1), std::nullopt);  // outside the where clause: untouched
  check->MoveNext();
  EXPECT_EQ(check->GetValue(1), FieldValue("second 3"));
}

TEST_P(Ado, ReadOnlyRecordsetsRefuseWrites) {
  auto c = Connect();
  const std::string t = MakeTable(*c, "ro", 1);
  auto rs = c->CreateRecordset();
  rs->Open("select k, b from " + t, *c, -1, -1, -1);
  EXPECT_EQ(Raised([&] { rs->SetValue(1, "x"); }).Number, ado::adErrFeatureNotAvailable);
}

TEST_P(Ado, LargeTableIsReadOnceWhileEveryRowIsWrittenBackAndOtherStatementsRun) {
  auto c = Connect();
  const std::string t = MakeTable(*c, "big", 0);
  const std::string side = MakeTable(*c, "side", 0);
  const int rows = 2600;  // several batches
  c->Execute("insert into " + t + " (k, a) values ('0', 'a')");
  // Double the table until it has enough rows, with distinct keys.
  for (int n = 1; n < rows; n *= 2) {
    const std::string suffix = "'-" + std::to_string(n) + "'";
    c->Execute("insert into " + t + " (k, a) select " + (MariaDB() ? "concat(k, " + suffix + ")" : "k || " + suffix) +
               ", a from " + t);
  }
  const int total = std::stoi(*c->Execute("select count(*) from " + t)->GetValue(0));
  ASSERT_GE(total, rows);

  auto rs = c->CreateRecordset();
  rs->Open("select k, a, b from " + t, *c, ado::adOpenDynamic, ado::adLockOptimistic);
  std::set<std::string> keys;
  int count = 0;
  while (!rs->IsEOF()) {
    keys.insert(*rs->GetValue(0));
    rs->SetValue(2, "done");
    rs->Update();
    if (count % 500 == 0) c->Execute("insert into " + side + " (k) values ('" + std::to_string(count) + "')");
    ++count;
    rs->MoveNext();
  }
  EXPECT_EQ(count, total);  // no row twice, none missed
  EXPECT_EQ(static_cast<int>(keys.size()), total);
  EXPECT_EQ(c->Execute("select count(*) from " + t + " where b = 'done'")->GetValue(0),
            FieldValue(std::to_string(total)));

  // A read-only pass over the same table while inserting elsewhere.
  auto ro = c->CreateRecordset();
  ro->Open("select * from " + t, *c, -1, -1, -1);
  int read = 0;
  for (; !ro->IsEOF(); ro->MoveNext()) {
    if (read % 700 == 0) c->Execute("insert into " + side + " (k) values ('r')");
    ++read;
  }
  EXPECT_EQ(read, total);
}

TEST_P(Ado, QueriesBeyondOneTableAreReadAsTheyAre) {
  auto c = Connect();
  const std::string t = MakeTable(*c, "join", 3);
  auto rs = c->CreateRecordset();
  rs->Open("select x.k, count(*) as n from " + t + " x join " + t + " y on x.k = y.k group by x.k order by x.k desc",
           *c, -1, -1, -1);
  ASSERT_EQ(rs->State(), ado::adStateOpen);
  EXPECT_EQ(rs->GetValue("K"), FieldValue("3"));
  EXPECT_EQ(rs->GetValue("n"), FieldValue("1"));
  int n = 0;
  for (; !rs->IsEOF(); rs->MoveNext()) ++n;
  EXPECT_EQ(n, 3);
}

TEST_P(Ado, ViewsAreReadWithoutWriteBack) {
  auto c = Connect();
  const std::string t = MakeTable(*c, "base", 2);
  const std::string v = Table("view");
  c->Execute("create view " + v + " as select k, a from " + t);
  auto rs = c->CreateRecordset();
  rs->Open("select k, a from " + v, *c, ado::adOpenDynamic, ado::adLockOptimistic);
  int n = 0;
  for (; !rs->IsEOF(); rs->MoveNext()) ++n;
  EXPECT_EQ(n, 2);
  rs->Close();
  c->Execute("drop view " + v);
}

TEST_P(Ado, RefusedStatementsRaiseStatementErrorWithTheDriversRecords) {
  auto c = Connect();
  AdoError syntax = Raised([&] { c->Execute("selec 1 frm"); });
  EXPECT_EQ(syntax.Number, ado::adErrStatementRefused);
  EXPECT_FALSE(syntax.Description.empty());
  ASSERT_FALSE(c->Errors().empty());
  EXPECT_EQ(c->Errors()[0].Description, syntax.Description);
  EXPECT_EQ(c->Errors()[0].Description.find('\n'), std::string::npos);  // one log line each
  EXPECT_FALSE(c->Errors()[0].SQLState.empty());

  AdoError missing = Raised([&] { c->Execute("select * from " + Table("nosuch")); });
  EXPECT_EQ(missing.Number, ado::adErrStatementRefused);
  if (Postgres()) {
    EXPECT_EQ(c->Errors()[0].SQLState, "42P01");  // psqlODBC gives every error native number 1
  }

  auto rs = c->CreateRecordset();
  EXPECT_EQ(Raised([&] { rs->Open("select * from " + Table("nosuch"), *c, 2, 3); }).Number, ado::adErrStatementRefused);
  EXPECT_EQ(rs->State(), ado::adStateClosed);

  // The connection stays usable, and a success leaves no stale records.
  EXPECT_EQ(c->Execute("select 1")->GetValue(0), FieldValue("1"));
  c->ClearErrors();
  EXPECT_TRUE(c->Errors().empty());
}

TEST_P(Ado, UnreachableDatabasesRaiseTheGenericError) {
  // No such driver, no driver named at all, nothing at all.
  std::vector<std::string> bad = {"Driver=NoSuchDriver;Database=x", "Database=x.db", ""};
  if (Postgres()) {
    std::string wrongPassword = ConnectionString();
    const auto pwd = wrongPassword.find("Pwd=");
    ASSERT_NE(pwd, std::string::npos);
    wrongPassword.insert(pwd + 4, "not-");
    bad.push_back(wrongPassword);
    std::string closedPort = ConnectionString();
    const auto port = closedPort.find("Port=");
    ASSERT_NE(port, std::string::npos);
    closedPort.replace(port, closedPort.find(';', port) - port, "Port=1");
    bad.push_back(closedPort);
  } else {
    bad.push_back(SqliteConnectionString("/nonexistent-dir/sub/x.db"));
  }
  for (const auto& cs : bad) {
    auto c = ado::CreateConnection();
    AdoError e = Raised([&] { c->Open(cs); });
    EXPECT_EQ(e.Number, ado::adErrGeneric) << cs;
    EXPECT_FALSE(c->Errors().empty()) << cs;
    EXPECT_EQ(c->State(), ado::adStateClosed);
    EXPECT_EQ(Raised([&] { c->Execute("select 1"); }).Number, ado::adErrObjectClosed);
  }
}

TEST_P(Ado, ALostConnectionRaisesTheGenericError) {
  if (!Postgres() && !MariaDB()) GTEST_SKIP() << "a file database cannot lose its connection";
  auto c = Connect();
  if (Postgres()) {
    const std::string pid = *c->Execute("select pg_backend_pid()")->GetValue(0);
    Connect()->Execute("select pg_terminate_backend(" + pid + ")");
  } else {
    Connect()->Execute("kill connection " + *c->Execute("select connection_id()")->GetValue(0));
  }
  AdoError e = Raised([&] { c->Execute("select 1"); });
  EXPECT_EQ(e.Number, ado::adErrGeneric) << e.Description;
  EXPECT_FALSE(c->Errors().empty());
}

TEST_P(Ado, SessionSettingsForSpeedAndSafety) {
  auto c = Connect();
  if (MariaDB()) {
    EXPECT_EQ(c->DbmsName(), "MariaDB");
    EXPECT_EQ(c->Execute("select length('a\\b')")->GetValue(0), FieldValue("3"));
    return;  // its like follows the column's collation: the service gives the identifier a binary one
  }
  if (Postgres()) {
    EXPECT_EQ(c->DbmsName(), "PostgreSQL");
    EXPECT_EQ(c->Execute("show standard_conforming_strings")->GetValue(0), FieldValue("on"));
    EXPECT_EQ(c->Execute("select length('a\\b')")->GetValue(0), FieldValue("3"));
  } else {
    EXPECT_EQ(c->DbmsName(), "SQLite");
    // The database's own like until asked otherwise.
    EXPECT_EQ(c->Execute("select 'abc' like 'ABC'")->GetValue(0), FieldValue("1"));
  }
  // A case-sensitive like, which an index can serve, while asked for.
  c->CaseSensitiveLike(true);
  EXPECT_EQ(c->Execute("select 'abc' like 'ABC'")->GetValue(0), FieldValue("0"));
  c->CaseSensitiveLike(false);
  EXPECT_EQ(c->Execute("select 'abc' like 'ABC'")->GetValue(0), FieldValue(Postgres() ? "0" : "1"));
}

TEST_P(Ado, ClosingTheConnectionClosesItsRecordsets) {
  auto c = Connect();
  const std::string t = MakeTable(*c, "close", 2);
  auto rs = c->CreateRecordset();
  rs->Open("select k from " + t, *c, 2, 3);
  auto executed = c->Execute("select k from " + t);
  c->Close();
  EXPECT_EQ(rs->State(), ado::adStateClosed);
  EXPECT_EQ(executed->State(), ado::adStateClosed);
}

CORVANE_DATABASE_TESTS(Ado);

}  // namespace
}  // namespace corvane::testing
