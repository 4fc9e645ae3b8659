// ModifyStruct from an LDIF directory into SQLite (WAL) and PostgreSQL, for
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

namespace fs = std::filesystem;

namespace {

fs::path BinDir() {
  const char* bin = std::getenv("CORVANE_BIN_DIR");
  if (bin != nullptr) return bin;
  return fs::canonical("/proc/self/exe").parent_path().parent_path() / "bin";
}

// The directory: the sample generator's output when the generator is
// built, else plain entries written here.
fs::path MakeDirectory(const fs::path& dir, int entries) {
  const fs::path ldif = dir / fmt::format("directory-{}.ldif", entries);
  const fs::path generator = BinDir() / "gen-directory";
  if (fs::exists(generator)) {
    const std::string command =
        fmt::format("'{}' --entries {} --output '{}' >/dev/null", generator.string(), entries, ldif.string());
    if (std::system(command.c_str()) == 0 && fs::exists(ldif)) return ldif;
  }
  std::ofstream out(ldif);
  out << "version: 1\n";
  for (int i = 0; i < entries; ++i) {
    const std::string account = i == 0 ? "owner" : fmt::format("user{:06}", i);
    out << fmt::format(
        "\ndn: CN={0},OU=Users,DC=example,DC=org\nobjectClass: top\nobjectClass: person\n"
        "objectClass: organizationalPerson\nobjectClass: user\ncn: {0}\nsAMAccountName: {0}\nmailNickname: {0}\n"
        "displayName: User {1} O'Neil\ngivenName: User\nsn: O'Neil {1}\ntitle: Engineer\ncompany: Example\n"
        "department: R&D\nl: Springfield\nco: Cote d'Ivoire\ntelephoneNumber: +1 555 {1:04}\n"
        "mail: {0}@example.org\nproxyAddresses: SMTP:{0}@example.org\nproxyAddresses: smtp:{0}@corp.example.org\n"
        "proxyAddresses: X400:c=US;a= ;p=Example;s={0}\n",
        account, i);
  }
  return ldif;
}

std::string TempTableStatement(const std::string& table) {
  std::string list = " (ENTRY_ID text";
  for (const char* c :
       {"DISPLAY_NAME", "BUS_ADD_CITY", "BUS_ADD_COUNTRY", "BUS_ADD_POST_OFFICE_BOX", "BUS_ADD_POSTAL_CODE",
        "BUS_ADD_STATE_OR_PROVINCE", "BUS_ADD_STREET", "BUS_ADD_FAX_Number", "BUS_HOME_PAGE", "BUS_TELEPHONE_number",
        "BUS2_TELEPHONE_number", "BUS_DEPARTMENT_NAME", "GIVEN_NAME", "INITIALS", "SURNAME", "DISPLAY_NAME_7BIT",
        "TITLE", "COMPANY_NAME", "OFFICE_LOCATION", "H_TELEPHONE_number", "H2_TELEPHONE_number", "H_FAX_number",
        "H_ADD_STREET", "H_ADD_CITY", "H_ADD_STATE_OR_PROVINCE", "H_ADD_POSTAL_CODE", "H_ADD_COUNTRY",
        "MANAGER_NAME", "OFFICE_TELEPHONE_number", "OFFICE2_TELEPHONE_number", "ASSISTANT",
        "ASSISTANT_TELEPHONE_number", "MOBILE_TELEPHONE_number", "PAGER_TELEPHONE_number", "DISPLAY_TYPE"}) {
    list += fmt::format(", {} varchar(255)", c);
  }
  list += ", EMS_AB_PROXY_ADDRESSES text";
  for (const char* c : {"ADDR1", "ADDR2", "ADDR3", "ADDR4", "ADDR5", "SMTP", "account", "ext1", "ext2", "ext3", "ext4",
                        "COM", "php", "DefSMTP"}) {
    list += fmt::format(", {} varchar(255)", c);
  }
  return "CREATE TABLE " + table + list + " )";
}

struct Result {
  bool ok = false;
  long rows = 0;
  double seconds = 0;
  long peakKiB = 0;
};

// One measured run in a child process: profile, fresh table, ModifyStruct.
Result RunChild(const fs::path& work, const fs::path& ldif, const std::string& connectionString, int entries) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    close(pipeFds[0]);
    const fs::path home = work / fmt::format("home-{}", entries);
    fs::create_directories(home);
    setenv("CORVANE_HOME", home.c_str(), 1);
    fs::current_path(home);
    void* lib = dlopen((BinDir() / "libCorvane.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) _exit(2);
    auto create = reinterpret_cast<CreateProfileWithIProfAdminFn>(dlsym(lib, "CreateProfileWithIProfAdmin"));
    auto count = reinterpret_cast<GetGALCountFn>(dlsym(lib, "GetGALCount"));
    auto modify = reinterpret_cast<ModifyStructFn>(dlsym(lib, "ModifyStruct"));
    create("owner", ldif.c_str(), "TRUE");
    const int32_t galCount = count("TWCorvane", "TRUE");
    const std::string table = fmt::format("bench_gal_{}", getpid());
    long rows = -1;
    double seconds = 0;
    try {
      auto db = corvane::ado::CreateConnection();
      db->Open(connectionString);
      db->Execute(TempTableStatement(table));
      const auto start = std::chrono::steady_clock::now();
      modify(connectionString.c_str(), "TWCorvane", table.c_str(), "TRUE", 0);
      seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      auto rs = db->Execute("select count(*) from " + table);
      rows = std::stol(rs->GetValue(0).value_or("-1"));
      rs.reset();
      db->Execute("DROP TABLE " + table);
    } catch (const corvane::ado::AdoError& e) {
      fmt::print(stderr, "database: {}\n", e.Description);
    }
    if (galCount != rows) fmt::print(stderr, "GAL count {} but {} rows written\n", galCount, rows);
    const std::string report = fmt::format("{} {}", rows, seconds);
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
  std::sscanf(buffer, "%ld %lf", &r.rows, &r.seconds);
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
