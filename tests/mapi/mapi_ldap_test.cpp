// The MAPI-shaped layer over a real LDAP server (a throwaway slapd):
// the same rows as from the LDIF file, paging past the server's size
// limit, the ways of naming the server, credentials and failures.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>

#include "platform/mapi/mapi.h"
#include "platform/registry/registry.h"
#include "tests/mapi/gal_session.h"
#include "tests/support/test_slapd.h"
#include "tools/gen-directory/generate_directory.h"

namespace corvane::mapi::testing {
namespace {

using corvane::testing::SlapdOptions;

std::string SamplePath() { return SourceDir() + "/samples/directory.ldif"; }

std::vector<TextRow> Sorted(std::vector<TextRow> rows) {
  std::sort(rows.begin(), rows.end());
  return rows;
}

class LdapTest : public ::testing::Test {
 protected:
  void TearDown() override {
    unsetenv("CORVANE_LDAP_BINDDN");
    unsetenv("CORVANE_LDAP_PASSWORD_FILE");
  }
  MapiEnvironment env_;
};

TEST_F(LdapTest, SlapdGivesTheSameRowsAsTheLdifFile) {
  SlapdOptions options;
  options.size_limit = 100;  // below the sample's 300 entries: only paging sees them all
  options.load_with_ldapadd = true;  // the sample loads as an administrator would load it
  CORVANE_START_SLAPD(slapd, SamplePath(), options);
  GalRead from_file = ReadGal(SamplePath(), "corvane.service");
  ASSERT_EQ(from_file.hr, S_OK) << MAPIGetLastErrorText();
  std::string url = slapd->url() + "/" + slapd->base_dn() + "??sub";
  GalRead from_server = ReadGal(url, "corvane.service");
  ASSERT_EQ(from_server.hr, S_OK) << from_server.step << ": " << MAPIGetLastErrorText();
  EXPECT_EQ(from_server.count, 300u);
  ASSERT_EQ(from_server.rows.size(), from_file.rows.size());
  auto a = Sorted(from_file.rows), b = Sorted(from_server.rows);
  for (size_t i = 0; i < a.size(); ++i)
    for (size_t k = 0; k < a[i].size(); ++k) ASSERT_EQ(b[i][k], a[i][k]) << "row " << i << " column " << k;

  // Named by host and port alone: base from the root DSE, and the address
  // list is what showInAddressBook says.
  GalRead by_host = ReadGal("127.0.0.1:" + std::to_string(slapd->port()), "corvane.service");
  ASSERT_EQ(by_host.hr, S_OK) << MAPIGetLastErrorText();
  EXPECT_EQ(Sorted(by_host.rows), a);
}

TEST_F(LdapTest, MovingOrRenamingAnEntryKeepsItsEntryId) {
  const std::string base = SlapdOptions{}.suffix;
  std::string ldif = env_.home() + "/moves.ldif";
  std::ofstream(ldif) << "dn: " << base << "\nobjectClass: domain\ndc: harbourline\n\n"
                      << "dn: OU=A," << base << "\nobjectClass: organizationalUnit\nou: A\n\n"
                      << "dn: OU=B," << base << "\nobjectClass: organizationalUnit\nou: B\n\n"
                      << "dn: uid=ann,OU=A," << base
                      << "\nobjectClass: inetOrgPerson\nuid: ann\ncn: Ann Lee\nsn: Lee\nmail: ann@example.org\n\n"
                      << "dn: CN=bob,OU=A," << base
                      << "\nobjectClass: inetOrgPerson\nobjectClass: corvaneRecipient\ncn: bob\nsn: Roe\n"
                         "legacyExchangeDN: /o=Harbourline/cn=Recipients/cn=bob\n";
  CORVANE_START_SLAPD(slapd, ldif, SlapdOptions{});
  const std::string url = slapd->url() + "/" + base;
  GalRead before = ReadGal(url, "ann@example.org");
  ASSERT_EQ(before.hr, S_OK) << MAPIGetLastErrorText();
  ASSERT_EQ(before.rows.size(), 2u);
  // Ann has only the server's entryUUID; Bob his Exchange name.
  EXPECT_EQ(EntryIdIdentity(before.rows[0][0]).rfind("/guid=", 0), 0u) << EntryIdIdentity(before.rows[0][0]);
  EXPECT_EQ(EntryIdIdentity(before.rows[1][0]), "/o=Harbourline/cn=Recipients/cn=bob");

  std::string moves = env_.home() + "/moves-apply.ldif";
  std::ofstream(moves) << "dn: uid=ann,OU=A," << base << "\nchangetype: modrdn\nnewrdn: uid=ann.lee\n"
                       << "deleteoldrdn: 1\nnewsuperior: OU=B," << base << "\n\n"
                       << "dn: CN=bob,OU=A," << base << "\nchangetype: modrdn\nnewrdn: CN=robert\n"
                       << "deleteoldrdn: 1\n";
  std::string error;
  ASSERT_TRUE(slapd->Apply(moves, &error)) << error;
  GalRead after = ReadGal(url, "ann@example.org");
  ASSERT_EQ(after.hr, S_OK) << MAPIGetLastErrorText();
  ASSERT_EQ(after.rows.size(), 2u);
  std::vector<std::string> idsBefore, idsAfter;
  for (const auto& row : before.rows) idsBefore.push_back(row[0]);
  for (const auto& row : after.rows) idsAfter.push_back(row[0]);
  std::sort(idsBefore.begin(), idsBefore.end());
  std::sort(idsAfter.begin(), idsAfter.end());
  EXPECT_EQ(idsAfter, idsBefore);
}

TEST_F(LdapTest, PagedReadsReturnEveryEntryPastTheSizeLimit) {
  std::string ldif = env_.home() + "/big.ldif";
  {
    std::ofstream out(ldif);
    corvane::gendir::WriteDirectory(out, {2500, 11});
  }
  SlapdOptions options;
  options.size_limit = 1000;
  CORVANE_START_SLAPD(slapd, ldif, options);
  GalRead r = ReadGal(slapd->url() + "/" + slapd->base_dn(), "corvane.service");
  ASSERT_EQ(r.hr, S_OK) << r.step << ": " << MAPIGetLastErrorText();
  EXPECT_EQ(r.count, 2500u);
  EXPECT_EQ(r.rows.size(), 2500u);
  std::vector<std::string> ids;
  for (const auto& row : r.rows) ids.push_back(row[0]);
  std::sort(ids.begin(), ids.end());
  EXPECT_EQ(std::unique(ids.begin(), ids.end()), ids.end());
}

TEST_F(LdapTest, UrlFilterAndScopeChooseTheEntries) {
  CORVANE_START_SLAPD(slapd, SamplePath(), SlapdOptions{});
  std::string base = "OU=Contacts," + slapd->base_dn();
  // The mailbox must still resolve inside the chosen entries.
  GalRead staff = ReadGal(slapd->url() + "/OU=Staff," + slapd->base_dn() + "??one?(objectClass=user)",
                          "corvane.service");
  ASSERT_EQ(staff.hr, S_OK) << MAPIGetLastErrorText();
  for (const auto& row : staff.rows) EXPECT_TRUE(row[35] == "L:0" || row[35] == "L:6") << row[35];
  EXPECT_EQ(ReadGal(slapd->url() + "/" + base, "corvane.service").hr, MAPI_E_LOGON_FAILED);
}

TEST_F(LdapTest, BadServersFailTheLogonWithAClearError) {
  CORVANE_START_SLAPD(slapd, SamplePath(), SlapdOptions{});
  GalRead missing = ReadGal(slapd->url() + "/OU=Nowhere," + slapd->base_dn(), "corvane.service");
  EXPECT_EQ(missing.hr, MAPI_E_NOT_FOUND);
  EXPECT_EQ(missing.step, "MAPILogonEx");
  EXPECT_NE(std::string(MAPIGetLastErrorText()).find("does not exist"), std::string::npos) << MAPIGetLastErrorText();

  int closed_port = slapd->port();
  slapd.reset();  // nothing listens there any more
  GalRead down = ReadGal("ldap://127.0.0.1:" + std::to_string(closed_port) + "/DC=harbourline,DC=example",
                         "corvane.service");
  EXPECT_EQ(down.hr, MAPI_E_NETWORK_ERROR);
  EXPECT_EQ(down.step, "MAPILogonEx");
  EXPECT_EQ(ReadGal("ldap://[not a url", "corvane.service").hr, MAPI_E_INVALID_PARAMETER);
}

TEST_F(LdapTest, SimpleBindReadsThePasswordFromAPrivateFile) {
  SlapdOptions options;
  options.root_password = "s3cret-Pa55";
  CORVANE_START_SLAPD(slapd, SamplePath(), options);
  std::string url = slapd->url() + "/" + slapd->base_dn();
  std::string file = env_.home() + "/ldap.password";
  setenv("CORVANE_LDAP_BINDDN", slapd->root_dn().c_str(), 1);
  setenv("CORVANE_LDAP_PASSWORD_FILE", file.c_str(), 1);

  std::ofstream(file) << "wrong\n";
  chmod(file.c_str(), 0600);
  EXPECT_EQ(ReadGal(url, "corvane.service").hr, MAPI_E_LOGON_FAILED);
  std::string error = MAPIGetLastErrorText();
  EXPECT_NE(error.find("Invalid credentials"), std::string::npos) << error;

  std::ofstream(file) << "s3cret-Pa55\n";
  GalRead r = ReadGal(url, "corvane.service");
  EXPECT_EQ(r.hr, S_OK) << MAPIGetLastErrorText();
  EXPECT_EQ(r.rows.size(), 300u);

  std::ofstream(file) << "\n";  // an empty password would bind as nobody: refused
  EXPECT_EQ(ReadGal(url, "corvane.service").hr, MAPI_E_LOGON_FAILED);
  EXPECT_NE(std::string(MAPIGetLastErrorText()).find("holds no password"), std::string::npos);

  std::ofstream(file) << "s3cret-Pa55\n";
  chmod(file.c_str(), 0644);  // others could read it: refused before any bind
  EXPECT_EQ(ReadGal(url, "corvane.service").hr, MAPI_E_LOGON_FAILED);
  error = MAPIGetLastErrorText();
  EXPECT_NE(error.find("chmod 600"), std::string::npos) << error;
  EXPECT_EQ(error.find("s3cret"), std::string::npos);
}

// The bind as the home's parameters say, the environment winning value by
// value; StartTLS refused by a server without TLS, in its own words.
TEST_F(LdapTest, BindSettingsComeFromTheParametersAndTheEnvironmentWins) {
  SlapdOptions options;
  options.root_password = "s3cret-Pa55";
  CORVANE_START_SLAPD(slapd, SamplePath(), options);
  const std::string url = slapd->url() + "/" + slapd->base_dn(), file = env_.home() + "/ldap.password";
  std::ofstream(file) << "s3cret-Pa55\n";
  chmod(file.c_str(), 0600);
  registry::Hive hive = registry::Hive::Machine();
  auto set = [&](const char* name, const std::string& value) {
    hive.Set(registry::kParametersKeyPath, name, registry::Value::Sz(value));
  };
  set("LdapBindDN", slapd->root_dn());
  set("LdapPasswordFile", file);
  GalRead r = ReadGal(url, "corvane.service");
  EXPECT_EQ(r.hr, S_OK) << MAPIGetLastErrorText();
  EXPECT_EQ(r.rows.size(), 300u);

  setenv("CORVANE_LDAP_BINDDN", ("cn=nobody," + slapd->base_dn()).c_str(), 1);
  EXPECT_EQ(ReadGal(url, "corvane.service").hr, MAPI_E_LOGON_FAILED);
  EXPECT_NE(std::string(MAPIGetLastErrorText()).find("simple bind as \"cn=nobody,"), std::string::npos)
      << MAPIGetLastErrorText();
  unsetenv("CORVANE_LDAP_BINDDN");

  set("LdapStartTLS", "1");
  EXPECT_EQ(ReadGal(url, "corvane.service").hr, MAPI_E_CALL_FAILED);
  const std::string error = MAPIGetLastErrorText();
  EXPECT_NE(error.find("StartTLS failed at " + slapd->url()), std::string::npos) << error;
  EXPECT_NE(error.find(" ("), std::string::npos) << error;  // slapd's own reason
  EXPECT_EQ(error.find('\n'), std::string::npos) << error;
}

}  // namespace
}  // namespace corvane::mapi::testing
