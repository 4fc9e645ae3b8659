// Corvane against a real Active Directory domain controller (Samba, started
// once for the whole program by scripts/start-test-samba-ad.sh): the
// export through corvane-run compared with ldapsearch, the binds an AD
// site uses (StartTLS, LDAPS, Kerberos with a keytab), the server's own
// reasons in --check and the run log, and dsimport's group.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "platform/ado/ado.h"
#include "platform/registry/registry.h"
#include "tools/dsimport/test_support.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using dsimport::testing::ReadFile;

constexpr int kUsers = 1600;  // more than a page (1000) and than AD's range of member values (1500)
constexpr const char* kFilter =
    "(&(mail=*)(!(userAccountControl:1.2.840.113556.1.4.803:=2))(!(isCriticalSystemObject=TRUE)))";
const char* const kNames[] = {"Zoë Ångström", "Łukasz Żółć", "Σωκράτης Παππάς", "Иван Петров", "李小龙", "O'Neil, Jr. + Co"};

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

// Runs a program with the environment plus `extra`, standard output and
// error in `out`; its exit status.
int Spawn(std::vector<std::string> args, const fs::path& out, const std::vector<std::string>& extra = {}) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  std::vector<std::string> env(extra);
  for (char** e = environ; *e; ++e) env.emplace_back(*e);
  std::vector<char*> argv, envp;
  for (auto& a : args) argv.push_back(a.data());
  for (auto& e : env) envp.push_back(e.data());
  argv.push_back(nullptr);
  envp.push_back(nullptr);
  pid_t pid = 0;
  int status = -1;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0) waitpid(pid, &status, 0);
  posix_spawn_file_actions_destroy(&actions);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The domain the start script provisions.
constexpr const char* kBase = "DC=corvane,DC=test";
std::string DcDn(const std::string& rdn) { return rdn + "," + kBase; }

// The LDIF the domain is filled with before it starts.
std::string Population() {
  std::string ldif = "dn: " + DcDn("OU=Staff") + "\nobjectClass: organizationalUnit\n\n" + "dn: " +
                     DcDn("OU=Lists") + "\nobjectClass: organizationalUnit\n\n";
  for (int i = 1; i <= kUsers; ++i) {
    char id[8];
    std::snprintf(id, sizeof id, "%04d", i);
    const std::string name = std::string(kNames[i % 6]) + " " + id;
    std::string rdn = name;  // a comma and a plus escaped for the DN
    for (size_t p = 0; (p = rdn.find_first_of(",+", p)) != std::string::npos; p += 2) rdn.insert(p, "\\");
    ldif += "dn: CN=" + rdn + "," + DcDn("OU=Staff") + "\nobjectClass: user\nsAMAccountName: u" + id +
            "\ndisplayName: " + name + "\nmail: u" + id + "@corvane.test\nproxyAddresses: SMTP:u" + id +
            "@corvane.test\nproxyAddresses: smtp:alias" + id + "@corvane.test\nuserAccountControl: " +
            (i % 100 == 0 ? "514" : "512") + "\n\n";
  }
  ldif += "dn: CN=Outside Contact," + DcDn("OU=Staff") +
          "\nobjectClass: contact\ndisplayName: Outside Contact\nmail: outside@example.org\n\n";
  return ldif;
}

class SambaAd : public ::testing::Environment {
 public:
  void SetUp() override {
    if (geteuid() != 0 || Spawn({"sh", "-c", "command -v samba && command -v ldbadd"}, "/dev/null") != 0) return;
    available_ = true;
    dir_ = fs::temp_directory_path() / ("corvane_ad_test_" + std::to_string(getpid()));
    fs::create_directories(dir_);
    std::ofstream(dir_ / "population.ldif") << Population();
    const fs::path script = Env("CORVANE_SOURCE_DIR") + "/scripts/start-test-samba-ad.sh";
    const auto started = std::chrono::steady_clock::now();
    if (Spawn({script.string(), (dir_ / "population.ldif").string()}, dir_ / "env",
            {"CORVANE_AD_DIR=" + (dir_ / "dc").string()}) != 0) {
      start_failure_ = ReadFile(dir_ / "env");
      return;
    }
    std::fprintf(stderr, "samba ad: provisioned, filled with %d users and started in %.0f s\n", kUsers,
                 std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    std::istringstream lines(ReadFile(dir_ / "env"));
    for (std::string line; std::getline(lines, line);) {
      if (!line.starts_with("export ")) continue;
      const size_t eq = line.find('=');
      setenv(line.substr(7, eq - 7).c_str(), line.substr(eq + 2, line.size() - eq - 3).c_str(), 1);
    }
    running_ = true;
  }
  void TearDown() override {
    if (dir_.empty()) return;
    Spawn({Env("CORVANE_SOURCE_DIR") + "/scripts/start-test-samba-ad.sh", "stop"}, "/dev/null",
        {"CORVANE_AD_DIR=" + (dir_ / "dc").string()});
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  static bool available_, running_;
  static std::string start_failure_;

 private:
  fs::path dir_;
};
bool SambaAd::available_ = false;
bool SambaAd::running_ = false;
std::string SambaAd::start_failure_;
const auto* const kSambaAd = ::testing::AddGlobalTestEnvironment(new SambaAd);

std::string Base64Decode(const std::string& in) {
  static const std::string kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  unsigned bits = 0, value = 0;
  for (char c : in) {
    const size_t k = kAlphabet.find(c);
    if (k == std::string::npos) continue;
    value = value << 6 | static_cast<unsigned>(k);
    if ((bits += 6) >= 8) out += static_cast<char>(value >> (bits -= 8) & 0xFF);
  }
  return out;
}

// ldapsearch's answer as entries of attribute values (base64 decoded).
using Entry = std::multimap<std::string, std::string>;
std::vector<Entry> LdapSearch(const fs::path& scratch, const std::string& base, const std::string& filter,
                              std::vector<std::string> attributes) {
  std::vector<std::string> args = {"ldapsearch", "-LLL", "-o", "ldif-wrap=no", "-ZZ", "-x", "-E", "pr=1000/noprompt",
                                   "-H", "ldap://" + Env("CORVANE_AD_ADDR"), "-D", Env("CORVANE_AD_ADMIN_DN"), "-w",
                                   Env("CORVANE_AD_PASSWORD"), "-b", base, filter};
  args.insert(args.end(), attributes.begin(), attributes.end());
  EXPECT_EQ(Spawn(args, scratch, {"LDAPTLS_CACERT=" + Env("CORVANE_AD_CA")}), 0) << ReadFile(scratch);
  std::vector<Entry> entries;
  std::istringstream in(ReadFile(scratch));
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string name = line.substr(0, colon);
    if (name == "dn") entries.emplace_back();
    if (entries.empty()) continue;
    const bool coded = colon + 1 < line.size() && line[colon + 1] == ':';
    std::string value = line.substr(colon + (coded ? 3 : 2));
    entries.back().emplace(name, coded ? Base64Decode(value) : value);
  }
  return entries;
}

std::string Value(const Entry& e, const std::string& name) {
  auto it = e.find(name);
  return it == e.end() ? "" : it->second;
}

class AdTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!SambaAd::available_) GTEST_SKIP() << "no Samba AD here (needs root and samba, ldb-tools)";
    ASSERT_TRUE(SambaAd::running_) << "the Samba AD did not start:\n" << SambaAd::start_failure_;
    home_ = fs::temp_directory_path() / ("corvane_ad_home_" + std::to_string(getpid()) + "_" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(home_);
    fs::create_directories(home_);
    setenv("CORVANE_HOME", home_.c_str(), 1);
    unsetenv("CORVANE_LDAP_BINDDN");
    unsetenv("CORVANE_LDAP_PASSWORD_FILE");
    Password(Env("CORVANE_AD_PASSWORD"));
    Set("ConnectionString", "Driver=SQLite3;Database=" + (home_ / "gal.db").string() + ";JournalMode=WAL;SyncPragma=NORMAL");
    Set("Mailbox", "u0001");
    Set("Server", StartTlsUrl());
    for (const char* box : {"ENTRY_ID", "DISPLAY_NAME", "EMS_AB_PROXY_ADDRESSES"}) Set(box, "1");
    Set("LdapBindDN", Env("CORVANE_AD_ADMIN_DN"));
    Set("LdapPasswordFile", (home_ / "ldap-password").string());
    Set("LdapCAFile", Env("CORVANE_AD_CA"));
    Set("LdapStartTLS", "1");
  }
  void TearDown() override {
    std::error_code ec;
    if (!home_.empty()) fs::remove_all(home_, ec);
  }

  static std::string StartTlsUrl() {
    return "ldap://" + Env("CORVANE_AD_ADDR") + "/" + Env("CORVANE_AD_BASE") + "??sub?" + kFilter;
  }
  void Set(const std::string& name, const std::string& value) {
    registry::Hive(home_ / "registry.hive").Set(registry::kParametersKeyPath, name, registry::Value::Sz(value));
  }
  void Password(const std::string& password) {
    std::ofstream(home_ / "ldap-password") << password << "\n";
    fs::permissions(home_ / "ldap-password", fs::perms::owner_read | fs::perms::owner_write);
  }
  // corvane-run with `args`; its output.
  std::string CorvaneRun(std::vector<std::string> args, int& status, const std::vector<std::string>& extra = {}) {
    args.insert(args.begin(), Env("CORVANE_BIN_DIR") + "/corvane-run");
    status = Spawn(args, home_ / "out.txt", extra);
    return ReadFile(home_ / "out.txt");
  }
  // The final table by mail address (the primary SMTP address).
  std::map<std::string, std::pair<std::string, std::string>> Table() {
    std::map<std::string, std::pair<std::string, std::string>> rows;  // mail -> display name, entry id
    auto db = ado::CreateConnection();
    db->Open("Driver=SQLite3;Database=" + (home_ / "gal.db").string());
    auto rs = db->Execute("select DISPLAY_NAME, EMS_AB_PROXY_ADDRESSES, hex(entry_id) from GAL");
    for (; !rs->IsEOF(); rs->MoveNext()) {
      const std::string proxies = rs->GetValue(1).value_or("");
      const size_t at = proxies.find("SMTP:");
      const std::string mail = at == std::string::npos ? "" : proxies.substr(at + 5, proxies.find("{;}", at) - at - 5);
      rows[mail] = {rs->GetValue(0).value_or(""), rs->GetValue(2).value_or("")};
    }
    rs->Close();
    db->Close();
    return rows;
  }

  fs::path home_;
};

TEST_F(AdTest, ExportEqualsLdapsearchAndKeepsEntryIdsAcrossARename) {
  int status = 0;
  const auto started = std::chrono::steady_clock::now();
  std::string out = CorvaneRun({"--quiet-sql"}, status);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  ASSERT_EQ(status, 0) << out;
  const auto rows = Table();
  std::fprintf(stderr, "samba ad: export of %zu rows in %.1f s\n", rows.size(), seconds);

  const auto entries =
      LdapSearch(home_ / "search.ldif", Env("CORVANE_AD_BASE"), kFilter, {"displayName", "mail", "proxyAddresses"});
  std::map<std::string, std::string> expected;  // mail -> display name
  for (const auto& e : entries) expected[Value(e, "mail")] = Value(e, "displayName");
  ASSERT_EQ(expected.size(), kUsers - kUsers / 100 + 1u);  // the disabled users left out, the contact in
  ASSERT_EQ(rows.size(), expected.size());
  for (const auto& [mail, name] : expected) {
    auto it = rows.find(mail);
    ASSERT_NE(it, rows.end()) << mail;
    EXPECT_EQ(it->second.first, name) << mail;
  }
  EXPECT_EQ(rows.at("u0003@corvane.test").first, "Иван Петров 0003");
  EXPECT_EQ(rows.count("u0100@corvane.test"), 0u);  // disabled

  // A rename keeps the row's entry id (objectGUID).
  const std::string before = rows.at("u0004@corvane.test").second;
  std::ofstream(home_ / "rename.ldif") << "dn: CN=李小龙 0004," << DcDn("OU=Staff")
                                       << "\nchangetype: modrdn\nnewrdn: CN=Renamed 0004\ndeleteoldrdn: 1\n";
  ASSERT_EQ(Spawn({"ldapmodify", "-ZZ", "-x", "-H", "ldap://" + Env("CORVANE_AD_ADDR"), "-D", Env("CORVANE_AD_ADMIN_DN"),
                 "-w", Env("CORVANE_AD_PASSWORD"), "-f", (home_ / "rename.ldif").string()},
                home_ / "modify.txt", {"LDAPTLS_CACERT=" + Env("CORVANE_AD_CA")}),
            0)
      << ReadFile(home_ / "modify.txt");
  ASSERT_EQ((CorvaneRun({"--quiet-sql"}, status), status), 0);
  EXPECT_EQ(Table().at("u0004@corvane.test").second, before);
}

// What --check says for each way of binding, and the server's own reason
// where the bind fails.
TEST_F(AdTest, CheckBindsAsEachWayAndNamesTheServersReason) {
  const std::string ldaps = "ldaps://" + Env("CORVANE_AD_ADDR") + "/" + Env("CORVANE_AD_BASE") + "??sub?" + kFilter;
  struct Case {
    std::string what, server, start_tls, password, expected;
  } cases[] = {
      {"StartTLS", StartTlsUrl(), "1", Env("CORVANE_AD_PASSWORD"), "address-list entries; the mailbox u0001 is CN="},
      {"LDAPS", ldaps, "0", Env("CORVANE_AD_PASSWORD"), "address-list entries; the mailbox u0001 is CN="},
      {"signing required", StartTlsUrl(), "0", Env("CORVANE_AD_PASSWORD"),
       "Strong(er) authentication required (BindSimple: Transport encryption required.)"},
      {"wrong password", StartTlsUrl(), "1", "wrong", "Invalid credentials (80090308: LdapErr: "},
  };
  for (const auto& c : cases) {
    Set("Server", c.server);
    Set("LdapStartTLS", c.start_tls);
    Password(c.password);
    int status = 0;
    const std::string out = CorvaneRun({"--check"}, status);
    EXPECT_NE(out.find("simple bind as \"" + Env("CORVANE_AD_ADMIN_DN") + "\" (LdapBindDN)"), std::string::npos)
        << c.what << "\n" << out;
    EXPECT_NE(out.find(c.expected), std::string::npos) << c.what << "\n" << out;
  }
  // The wrong password's reason, AD's "data 52e", also reaches the run log.
  int status = 0;
  const std::string log = CorvaneRun({"--quiet-sql"}, status);
  EXPECT_NE(status, 0);
  const size_t at = log.find("The directory could not be read: ");
  ASSERT_NE(at, std::string::npos) << log;
  const std::string line = log.substr(at, log.find('\n', at) - at);
  EXPECT_NE(line.find("AcceptSecurityContext error, data 52e"), std::string::npos) << line;
}

// A password that would go in clear to another host: a warning in --check
// and the run log, and with LdapRefuseClearBind a refusal before anything
// is sent (the host is never looked up).
TEST_F(AdTest, APasswordInClearIsWarnedOfAndCanBeRefused) {
  Set("Server", std::string("ldap://dc1.corvane.invalid/") + kBase + "??sub?" + kFilter);
  Set("LdapStartTLS", "0");
  Set("LdapRefuseClearBind", "1");
  int status = 0;
  const std::string check = CorvaneRun({"--check"}, status);
  EXPECT_NE(check.find("error: directory: the simple bind as \"" + Env("CORVANE_AD_ADMIN_DN") +
                       "\" sends its password in clear over ldap:// to dc1.corvane.invalid"),
            std::string::npos)
      << check;
  const std::string log = CorvaneRun({"--quiet-sql"}, status);
  EXPECT_NE(status, 0);
  EXPECT_NE(log.find("Warning: the simple bind as"), std::string::npos) << log;
  EXPECT_NE(log.find("The directory could not be read: refused to bind at ldap://dc1.corvane.invalid"),
            std::string::npos)
      << log;
}

TEST_F(AdTest, KerberosBindWithAKeytab) {
  // A keytab for the Administrator, a ticket from it in a cache of the
  // test's own, and a URL whose host is a service principal of the DC.
  const fs::path keytab = home_ / "corvane.keytab", cache = home_ / "krb5cc";
  const std::vector<std::string> krb = {"KRB5_CONFIG=" + Env("CORVANE_AD_KRB5_CONFIG"),
                                        "KRB5CCNAME=FILE:" + cache.string()};
  ASSERT_EQ(Spawn({"samba-tool", "domain", "exportkeytab", keytab.string(), "--principal=Administrator", "-s",
                 Env("CORVANE_AD_DIR") + "/dc/etc/smb.conf"},
                home_ / "keytab.txt"),
            0)
      << ReadFile(home_ / "keytab.txt");
  ASSERT_EQ(Spawn({"kinit", "-k", "-t", keytab.string(), "Administrator@" + Env("CORVANE_AD_REALM")}, home_ / "kinit.txt",
                krb),
            0)
      << ReadFile(home_ / "kinit.txt");
  Set("Server", "ldap://" + Env("CORVANE_AD_ADDR") + "/" + Env("CORVANE_AD_BASE") + "??sub?" + kFilter);
  Set("LdapSaslMech", "GSSAPI");
  Set("LdapStartTLS", "0");
  Set("LdapBindDN", "");
  int status = 0;
  std::vector<std::string> env = krb;
  env.push_back("LDAPSASL_NOCANON=on");
  const std::string out = CorvaneRun({"--check"}, status, env);
  EXPECT_NE(out.find("SASL bind (GSSAPI, LdapSaslMech)"), std::string::npos) << out;
  EXPECT_NE(out.find("address-list entries; the mailbox u0001 is CN="), std::string::npos) << out;

  // With the keytab as the client keytab, Kerberos fetches a ticket itself
  // whenever the cache has none (or an expired one): nothing to renew.
  fs::remove(cache);
  env.push_back("KRB5_CLIENT_KTNAME=FILE:" + keytab.string());
  const std::string renewed = CorvaneRun({"--check"}, status, env);
  EXPECT_NE(renewed.find("address-list entries; the mailbox u0001 is CN="), std::string::npos) << renewed;
}

TEST_F(AdTest, DsimportCreatesANamedGroupAndKeepsWhatAnAdministratorSet) {
  const fs::path list = home_ / "dl.csv";
  {
    std::ofstream out(list, std::ios::binary);
    out << "Obj-Class, Directory Name, members\r\n";
    for (int i = 1; i <= kUsers; ++i) {
      char id[8];
      std::snprintf(id, sizeof id, "%04d", i);
      out << "DL,All Corvane [test],SMTP:u" << id << "@corvane.test{;},smtp:alias" << id << "@corvane.test{;}\r\n";
    }
  }
  dsimport::ImportOptions options{list.string(), StartTlsUrl(), Env("CORVANE_AD_BASE"), "Lists"};
  const auto started = std::chrono::steady_clock::now();
  std::string report = dsimport::testing::ImportReport(options);
  std::fprintf(stderr, "samba ad: dsimport of %d members in %.1f s\n", kUsers,
               std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
  ASSERT_NE(report.find("created: "), std::string::npos) << report;
  const std::string group = "CN=All Corvane [test]," + DcDn("OU=Lists");
  auto read = [&] {
    return LdapSearch(home_ / "group.ldif", group, "(objectClass=group)",
                      {"sAMAccountName", "displayName", "groupType", "member"});
  };
  auto entries = read();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(Value(entries[0], "sAMAccountName"), "All Corvane test");  // AD refuses [ and ] in it
  EXPECT_EQ(Value(entries[0], "displayName"), "All Corvane [test]");
  // Members are the entries of the address list the URL's filter makes (the disabled users are not).
  EXPECT_EQ(entries[0].count("member"), static_cast<size_t>(kUsers - kUsers / 100));
  EXPECT_NE(report.find(fmt::format("unresolved {}", kUsers / 100)), std::string::npos) << report;

  EXPECT_NE(dsimport::testing::ImportReport(options).find("unchanged: "), std::string::npos);

  // A display name an administrator gives the group stays.
  std::ofstream(home_ / "name.ldif") << "dn: " << group << "\nchangetype: modify\nreplace: displayName\ndisplayName: "
                                     << "Everyone\n";
  ASSERT_EQ(Spawn({"ldapmodify", "-ZZ", "-x", "-H", "ldap://" + Env("CORVANE_AD_ADDR"), "-D", Env("CORVANE_AD_ADMIN_DN"),
                 "-w", Env("CORVANE_AD_PASSWORD"), "-f", (home_ / "name.ldif").string()},
                home_ / "modify.txt", {"LDAPTLS_CACERT=" + Env("CORVANE_AD_CA")}),
            0);
  EXPECT_NE(dsimport::testing::ImportReport(options).find("unchanged: "), std::string::npos);
  EXPECT_EQ(Value(read()[0], "displayName"), "Everyone");

  // Named by host name, the directory's address list is what
  // showInAddressBook says (nothing, on this AD); members are found all the
  // same, the disabled users too.
  dsimport::ImportOptions by_host = options;
  by_host.dsa = Env("CORVANE_AD_ADDR");
  by_host.dry_run = true;
  report = dsimport::testing::ImportReport(by_host);
  EXPECT_NE(report.find(fmt::format("added {}, removed 0, unchanged {}, unresolved 0", kUsers / 100,
                                    kUsers - kUsers / 100)),
            std::string::npos)
      << report;

  // Another list whose account name another account holds is refused.
  std::ofstream(list, std::ios::binary) << "Obj-Class, Directory Name, members\r\nDL,u0002,SMTP:u0001@corvane.test{;}\r\n";
  report = dsimport::testing::ImportReport(options);
  EXPECT_NE(report.find("the account name \"u0002\""), std::string::npos) << report;
  EXPECT_NE(report.find("nothing was changed"), std::string::npos) << report;
}

// The run does not wait for the import it starts: a failed one (here a
// wrong password) is told by dsimport's own record, which --status reads
// after a completed run, with AD's own reason.
TEST_F(AdTest, AFailedImportIsReportedByStatus) {
  int status = 0;
  ASSERT_EQ((CorvaneRun({"--quiet-sql"}, status), status), 0);
  Set("DistList", "1");
  const fs::path list = home_ / "dl.csv";
  std::ofstream(list, std::ios::binary) << "Obj-Class, Directory Name, members\r\nDL,Staff,SMTP:u0001@corvane.test{;}\r\n";
  Password("not-the-password");
  EXPECT_EQ(Spawn({Env("CORVANE_BIN_DIR") + "/dsimport", "/FILE=" + list.string(), "/DSA=" + StartTlsUrl(),
                   "/BASEPOINT=" + Env("CORVANE_AD_BASE"), "/CONTAINER=Lists"},
                  home_ / "dsimport.txt"),
            1)
      << ReadFile(home_ / "dsimport.txt");
  const std::string out = CorvaneRun({"--status"}, status);
  EXPECT_EQ(status, 1) << out;
  EXPECT_NE(out.find("the last distribution-list import failed"), std::string::npos) << out;
  EXPECT_NE(out.find("data 52e"), std::string::npos) << out;
}

}  // namespace
}  // namespace corvane
