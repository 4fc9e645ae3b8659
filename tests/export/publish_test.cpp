// Publishing the final table: with "PublishMode" swap the whole export
// gives the table the rebuild in place gives, cell for cell, on every
// tested database; a reader counting the table meanwhile sees the old table
// or the new one, never neither and never a part; "MaxShrinkPercent" keeps
// a table that lost too many rows from being published, in either mode.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "platform/mapi/base64.h"
#include "service/export/final_table_swap.h"
#include "tests/export/count_reader.h"
#include "tests/export/export_fixture.h"
#include "tools/gen-directory/generate_directory.h"

namespace corvane::testing {
namespace {

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// Where two tables first differ, or empty when they are the same.
std::string FirstDifference(const std::vector<Row>& a, const std::vector<Row>& b) {
  if (a.size() != b.size()) return fmt::format("{} rows against {}", a.size(), b.size());
  for (size_t i = 0; i < a.size(); ++i) {
    for (const auto& [column, value] : a[i]) {
      auto other = b[i].find(column);
      if (other == b[i].end() || other->second != value)
        return fmt::format("row {} ({}), column {}: {} against {}", i, a[i].at("ENTRY_ID").value_or("NULL"), column,
                           value.value_or("NULL"), other == b[i].end() ? "missing" : other->second.value_or("NULL"));
    }
    if (a[i].size() != b[i].size()) return fmt::format("row {}: other columns", i);
  }
  return {};
}

// The table as its database describes it: columns and types, indexes, and
// the rights given to everyone.
std::vector<std::string> Shape(ado::Connection& c, const std::string& kind, const std::string& table) {
  std::vector<std::string> queries;
  if (kind == "sqlite") {
    queries = {"select name || ' ' || type from pragma_table_info('" + table + "')",
               "select 'index ' || name || ' ' || \"unique\" from pragma_index_list('" + table + "')"};
  } else if (kind == "postgres") {
    const std::string where = " where table_name = lower('" + table + "')";
    queries = {"select column_name || ' ' || data_type || coalesce('(' || character_maximum_length || ')', '') from "
               "information_schema.columns" + where + " order by ordinal_position",
               "select 'index ' || indexdef from pg_indexes where tablename = lower('" + table + "')",
               "select 'grant ' || privilege_type from information_schema.table_privileges" + where +
                   " and grantee = 'PUBLIC'"};
  } else {
    const std::string where = " where table_schema = database() and table_name = '" + table + "'";
    queries = {"select concat(column_name, ' ', column_type, ' ', coalesce(collation_name, '')) from "
               "information_schema.columns" + where + " order by ordinal_position",
               "select distinct concat('index ', index_name, ' ', non_unique, ' ', index_type) from "
               "information_schema.statistics" + where};
  }
  std::vector<std::string> shape;
  for (const auto& query : queries)
    for (auto& row : ReadRows(c, query)) shape.push_back(row.begin()->second.value_or("NULL"));
  return shape;
}

// The whole export through libCorvane.so in both modes.
class Publish : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    if (!fs::exists(BinDir() / "libCorvane.so")) GTEST_SKIP() << "libCorvane.so not built";
    auto db = OpenTestDatabase(GetParam(), "publish");
    CORVANE_REQUIRE_DATABASE(db);
    oldDir = fs::current_path();
    fs::current_path(db->dir);  // the library's log lies here
    h = std::make_unique<Harness>(*db);
    h->ConfigureDefaults();
    h->control.settings["Mailbox"] = gendir::kServiceAccount;
    library = std::make_unique<service::DynamicGalLibrary>(BinDir());
    h->hooks.library = library.get();
  }
  void TearDown() override {
    if (!h) return;
    auto c = h->Db();
    for (const std::string& table : {service::WorkTableName(h->w.TableName), Excludes()})
      Quietly(*c, "drop table " + table);
    fs::current_path(oldDir);
  }

  std::string Excludes() const { return h->w.TableName + "_EX"; }

  // The directory in `ldif`, read through a mail profile of its own (a
  // profile keeps the directory it was made for).
  void UseDirectory(const fs::path& ldif) {
    const fs::path home = h->db.dir / ("home" + std::to_string(++homes_));
    fs::create_directories(home);
    setenv("CORVANE_HOME", home.c_str(), 1);
    h->control.settings["Server"] = ldif.string();
  }
  // The sample directory with multi-line values, as Active Directory holds
  // them: street addresses end in a second line after CR LF or after a
  // lone LF, in turn, and every note gets a second line after CR LF.
  fs::path MultiLineSample() {
    const fs::path ldif = h->db.dir / "multiline.ldif";
    std::ifstream in(SourceDir() / "samples" / "directory.ldif", std::ios::binary);
    std::ofstream out(ldif, std::ios::binary | std::ios::trunc);
    int streets = 0;
    for (std::string line; std::getline(in, line);) {
      for (const auto& [attribute, second] : {std::pair<std::string, std::string>{"streetAddress: ", ""},
                                              {"info: ", "\r\nKey at reception"}}) {
        if (line.rfind(attribute, 0) != 0) continue;
        const std::string tail = second.empty() ? (++streets % 2 ? "\r\nHinterhaus" : "\nBuilding B") : second;
        line = attribute.substr(0, attribute.size() - 2) + ":: " +
               mapi::EncodeBase64(line.substr(attribute.size()) + tail);
      }
      out << line << "\n";
    }
    return ldif;
  }
  // (Re)writes a generated directory of `entries` entries.
  fs::path Generated(uint64_t entries, const std::string& name = "generated.ldif") {
    const fs::path ldif = h->db.dir / name;
    std::ofstream out(ldif, std::ios::binary | std::ios::trunc);
    gendir::WriteDirectory(out, {entries, 3});
    return ldif;
  }
  void Select(const std::vector<std::string>& boxes) {
    for (const auto& box : parameters::kColumnBoxes) {
      const bool on = std::find(boxes.begin(), boxes.end(), std::string(box.caption)) != boxes.end();
      h->control.settings[std::string(box.ParameterName())] = on ? "1" : "0";
    }
  }
  // A complete run in `mode`; the published table, every row in the order of its identifiers.
  std::vector<Row> Run(const std::string& mode) {
    h->control.settings["PublishMode"] = mode;
    h->entries.clear();
    EXPECT_EQ(h->Run(), true) << h->LogText().substr(0, 5000);
    return ReadRows(*h->Db(), "select * from " + h->w.TableName + " order by entry_id");
  }

  fs::path oldDir;
  std::unique_ptr<Harness> h;
  std::unique_ptr<service::DynamicGalLibrary> library;
  int homes_ = 0;
};

TEST_P(Publish, BothModesGiveTheSameTableAndTheSwapLeavesOutExcludedRows) {
  auto c = h->Db();
  const std::string& table = h->w.TableName;
  std::vector<std::string> every;
  for (const auto& box : parameters::kColumnBoxes) every.emplace_back(box.caption);
  std::vector<std::string> sensible = kSensibleSelection;
  sensible.push_back("EMS_AB_PROXY_ADDRESSES");

  // The sample directory with every column and multi-line values, and a
  // generated one of 10,000 entries.
  const std::pair<fs::path, std::vector<std::string>> directories[] = {{MultiLineSample(), every},
                                                                        {Generated(10000), sensible}};
  std::vector<Row> sample;
  for (const auto& [ldif, boxes] : directories) {
    UseDirectory(ldif);
    Select(boxes);
    const std::vector<Row> rebuilt = Run("");
    const auto shape = Shape(*c, GetParam(), table);
    const std::vector<Row> swapped = Run("swap");
    EXPECT_GT(rebuilt.size(), 250u);
    EXPECT_EQ(FirstDifference(rebuilt, swapped), "") << ldif;
    EXPECT_EQ(Shape(*c, GetParam(), table), shape) << ldif;
    EXPECT_FALSE(TableExists(*c, service::WorkTableName(table)));
    EXPECT_FALSE(TableExists(*c, service::RetiredTableName(table)));
    if (sample.empty()) sample = rebuilt;
  }
  // The line breaks inside values reached the published table.
  size_t crlf = 0, lf = 0, notes = 0;
  for (const Row& row : sample) {
    const std::string street = row.at("BUS_ADD_STREET").value_or("");
    crlf += street.find("\r\nHinterhaus") != std::string::npos;
    lf += street.find("\nBuilding B") != std::string::npos && street.find('\r') == std::string::npos;
    notes += row.at("COM").value_or("").find("\r\nKey at reception") != std::string::npos;
  }
  EXPECT_GT(crlf, 100u);
  EXPECT_GT(lf, 100u);
  EXPECT_GT(notes, 0u);

  // The rebuild leaves the exclusion unapplied on this kind; the swap
  // leaves out the rows it names, and only those.
  UseDirectory(directories[0].first);
  Select(every);
  std::set<std::string> excluded;
  for (size_t i = 0; i < sample.size() && excluded.size() < 3; i += 40)
    if (sample[i]["ACCOUNT"]) excluded.insert(Upper(*sample[i]["ACCOUNT"]));
  c->Execute("create table " + Excludes() + " (ACCOUNT varchar(255))");
  for (const auto& account : excluded) c->Execute("insert into " + Excludes() + " values ('" + account + "')");
  h->control.settings["Exclude"] = "1";
  h->control.settings["ExcludeTableName"] = Excludes();
  h->control.settings["ExcludeFieldName"] = "ACCOUNT";
  std::vector<Row> kept;
  for (const Row& row : sample)
    if (!row.at("ACCOUNT") || !excluded.count(Upper(*row.at("ACCOUNT")))) kept.push_back(row);
  ASSERT_EQ(kept.size(), sample.size() - excluded.size());
  EXPECT_EQ(FirstDifference(Run("swap"), kept), "");
}

INSTANTIATE_TEST_SUITE_P(Databases, Publish, ::testing::Values("sqlite", "postgres", "mariadb"),
                         [](const auto& info) { return info.param; });

// A reader counting the final table on PostgreSQL while a run publishes
// 5,000 entries in place of 4,000, and back: with the swap it sees the old
// count or the new one and nothing else; the rebuild in place shows it no
// table, then a table that fills. (bench_export --reader does the same at
// 100,000 entries.)
TEST(PublishReader, SeesTheOldTableOrTheNewOneOnlyWithTheSwap) {
  if (!fs::exists(BinDir() / "libCorvane.so")) GTEST_SKIP() << "libCorvane.so not built";
  auto db = OpenTestDatabase("postgres", "reader");
  if (!db) {
    if (ServersRequired()) GTEST_FAIL() << "CORVANE_TEST_PG is not set";
    GTEST_SKIP() << "CORVANE_TEST_PG is not set";
  }
  const fs::path oldDir = fs::current_path();
  fs::current_path(db->dir);
  setenv("CORVANE_HOME", db->dir.c_str(), 1);
  Harness h(*db);
  h.ConfigureDefaults();
  h.control.settings["Mailbox"] = gendir::kServiceAccount;
  h.control.settings["Server"] = (db->dir / "directory.ldif").string();
  service::DynamicGalLibrary library(BinDir());
  h.hooks.library = &library;
  auto publish = [&](uint64_t entries, const std::string& mode) {
    std::ofstream out(db->dir / "directory.ldif", std::ios::binary | std::ios::trunc);
    gendir::WriteDirectory(out, {entries, 5});
    out.close();
    h.control.settings["PublishMode"] = mode;
    h.entries.clear();
    CountReader reader(db->connectionString, h.w.TableName);
    EXPECT_EQ(h.Run(), true) << h.LogText().substr(0, 5000);
    return reader.Stop();
  };
  publish(4000, "swap");
  const long before = h.outcomes.back().finalRows;
  const auto swapped = publish(5000, "swap");
  const long after = h.outcomes.back().finalRows;
  ASSERT_GT(after, before);
  std::set<long> counts;
  for (const auto& sight : swapped) {
    EXPECT_EQ(sight.error, "");
    counts.insert(sight.rows);
  }
  EXPECT_EQ(counts, (std::set<long>{before, after}));

  const auto rebuilt = publish(4000, "");
  size_t gone = 0, partial = 0;
  for (const auto& sight : rebuilt) {
    gone += !sight.error.empty();
    partial += sight.error.empty() && sight.rows != before && sight.rows != after;
  }
  EXPECT_GT(gone + partial, 0u);
  std::printf("rebuild in place: readers saw no table %zu times and a part of it %zu times, for %.1f s\n", gone,
              partial, CountReader::Gap(rebuilt, after, before));
  fs::current_path(oldDir);
}

// A directory that lost 40% of its entries with "MaxShrinkPercent" 10
// publishes nothing, in either mode, and says why; so does a threshold
// that is no percentage. Within the threshold the table is published.
TEST(ShrinkThreshold, AShrunkDirectoryIsNotPublished) {
  for (const std::string mode : {"", "swap"}) {
    SCOPED_TRACE("PublishMode " + mode);
    auto db = OpenTestDatabase("sqlite", "shrink");
    Harness h(*db);
    h.ConfigureDefaults();
    h.control.settings["PublishMode"] = mode;
    for (int i = 0; i < 10; ++i)
      h.library.entries.push_back(Entry(fmt::format("0F{:02}", i), "Given", fmt::format("Sur{}", i), std::nullopt));
    ASSERT_EQ(h.Run(), true);
    h.library.entries.resize(6);

    const struct {
      const char* threshold;
      const char* cause;  // the error event's beginning; empty when the run publishes
    } cases[] = {
        {"ten", "MaxShrinkPercent \"ten\" is not a percentage from 0 to 100: the final table "},
        {"10", "The final table "},
        {" 40 ", ""},
    };
    for (const auto& c : cases) {
      SCOPED_TRACE(c.threshold);
      h.control.settings["MaxShrinkPercent"] = c.threshold;
      h.control.settings.erase("LastSuccessfulRun");
      h.control.events.clear();
      const bool publishes = *c.cause == '\0';
      EXPECT_EQ(h.Run(), publishes);
      EXPECT_EQ(ReadRows(*h.Db(), "select entry_id from " + h.w.TableName).size(), publishes ? 6u : 10u);
      EXPECT_EQ(h.control.settings.count("LastSuccessfulRun"), publishes ? 1u : 0u);
      EXPECT_NE(h.control.settings["FinalTableIncomplete"], "1");
      const auto errors = h.EventTexts(ntservice::EVENTLOG_ERROR_TYPE, 109);
      if (!publishes) {
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0].rfind(c.cause, 0), 0u) << errors[0];
      }
    }
    const auto refusal = std::find_if(h.entries.begin(), h.entries.end(), [](const std::string& line) {
      return line.find("would hold 6 rows where the published one holds 10, 40.0% fewer") != std::string::npos;
    });
    EXPECT_NE(refusal, h.entries.end()) << h.LogText();
    EXPECT_FALSE(TableExists(*h.Db(), service::WorkTableName(h.w.TableName)));
  }
}

}  // namespace
}  // namespace corvane::testing
