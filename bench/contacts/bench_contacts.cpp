// The contact jobs on the vCard folder store with a SQLite final table of
// generated entries: the first public-folder sync, an unchanged second
// sync (and how many contact files it rewrote), a sync after 1% of the
// entries changed, and the local export. Prints contacts per second for
// each, by the wall clock and by the process's CPU time (on a shared
// machine the wall clock also counts the wait for a CPU).
//
//   bench_contacts [--sizes 10000,100000]
#include <fmt/format.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/ado/ado.h"
#include "platform/outlook/vcard_folder_store.h"
#include "platform/registry/registry.h"
#include "service/contacts/contact_jobs.h"
#include "service/core/clock.h"
#include "service/core/run_log.h"
#include "service/export/export_context.h"
#include "tests/export/fake_service_control.h"

namespace fs = std::filesystem;
using namespace corvane;
using Clock = std::chrono::steady_clock;

namespace {

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Timing {
  double wall = 0, cpu = 0;
};

// A final table of `n` people with the columns the mapping reads.
void FillGal(ado::Connection& c, long n) {
  c.Execute("create table GAL (entry_id text, DISPLAY_NAME varchar(255), GIVEN_NAME varchar(255), "
            "SURNAME varchar(255), INITIALS varchar(255), TITLE varchar(255), COMPANY_NAME varchar(255), "
            "ACCOUNT varchar(255), DISPLAY_TYPE varchar(255), BUS_TELEPHONE_NUMBER varchar(255), "
            "MOBILE_TELEPHONE_NUMBER varchar(255), BUS_ADD_STREET varchar(255), BUS_ADD_CITY varchar(255), "
            "BUS_ADD_COUNTRY varchar(255), BUS_DEPARTMENT_NAME varchar(255), ADDR1 varchar(255), "
            "ADDR2 varchar(255), SMTP varchar(255), DEFSMTP varchar(255))");
  c.Execute("create unique index GAL_entry on GAL (entry_id)");
  c.Execute("begin");
  for (long i = 0; i < n; ++i) {
    c.Execute(fmt::format(
        "insert into GAL values ('00000000DCA740C8C042101AB4B908002B2FE1820100000000000000{0:016X}', "
        "'Person {0} O''Neil', 'Person{0}', 'O''Neil', 'P', 'Engineer', 'Harbourline Freight', 'p{0}', '0', "
        "'+44 20 7946 {1:04}', '+44 7700 9{1:05}', 'North Wall Quay {2}', 'Dublin', 'Ireland', 'IT', "
        "'SMTP:p{0}@harbourline.example', 'smtp:p{0}@harbourline-freight.example', 'p{0}@harbourline.example', "
        "'p{0}@harbourline.example')",
        i, i % 10000, i % 97));
  }
  c.Execute("commit");
}

// Every contact file: path -> modification time and size.
std::map<std::string, std::pair<long long, uintmax_t>> Snapshot(const fs::path& folder) {
  std::map<std::string, std::pair<long long, uintmax_t>> out;
  for (const auto& e : fs::directory_iterator(folder))
    if (e.path().extension() == ".vcf")
      out[e.path().string()] = {e.last_write_time().time_since_epoch().count(), e.file_size()};
  return out;
}

struct Job {
  explicit Job(const std::string& cs) : w(log, control, clock, [] {}) {
    control.settings["connectionstring"] = cs;
    control.settings["cmbsubs"] = "Corvane Contacts";
    control.settings["localcontactname"] = "GAL";
  }
  Timing Time(void (*job)(service::ExportContext&, service::contacts::ContactJobEnvironment&)) {
    auto start = Clock::now();
    double cpu = CpuSeconds();
    job(w, env);
    return {std::chrono::duration<double>(Clock::now() - start).count(), CpuSeconds() - cpu};
  }
  service::SystemClock clock;
  service::RunLog log{clock};
  testing::FakeServiceControl control;
  service::ExportContext w;
  outlook::VCardFolderStore store;
  service::contacts::ContactJobEnvironment env{store, registry::Hive::Machine()};
};

void Bench(long n) {
  fs::path home = fs::temp_directory_path() / fmt::format("bench_contacts_{}_{}", n, getpid());
  fs::remove_all(home);
  fs::create_directories(home);
  setenv("CORVANE_HOME", home.c_str(), 1);
  auto hive = registry::Hive::Machine();
  hive.CreateKey("SOFTWARE\\Corvane\\MAPI\\Profiles\\TWCorvane");
  const std::string service = "SOFTWARE\\Corvane\\MAPI\\Profiles\\TWCorvane\\Services\\00112233445566778899AABBCCDDEEFF";
  hive.Set(service, "Service", registry::Value::Sz("MSEMS"));
  hive.Set(service, "6607001E", registry::Value::Sz("corvane.service"));
  hive.Set(service, "6608001E", registry::Value::Sz("directory.ldif"));
  const std::string cs =
      "Driver=SQLite3;Database=" + (home / "gal.db").string() + ";JournalMode=WAL;SyncPragma=NORMAL";
  auto db = ado::CreateConnection();
  db->Open(cs);
  FillGal(*db, n);

  Job job(cs);
  const fs::path folder = home / "mailstore" / "Public Folders" / "Corvane Contacts";
  Timing first = job.Time(service::contacts::SyncPublicFolderContacts);
  auto before = Snapshot(folder);
  Timing again = job.Time(service::contacts::SyncPublicFolderContacts);
  auto after = Snapshot(folder);
  long rewritten = 0;
  for (const auto& [path, stamp] : after) rewritten += before.count(path) && before[path] == stamp ? 0 : 1;
  db->Execute("update GAL set TITLE = 'Senior Engineer' where rowid % 100 = 0");
  Timing changed = job.Time(service::contacts::SyncPublicFolderContacts);
  Timing local = job.Time(service::contacts::ExportAccessContactsToOutlook);

  auto print = [n](const char* name, const Timing& t) {
    fmt::print("contacts_{}_{}: {:.0f} contacts/s\n", name, n, n / t.wall);
    fmt::print("contacts_{}_{}_cpu: {:.0f} contacts/cpu-s\n", name, n, n / t.cpu);
  };
  print("first_sync", first);
  print("unchanged_sync", again);
  fmt::print("contacts_unchanged_sync_rewritten_{}: {} files\n", n, rewritten);
  print("sync_1pct_changed", changed);
  print("local_export", local);
  std::fflush(stdout);
  db->Close();
  fs::remove_all(home);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<long> sizes = {10000, 100000};
  if (argc == 3 && std::strcmp(argv[1], "--sizes") == 0) {
    sizes.clear();
    for (const char* p = argv[2]; *p;) {
      char* end;
      sizes.push_back(std::strtol(p, &end, 10));
      p = *end ? end + 1 : end;
    }
  }
  for (long n : sizes) Bench(n);
}
