// What the export tests share: a window with a fake service control and a
// fixed clock, a real database (SQLite file or the test PostgreSQL server),
// a GAL library stand-in that fills the temporary table the way the real
// library does, and small readers of the resulting tables.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ado/ado.h"
#include "platform/shell/shell.h"
#include "service/export/gal_library.h"
#include "service/export/update_run.h"
#include "service/core/clock.h"
#include "service/core/run_log.h"
#include "service/export/export_context.h"
#include "tests/export/connection_wrappers.h"
#include "tests/export/fake_service_control.h"

namespace corvane::testing {

namespace fs = std::filesystem;

// Removes a test's temporary folder when the last copy of its database
// goes, whether the test passed or failed.
struct TempDirOwner {
  explicit TempDirOwner(fs::path d) : dir(std::move(d)) {}
  ~TempDirOwner() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  TempDirOwner(const TempDirOwner&) = delete;
  TempDirOwner& operator=(const TempDirOwner&) = delete;
  fs::path dir;
};

// A database the tests run against; the PostgreSQL and MariaDB ones skip
// (or fail under CI) when the server is not configured. Copies share the
// folder, which goes with the last of them.
struct TestDatabase {
  std::string kind;  // "sqlite", "postgres" or "mariadb"
  std::string connectionString;
  fs::path dir;
  std::shared_ptr<const TempDirOwner> owner;
};

// The build's program folder and the source tree: from the environment
// (CORVANE_BIN_DIR, CORVANE_SOURCE_DIR), else as configured.
inline fs::path BinDir() {
  const char* v = std::getenv("CORVANE_BIN_DIR");
#ifdef CORVANE_DEFAULT_BIN_DIR
  if (!v || !*v) v = CORVANE_DEFAULT_BIN_DIR;
#endif
  return v ? fs::path(v) : fs::path();
}
inline fs::path SourceDir() {
  const char* v = std::getenv("CORVANE_SOURCE_DIR");
#ifdef CORVANE_DEFAULT_SOURCE_DIR
  if (!v || !*v) v = CORVANE_DEFAULT_SOURCE_DIR;
#endif
  return v ? fs::path(v) : fs::path();
}

inline fs::path MakeTempDir(const std::string& name) {
  fs::path dir = fs::temp_directory_path() / ("corvane_export_" + name + "_" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

// Under CI a missing server fails the test instead of skipping it.
inline bool ServersRequired() {
  const char* ci = std::getenv("CI");
  return ci && std::string(ci) == "true";
}

// Ends SetUp when the database is not there: a skip, or a failure under CI.
#define CORVANE_REQUIRE_DATABASE(db)                                                             \
  if (!(db)) {                                                                                    \
    if (::corvane::testing::ServersRequired()) GTEST_FAIL() << "no server for " << GetParam();   \
    GTEST_SKIP() << "no server for " << GetParam() << " (CORVANE_TEST_PG, CORVANE_TEST_MARIADB)"; \
  }

// nullopt when the kind's server is not configured.
inline std::optional<TestDatabase> OpenTestDatabase(const std::string& kind, const std::string& name) {
  TestDatabase db{kind, "", MakeTempDir(name), nullptr};
  db.owner = std::make_shared<const TempDirOwner>(db.dir);
  if (kind == "sqlite") {
    db.connectionString = "Driver=SQLite3;Database=" + (db.dir / "corvane.db").string() + ";JournalMode=WAL;SyncPragma=NORMAL";
    return db;
  }
  const char* server = std::getenv(kind == "mariadb" ? "CORVANE_TEST_MARIADB" : "CORVANE_TEST_PG");
  if (!server || !*server) return std::nullopt;
  db.connectionString = server;
  return db;
}

inline std::unique_ptr<ado::Connection> Connect(const std::string& cs) {
  auto c = ado::CreateConnection();
  c->Open(cs);
  return c;
}

// Runs a statement and ignores its failure (for set-up and clean-up).
inline void Quietly(ado::Connection& c, const std::string& sql) {
  try {
    c.Execute(sql);
  } catch (const ado::AdoError&) {
  }
}

using Row = std::map<std::string, std::optional<std::string>>;  // column name in upper case -> value

// Every row of a query, column names upper-cased.
std::vector<Row> ReadRows(ado::Connection& c, const std::string& sql);
// The column names of a table in table order, upper-cased.
std::vector<std::string> ColumnsOf(ado::Connection& c, const std::string& table);
bool TableExists(ado::Connection& c, const std::string& table);

// Stands in for libCorvane.so: "reads" a fixed list of entries and inserts
// them into the temporary table through a connection of its own.
class FakeGalLibrary : public service::GalLibrary {
 public:
  int32_t CreateProfileWithIProfAdmin(const std::string& mailbox, const std::string& server,
                                      const std::string& quiet) override {
    calls.push_back("CreateProfileWithIProfAdmin(" + mailbox + "," + server + "," + quiet + ")");
    return profileResult;
  }
  int32_t GetGALCount(const std::string& profileName, const std::string& quiet) override {
    calls.push_back("GetGALCount(" + profileName + "," + quiet + ")");
    return galCount.value_or(static_cast<int32_t>(entries.size()));
  }
  // Inserts the entries and reports them all written, unless `report` says otherwise.
  std::optional<galreader::ExportReport> ModifyStruct(const std::string& connectionString,
                                                      const std::string& profileName, const std::string& tableName,
                                                      const std::string& quiet, int32_t ToDoCount) override;

  std::vector<Row> entries;  // columns of the temporary table the library writes
  std::optional<std::optional<galreader::ExportReport>> report;  // the report to give instead
  std::optional<int32_t> galCount;
  int32_t profileResult = 1;
  std::vector<std::string> calls;
};

// An entry as the library would write it: identifier, names, proxy list.
Row Entry(const std::string& id, const std::string& given, const std::string& surname,
          const std::optional<std::string>& proxies);

// One window with its collaborators, wired for a run against `db`.
struct Harness {
  // Table names carry a prefix unique to the running test, since tests run
  // side by side against the one PostgreSQL database. The destructor drops
  // both tables, also after a failed test.
  explicit Harness(const TestDatabase& database, std::string tablePrefix = UniquePrefix());
  ~Harness();
  Harness(const Harness&) = delete;
  Harness& operator=(const Harness&) = delete;
  static std::string UniquePrefix();

  // Settings for a run: connection, mailbox/server, a sensible selection.
  void ConfigureDefaults();
  // Runs UpdateGAL; the result flag, or nullopt when the process would end.
  std::optional<bool> Run();
  std::string LogText() const;  // every entry, oldest first, one a line
  bool Logged(const std::string& line) const;
  std::vector<std::string> EventTexts(int16_t type, int32_t id) const;
  std::unique_ptr<ado::Connection> Db() const { return Connect(db.connectionString); }

  TestDatabase db;
  service::FixedClock clock;
  service::RunLog log{clock};
  FakeServiceControl control;
  service::ExportContext w;
  service::RunState run;
  shell::RecordingShell shell;
  FakeGalLibrary library;
  service::UpdateRunHooks hooks;
  std::vector<std::string> entries;
  std::optional<service::EndServiceProcess> ended;
  std::vector<service::RunOutcome> outcomes;
  // Set to fail recordset operations of the run's connections.
  std::shared_ptr<FaultRule> faults = std::make_shared<FaultRule>();
  int32_t faultNumber = ado::adErrGeneric;
};

// The column boxes a sensible administrator selects.
extern const std::vector<std::string> kSensibleSelection;

}  // namespace corvane::testing
