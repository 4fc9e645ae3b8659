// Transactions, prepared statements and batches against a real database:
// the same bodies run on SQLite, PostgreSQL and MariaDB.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/ado/test_database.h"

namespace corvane::testing {
namespace {

using ado::AdoError;
using ado::FieldValue;

class Transactions : public DatabaseTest {
 protected:
  // A table (k int primary key, v varchar(20)).
  std::string MakeTable(ado::Connection& c, const std::string& tag) {
    const std::string t = Table(tag);
    DropLater(t);
    try {
      c.Execute("drop table " + t);
    } catch (const AdoError&) {
    }
    c.Execute("create table " + t + " (k int primary key, v varchar(20))");
    return t;
  }
  // "k=v" for every row, in key order, read on a connection of its own.
  std::vector<std::string> Rows(const std::string& t) {
    auto c = Connect();
    std::vector<std::string> rows;
    for (auto rs = c->Execute("select k, v from " + t + " order by k"); !rs->IsEOF(); rs->MoveNext())
      rows.push_back(rs->GetValue(0).value_or("") + "=" + rs->GetValue(1).value_or("NULL"));
    return rows;
  }
};

TEST_P(Transactions, ScopesCommitOrRollBackAndPreparedStatementsBindText) {
  auto c = Connect();
  const std::string t = MakeTable(*c, "tx");
  auto insert = c->Prepare("insert into " + t + " (k, v) values (?, ?)");
  {
    ado::Transaction tx(*c);
    EXPECT_EQ(insert->Execute({"1", "it's \\ 'x'"}), 1);
    EXPECT_EQ(insert->Execute({"2", std::nullopt}), 1);
    EXPECT_EQ(Rows(t).size(), 0u);  // not visible before the commit
    tx.Commit();
  }
  {
    ado::Transaction tx(*c);
    insert->Execute({"3", "gone"});
  }  // no commit: rolled back
  EXPECT_EQ(Rows(t), (std::vector<std::string>{"1=it's \\ 'x'", "2=NULL"}));
  EXPECT_EQ(c->Prepare("update " + t + " set v = ? where k = ?")->Execute({"none", "9"}), 0);
  EXPECT_THROW(insert->Execute({"1", "again"}), AdoError);  // refused: the key exists
}

// A refused statement inside a batch fails as it would alone, and every
// other write of the batch, before and after it, stays: on PostgreSQL the
// refusal aborts the transaction, so the batch is rolled back and replayed.
TEST_P(Transactions, ARefusedStatementInABatchCostsThatStatementOnly) {
  auto c = Connect();
  const std::string t = MakeTable(*c, "batch");
  c->Execute("insert into " + t + " values (1, 'old1')");
  c->Execute("insert into " + t + " values (2, 'old2')");
  auto rs = c->CreateRecordset();
  rs->Open("select k, v from " + t, *c, ado::adOpenDynamic, ado::adLockOptimistic);
  auto insert = c->Prepare("insert into " + t + " (k, v) values (?, ?)");
  {
    ado::Batch batch(*c);
    rs->SetValue(1, "new" + *rs->GetValue(0));  // a row written back before the refusal
    rs->MoveNext();
    c->Execute("insert into " + t + " values (3, 'three')");
    insert->Execute({"4", "four"});
    EXPECT_TRUE(batch.Pending());
    const auto refused = [&] {
      try {
        c->Execute("insert into " + t + " values (3, 'twice')");
      } catch (const AdoError& e) {
        return e.Number;
      }
      return 0;
    };
    EXPECT_EQ(refused(), ado::adErrStatementRefused);
    EXPECT_FALSE(c->Errors().empty());
    rs->SetValue(1, "new" + *rs->GetValue(0));  // and one after it
    rs->Update();
    insert->Execute({"5", "five"});
    batch.End();
  }
  rs->Close();
  const auto rows = Rows(t);
  std::vector<std::string> expected = {"1=new1", "2=new2", "3=three", "4=four", "5=five"};
  EXPECT_EQ(rows, expected);
  {
    ado::Batch batch(*c);
    insert->Execute({"6", "six"});
    batch.Commit();
    insert->Execute({"7", "seven"});
  }  // the second batch ends without End: rolled back
  expected.push_back("6=six");
  EXPECT_EQ(Rows(t), expected);
}

// The same value the database refuses alone is refused inside a batch,
// where SQLite (which takes any length) keeps it.
TEST_P(Transactions, ATooLongValueIsRefusedInABatchAsAlone) {
  auto c = Connect();
  const std::string t = MakeTable(*c, "long");
  ado::Batch batch(*c);
  c->Execute("insert into " + t + " values (1, 'fits')");
  bool refused = false;
  try {
    c->Execute("insert into " + t + " values (2, 'a value far longer than twenty')");
  } catch (const AdoError& e) {
    refused = e.Number == ado::adErrStatementRefused;
  }
  c->Execute("insert into " + t + " values (3, 'fits too')");
  batch.End();
  EXPECT_EQ(refused, Kind() != "sqlite");
  EXPECT_EQ(Rows(t).size(), Kind() == "sqlite" ? 3u : 2u);
}

// Write-backs announced ahead (sent together on PostgreSQL) end as they
// would alone: a row the caller changes otherwise than announced is
// written as changed, a refused one raises at its own Update and keeps its
// value, and the rows around it stay written.
TEST_P(Transactions, AnnouncedWriteBacksEndAsTheyWouldAlone) {
  auto c = Connect();
  const std::string t = MakeTable(*c, "plan");
  for (int k = 1; k <= 6; ++k) c->Execute("insert into " + t + " values (" + std::to_string(k) + ", 'old')");
  const std::string tooLong = "a value far longer than twenty";
  const auto valueFor = [&](const std::string& k) { return k == "5" ? tooLong : "it's " + k; };
  const ado::Recordset::UpdatePlan plan = [&](const std::vector<ado::FieldValue>& row) {
    return ado::Recordset::PlannedChange{{1, valueFor(*row[0])}};
  };
  auto rs = c->CreateRecordset();
  rs->Open("select k, v from " + t, *c, ado::adOpenDynamic, ado::adLockOptimistic);
  std::vector<int> refused;
  {
    ado::Batch batch(*c);
    while (!rs->IsEOF()) {
      rs->ExpectUpdates(3, plan);  // rows 1-3, then 4-6
      const std::string k = *rs->GetValue(0);
      rs->SetValue(1, k == "2" ? "other" : valueFor(k));
      try {
        rs->Update();
      } catch (const AdoError& e) {
        refused.push_back(std::stoi(k));
      }
      rs->MoveNext();
    }
    batch.End();
  }
  rs->Close();
  const bool takesAnyLength = Kind() == "sqlite";
  EXPECT_EQ(refused, takesAnyLength ? std::vector<int>{} : std::vector<int>{5});
  EXPECT_EQ(Rows(t), (std::vector<std::string>{"1=it's 1", "2=other", "3=it's 3", "4=it's 4",
                                               takesAnyLength ? "5=" + tooLong : "5=old", "6=it's 6"}));
}

// Statements announced ahead end as they would alone, whether the database
// runs them together (PostgreSQL) or one by one: a refused one raises its
// own error at its own Execute and the others stay written; an Execute of
// another text drops the rest of the announcement unrun.
TEST_P(Transactions, AnnouncedStatementsEndAsTheyWouldAlone) {
  auto c = Connect();
  const std::string t = MakeTable(*c, "ahead");
  EXPECT_EQ(c->RunsStatementsAhead(), Kind() == "postgres");
  const auto insert = [&](int k, const std::string& v) {
    return "insert into " + t + " values (" + std::to_string(k) + ", '" + v + "')";
  };
  const auto outcome = [&](const std::string& statement) {
    try {
      c->Execute(statement);
    } catch (const AdoError& e) {
      return e.Description;
    }
    return std::string("ok");
  };
  const std::vector<std::string> together = {insert(1, "one"), insert(2, "two")};
  const std::vector<std::string> refusing = {insert(3, "three"), insert(1, "again"),
                                             "update " + t + " set v = 'uno' where k = 1", insert(4, "four")};
  std::vector<std::string> outcomes;
  {
    ado::Batch batch(*c);
    c->Execute(insert(0, "before"));
    c->ExpectStatements(together);
    for (const auto& statement : together) outcomes.push_back(outcome(statement));
    c->ExpectStatements(refusing);
    for (const auto& statement : refusing) outcomes.push_back(outcome(statement));
    c->ExpectStatements({insert(5, "five"), insert(6, "six")});
    outcomes.push_back(outcome(insert(7, "seven")));
    // Run ahead at the first, then left for another text: the rest is undone.
    c->ExpectStatements({insert(8, "eight"), insert(9, "nine"), insert(10, "ten")});
    outcomes.push_back(outcome(insert(8, "eight")));
    outcomes.push_back(outcome(insert(11, "eleven")));
    c->ExpectStatements({insert(12, "twelve"), insert(13, "thirteen")});
    outcomes.push_back(outcome(insert(12, "twelve")));
    batch.End();  // and at the commit
  }
  const std::string refusedAlone = outcome(insert(1, "again"));  // the same statement alone, after the batch
  EXPECT_NE(refusedAlone, "ok");
  EXPECT_EQ(outcomes, (std::vector<std::string>{"ok", "ok", "ok", refusedAlone, "ok", "ok", "ok", "ok", "ok", "ok"}));
  EXPECT_EQ(Rows(t), (std::vector<std::string>{"0=before", "1=uno", "2=two", "3=three", "4=four", "7=seven",
                                               "8=eight", "11=eleven", "12=twelve"}));
}

// Statements announced with one statement that does their work: on every
// database that one runs in their place (it writes "together" here to show
// it), and when the database refuses it the statements run one by one,
// each ending as it would alone. (A refusal later in the same batch would
// replay the statements, not the one.)
TEST_P(Transactions, AnnouncedStatementsRunAsTheirOneStatementOrOneByOne) {
  auto c = Connect();
  const std::string t = MakeTable(*c, "doneby");
  const auto insert = [&](int k, const std::string& v) {
    return "insert into " + t + " values (" + std::to_string(k) + ", '" + v + "')";
  };
  const auto update = [&](int k, const std::string& v) {
    return "update " + t + " set v = '" + v + "' where k = " + std::to_string(k);
  };
  // Each announcement in a batch of its own; the last one is cut short by
  // another text, so what stays is the statement the caller reached, alone.
  const std::vector<std::vector<std::string>> groups = {
      {insert(1, "a"), update(1, "b")}, {insert(2, "a"), update(2, "b")}, {insert(3, "a"), insert(0, "again")}};
  const std::vector<std::string> together = {insert(1, "together"), insert(0, "refused"), insert(3, "together")};
  c->Execute(insert(0, "before"));
  for (size_t g = 0; g < groups.size(); ++g) {
    ado::Batch batch(*c);
    c->ExpectStatementsDoneBy(groups[g], together[g]);
    const size_t run = g == 2 ? 1 : groups[g].size();
    for (size_t i = 0; i < run; ++i) EXPECT_NO_THROW(c->Execute(groups[g][i]));
    if (g == 2) {
      EXPECT_NO_THROW(c->Execute(insert(4, "after")));
    }
    batch.End();
  }
  EXPECT_EQ(Rows(t), (std::vector<std::string>{"0=before", "1=together", "2=b", "3=a", "4=after"}));
}

}  // namespace

CORVANE_DATABASE_TESTS(Transactions);

}  // namespace corvane::testing
