// ModifyStruct from a generated LDIF directory into SQLite (WAL) and PostgreSQL, for
// 10,000 and 100,000 entries. Each run is a child process, so its peak
// memory is its own. Prints entries per second, peak memory and the
// per-entry slowdown of the large run against the small one.
//
//   bench_modifystruct [sizes...]      (default: 10000 100000)
// PostgreSQL is measured when CORVANE_TEST_PG holds its connection string.
#include <dlfcn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fmt/format.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "galreader/corvane_exports.h"
#include "platform/ado/ado.h"
#include "service/export/schema.h"
#include "tools/gen-directory/generate_directory.h"

namespace fs = std::filesystem;

namespace {

fs::path BinDir() {
  const char* bin = std::getenv("CORVANE_BIN_DIR");
  if (bin != nullptr) return bin;
  return fs::canonical("/proc/self/exe").parent_path().parent_path() / "bin";
}

// The generated sample directory of `entries` GAL entries.
fs::path MakeDirectory(const fs::path& dir, int entries) {
  const fs::path ldif = dir / fmt::format("directory-{}.ldif", entries);
  std::ofstream out(ldif, std::ios::binary);
  corvane::gendir::WriteDirectory(out, corvane::gendir::Options{static_cast<uint64_t>(entries), 1});
  return ldif;
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Result {
  bool ok = false;
  long rows = 0;
  double seconds = 0;
  long peakKiB = 0;
  double cpuSeconds = 0;  // of the library's process during ModifyStruct (the database server not counted)
};

// One measured run in a child process: profile, fresh table, ModifyStruct.
Result RunChild(const fs::path& work, const fs::path& ldif, const std::string& connectionString, int entries) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    close(pipeFds[0]);
    const fs::path home = work / fmt::format("home-{}-{}", entries, getpid());
    fs::create_directories(home);
    setenv("CORVANE_HOME", home.c_str(), 1);
    fs::current_path(home);
    void* lib = dlopen((BinDir() / "libCorvane.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) _exit(2);
    auto create = reinterpret_cast<CreateProfileWithIProfAdminFn>(dlsym(lib, "CreateProfileWithIProfAdmin"));
    auto count = reinterpret_cast<GetGALCountFn>(dlsym(lib, "GetGALCount"));
    auto modify = reinterpret_cast<ModifyStructFn>(dlsym(lib, "ModifyStruct"));
    create(corvane::gendir::kServiceAccount, ldif.c_str(), "TRUE");
    const int32_t galCount = count("TWCorvane", "TRUE");
    const std::string table = fmt::format("bench_gal_{}", getpid());
    long rows = -1;
    double seconds = 0;
    double cpu = 0;
    try {
      auto db = corvane::ado::CreateConnection();
      db->Open(connectionString);
      db->Execute("CREATE TABLE " + table + corvane::service::TempTableColumnList("OTHER", "GAL", "text"));
      const double cpuBefore = CpuSeconds();
      const auto start = std::chrono::steady_clock::now();
      modify(connectionString.c_str(), "TWCorvane", table.c_str(), "TRUE", 0);
      seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      cpu = CpuSeconds() - cpuBefore;
      auto rs = db->Execute("select count(*) from " + table);
      rows = std::stol(rs->GetValue(0).value_or("-1"));
      rs.reset();
      db->Execute("DROP TABLE " + table);
    } catch (const corvane::ado::AdoError& e) {
      fmt::print(stderr, "database: {}\n", e.Description);
    }
    if (galCount != rows) fmt::print(stderr, "GAL count {} but {} rows written\n", galCount, rows);
    const std::string report = fmt::format("{} {} {}", rows, seconds, cpu);
    (void)!write(pipeFds[1], report.data(), report.size());
    _exit(rows > 0 ? 0 : 1);
  }
  close(pipeFds[1]);
  char buffer[128] = {};
  (void)!read(pipeFds[0], buffer, sizeof buffer - 1);
  close(pipeFds[0]);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  Result r;
  r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  std::sscanf(buffer, "%ld %lf %lf", &r.rows, &r.seconds, &r.cpuSeconds);
  r.peakKiB = usage.ru_maxrss;
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> sizes;
  for (int i = 1; i < argc; ++i) sizes.push_back(std::atoi(argv[i]));
  if (sizes.empty()) sizes = {10000, 100000};

  char pattern[] = "/tmp/bench-modifystruct-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  const fs::path work = pattern;

  std::vector<std::pair<std::string, std::string>> databases = {
      {"sqlite", "Driver=SQLite3;Database=" + (work / "bench.db").string() + ";JournalMode=WAL;SyncPragma=NORMAL"}};
  if (const char* pg = std::getenv("CORVANE_TEST_PG"); pg != nullptr && *pg != '\0') databases.emplace_back("postgres", pg);

  int failures = 0;
  for (const auto& [name, connectionString] : databases) {
    std::map<int, double> perEntry;
    for (const int size : sizes) {
      const fs::path ldif = MakeDirectory(work, size);
      const Result r = RunChild(work, ldif, connectionString, size);
      if (!r.ok || r.rows <= 0) {
        fmt::print(stderr, "{} {}: run failed\n", name, size);
        ++failures;
        continue;
      }
      perEntry[size] = r.seconds / r.rows;
      fmt::print("modifystruct_{}_{}_entries_per_s: {:.0f} entries/s\n", name, size, r.rows / r.seconds);
      fmt::print("modifystruct_{}_{}_peak_memory: {:.1f} MiB\n", name, size, r.peakKiB / 1024.0);
      fmt::print("modifystruct_{}_{}_cpu_per_entry: {:.1f} us\n", name, size, r.cpuSeconds / r.rows * 1e6);
    }
    if (perEntry.size() >= 2) {
      const double small = perEntry.begin()->second, large = perEntry.rbegin()->second;
      fmt::print("modifystruct_{}_{}_vs_{}_per_entry_slowdown: {:.1f} %\n", name, perEntry.rbegin()->first,
                 perEntry.begin()->first, (large / small - 1.0) * 100.0);
    }
  }
  std::error_code ignored;
  fs::remove_all(work, ignored);
  return failures == 0 ? 0 : 1;
}
