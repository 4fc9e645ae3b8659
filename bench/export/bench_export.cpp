// The whole export for generated directories of 10,000 and 100,000
// entries on SQLite, PostgreSQL and MariaDB, in both publishing modes side
// by side (the rebuild in place, and "PublishMode" swap): GAL read through
// libCorvane.so, the temporary table, the address parse pass and the final
// table. Prints seconds per phase, entries per second overall, statements
// per second of the other kind's final-table copy, peak memory, and
// whether both modes published the same table, cell for cell. With
// --reader, a second connection counts the final table in a loop while
// each run publishes it, and the time it saw no table or a part of one is
// printed (that slows the runs: leave it out for the timings).
//
// Beside each database's runs, the bulk pipeline an administrator would
// script instead loads the same directory (LDIF to CSV, then sqlite3's
// .import, psql's \copy or MariaDB's LOAD DATA; see bulk_load.h), and each
// run's time is printed as a multiple of it ("_over_bulk"). --bulk-only
// leaves Corvane's runs out (to set beside another build's figures).
//
//   bench_export [--sizes 10000,100000] [--databases sqlite,postgres,mariadb] [--modes rebuild,swap] [--reader]
//                [--bulk-only]
//
// PostgreSQL is reached through $CORVANE_TEST_PG, MariaDB through
// $CORVANE_TEST_MARIADB. Figures of the swap carry "_swap" in their names.
// Production runs PostgreSQL with fsync and synchronous commit on; the
// figures that matter come from such a cluster:
//   eval "$(CORVANE_PG_PORT=55433 CORVANE_PG_DATA=/tmp/corvane-pgprod scripts/start-test-postgres.sh --production)"
#include <fmt/format.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/export/bulk_load.h"
#include "service/export/gal_library.h"
#include "service/export/update_run.h"
#include "service/host/clock.h"
#include "service/host/run_log.h"
#include "service/host/service_main.h"
#include "tests/export/connection_wrappers.h"
#include "tests/export/count_reader.h"
#include "tests/export/fake_service_control.h"
#include "tools/gen-directory/generate_directory.h"

namespace fs = std::filesystem;
using namespace corvane;
using Clock = std::chrono::steady_clock;

namespace {

std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    size_t end = text.find(',', start);
    out.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return out;
    start = end + 1;
  }
}

// CPU seconds (user and system) of this process so far: the library runs
// in it too. Wall time on a shared machine includes waiting for a CPU.
double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double PeakMegabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024.0;
}

struct Figures {
  std::map<std::string, double> phaseSeconds;
  double total = 0;
  double cpu = 0;
  long copyStatements = 0;
  bool completed = false;
  std::vector<testing::CountReader::Sight> readerSights;  // with --reader
  long published = -1;                                     // rows published before the run
  long finalRows = -1;
};

constexpr const char* kTable = "BENCH_GAL";

// A digest of every cell of the final table, whatever the order of its rows
// (read in batches, as a plain select of one table is: no sort held in memory).
std::size_t TableDigest(const std::string& connectionString) {
  auto c = ado::CreateConnection();
  c->Open(connectionString);
  auto rs = c->CreateRecordset();
  rs->Open(std::string("select * from ") + kTable, *c);
  std::size_t digest = 0;
  for (; !rs->IsEOF(); rs->MoveNext()) {
    std::size_t row = 0;
    for (int i = 0; i < rs->FieldCount(); ++i)
      row = row * 1000003 ^ std::hash<std::string>{}(rs->FieldName(i) + "=" + rs->GetValue(i).value_or("\x01NULL"));
    digest += row;
  }
  return digest;
}

// One whole run of `entries` generated entries into the database.
Figures RunOnce(const std::string& connectionString, const fs::path& ldif, const fs::path& work, long entries,
                const std::string& mode, bool reader) {
  service::SystemClock clock;
  service::RunLog log(clock);
  testing::FakeServiceControl control;
  service::ServiceMain w(log, control, clock, [] {});
  w.TableName = kTable;
  w.TempTableName = "BENCH_TEMP_GAL";
  control.settings["ConnectionString"] = connectionString;
  control.settings["PublishMode"] = mode == "swap" ? "swap" : "";
  control.settings["Mailbox"] = gendir::kServiceAccount;
  control.settings["Server"] = ldif.string();
  for (const char* box : {"GIVEN_NAME", "SURNAME", "DISPLAY_NAME", "TITLE", "COMPANY_NAME", "BUS_DEPARTMENT_NAME",
                          "OFFICE_TELEPHONE_NUMBER", "MOBILE_TELEPHONE_NUMBER", "ACCOUNT"})
    control.settings[box] = "1";

  // Count the statements of the final-table phase on the run's connections.
  std::vector<testing::WrappedConnection*> connections;
  w.NewConnection = [&] {
    auto c = std::make_unique<testing::WrappedConnection>(ado::CreateConnection());
    connections.push_back(c.get());
    return c;
  };
  auto statements = [&] {
    long n = 0;
    for (auto* c : connections) n += c->statements;
    return n;
  };

  Figures f;
  // Benchmarks live in <build>/bench, the library in <build>/bin.
  service::DynamicGalLibrary library(service::ProgramFolder().parent_path() / "bin");
  service::UpdateRunHooks hooks;
  hooks.library = &library;
  hooks.OnOutcome = [&f](const service::RunOutcome& outcome) { f.finalRows = outcome.finalRows; };
  std::string phase = "connect";
  auto phaseStart = Clock::now();
  auto runStart = phaseStart;
  long statementsAtCopy = 0;
  hooks.OnPhase = [&](const std::string& next) {
    auto now = Clock::now();
    f.phaseSeconds[phase] += std::chrono::duration<double>(now - phaseStart).count();
    if (phase == "final table") f.copyStatements = statements() - statementsAtCopy;
    if (next == "final table") statementsAtCopy = statements();
    phase = next;
    phaseStart = now;
  };

  fs::current_path(work);  // the library's log lies here
  double cpuStart = CpuSeconds();
  bool result = false;
  std::unique_ptr<testing::CountReader> counter;
  if (reader) {
    try {
      auto c = ado::CreateConnection();
      c->Open(connectionString);
      f.published = std::stol(c->Execute(std::string("select count(*) from ") + kTable)->GetValue(0).value_or("-1"));
    } catch (const std::exception&) {
    }
    counter = std::make_unique<testing::CountReader>(connectionString, kTable);
  }
  try {
    service::UpdateGAL(w, result, hooks);
  } catch (const service::EndServiceProcess& e) {
    fmt::print(stderr, "run ended early: {}\n", e.reason);
  }
  if (counter) f.readerSights = counter->Stop();
  f.phaseSeconds[phase] += std::chrono::duration<double>(Clock::now() - phaseStart).count();
  f.total = std::chrono::duration<double>(Clock::now() - runStart).count();
  f.cpu = CpuSeconds() - cpuStart;
  f.completed = result && control.settings.count("LastSuccessfulRun") > 0;
  if (!f.completed) fmt::print(stderr, "run did not complete; last log:\n{}\n", log.txtlog().substr(0, 2000));
  (void)entries;
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> sizes = {"10000", "100000"};
  std::vector<std::string> databases = {"sqlite", "postgres", "mariadb"};
  std::vector<std::string> modes = {"rebuild", "swap"};
  bool reader = false;
  bool bulkOnly = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--reader") == 0) reader = true;
    else if (std::strcmp(argv[i], "--bulk-only") == 0) bulkOnly = true;
    else if (i + 1 >= argc) break;
    else if (std::strcmp(argv[i], "--sizes") == 0) sizes = SplitList(argv[++i]);
    else if (std::strcmp(argv[i], "--databases") == 0) databases = SplitList(argv[++i]);
    else if (std::strcmp(argv[i], "--modes") == 0) modes = SplitList(argv[++i]);
  }

  fs::path root = fs::temp_directory_path() / ("bench_export_" + std::to_string(getpid()));
  fs::create_directories(root);

  std::map<std::string, double> totals;
  for (const auto& size : sizes) {
    long entries = std::stol(size);
    fs::path ldif = root / ("directory_" + size + ".ldif");
    // The generator keeps every entry's DN while it writes: it writes in a
    // child process, so that the peak memory printed is the runs' own.
    const pid_t child = fork();
    if (child == 0) {
      {
        std::ofstream out(ldif);
        gendir::WriteDirectory(out, {static_cast<uint64_t>(entries), 1});
      }
      _exit(0);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      fmt::print(stderr, "the directory of {} entries could not be generated\n", entries);
      return 1;
    }
    for (const auto& db : databases) {
      std::string cs;
      if (db == "sqlite") {
        fs::remove(root / "bench.db");
        cs = "Driver=SQLite3;Database=" + (root / "bench.db").string() + ";JournalMode=WAL;SyncPragma=NORMAL";
      } else {
        const char* variable = db == "mariadb" ? "CORVANE_TEST_MARIADB" : "CORVANE_TEST_PG";
        const char* server = std::getenv(variable);
        if (!server || !*server) {
          fmt::print(stderr, "{} not set: {} skipped\n", variable, db);
          continue;
        }
        cs = server;
      }
      std::map<std::string, std::size_t> digests;
      if (reader) {
        // The reader's runs replace a published table, as every run but the first does.
        fs::path home = root / ("home_" + db + "_" + size + "_first");
        fs::create_directories(home);
        setenv("CORVANE_HOME", home.c_str(), 1);
        RunOnce(cs, ldif, root, entries, "swap", false);
      }
      for (const auto& mode : bulkOnly ? std::vector<std::string>{} : modes) {
        // A fresh home per run: the mail profile keeps the directory it was
        // created with.
        fs::path home = root / ("home_" + db + "_" + size + "_" + mode);
        fs::create_directories(home);
        setenv("CORVANE_HOME", home.c_str(), 1);
        Figures f = RunOnce(cs, ldif, root, entries, mode, reader);
        std::string name = fmt::format("export_{}_{}{}", db, size, mode == "swap" ? "_swap" : "");
        for (const char* phase : {"connect", "temporary table", "GAL read", "address parse", "final table"}) {
          std::string key = phase;
          for (char& c : key)
            if (c == ' ') c = '_';
          fmt::print("{}_{}: {:.2f} s\n", name, key, f.phaseSeconds[phase]);
        }
        fmt::print("{}_total: {:.2f} s\n", name, f.total);
        fmt::print("{}_cpu: {:.2f} s\n", name, f.cpu);
        fmt::print("{}_entries_per_s: {:.0f} entries/s\n", name, entries / f.total);
        double copy = f.phaseSeconds["final table"];
        fmt::print("{}_copy_statements: {} statements\n", name, f.copyStatements);
        fmt::print("{}_copy_statements_per_s: {:.0f} statements/s\n", name, copy > 0 ? f.copyStatements / copy : 0.0);
        fmt::print("{}_completed: {} bool\n", name, f.completed ? 1 : 0);
        fmt::print("{}_peak_memory: {:.1f} MB\n", name, PeakMegabytes());
        if (reader) {
          long errors = 0, partial = 0;
          for (const auto& sight : f.readerSights) {
            errors += !sight.error.empty();
            partial += sight.error.empty() && sight.rows != f.published && sight.rows != f.finalRows;
          }
          fmt::print("{}_reader_counts: {} counts\n", name, f.readerSights.size());
          fmt::print("{}_reader_errors: {} counts\n", name, errors);
          fmt::print("{}_reader_partial: {} counts\n", name, partial);
          fmt::print("{}_reader_gap: {:.2f} s\n", name,
                     testing::CountReader::Gap(f.readerSights, f.published, f.finalRows));
        }
        std::fflush(stdout);
        totals[db + "_" + size + "_" + mode] = f.total;
        if (f.completed) digests[mode] = TableDigest(cs);
      }
      if (digests.size() == 2)
        fmt::print("export_{}_{}_modes_identical: {} bool\n", db, size,
                   digests.begin()->second == digests.rbegin()->second ? 1 : 0);
      const bench::BulkFigures bulk = bench::BulkLoad(db, cs, ldif, root, "BENCH_BULK");
      fmt::print("export_{}_{}_bulk_total: {:.2f} s\n", db, size, bulk.seconds);
      fmt::print("export_{}_{}_bulk_rows: {} rows\n", db, size, bulk.rows);
      for (const auto& mode : bulkOnly ? std::vector<std::string>{} : modes) {
        auto run = totals.find(db + "_" + size + "_" + mode);
        if (run != totals.end() && bulk.rows > 0)
          fmt::print("export_{}_{}{}_over_bulk: {:.1f} x\n", db, size, mode == "swap" ? "_swap" : "",
                     run->second / bulk.seconds);
      }
      std::fflush(stdout);
    }
  }
  for (const auto& db : databases) {
    for (const auto& mode : modes) {
      auto small = totals.find(db + "_10000_" + mode), large = totals.find(db + "_100000_" + mode);
      if (small != totals.end() && large != totals.end())
        fmt::print("export_{}_100000{}_over_10000: {:.2f} x\n", db, mode == "swap" ? "_swap" : "",
                   large->second / small->second);
    }
    for (const auto& size : sizes) {
      auto rebuild = totals.find(db + "_" + size + "_rebuild"), swap = totals.find(db + "_" + size + "_swap");
      if (rebuild != totals.end() && swap != totals.end())
        fmt::print("export_{}_{}_swap_speedup: {:.2f} x\n", db, size, rebuild->second / swap->second);
    }
  }
  fmt::print("peak_memory: {:.1f} MB\n", PeakMegabytes());
  fs::current_path("/");
  fs::remove_all(root);
  return 0;
}
