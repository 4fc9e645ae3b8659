// dsimport against a throwaway slapd, read back with the OpenLDAP client
// (ldapsearch): a group created and then changed by its difference only,
// hostile names and addresses, refused credentials; and the whole road
// from corvane-run through the service's import job to the group.
#include <fcntl.h>
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <ldap.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <thread>

#include "platform/ado/ado.h"
#include "platform/mapi/base64.h"
#include "platform/mapi/ldif_reader.h"
#include "platform/registry/registry.h"
#include "tests/support/test_slapd.h"
#include "tools/dsimport/import_lock.h"
#include "tools/dsimport/test_support.h"

extern char** environ;

namespace corvane::dsimport {
namespace {

namespace fs = std::filesystem;
using corvane::testing::SlapdOptions;
using corvane::testing::TestSlapd;
using testing::ImportReport;

fs::path SourceDir() { return std::getenv("CORVANE_SOURCE_DIR"); }
fs::path SamplePath() { return SourceDir() / "samples" / "directory.ldif"; }

// Starts a program (in `dir` when given) with its standard output in
// `out`; its process id, or 0.
pid_t StartProgram(std::vector<std::string> args, const fs::path& out, const fs::path& dir = {}) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  if (!dir.empty()) posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = 0;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// Its exit status; -1 when it did not exit.
int WaitFor(pid_t pid) {
  int status = -1;
  if (pid > 0) waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int RunProgram(std::vector<std::string> args, const fs::path& out, const fs::path& dir = {}) {
  return WaitFor(StartProgram(std::move(args), out, dir));
}

class DsImportLdap : public ::testing::Test {
 protected:
  void SetUp() override {
    home = fs::temp_directory_path() / ("dsimport_ldap_test_" + std::to_string(getpid()));
    fs::create_directories(home);
    setenv("CORVANE_HOME", home.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("CORVANE_LDAP_BINDDN");
    unsetenv("CORVANE_LDAP_PASSWORD_FILE");
    unsetenv("CORVANE_HOME");
    fs::remove_all(home);
  }
  void UseSlapd(const TestSlapd& slapd, const std::string& password) {
    fs::path file = home / "ldap.password";
    std::ofstream(file) << password << "\n";
    chmod(file.c_str(), 0600);
    setenv("CORVANE_LDAP_BINDDN", slapd.root_dn().c_str(), 1);
    setenv("CORVANE_LDAP_PASSWORD_FILE", file.c_str(), 1);
    options = {(home / "dl.csv").string(), slapd.url(), slapd.base_dn(), "Groups", false};
  }
  // Entries as the OpenLDAP client reads them from the server.
  std::vector<mapi::DirEntry> Search(const TestSlapd& slapd, const std::string& base, const std::string& scope,
                                     const std::string& filter, const std::vector<std::string>& attributes) {
    fs::path out = home / "search.ldif";
    std::vector<std::string> args = {"ldapsearch", "-x", "-LLL", "-o", "ldif-wrap=no", "-H", slapd.url(),
                                     "-E", "pr=1000/noprompt", "-b", base, "-s", scope, filter};
    args.insert(args.end(), attributes.begin(), attributes.end());
    RunProgram(args, out);
    std::vector<mapi::DirEntry> entries;
    std::unique_ptr<mapi::LdifReader> reader;
    if (FAILED(mapi::OpenLdifReader(out.string(), {}, reader))) return entries;
    for (mapi::DirEntry e;;) {
      bool end = false;
      if (FAILED(reader->Next(e, end)) || end) break;
      entries.push_back(e);
    }
    return entries;
  }
  // The members of `dn` on the server, lower-cased; empty when it is not there.
  std::set<std::string> Members(const TestSlapd& slapd, const std::string& dn) {
    std::set<std::string> members;
    for (const auto& e : Search(slapd, dn, "base", "(objectClass=*)", {"member"}))
      if (const auto* v = e.Get("member"))
        for (const auto& m : *v) members.insert(Lower(m));
    return members;
  }
  static std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  }
  // The list file for `entries` as the service writes it: their proxy
  // addresses, else "SMTP:" + mail, each ended by "{;}", joined by ",".
  void WriteList(const std::string& name, const std::vector<mapi::DirEntry>& entries,
                 const std::vector<std::string>& more_lines = {}) {
    std::ofstream out(options.file, std::ios::binary);
    out << "Obj-Class, Directory Name, members\r\n";
    for (const auto& e : entries) {
      const auto* proxies = e.Get("proxyaddresses");
      std::string text;
      for (const auto& p : proxies ? *proxies : std::vector<std::string>{"SMTP:" + *e.First("mail")})
        text += (text.empty() ? "" : ",") + p + "{;}";
      out << "DL," << name << "," << text << "\r\n";
    }
    for (const auto& line : more_lines) out << "DL," << name << "," << line << "\r\n";
  }
  static std::set<std::string> Dns(const std::vector<mapi::DirEntry>& entries) {
    std::set<std::string> dns;
    for (const auto& e : entries) dns.insert(Lower(e.dn));
    return dns;
  }

  fs::path home;
  ImportOptions options;
};

// Member values in a dry run's change records after each `marker` line,
// up to the end of its part ("-") or record (blank line).
size_t ValuesIn(const std::string& ldif, const std::string& marker) {
  size_t count = 0;
  for (size_t at = ldif.find(marker); at != std::string::npos; at = ldif.find(marker, at + 1)) {
    for (size_t line = at + marker.size(); line < ldif.size(); line = ldif.find('\n', line) + 1) {
      if (ldif[line] == '-' || ldif[line] == '\n') break;
      if (ldif.compare(line, 8, "member: ") == 0) ++count;
    }
  }
  return count;
}

TEST_F(DsImportLdap, CreatesTheGroupThenSendsOnlyTheDifference) {
  SlapdOptions slapd_options;
  slapd_options.root_password = "s3cret-Pa55";
  CORVANE_START_SLAPD(slapd, SamplePath().string(), slapd_options);
  auto recipients = Search(*slapd, slapd->base_dn(), "sub", "(|(proxyAddresses=*)(mail=*))", {"proxyAddresses", "mail"});
  ASSERT_GT(recipients.size(), 250u);
  const std::string group = "CN=All Staff,OU=Groups," + slapd->base_dn();
  std::vector<mapi::DirEntry> first(recipients.begin(), recipients.end() - 2);

  UseSlapd(*slapd, "wrong");
  WriteList("All Staff", first);
  std::string report = ImportReport(options);
  EXPECT_NE(report.find("error: simple bind as \"" + slapd->root_dn() + "\" failed"), std::string::npos) << report;
  EXPECT_NE(report.find("Invalid credentials"), std::string::npos) << report;
  UseSlapd(*slapd, "s3cret-Pa55");

  options.dry_run = true;
  report = ImportReport(options);
  EXPECT_EQ(ValuesIn(report, "changetype: add\n"), std::min<size_t>(first.size(), 1000)) << report;
  EXPECT_TRUE(Members(*slapd, group).empty());

  options.dry_run = false;
  report = ImportReport(options);
  EXPECT_NE(report.find(fmt::format("created: {}: {} members; added {}, removed 0, unchanged 0, unresolved 0", group,
                                    first.size(), first.size())),
            std::string::npos)
      << report;
  EXPECT_EQ(Members(*slapd, group), Dns(first));

  // Ten gone, two new, one that no entry has.
  std::vector<mapi::DirEntry> second(first.begin(), first.begin() + 5);
  second.insert(second.end(), first.begin() + 15, first.end());
  second.insert(second.end(), recipients.end() - 2, recipients.end());
  WriteList("All Staff", second, {"SMTP:nobody@harbourline.example{;}"});
  options.dry_run = true;
  report = ImportReport(options);
  EXPECT_EQ(ValuesIn(report, "add: member\n"), 2u) << report;
  EXPECT_EQ(ValuesIn(report, "delete: member\n"), 10u) << report;
  options.dry_run = false;
  report = ImportReport(options);
  EXPECT_NE(report.find(fmt::format("updated: {}: {} members; added 2, removed 10, unchanged {}, unresolved 1", group,
                                    second.size(), second.size() - 2)),
            std::string::npos)
      << report;
  EXPECT_NE(report.find(fmt::format("unresolved: line {}: SMTP:nobody@harbourline.example: no entry", second.size() + 2)),
            std::string::npos)
      << report;
  EXPECT_EQ(Members(*slapd, group), Dns(second));
  EXPECT_NE(ImportReport(options).find("unchanged: " + group), std::string::npos);
  EXPECT_EQ(report.find("s3cret"), std::string::npos);
}

TEST_F(DsImportLdap, HostileNamesAndAddressesAreEscapedInDistinguishedNames) {
  // Two entries whose names and addresses hold what DNs and filters escape.
  fs::path ldif = home / "hostile.ldif";
  fs::copy_file(SamplePath(), ldif);
  const std::string base = "DC=harbourline,DC=example";
  const std::string pat = "CN=O'Neil\\, Pat \\2B \\22Q\\22 \\5C \\3C\\3E\\3B *(x),OU=Staff," + base;
  const std::string zoe = "CN=\\23 Zoë,OU=Staff," + base;
  {
    std::ofstream out(ldif, std::ios::app);
    out << "\ndn: " << pat << "\nobjectClass: inetOrgPerson\nobjectClass: corvaneRecipient\n"
        << "cn: O'Neil, Pat + \"Q\" \\ <>; *(x)\nsn: O'Neil\n"
        << "proxyAddresses: SMTP:pat*(o'neil)\\x+\"q\"@example.org\nproxyAddresses: smtp:p,a;t<x>@example.org\n"
        << "\ndn:: " << mapi::EncodeBase64(zoe) << "\nobjectClass: inetOrgPerson\nobjectClass: corvaneRecipient\ncn:: "
        << mapi::EncodeBase64("# Zoë") << "\nsn: Z\nproxyAddresses:: " << mapi::EncodeBase64("x500:/O=Z/CN=ZOË")
        << "\n";
  }
  CORVANE_START_SLAPD(slapd, ldif.string(), SlapdOptions{});
  UseSlapd(*slapd, slapd->root_password());
  const std::string name = "  #O'Hara + \"Q\" \\ <x>; Zoë";
  WriteList(name, {}, {"SMTP:pat*(o'neil)\\x+\"q\"@example.org{;},smtp:p,a;t<x>@example.org{;}",
                       "SMTP:gone@nowhere.example{;},X500:/o=Z/cn=ZOË{;}"});
  std::string report = ImportReport(options);
  ASSERT_NE(report.find(": 2 members; added 2, removed 0, unchanged 0, unresolved 0"), std::string::npos) << report;

  // The group's cn is the name exactly, and its DN says the same name.
  const mapi::DirEntry* created = nullptr;
  auto groups = Search(*slapd, "OU=Groups," + base, "one", "(objectClass=groupOfNames)", {"cn", "member"});
  for (const auto& g : groups)
    if (g.First("cn") && *g.First("cn") == name) created = &g;
  ASSERT_NE(created, nullptr) << report;
  LDAPDN dn = nullptr;
  ASSERT_EQ(ldap_str2dn(created->dn.c_str(), &dn, LDAP_DN_FORMAT_LDAPV3), LDAP_SUCCESS) << created->dn;
  EXPECT_EQ(std::string(dn[0][0]->la_value.bv_val, dn[0][0]->la_value.bv_len), name) << created->dn;
  ldap_dnfree(dn);
  EXPECT_EQ(Members(*slapd, created->dn), Dns(Search(*slapd, base, "sub", "(|(sn=O'Neil)(sn=Z))", {"sn"})));
  EXPECT_NE(ImportReport(options).find("unchanged: "), std::string::npos);
}

// A second import waits for the first and then reads the list as it is by
// then; each import leaves its outcome for monitoring, also a failure.
TEST_F(DsImportLdap, ImportsOfOneTargetTakeTurnsTheNewestListWinsAndEachLeavesItsOutcome) {
  CORVANE_START_SLAPD(slapd, SamplePath().string(), SlapdOptions{});
  UseSlapd(*slapd, slapd->root_password());
  auto recipients = Search(*slapd, slapd->base_dn(), "sub", "(proxyAddresses=*)", {"proxyAddresses"});
  ASSERT_GT(recipients.size(), 20u);
  const std::vector<mapi::DirEntry> older(recipients.begin(), recipients.begin() + 10);
  const std::vector<mapi::DirEntry> newer(recipients.begin() + 10, recipients.begin() + 20);
  const fs::path bin = std::getenv("CORVANE_BIN_DIR");
  const std::vector<std::string> command = {(bin / "dsimport").string(), "/FILE=" + options.file, "/DSA=" + options.dsa,
                                            "/BASEPOINT=" + options.base_point, "/CONTAINER=" + options.container};

  // Another import holds the target while the older list is written.
  std::optional<TargetLock> other(TargetLock::Acquire(
      TargetLock::FileFor(home, options.dsa, options.base_point, options.container), {}));
  WriteList("Staff", older);
  pid_t waiting = StartProgram(command, home / "out.txt");
  ASSERT_GT(waiting, 0);
  std::string log;
  for (int i = 0; i < 300 && log.find("waiting for the import of process") == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    log = testing::ReadFile(home / "dsimport.log");
  }
  ASSERT_NE(log.find(fmt::format("waiting for the import of process {} that holds ", getpid())), std::string::npos)
      << log;
  // The next run replaces the list (a new file renamed over it) before the first import ends.
  const std::string list = options.file;
  options.file += ".next";
  WriteList("Staff", newer);
  fs::rename(options.file, list);
  other.reset();
  EXPECT_EQ(WaitFor(waiting), 0) << testing::ReadFile(home / "dsimport.log");
  EXPECT_EQ(Members(*slapd, "CN=Staff,OU=Groups," + slapd->base_dn()), Dns(newer));

  const fs::path record = home / "last-dsimport.json";
  std::string text = testing::ReadFile(record);
  for (const char* field : {"\"result\": \"completed\"", "\"outcome\": \"created\"", "\"members\": 10,"})
    EXPECT_NE(text.find(field), std::string::npos) << field << "\n" << text;
  UseSlapd(*slapd, "wrong");
  EXPECT_EQ(RunProgram(command, home / "out.txt"), 1);
  text = testing::ReadFile(record);
  EXPECT_NE(text.find("\"result\": \"failed\""), std::string::npos) << text;
  EXPECT_NE(text.find("Invalid credentials"), std::string::npos) << text;
  EXPECT_EQ(fs::status(record).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(DsImportLdap, CorvaneRunExportsAndTheServiceJobBuildsTheGroup) {
  fs::path bin = std::getenv("CORVANE_BIN_DIR");
  if (!fs::exists(bin / "libCorvane.so")) GTEST_SKIP() << "libCorvane.so not built";
  CORVANE_START_SLAPD(slapd, SamplePath().string(), SlapdOptions{});
  UseSlapd(*slapd, slapd->root_password());
  registry::Hive hive(home / "registry.hive");
  auto set = [&](const std::string& name, const std::string& value) {
    hive.Set(registry::kParametersKeyPath, name, registry::Value::Sz(value));
  };
  const std::string cs = "Driver=SQLite3;Database=" + (home / "gal.db").string() + ";JournalMode=WAL;SyncPragma=NORMAL";
  set("ConnectionString", cs);
  set("Mailbox", "corvane.service");
  set("Server", SamplePath().string());
  for (const char* box : {"DISPLAY_NAME", "EMS_AB_PROXY_ADDRESSES"}) set(box, "1");
  set("DistList", "True");
  set("DistListFile", (home / "dl.csv").string());
  set("DistListName", "Everyone at Harbourline");
  set("DistListServer", slapd->url());
  set("DistListOrg", slapd->base_dn());
  set("DistListCon", "Groups");

  ASSERT_EQ(RunProgram({(bin / "corvane-run").string(), "--quiet-sql"}, home / "run.log", home), 0)
      << testing::ReadFile(home / "run.log");
  // The job starts dsimport and does not wait for it: wait for its log.
  std::string log;
  for (int i = 0; i < 600 && log.find(" created: ") == std::string::npos && log.find(" error: ") == std::string::npos;
       ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    log = testing::ReadFile(home / "dsimport.log");
  }
  ASSERT_NE(log.find(" created: "), std::string::npos) << log << testing::ReadFile(home / "run.log");

  auto db = ado::CreateConnection();
  db->Open(cs);
  auto rows = db->Execute("select count(*) from GAL where EMS_AB_PROXY_ADDRESSES <> ''");
  size_t with_addresses = std::stoul(rows->GetValue(0).value_or("0"));
  rows->Close();
  db->Close();
  EXPECT_GT(with_addresses, 250u);
  EXPECT_EQ(Members(*slapd, "CN=Everyone at Harbourline,OU=Groups," + slapd->base_dn()).size(), with_addresses) << log;
}

}  // namespace
}  // namespace corvane::dsimport
