// The MAPI-shaped layer over LDIF files: profiles, logon, the address
// book as the GAL reader walks it, row values, and bad input.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>

#include "platform/mapi/gal_entry.h"
#include "platform/mapi/ldap_connection.h"
#include "platform/mapi/ldap_settings.h"
#include "platform/mapi/mapi.h"
#include "platform/registry/registry.h"
#include "tests/mapi/gal_session.h"

namespace corvane::mapi::testing {
namespace {

std::string SamplePath() { return SourceDir() + "/samples/directory.ldif"; }

size_t Column(ULONG tag) {
  const auto& cols = GalColumns();
  return std::find(cols.begin(), cols.end(), tag) - cols.begin();
}

class MapiTest : public ::testing::Test {
 protected:
  std::string WriteLdif(const std::string& name, const std::string& text) {
    std::string path = env_.home() + "/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  MapiEnvironment env_;
};

const char* kTwoPeople =
    "dn: dc=example,dc=org\nobjectClass: domain\ndc: example\n\n"
    "dn: uid=ann,dc=example,dc=org\nobjectClass: inetOrgPerson\nuid: ann\ncn: Ann Lee\nsn: Lee\n"
    "mail: ann@example.org\n\n"
    "dn: uid=bob,dc=example,dc=org\nobjectClass: inetOrgPerson\nuid: bob\ncn: Bob Roe\nsn: Roe\n"
    "mail: bob@example.org\nmanager: uid=ann,dc=example,dc=org\n\n"
    "dn: cn=team,dc=example,dc=org\nobjectClass: groupOfNames\ncn: team\nmember: uid=ann,dc=example,dc=org\n";

// --- memory and tables -----------------------------------------------------

TEST_F(MapiTest, ChainedBuffersAreFreedWithTheirParent) {
  LPVOID parent = nullptr;
  ASSERT_EQ(MAPIAllocateBuffer(64, &parent), S_OK);
  for (int i = 0; i < 100; ++i) {
    LPVOID more = nullptr;
    ASSERT_EQ(MAPIAllocateMore(32, parent, &more), S_OK);
    std::memset(more, 0xAB, 32);
  }
  EXPECT_EQ(MAPIFreeBuffer(parent), 0u);  // frees all 101 blocks (checked under the sanitizer build)
  EXPECT_EQ(MAPIAllocateMore(8, nullptr, &parent), MAPI_E_INVALID_PARAMETER);
}

TEST_F(MapiTest, HierarchyRestrictionsSelectByBinaryAndNumberAndRowLimitsHold) {
  LPMAPISESSION session = nullptr;
  ASSERT_EQ(LogonTo(SamplePath(), "corvane.service", &session), S_OK);
  LPADRBOOK book = nullptr;
  ASSERT_EQ(session->OpenAddressBook(0, nullptr, AB_NO_DIALOG, &book), S_OK);
  ULONG type = 0;
  LPUNKNOWN root = nullptr;
  ASSERT_EQ(book->OpenEntry(0, nullptr, nullptr, 0, &type, &root), S_OK);
  LPMAPITABLE table = nullptr;
  ASSERT_EQ(static_cast<LPABCONT>(root)->GetHierarchyTable(CONVENIENT_DEPTH, &table), S_OK);

  SizedSPropTagArray(2, cols) = {2, {PR_DISPLAY_NAME, PR_EMS_AB_CONTAINERID}};
  BYTE exchange[16] = {0xDC, 0xA7, 0x40, 0xC8, 0xC0, 0x42, 0x10, 0x1A, 0xB4, 0xB9, 0x08, 0x00, 0x2B, 0x2F, 0xE1, 0x82};
  SPropValue provider{};
  provider.ulPropTag = PR_AB_PROVIDER_ID;
  provider.Value.bin = {16, exchange};
  SRestriction by_provider{};
  by_provider.rt = RES_PROPERTY;
  by_provider.res.resProperty = {RELOP_EQ, PR_AB_PROVIDER_ID, &provider};
  LPSRowSet rows = nullptr;
  ASSERT_EQ(HrQueryAllRows(table, reinterpret_cast<LPSPropTagArray>(&cols), &by_provider, nullptr, 0, &rows), S_OK);
  EXPECT_EQ(rows->cRows, 2u);  // the GAL and All Users; not the other provider's container
  FreeProws(rows);

  SPropValue id{};
  id.ulPropTag = PR_EMS_AB_CONTAINERID;
  id.Value.l = 1;
  SRestriction parts[2] = {by_provider, {}};
  parts[1].rt = RES_PROPERTY;
  parts[1].res.resProperty = {RELOP_EQ, PR_EMS_AB_CONTAINERID, &id};
  SRestriction both{};
  both.rt = RES_AND;
  both.res.resAnd = {2, parts};
  ASSERT_EQ(HrQueryAllRows(table, nullptr, &both, nullptr, 0, &rows), S_OK);
  ASSERT_EQ(rows->cRows, 1u);
  EXPECT_EQ(CellText(rows->aRow[0].lpProps[0]), "S:All Users");
  FreeProws(rows);

  // No restriction any more: three rows, more than a limit of two allows.
  ASSERT_EQ(table->Restrict(nullptr, 0), S_OK);
  EXPECT_EQ(HrQueryAllRows(table, nullptr, nullptr, nullptr, 2, &rows), MAPI_E_TOO_COMPLEX);
  SRestriction unknown{};
  unknown.rt = 0x0B;  // a kind of restriction this layer does not evaluate
  EXPECT_EQ(table->Restrict(&unknown, 0), MAPI_E_TOO_COMPLEX);
  table->Release();
  root->Release();
  book->Release();
  session->Release();
}

// --- profiles ---------------------------------------------------------------

TEST_F(MapiTest, SecondCreateProfileFailsAndKeepsTheFirstConfiguration) {
  ASSERT_EQ(CreateExchangeProfile("TWCorvane", "corvane.service", SamplePath()), S_OK);
  EXPECT_EQ(CreateExchangeProfile("TWCorvane", "someone.else", "/elsewhere.ldif"), MAPI_E_NO_ACCESS);
  EXPECT_NE(std::string(MAPIGetLastErrorText()).find("exists already"), std::string::npos);

  // The profile lives in the hive file, with one service and its first values.
  registry::Hive hive(env_.home() + "/registry.hive");
  ASSERT_TRUE(hive.KeyExists("SOFTWARE\\Corvane\\MAPI\\Profiles\\TWCorvane"));
  int services = 0;
  for (const auto& key : hive.Keys()) {
    if (key.find("TWCorvane\\Services\\") == std::string::npos) continue;
    ++services;
    EXPECT_EQ(hive.Get(key, "6607001E")->text, "corvane.service");
    EXPECT_EQ(hive.Get(key, "6608001E")->text, SamplePath());
  }
  EXPECT_EQ(services, 1);

  // A new "process" (MAPI initialised afresh) logs on with the stored profile.
  MAPIUninitialize();
  MAPIInitialize(nullptr);
  LPMAPISESSION session = nullptr;
  std::string name = "TWCorvane";
  ASSERT_EQ(MAPILogonEx(0, name.data(), nullptr, 0x18002, &session), S_OK) << MAPIGetLastErrorText();
  session->Release();
}

TEST_F(MapiTest, LogonNeedsInitialisationAndAConfiguredProfile) {
  LPMAPISESSION session = nullptr;
  std::string missing = "NoSuchProfile";
  EXPECT_EQ(MAPILogonEx(0, missing.data(), nullptr, 0, &session), MAPI_E_LOGON_FAILED);

  LPPROFADMIN admin = nullptr;
  ASSERT_EQ(MAPIAdminProfiles(0, &admin), S_OK);
  std::string bare = "Bare";
  ASSERT_EQ(admin->CreateProfile(bare.data(), nullptr, 0, 0), S_OK);
  admin->Release();
  EXPECT_EQ(MAPILogonEx(0, bare.data(), nullptr, 0, &session), MAPI_E_UNCONFIGURED);

  MAPIUninitialize();
  EXPECT_EQ(MAPILogonEx(0, bare.data(), nullptr, 0, &session), MAPI_E_NOT_INITIALIZED);
  EXPECT_EQ(MAPIAdminProfiles(0, &admin), MAPI_E_NOT_INITIALIZED);
  MAPIInitialize(nullptr);
}

TEST_F(MapiTest, OnlyTheExchangeServiceCanBeAdded) {
  LPPROFADMIN admin = nullptr;
  ASSERT_EQ(MAPIAdminProfiles(0, &admin), S_OK);
  std::string name = "P", other = "MSPST MS";
  ASSERT_EQ(admin->CreateProfile(name.data(), nullptr, 0, 0), S_OK);
  LPSERVICEADMIN services = nullptr;
  ASSERT_EQ(admin->AdminServices(name.data(), nullptr, 0, 0, &services), S_OK);
  EXPECT_EQ(services->CreateMsgService(other.data(), nullptr, 0, 0), MAPI_E_NOT_FOUND);
  services->Release();
  std::string absent = "Absent";
  EXPECT_EQ(admin->AdminServices(absent.data(), nullptr, 0, 0, &services), MAPI_E_NOT_FOUND);
  admin->Release();
}

// --- the address book over the shipped sample --------------------------------

TEST_F(MapiTest, SampleGalIsReadWholeInBatchesOfFifty) {
  GalRead r = ReadGal(SamplePath(), "corvane.service");
  ASSERT_EQ(r.hr, S_OK) << r.step << ": " << MAPIGetLastErrorText();
  EXPECT_EQ(r.count, 300u);
  EXPECT_EQ(r.rows.size(), 300u);
  EXPECT_EQ(r.batch_sizes, std::vector<ULONG>(6, 50));
  // Hidden accounts and organisational units stay out.
  for (const auto& row : r.rows) EXPECT_EQ(row[Column(PR_DISPLAY_NAME)].find("S:Backup Agent"), std::string::npos);
}

TEST_F(MapiTest, HierarchyOffersTheGalAndOtherContainers) {
  LPMAPISESSION session = nullptr;
  ASSERT_EQ(LogonTo(SamplePath(), "corvane.service", &session), S_OK);
  LPADRBOOK book = nullptr;
  ASSERT_EQ(session->OpenAddressBook(0, nullptr, AB_NO_DIALOG, &book), S_OK);
  ULONG type = 0;
  LPUNKNOWN unk = nullptr;
  ASSERT_EQ(book->OpenEntry(0, nullptr, nullptr, MAPI_DEFERRED_ERRORS, &type, &unk), S_OK);
  EXPECT_EQ(type, static_cast<ULONG>(MAPI_ABCONT));
  LPMAPITABLE table = nullptr;
  ASSERT_EQ(static_cast<LPABCONT>(unk)->GetHierarchyTable(CONVENIENT_DEPTH, &table), S_OK);
  ULONG count = 0;
  table->GetRowCount(0, &count);
  EXPECT_EQ(count, 3u);
  // The GAL's contents cannot be restricted; the error says so.
  LPMAPITABLE contents = nullptr;
  EXPECT_EQ(static_cast<LPABCONT>(unk)->GetContentsTable(0, &contents), MAPI_E_NO_SUPPORT);
  BYTE junk[30] = {};
  LPUNKNOWN bad = nullptr;
  EXPECT_EQ(book->OpenEntry(sizeof junk, reinterpret_cast<LPENTRYID>(junk), nullptr, 0, &type, &bad),
            MAPI_E_INVALID_ENTRYID);
  table->Release();
  unk->Release();
  book->Release();
  session->Release();
}

class SampleRows : public MapiTest {
 protected:
  void SetUp() override {
    r_ = ReadGal(SamplePath(), "corvane.service");
    ASSERT_EQ(r_.hr, S_OK) << r_.step << ": " << MAPIGetLastErrorText();
  }
  const TextRow& ByAccount(const std::string& account) {
    for (const auto& row : r_.rows)
      if (row[Column(PR_ACCOUNT)] == "S:" + account) return row;
    static TextRow none;
    ADD_FAILURE() << "no row for " << account;
    return none;
  }
  const TextRow& ByDisplayName(const std::string& name) {
    for (const auto& row : r_.rows)
      if (row[Column(PR_DISPLAY_NAME)] == "S:" + name) return row;
    static TextRow none;
    ADD_FAILURE() << "no row for " << name;
    return none;
  }
  GalRead r_;
};

TEST_F(SampleRows, NamesKeepEveryApostropheAndScript) {
  EXPECT_EQ(ByAccount("sobrien")[Column(PR_SURNAME)], "S:O'Brien");
  EXPECT_EQ(ByAccount("jdarcy")[Column(PR_SURNAME)], "S:D`Arcy");
  EXPECT_EQ(ByAccount("aosullivan")[Column(PR_SURNAME)], "S:O\u2018Sullivan");
  EXPECT_EQ(ByAccount("loneill")[Column(PR_DISPLAY_NAME)], "S:Liam O\u2019Neill");
  EXPECT_EQ(ByAccount("mdangelo")[Column(PR_SURNAME)], "S:D\u00B4Angelo");
  EXPECT_EQ(ByAccount("zangstrom")[Column(PR_GIVEN_NAME)], "S:Zoë");
  EXPECT_EQ(ByAccount("divanov")[Column(PR_DISPLAY_NAME)], "S:Дмитрий Иванов");
  EXPECT_EQ(ByAccount("tyamada")[Column(PR_DISPLAY_NAME)], "S:山田 太郎");
}

TEST_F(SampleRows, AddressListsKeepTheirOrderAndGapsReadAsNotFound) {
  const TextRow& service = ByAccount("corvane.service");
  EXPECT_EQ(service[Column(PR_EMS_AB_PROXY_ADDRESSES)].rfind("M:SMTP:corvane.service@harbourline.example", 0), 0u);
  // Entry 12: forty addresses, the primary one 36th.
  int forty = 0;
  for (const auto& row : r_.rows) {
    const std::string& cell = row[Column(PR_EMS_AB_PROXY_ADDRESSES)];
    if (std::count(cell.begin(), cell.end(), '|') != 39) continue;
    ++forty;
    size_t primary = cell.find("SMTP:");
    EXPECT_EQ(std::count(cell.begin(), cell.begin() + primary, '|'), 35);
  }
  EXPECT_EQ(forty, 1);
  int without = 0, lower_only = 0;
  for (const auto& row : r_.rows) {
    const std::string& cell = row[Column(PR_EMS_AB_PROXY_ADDRESSES)];
    if (cell == "E:8004010F") ++without;
    if (cell.rfind("M:smtp:", 0) == 0 && cell.find("SMTP:") == std::string::npos) ++lower_only;
  }
  EXPECT_GE(without, 1);
  EXPECT_GE(lower_only, 1);
}

TEST_F(SampleRows, DisplayTypesFollowTheAttributeOrTheClass) {
  std::map<std::string, int> seen;
  for (const auto& row : r_.rows) seen[row[Column(PR_DISPLAY_TYPE)]]++;
  for (const char* dt : {"L:0", "L:1", "L:2", "L:6"}) EXPECT_GT(seen[dt], 0) << dt;
  EXPECT_EQ(seen.size(), 4u);
  for (const auto& row : r_.rows) {
    const std::string& account = row[Column(PR_ACCOUNT)];
    if (account.rfind("S:contact", 0) == 0) {
      EXPECT_EQ(row[Column(PR_DISPLAY_TYPE)], "L:6");
    }
    if (account.rfind("S:dl", 0) == 0) {
      EXPECT_EQ(row[Column(PR_DISPLAY_TYPE)], "L:1");
    }
    if (account.rfind("S:pf", 0) == 0) {
      EXPECT_EQ(row[Column(PR_DISPLAY_TYPE)], "L:2");
    }
  }
}

TEST_F(SampleRows, MissingPropertiesReadAsNotFoundAndTelephonesRepeat) {
  int sparse = 0;
  for (const auto& row : r_.rows) {
    EXPECT_EQ(row[Column(PR_BUSINESS_TELEPHONE_NUMBER)], row[29]);
    EXPECT_EQ(row[Column(PR_BUSINESS2_TELEPHONE_NUMBER)], row[30]);
    EXPECT_EQ(row[Column(PR_HOME_FAX_NUMBER)], "E:8004010F");
    if (row[Column(PR_GIVEN_NAME)] == "E:8004010F" && row[Column(PR_TITLE)] == "E:8004010F" &&
        row[Column(PR_ACCOUNT)] != "E:8004010F" && row[Column(PR_DISPLAY_TYPE)] == "L:0")
      ++sparse;
  }
  EXPECT_GE(sparse, 1);
}

TEST_F(SampleRows, ManagersAppearByDisplayNameAndEntryIdsAreStable) {
  int managed = 0;
  for (const auto& row : r_.rows)
    if (row[Column(PR_MANAGER_NAME)].rfind("S:", 0) == 0) ++managed;
  EXPECT_GT(managed, 100);
  const std::string& id = ByAccount("corvane.service")[Column(PR_ENTRYID)];
  // Flags, Exchange provider, version 1, display type 0, then the X.500 name.
  EXPECT_EQ(id.substr(0, 2 + 56), "B:00000000DCA740C8C042101AB4B908002B2FE1820100000000000000");
  GalRead again = ReadGal(SamplePath(), "corvane.service");
  ASSERT_EQ(again.rows.size(), r_.rows.size());
  for (size_t i = 0; i < r_.rows.size(); ++i) EXPECT_EQ(again.rows[i][0], r_.rows[i][0]);
}

// --- mailbox resolution -------------------------------------------------------

TEST_F(MapiTest, MailboxResolvesByAccountAddressOrProxy) {
  for (const char* mailbox : {"corvane.service", "CORVANE.SERVICE@harbourline.example",
                              "corvane.service@harbourline-freight.example", "smtp:corvane.service@harbourline.example"}) {
    EXPECT_EQ(ReadGal(SamplePath(), mailbox).hr, S_OK) << mailbox;
  }
  GalRead none = ReadGal(SamplePath(), "nobody");
  EXPECT_EQ(none.hr, MAPI_E_LOGON_FAILED);
  EXPECT_EQ(none.step, "MAPILogonEx");
  std::string twins = WriteLdif("twins.ldif", std::string(kTwoPeople) +
                                                  "\ndn: uid=ann2,dc=example,dc=org\nobjectClass: inetOrgPerson\n"
                                                  "uid: ann2\ncn: Ann Two\nsn: Two\nmail: ann@example.org\n");
  GalRead ambiguous = ReadGal(twins, "ann@example.org");
  EXPECT_EQ(ambiguous.hr, MAPI_E_LOGON_FAILED);
  EXPECT_NE(std::string(MAPIGetLastErrorText()).find("names 2 entries"), std::string::npos);
}

TEST_F(MapiTest, PlainInetOrgPersonDirectoriesFallBack) {
  GalRead r = ReadGal(WriteLdif("plain.ldif", kTwoPeople), "bob");
  ASSERT_EQ(r.hr, S_OK) << MAPIGetLastErrorText();
  ASSERT_EQ(r.rows.size(), 3u);
  const TextRow& bob = r.rows[1];
  EXPECT_EQ(bob[Column(PR_DISPLAY_NAME)], "S:Bob Roe");
  EXPECT_EQ(bob[Column(PR_ACCOUNT)], "S:bob");
  EXPECT_EQ(bob[Column(PR_EMS_AB_PROXY_ADDRESSES)], "M:SMTP:bob@example.org");
  EXPECT_EQ(bob[Column(PR_MANAGER_NAME)], "S:Ann Lee");
  EXPECT_EQ(bob[Column(PR_DISPLAY_TYPE)], "L:0");
  EXPECT_EQ(r.rows[2][Column(PR_DISPLAY_TYPE)], "L:1");
  EXPECT_EQ(r.rows[2][Column(PR_EMS_AB_PROXY_ADDRESSES)], "E:8004010F");
}

// The entry identifier carries what survives a move or rename; a language
// tag's value stands in only for a missing plain value.
TEST_F(MapiTest, EntryIdsCarryTheStableIdentityAndPlainValuesBeatLanguageTags) {
  const std::string base = "dc=example,dc=org";
  std::string ldif = "dn: " + base + "\nobjectClass: domain\ndc: example\n\n";
  auto person = [&](const std::string& uid, const std::string& extra) {
    ldif += "dn: uid=" + uid + "," + base + "\nobjectClass: inetOrgPerson\nuid: " + uid + "\ncn: " + uid +
            "\nsn: " + uid + "\n" + extra + "\n";
  };
  person("ann", "legacyExchangeDN: /o=Org/cn=Recipients/cn=ann\nobjectGUID:: ABEiM0RVZneImaq7zN3u/w==\n"
                "entryUUID: 0A0B0C0D-0000-4000-8000-000000000001\n"
                "displayName;lang-fr: Anne\ndisplayName: Ann Lee\nsn;lang-fr: Li\n");
  person("bob", "objectGUID:: ABEiM0RVZneImaq7zN3u/w==\nentryUUID: 0A0B0C0D-0000-4000-8000-000000000002\n"
                "displayName;lang-de: Robert\n");
  person("cy", "entryUUID: 0A0B0C0D-0000-4000-8000-000000000003\n");
  person("dee", "");
  GalRead r = ReadGal(WriteLdif("identities.ldif", ldif), "dee");
  ASSERT_EQ(r.hr, S_OK) << MAPIGetLastErrorText();
  ASSERT_EQ(r.rows.size(), 4u);
  const struct {
    const char* identity;
    const char* displayName;
    const char* surname;
  } expected[] = {
      {"/o=Org/cn=Recipients/cn=ann", "S:Ann Lee", "S:ann"},
      {"/guid=33221100-5544-7766-8899-aabbccddeeff", "S:Robert", "S:bob"},
      {"/guid=0a0b0c0d-0000-4000-8000-000000000003", "S:cy", "S:cy"},
      {"/dc=org/dc=example/uid=dee", "S:dee", "S:dee"},
  };
  for (size_t i = 0; i < r.rows.size(); ++i) {
    EXPECT_EQ(EntryIdIdentity(r.rows[i][Column(PR_ENTRYID)]), expected[i].identity) << i;
    EXPECT_EQ(r.rows[i][Column(PR_DISPLAY_NAME)], expected[i].displayName) << i;
    EXPECT_EQ(r.rows[i][Column(PR_SURNAME)], expected[i].surname) << i;
  }
}

// --- bad input ----------------------------------------------------------------

TEST_F(MapiTest, LdifSyntaxErrorFailsTheLogonNamingTheLine) {
  std::string text = std::string(kTwoPeople) + "\ndn: uid=eve,dc=example,dc=org\nobjectClass: inetOrgPerson\n"
                                               "this line has no colon\n";
  GalRead r = ReadGal(WriteLdif("broken.ldif", text), "bob");
  EXPECT_EQ(r.hr, MAPI_E_CORRUPT_DATA);
  EXPECT_EQ(r.step, "MAPILogonEx");
  EXPECT_NE(std::string(MAPIGetLastErrorText()).find("line 27"), std::string::npos) << MAPIGetLastErrorText();
}

TEST_F(MapiTest, TextThatIsNotUtf8CostsOnlyItsBadBytesAndIsNamed) {
  // Latin-1 "Ann \xFF" in a name the scan reads, binary data ("A\0B") in
  // one only the reading pass reads, and a Windows-1252 quote in an address.
  std::string text = std::string(kTwoPeople) +
                     "\ndn: uid=eve,dc=example,dc=org\nobjectClass: inetOrgPerson\nuid: eve\ncn: Eve\nsn: Eve\n"
                     "displayName:: QW5uIP8=\ntitle:: QQBC\nproxyAddresses:: U01UUDpvkmJyaWVuQHgub3Jn\n"
                     "manager: uid=ann,dc=example,dc=org\n";
  ::testing::internal::CaptureStderr();
  GalRead r = ReadGal(WriteLdif("utf8.ldif", text), "bob");
  const std::string warnings = ::testing::internal::GetCapturedStderr();
  ASSERT_EQ(r.hr, S_OK) << MAPIGetLastErrorText();
  EXPECT_EQ(r.count, 4u);
  ASSERT_EQ(r.rows.size(), 4u);  // nothing left out, nothing short
  const TextRow& eve = r.rows[3];
  EXPECT_EQ(eve[Column(PR_DISPLAY_NAME)], "S:Ann \xEF\xBF\xBD");
  EXPECT_EQ(eve[Column(PR_TITLE)], "S:A\xEF\xBF\xBD" "B");
  EXPECT_EQ(eve[Column(PR_EMS_AB_PROXY_ADDRESSES)], "M:SMTP:o\xEF\xBF\xBD" "brien@x.org");
  EXPECT_EQ(eve[Column(PR_MANAGER_NAME)], "S:Ann Lee");  // the rest of the entry as it is
  EXPECT_EQ(r.rows[1][Column(PR_DISPLAY_NAME)], "S:Bob Roe");
  // Each repaired attribute is named once, by the reading pass.
  for (const char* attribute : {"displayname", "title", "proxyaddresses"}) {
    const std::string line = fmt::format("corvane-mapi: warning: entry \"uid=eve,dc=example,dc=org\": attribute {} ",
                                         attribute);
    const size_t at = warnings.find(line);
    EXPECT_NE(at, std::string::npos) << warnings;
    EXPECT_EQ(warnings.find(line, at + 1), std::string::npos) << warnings;
  }
  // A manager whose own name is damaged is named with the repaired text.
  std::string managed = text + "\ndn: uid=kim,dc=example,dc=org\nobjectClass: inetOrgPerson\nuid: kim\ncn: Kim\n"
                               "sn: Kim\nmanager: uid=eve,dc=example,dc=org\n";
  GalRead m = ReadGal(WriteLdif("managed.ldif", managed), "bob");
  ASSERT_EQ(m.hr, S_OK) << MAPIGetLastErrorText();
  ASSERT_EQ(m.rows.size(), 5u);
  EXPECT_EQ(m.rows[4][Column(PR_MANAGER_NAME)], "S:Ann \xEF\xBF\xBD");
}

TEST_F(MapiTest, BadBase64AndMissingFilesFailClearly) {
  std::string text = std::string(kTwoPeople) + "\ndn: uid=eve,dc=example,dc=org\nobjectClass: inetOrgPerson\n"
                                               "cn:: not*base64\n";
  EXPECT_EQ(ReadGal(WriteLdif("b64.ldif", text), "bob").hr, MAPI_E_CORRUPT_DATA);
  EXPECT_NE(std::string(MAPIGetLastErrorText()).find("base64"), std::string::npos);
  GalRead missing = ReadGal(env_.home() + "/absent.ldif", "bob");
  EXPECT_EQ(missing.hr, MAPI_E_NOT_FOUND);
  EXPECT_NE(std::string(MAPIGetLastErrorText()).find("absent.ldif"), std::string::npos);
}

TEST_F(MapiTest, AReadThatFailsHalfWayKeepsFailingRatherThanEndingShort) {
  // The bad value sits in an attribute only the reading pass decodes, so
  // the logon succeeds and the second batch fails.
  std::string text = std::string(kTwoPeople);
  for (int i = 0; i < 60; ++i)
    text += "\ndn: uid=p" + std::to_string(i) + ",dc=example,dc=org\nobjectClass: inetOrgPerson\ncn: P\nsn: P\n" +
            (i == 55 ? "title:: not*base64\n" : "title: Clerk\n");
  std::string path = WriteLdif("late.ldif", text);
  LPMAPISESSION session = nullptr;
  ASSERT_EQ(LogonTo(path, "bob", &session), S_OK) << MAPIGetLastErrorText();
  LPADRBOOK book = nullptr;
  ASSERT_EQ(session->OpenAddressBook(0, nullptr, AB_NO_DIALOG, &book), S_OK);
  ULONG type = 0;
  LPUNKNOWN unk = nullptr;
  // The GAL's permanent identifier: flags, Exchange provider, version 1,
  // DT_GLOBAL, the name "/".
  BYTE gal[30] = {0,    0,    0,    0,    0xDC, 0xA7, 0x40, 0xC8, 0xC0, 0x42, 0x10, 0x1A, 0xB4, 0xB9, 0x08,
                  0x00, 0x2B, 0x2F, 0xE1, 0x82, 1,    0,    0,    0,    0,    0,    2,    0,    '/',  0};
  ASSERT_EQ(book->OpenEntry(sizeof gal, reinterpret_cast<LPENTRYID>(gal), nullptr, 0, &type, &unk), S_OK)
      << MAPIGetLastErrorText();
  LPMAPITABLE contents = nullptr;
  ASSERT_EQ(static_cast<LPABCONT>(unk)->GetContentsTable(0, &contents), S_OK);
  ULONG count = 0;
  ASSERT_EQ(contents->GetRowCount(0, &count), S_OK);
  EXPECT_EQ(count, 63u);
  LPSRowSet rows = nullptr;
  ASSERT_EQ(contents->QueryRows(50, 0, &rows), S_OK);
  EXPECT_EQ(rows->cRows, 50u);
  FreeProws(rows);
  EXPECT_EQ(contents->QueryRows(50, 0, &rows), MAPI_E_CORRUPT_DATA);
  EXPECT_NE(std::string(MAPIGetLastErrorText()).find("invalid base64"), std::string::npos);
  EXPECT_EQ(contents->QueryRows(50, 0, &rows), MAPI_E_CORRUPT_DATA);
  contents->Release();
  unk->Release();
  book->Release();
  session->Release();
}

TEST_F(MapiTest, ContinuationLinesAndCommentsAreRead) {
  std::string text =
      "version: 1\n# a comment\ndn: uid=ann,dc=example,dc=org\nobjectClass: inetOrgPerson\nuid: ann\n"
      "cn: Ann\nsn: Lee\ndisplayName: Ann Lee of the\n  Long Name\n# inside\nmail: ann@example.org\r\n";
  GalRead r = ReadGal(WriteLdif("folded.ldif", text), "ann");
  ASSERT_EQ(r.hr, S_OK) << MAPIGetLastErrorText();
  ASSERT_EQ(r.rows.size(), 1u);
  EXPECT_EQ(r.rows[0][Column(PR_DISPLAY_NAME)], "S:Ann Lee of the Long Name");
  EXPECT_EQ(r.rows[0][Column(PR_EMS_AB_PROXY_ADDRESSES)], "M:SMTP:ann@example.org");
}

// When a simple bind's password would travel in clear: ldap:// (or a host
// name) without StartTLS, to a host other than the loopback.
TEST(LdapSettings, ClearTextWarningOnlyForASimpleBindOverPlainLdapToAnotherHost) {
  LdapSettings simple;
  simple.bind_dn = "CN=svc,DC=example,DC=org";
  LdapSettings tls = simple, sasl = simple, anonymous;
  tls.start_tls = true;
  sasl.sasl_mech = "GSSAPI";
  struct Case {
    const char* server;
    const LdapSettings* settings;
    bool warned;
  } cases[] = {
      {"ldap://dc1.example.org/DC=example,DC=org??sub", &simple, true},
      {"dc1.example.org:389", &simple, true},
      {"LDAP://[2001:db8::1]:389/", &simple, true},
      {"ldap://dc1.example.org/", &tls, false},
      {"ldaps://dc1.example.org/", &simple, false},
      {"ldapi://%2Frun%2Fslapd%2Fldapi/", &simple, false},
      {"ldap://127.0.0.23/", &simple, false},
      {"ldap://localhost:3389/", &simple, false},
      {"ldap://[::1]/", &simple, false},
      {"ldap://dc1.example.org/", &sasl, false},
      {"ldap://dc1.example.org/", &anonymous, false},
      {"/var/lib/corvane/directory.ldif", &simple, false},
  };
  for (const auto& c : cases) {
    const std::string warning = ClearTextBindWarning(c.server, *c.settings);
    EXPECT_EQ(!warning.empty(), c.warned) << c.server << ": " << warning;
    if (c.warned) {
      EXPECT_NE(warning.find("in clear"), std::string::npos) << warning;
    }
  }
}

TEST(LdapSettings, TheEnvironmentWinsOverTheParametersValueByValue) {
  MapiEnvironment env;
  registry::Hive hive = registry::Hive::Machine();
  hive.Set(registry::kParametersKeyPath, "LdapBindDN", registry::Value::Sz(" CN=svc,DC=example,DC=org "));
  hive.Set(registry::kParametersKeyPath, "LdapPasswordFile", registry::Value::Sz("/etc/corvane/pw"));
  hive.Set(registry::kParametersKeyPath, "LdapStartTLS", registry::Value::Sz("1"));
  setenv("CORVANE_LDAP_PASSWORD_FILE", "/run/pw", 1);
  const LdapSettings s = ReadLdapSettings();
  unsetenv("CORVANE_LDAP_PASSWORD_FILE");
  EXPECT_EQ(s.bind_dn, "CN=svc,DC=example,DC=org");
  EXPECT_EQ(s.bind_dn_from, "LdapBindDN");
  EXPECT_EQ(s.password_file, "/run/pw");
  EXPECT_EQ(s.password_file_from, "CORVANE_LDAP_PASSWORD_FILE");
  EXPECT_TRUE(s.start_tls);
  EXPECT_FALSE(s.refuse_clear_bind);
}

TEST(LdapSettings, TheServersDiagnosticStaysOnOneLine) {
  LDAP* ld = nullptr;
  ASSERT_EQ(ldap_initialize(&ld, "ldap://127.0.0.1:1"), LDAP_SUCCESS);  // no connection is made
  const char* text = "80090308: LdapErr: DSID-0C09041C,\r\ncomment: AcceptSecurityContext error, data 52e\n";
  ldap_set_option(ld, LDAP_OPT_DIAGNOSTIC_MESSAGE, text);
  EXPECT_EQ(DiagnosticMessage(ld), "80090308: LdapErr: DSID-0C09041C, comment: AcceptSecurityContext error, data 52e");
  ldap_unbind_ext_s(ld, nullptr, nullptr);
}

// The managers' name index keeps hashes, not DNs: a DN finds its own
// name, the first one added, and an unknown DN none.
TEST(NameIndexTest, FindsTheFirstNameOfEachDnAndNothingElse) {
  NameIndex names;
  for (int i = 0; i < 1000; ++i) names.Add(fmt::format("uid=u{},dc=example", i), fmt::format("User {}", i));
  names.Add("uid=u7,dc=example", "Second");
  const std::string longName(300, 'L');
  names.Add("uid=long,dc=example", longName);
  names.Add("uid=empty,dc=example", "");
  names.Seal();
  EXPECT_EQ(names.Find("uid=u7,dc=example"), "User 7");
  EXPECT_EQ(names.Find("uid=long,dc=example"), longName);
  EXPECT_EQ(names.Find("uid=empty,dc=example"), "");
  EXPECT_EQ(names.Find("uid=u999,dc=example"), "User 999");
  EXPECT_EQ(names.Find("uid=u1000,dc=example"), std::nullopt);
  EXPECT_EQ(NameIndex().Find("uid=u1,dc=example"), std::nullopt);
}

}  // namespace
}  // namespace corvane::mapi::testing
