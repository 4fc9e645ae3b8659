// The address parse pass: the split rules, and the pass over a real table.
#include "service/export/address_parse.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "service/export/database.h"
#include "service/export/database_dialect.h"
#include "service/export/schema.h"
#include "tests/export/export_fixture.h"

namespace corvane::testing {
namespace {

using service::ParseProxyAddresses;

TEST(ParseProxyAddresses, PrimaryAndSecondary) {
  auto p = ParseProxyAddresses("SMTP:x{;},smtp:y{;}");
  EXPECT_EQ(p.slots[0], "SMTP:x");
  EXPECT_EQ(p.slots[1], "smtp:y");
  for (int i = 2; i < 5; ++i) EXPECT_FALSE(p.slots[i].has_value()) << i;
  EXPECT_EQ(p.smtp, "x");
}

TEST(ParseProxyAddresses, KeepsFirstFiveOfSeven) {
  auto p = ParseProxyAddresses("X400:a{;},smtp:b{;},SMTP:c{;},X500:d{;},smtp:e{;},smtp:f{;},smtp:g{;}");
  EXPECT_EQ(p.slots[0], "X400:a");
  EXPECT_EQ(p.slots[4], "smtp:e");
  EXPECT_EQ(p.smtp, "c");
}

TEST(ParseProxyAddresses, LowerCaseSmtpOnlyGivesNoPrimary) {
  auto p = ParseProxyAddresses("smtp:only@example.org{;}");
  EXPECT_EQ(p.slots[0], "smtp:only@example.org");
  EXPECT_EQ(p.smtp, "");
}

TEST(ParseProxyAddresses, PrimaryLastWithoutTrailingMarkAndApostrophes) {
  auto p = ParseProxyAddresses("smtp:o'neil@a.org{;},SMTP:o'neil@b.org");
  EXPECT_EQ(p.slots[1], "SMTP:o'neil@b.org");
  EXPECT_EQ(p.smtp, "o'neil@b.org");
}

TEST(ParseProxyAddresses, OnlyEndMarksGiveNoItemAtAll) {
  auto p = ParseProxyAddresses("{;}{;}");
  for (int i = 0; i < 5; ++i) EXPECT_FALSE(p.slots[i].has_value()) << i;
  EXPECT_EQ(p.smtp, "");
}

TEST(ParseProxyAddresses, RepeatedTrailingMarksAreAllRemoved) {
  auto p = ParseProxyAddresses("SMTP:a@b.c{;}{;}{;}");
  EXPECT_EQ(p.slots[0], "SMTP:a@b.c");
  EXPECT_FALSE(p.slots[1].has_value());
}

// A recovery that records failures and lets the pass go on.
class RecordingRecovery : public service::Recovery {
 public:
  bool RunRecovery(const service::RunFailure& f) override {
    failures.push_back(f);
    return !endRun && failures.size() < stopAfter;
  }
  std::vector<service::RunFailure> failures;
  bool endRun = false;
  size_t stopAfter = 100;  // a pass stuck on one failure ends here
};

class AddressParsePass : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    auto db = OpenTestDatabase(GetParam(), "parse");
    CORVANE_REQUIRE_DATABASE(db);
    h = std::make_unique<Harness>(*db);
    h->w.ServiceConnection = h->w.NewConnection();
    h->w.ServiceConnection->Open(db->connectionString);
    h->w.Dialect = std::make_shared<service::DatabaseDialect>("OTHER", h->w.ServiceConnection->DbmsName());
    auto& c = *h->w.ServiceConnection;
    Quietly(c, "drop table " + h->w.TempTableName);
    c.Execute("CREATE TABLE " + h->w.TempTableName +
              service::TempTableColumnList("OTHER", h->w.TableName, service::OtherKindTypesFor(c.DbmsName())));
  }
  void Insert(const std::vector<Row>& rows) {
    h->library.entries = rows;
    h->library.ModifyStruct(h->db.connectionString, "TWCorvane", h->w.TempTableName, "TRUE", 0);
  }
  std::vector<Row> Rows() {
    return ReadRows(*h->w.ServiceConnection,
                    "select entry_id, addr1, addr2, addr3, addr4, addr5, smtp from " + h->w.TempTableName +
                        " order by entry_id");
  }
  std::unique_ptr<Harness> h;
  RecordingRecovery recovery;
};

TEST_P(AddressParsePass, FillsAddressColumnsAndLeavesRowsWithoutAddresses) {
  Insert({Entry("0A01", "Ann", "O'Hara", "SMTP:ann.o'hara@example.org{;},smtp:ann@example.org{;},X400:c=US{;}"),
          Entry("0A02", "Bob", "Roe", std::nullopt), Entry("0A03", "Cy", "Low", "smtp:cy@example.org{;}")});
  service::AddressParse(h->w, recovery);
  EXPECT_TRUE(recovery.failures.empty());
  auto rows = Rows();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0]["ADDR1"], "SMTP:ann.o'hara@example.org");
  EXPECT_EQ(rows[0]["ADDR2"], "smtp:ann@example.org");
  EXPECT_EQ(rows[0]["ADDR3"], "X400:c=US");
  EXPECT_EQ(rows[0]["ADDR4"], std::nullopt);
  EXPECT_EQ(rows[0]["SMTP"], "ann.o'hara@example.org");
  EXPECT_EQ(rows[1]["ADDR1"], std::nullopt);
  EXPECT_EQ(rows[1]["SMTP"], std::nullopt);
  EXPECT_EQ(rows[2]["SMTP"], "");
  std::string log = h->LogText();
  EXPECT_NE(log.find("Email not found for entry this entry"), std::string::npos);
  EXPECT_NE(log.find("ParseSrt:"), std::string::npos);
  EXPECT_NE(log.find("Parse End:"), std::string::npos);
}

TEST_P(AddressParsePass, NoSmtpLeavesSmtpColumnAlone) {
  h->w.NoSMTP = 1;
  Insert({Entry("0B01", "Dee", "Ray", "SMTP:dee@example.org{;}")});
  service::AddressParse(h->w, recovery);
  auto rows = Rows();
  EXPECT_EQ(rows[0]["ADDR1"], "SMTP:dee@example.org");
  EXPECT_EQ(rows[0]["SMTP"], std::nullopt);
}

TEST_P(AddressParsePass, EmptyTableIsReadTwiceThenReported) {
  service::AddressParse(h->w, recovery);
  std::string log = h->LogText();
  auto retry = log.find("No records found in temp.  Retrying...");
  ASSERT_NE(retry, std::string::npos);
  EXPECT_NE(log.find("No records in temp!", retry), std::string::npos);
}

TEST_P(AddressParsePass, OracleCommitsEveryThousandRowsAndProgressIsReported) {
  std::vector<Row> rows;
  for (int i = 0; i < 2000; ++i) rows.push_back(Entry(fmt::format("{:06X}", i), "G", "S", "SMTP:a@b.c{;}"));
  Insert(rows);
  h->w.Dialect = std::make_shared<service::DatabaseDialect>("ORACLE", h->w.ServiceConnection->DbmsName());
  int doEvents = 0;
  h->w.DoEvents = [&] { ++doEvents; };
  std::vector<std::string> progress;
  service::AddressParse(h->w, recovery, [&](long n, bool final) { progress.push_back(std::to_string(n) + (final ? " final" : "")); });
  EXPECT_EQ(doEvents, 2000);
  // The last count is told as such, also when it is a multiple of 1000.
  EXPECT_EQ(progress, (std::vector<std::string>{"1000", "2000", "2000 final"}));
  // The commits themselves fail here (no open transaction); xSQL logs each.
  EXPECT_EQ(std::count(h->entries.begin(), h->entries.end(), std::string("Xsql:commit")), 2);
}

TEST_P(AddressParsePass, FailedWriteBackGoesToRecoveryAndThePassGoesOn) {
  Insert({Entry("0C01", "Eve", "Ray", "SMTP:eve@example.org{;}"), Entry("0C02", "Fay", "Ray", "SMTP:fay@example.org{;}")});
  int updates = 0;
  *h->faults = [&](const std::string& op) { return op == "Update" && ++updates == 1; };
  service::AddressParse(h->w, recovery);
  ASSERT_EQ(recovery.failures.size(), 1u);
  EXPECT_EQ(recovery.failures[0].Number, ado::adErrGeneric);
  auto rows = Rows();
  EXPECT_EQ(rows[1]["SMTP"], "fay@example.org");
}

// An address longer than its column is refused by the database (PostgreSQL
// enforces varchar(255); SQLite gets a trigger that does the same). The
// refusal is reported once and the pass moves on to the next row instead of
// retrying the same write-back until the failure limit ends the process.
TEST_P(AddressParsePass, RefusedWriteBackIsReportedOnceAndThePassMovesOn) {
  auto& c = *h->w.ServiceConnection;
  if (GetParam() == "sqlite")
    c.Execute("CREATE TRIGGER " + h->w.TempTableName + "_len BEFORE UPDATE ON " + h->w.TempTableName +
              " WHEN length(NEW.addr1) > 255 BEGIN SELECT RAISE(ABORT, 'value too long'); END");
  const std::string longAddress = "X500:/o=Org/cn=" + std::string(300, 'r');
  Insert({Entry("0E01", "Gil", "Long", longAddress + "{;},SMTP:gil@example.org{;}"),
          Entry("0E02", "Hal", "Short", "SMTP:hal@example.org{;}")});
  try {
    service::AddressParse(h->w, recovery);
  } catch (const service::RunOver&) {
    FAIL() << "the pass kept failing on the same row";
  }
  ASSERT_EQ(recovery.failures.size(), 1u);
  EXPECT_EQ(recovery.failures[0].Number, ado::adErrStatementRefused);
  auto rows = Rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0]["ADDR1"], std::nullopt);  // the refused row keeps its values
  EXPECT_EQ(rows[1]["SMTP"], "hal@example.org");
  EXPECT_NE(h->LogText().find("Parse End:"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Databases, AddressParsePass, ::testing::Values("sqlite", "postgres", "mariadb"),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace corvane::testing
