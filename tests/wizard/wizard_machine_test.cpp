// What the wizard takes from the machine: the service's logon account from
// its unit file, the ODBC drivers and data sources, connection strings
// taken apart and put together, and a test connection against SQLite and
// PostgreSQL.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "platform/ado/odbc_catalog.h"
#include "platform/ntservice/unit_file.h"
#include "tests/ado/test_database.h"
#include "tests/wizard/wizard_fixture.h"
#include "wizard/connection_fields.h"
#include "wizard/wizard_adapters.h"
#include "tests/outlook/store_fixture.h"

namespace corvane::wizard::testing {
namespace {

using ::testing::HasSubstr;

TEST(WizardMachine, TheServiceAccountIsTheUnitsUserAndRootIsLocalSystem) {
  TempFolder folder;
  auto unit = [&folder](const std::string& text) {
    const auto file = folder.path() / "Corvane\\x20Service.service";
    std::ofstream(file) << text;
    return ntservice::ServiceLogonAccount(file);
  };
  EXPECT_EQ(unit("[Unit]\nUser=nobody\n[Service]\nType=simple\nUser=corvane\n"), "corvane");
  EXPECT_EQ(unit("[Service]\nUser=first\nUser= second \n[Install]\nUser=x\n"), "second");
  EXPECT_EQ(unit("[Service]\nExecStart=/usr/local/bin/CorvaneService\n"), "LocalSystem");
  EXPECT_EQ(unit("[Service]\nUser=root\n"), "LocalSystem");
  EXPECT_EQ(ntservice::ServiceLogonAccount(folder.path() / "missing.service"), "");
}

// The service-control component as the wizard creates it: from the home
// where the build registered libServolink.so, and error 429 from a home
// where nothing is registered.
TEST(WizardMachine, CreatesTheRegisteredServiceControlComponentOrSays429) {
  const char* saved = std::getenv("CORVANE_HOME");
  const std::string restore = saved != nullptr ? saved : "";
  Failure failure;
  ::setenv("CORVANE_HOME", CORVANE_TEST_HOME, 1);
  auto svc = CreateSvcUtil(failure, [] {});
  ASSERT_NE(svc, nullptr) << failure.number << " " << failure.text;
  // A start that cannot reach systemd: the component's result as ever, and
  // why through the adapter.
  const char* bus = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
  const std::string restoreBus = bus != nullptr ? bus : "";
  ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/corvane-test-bus", 1);
  svc->SetHostname("localhost");
  svc->SetTargetService("Corvane Service");
  EXPECT_FALSE(svc->StartTargetService());
  const auto why = svc->RequestFailure();
  ASSERT_TRUE(why.has_value());
  EXPECT_EQ(why->number, 1722);
  EXPECT_EQ(why->text, "systemd cannot be reached");
  if (bus != nullptr) ::setenv("DBUS_SYSTEM_BUS_ADDRESS", restoreBus.c_str(), 1); else ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");

  TempFolder empty;
  ::setenv("CORVANE_HOME", empty.path().c_str(), 1);
  failure = {};
  EXPECT_EQ(CreateSvcUtil(failure, [] {}), nullptr);
  EXPECT_EQ(failure.number, 429);
  EXPECT_THAT(failure.text, HasSubstr("Tarnwick.SvcUtil"));
  if (saved != nullptr) ::setenv("CORVANE_HOME", restore.c_str(), 1); else ::unsetenv("CORVANE_HOME");
}

// The distribution-list file the service's user writes at every run: in
// the Corvane home, also where the program's folder (here the build's) could
// be written, as it can by root.
TEST(WizardMachine, TheDefaultImportFileAndTheUnitAreTheServicesOwn) {
  const char* saved = std::getenv("CORVANE_HOME");
  const std::string restore = saved != nullptr ? saved : "";
  TempFolder home;
  ::setenv("CORVANE_HOME", home.path().c_str(), 1);
  HiveParameterStore store(registry::Hive::Machine());
  const WizardPorts ports = MachinePorts(store);
  EXPECT_EQ(ports.distListFileDefault, (home.path() / "dstemp.csv").string());
  EXPECT_EQ(ports.serviceUnit, "Corvane\\x20Service.service");
  if (saved != nullptr) ::setenv("CORVANE_HOME", restore.c_str(), 1); else ::unsetenv("CORVANE_HOME");
}

// The "..." button's list: the folders under the public folder tree of the
// home's mail store, in the store's order; without a mail profile, the
// logon failure.
TEST(WizardMachine, ListsThePublicFoldersOfTheHomesMailStore) {
  corvane::testing::TempHome home;
  PublicFolderListing none = ListPublicFolders();
  ASSERT_TRUE(none.failure.has_value());
  EXPECT_EQ(none.failure->number, outlook::kErrLogonFailed);

  corvane::testing::TempHome::AddProfile("TWCorvane", "corvane.service");
  {
    outlook::VCardFolderStore backend;
    outlook::Namespace ns(backend);
    ns.Logon("TWCorvane");
    auto tree = ns.GetDefaultFolder(outlook::olPublicFoldersAllPublicFolders).GetFolders();
    tree.Add("Corvane Contacts", outlook::olFolderContacts);
    tree.Add("Sales / EMEA", outlook::olFolderContacts);
  }
  PublicFolderListing listing = ListPublicFolders();
  EXPECT_FALSE(listing.failure.has_value()) << listing.failure->text;
  EXPECT_THAT(listing.names, ::testing::UnorderedElementsAre("Corvane Contacts", "Sales / EMEA"));
}

TEST(WizardMachine, ListsTheInstalledDriversAndTheDataSources) {
  TempFolder folder;
  const auto ini = folder.path() / "odbc.ini";
  std::ofstream(ini) << "[corvane-gal]\nDriver=SQLite3\nDatabase=/var/lib/corvane/gal.db\n";
  ::setenv("ODBCINI", ini.c_str(), 1);
  std::vector<std::string> drivers;
  for (const auto& d : ado::InstalledDrivers()) drivers.push_back(d.name);
  EXPECT_THAT(drivers, ::testing::IsSupersetOf({"SQLite3", "PostgreSQL Unicode"}));
  bool found = false;
  for (const auto& s : ado::DataSources()) found = found || (s.name == "corvane-gal" && s.driver == "SQLite3");
  EXPECT_TRUE(found);
  ::unsetenv("ODBCINI");
}

TEST(WizardMachine, ConnectionStringsComeApartIntoFieldsAndBackTogether) {
  const ConnectionFields pg =
      ParseConnectionString(" DRIVER={PostgreSQL Unicode};server=db;Port=5432;Database=gal;User ID=u;PASSWORD={a;b}}c};CommLog=0");
  EXPECT_EQ(pg.driver, "PostgreSQL Unicode");
  EXPECT_EQ(pg.server, "db");
  EXPECT_EQ(pg.user, "u");
  EXPECT_EQ(pg.password, "a;b}c");
  EXPECT_EQ(ComposeConnectionString(pg),
            "Driver={PostgreSQL Unicode};Server=db;Port=5432;Database=gal;Uid=u;Pwd={a;b}}c};CommLog=0");
  ConnectionFields withoutPassword = pg;
  withoutPassword.savePassword = false;
  EXPECT_EQ(ComposeConnectionString(withoutPassword),
            "Driver={PostgreSQL Unicode};Server=db;Port=5432;Database=gal;Uid=u;CommLog=0");
  EXPECT_EQ(ComposeConnectionString(ParseConnectionString("DSN=gal;UID=u;PWD=p")), "DSN=gal;Uid=u;Pwd=p");
  EXPECT_TRUE(IsFileDriver("SQLite3"));
  EXPECT_FALSE(IsFileDriver("PostgreSQL Unicode"));
}

TEST(WizardMachine, TestConnectionOpensSqliteAndGivesTheDriversWordsOnFailure) {
  TempFolder folder;
  EXPECT_EQ(TestConnection(corvane::testing::SqliteConnectionString(folder.path() / "gal.db")), "");
  EXPECT_THAT(TestConnection("Driver=SQLite3;Database=" + (folder.path() / "no/such/folder/gal.db").string()),
              HasSubstr("connect failed"));
  EXPECT_THAT(TestConnection("Driver={No Such Driver};Database=x"), HasSubstr("No Such Driver"));
}

TEST(WizardMachine, TestConnectionOpensPostgresAndSaysWhenThePasswordIsWrong) {
  const std::string cs = corvane::testing::PostgresConnectionString();
  if (cs.empty()) {
    if (corvane::testing::UnderCi()) FAIL() << "CORVANE_TEST_PG is not set";
    GTEST_SKIP() << "no PostgreSQL server (set CORVANE_TEST_PG)";
  }
  EXPECT_EQ(TestConnection(cs), "");
  ConnectionFields wrong = ParseConnectionString(cs);
  wrong.password = "not-the-password";
  EXPECT_THAT(TestConnection(ComposeConnectionString(wrong)), HasSubstr("password authentication failed"));
}

}  // namespace
}  // namespace corvane::wizard::testing
