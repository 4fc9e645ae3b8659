// The wizard's rules without a display: loading, saving, the connection
// string's shown copy, the summary, page movement and Finish.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "service/parameters/column_switches.h"
#include "tests/wizard/wizard_fixture.h"

namespace corvane::wizard::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using registry::ValueType;

const std::vector<std::string> kDefaultColumns = {"GIVEN_NAME", "INITIALS", "SURNAME", "DISPLAY_NAME",
                                                  "DISPLAY_NAME_7BIT", "ENTRY_ID", "DISPLAY_TYPE",
                                                  "EMS_AB_PROXY_ADDRESSES"};

// --- Loading ---------------------------------------------------------------

TEST(WizardLoad, FreshMachineShowsTheDefaultsAndStoresTheEightColumnsAtOnce) {
  WizardHarness h;
  Form1Model& m = h.Open("");
  for (auto [box, text] : {std::pair{"txttmptblname", "TEMP_GAL"}, {"txttblname", "GAL"},
                           {"txtmailprofile", "TWCorvane"}, {"txtdistlistname", "CorvaneDistList"},
                           {"txtcontainer", "Recipients"}, {"txttempfile", "/opt/corvane/dstemp.csv"},
                           {"lblversion", "Version: 4.1"}, {"TxtMailbox", ""}})
    EXPECT_EQ(m.Get(box).text, text) << box;
  for (const char* box : {"txtConnectionString", "txtconnectionstringNoPass"}) {
    EXPECT_EQ(m.Get(box).text, "") << box;
    EXPECT_EQ(m.Get(box).placeholder, "Click Build to create a connect string! -->");
  }
  EXPECT_TRUE(m.Get("chkparse").checked);
  EXPECT_TRUE(m.Get("chksmtp").checked);
  EXPECT_FALSE(m.Get("chksmtp").enabled);
  EXPECT_EQ(m.Get("lstselectedfields").items, kDefaultColumns);
  EXPECT_EQ(m.Get("lstexchangefields").items.size(), 36u);
  std::map<std::string, std::string> stored;
  for (const auto& column : kDefaultColumns) stored[column] = "1";
  EXPECT_EQ(h.AllStored(), stored);
  EXPECT_THAT(m.Get("lblmail").text, HasSubstr("use the account ''.  This type of configuration is not supported"));
  EXPECT_TRUE(m.Get("Option1_0").checked);
  EXPECT_TRUE(m.Get("frm_0").visible);
  EXPECT_FALSE(m.Get("cmdback").enabled);
  EXPECT_EQ(m.Get("DTPDate").value, (parameters::DateTime{1990, 1, 1, 10, 10, 10}));
  EXPECT_TRUE(h.view.messages.empty());
}

TEST(WizardLoad, TheServiceAccountNamesTheMailAccessAndTheDefaultMailbox) {
  struct Case {
    std::string account, label, mailbox;
  };
  const Case cases[] = {
      {"EXAMPLE\\svc-corvane",
       "The Corvane Service Requires access to the mail system.  \r\rThe account that runs the Corvane Service is "
       "currently set to EXAMPLE\\svc-corvane.  This account must be able to logon to the mailbox on the server you "
       "specify below.\r\r",
       "svc-corvane"},
      {"corvane", "currently set to corvane.", "corvane"},
      {"LocalSystem", "configured to use the account 'LocalSystem'.  This type", "LocalSystem"},
  };
  for (const Case& c : cases) {
    WizardHarness h;
    Form1Model& m = h.Open(c.account);
    EXPECT_THAT(m.Get("lblmail").text, HasSubstr(c.label)) << c.account;
    EXPECT_EQ(m.Get("TxtMailbox").text, c.mailbox) << c.account;
  }
  WizardHarness stored;
  registry::Hive(stored.hiveFile()).Set(registry::kParametersKeyPath, "Mailbox", registry::Value::Sz("gal-reader"));
  EXPECT_EQ(stored.Open().Get("TxtMailbox").text, "gal-reader");
}

// --- Saving and loading back -------------------------------------------------

struct ScheduleCase {
  const char* name;
  std::function<void(Form1Model&)> choose;
  const char* summaryLine;  // the summary's schedule line
};

const parameters::DateTime kStart{2024, 4, 30, 3, 5, 0};

void PickStart(Form1Model& m) {
  m.Pick("DTPDate", {kStart.year, kStart.month, kStart.day, 0, 0, 0});
  m.Pick("DTPTime", {2000, 1, 1, kStart.hour, kStart.minute, kStart.second});
}

const std::vector<ScheduleCase>& ScheduleCases() {
  static const std::vector<ScheduleCase> cases = {
      {"daily", [](Form1Model& m) { m.Choose("Option1_0"); PickStart(m); },
       "Schedule: Every Day, starting 4/30/2024 3:05:00 AM"},
      {"weekdays", [](Form1Model& m) { m.Choose("Option1_0"); m.Choose("Optday_1"); PickStart(m); },
       "Schedule: Weekdays, starting 4/30/2024 3:05:00 AM"},
      {"every day as N", [](Form1Model& m) { m.Choose("Option1_0"); m.Choose("Optday_2"); PickStart(m); },
       "Schedule: Every 1 day, starting 4/30/2024 3:05:00 AM"},
      {"every 3 days",
       [](Form1Model& m) {
         m.Choose("Option1_0");
         m.Choose("Optday_2");
         m.Select("lstdays", 2);
         PickStart(m);
       },
       "Schedule: Every 3 days, starting 4/30/2024 3:05:00 AM"},
      {"weekly",
       [](Form1Model& m) {
         m.Choose("Option1_1");
         m.Select("lstweek", 1);
         m.Tick("chkweek_6", true);
         m.Tick("chkweek_1", true);
       },
       "Schedule: Every 2 week(s), on Sunday, Friday starting at 3/5/2024 2:30:00 PM"},
      {"monthly day",
       [](Form1Model& m) {
         m.Choose("Option1_2");
         m.Select("lstmonth", 14);
         m.Tick("chkmonth_1", true);
         m.Tick("chkmonth_7", true);
       },
       "Schedule: Day 15 of the months: Jan, Jul starting at 3/5/2024 2:30:00 PM"},
      {"monthly weekday",
       [](Form1Model& m) {
         m.Choose("Option1_2");
         m.Choose("optmonthly_1");
         m.Select("cmbmonth", 2);
         m.Select("cmbmonth2", 6);
         m.Tick("chkmonth_12", true);
       },
       "Schedule: The third Sunday of the month(s): Dec starting at 3/5/2024 2:30:00 PM"},
      {"one time", [](Form1Model& m) { m.Choose("Option1_3"); PickStart(m); }, "Schedule: One Time Only"},
      {"start-up", [](Form1Model& m) { m.Choose("Option1_4"); }, "Schedule: On Computer Startup"},
      {"never", [](Form1Model& m) { m.Choose("Option1_5"); }, "Schedule: Never!"},
      {"continuously", [](Form1Model& m) { m.Choose("Option1_6"); },
       "Schedule: Continuously.  Starts immediately following last run."},
  };
  return cases;
}

TEST(WizardSave, EveryScheduleKindLoadsBackIntoTheValuesItWasSavedFrom) {
  for (const ScheduleCase& c : ScheduleCases()) {
    SCOPED_TRACE(c.name);
    WizardHarness first;
    Form1Model& saved = first.Open();
    FillConfiguration(saved);
    c.choose(saved);
    saved.SaveStuff();
    const auto stored = first.AllStored();

    WizardHarness second(first.hiveFile());
    Form1Model& loaded = second.Open();
    for (const auto& [name, control] : saved.All().All()) {
      if (name == "lstexchangefields" || name == "lstselectedfields") continue;  // selection only
      EXPECT_EQ(loaded.Get(name).text, control.text) << name;
      EXPECT_EQ(loaded.Get(name).checked, control.checked) << name;
      EXPECT_EQ(loaded.Get(name).enabled, control.enabled) << name;
    }
    EXPECT_EQ(loaded.Get("DTPTime").value, saved.Get("DTPTime").value);
    loaded.SaveStuff();
    EXPECT_EQ(first.AllStored(), stored);
  }
}

TEST(WizardSave, WritesEveryValueInOrderWithItsType) {
  WizardHarness h;
  Form1Model& m = h.Open();
  FillConfiguration(m);
  m.Choose("Option1_1");
  m.Tick("chkweek_4", true);
  m.Tick("chkweek_2", true);
  h.recording()->writes.clear();
  m.SaveStuff();

  const ValueType SZ = ValueType::String, EXPAND = ValueType::ExpandString;
  std::vector<std::tuple<std::string, std::string, ValueType>> expected = {
      {"Server", "ldap://dc1.example.org/DC=example,DC=org??sub", SZ},
      {"Mailbox", "svc-gal", SZ},
      {"LdapBindDN", "CN=svc-gal,OU=Service,DC=example,DC=org", SZ},
      {"LdapPasswordFile", "/var/lib/corvane/ldap-password", SZ},
      {"LdapSaslMech", "", SZ},
      {"UseAltProfile", "0", SZ},
      {"txtAltProfile", "CONTACTS", SZ},
      {"chkcontacts1", "1", SZ},
      {"chkcontacts0", "1", SZ},
      {"localcontactname", "Staff", SZ},
      {"cmbsubs", "Company\\Staff", SZ},
      {"NoParse", "0", SZ},
      {"NoSMTP", "0", SZ},
      {"NoExtraEvents", "1", SZ},
      {"PublishMode", "swap", SZ},
      {"ConnectionString", "Driver={PostgreSQL Unicode};Server=db;Database=gal;Uid=corvane;Pwd=s3cret;CommLog=0",
       EXPAND},
      {"ConnectionStringnopw", "Driver={PostgreSQL Unicode};Server=db;Database=gal;Uid=corvane;Pwd=EXISTS;CommLog=0",
       EXPAND},
      {"MailProfile", "GALPROFILE", SZ},
      {"TableName", "ADDRESSES", SZ},
      {"TempTableName", "ADDRESSES_TMP", SZ},
      {"StartTime", "3/5/2024 2:30:00 PM", SZ},
      {"OneTime", "0", SZ},
      {"LastSuccessfulRun", "", SZ},
      {"StartTime", "3-5-2024 14:30:0 PM", SZ},
      {"DistList", "1", SZ},
      {"DistListName", "Everyone", SZ},
      {"DistListServer", "dc1", SZ},
      {"DistListOrg", "DC=example,DC=org", SZ},
      {"DistListCon", "OU=Lists", SZ},
      {"DistListFile", "/var/lib/corvane/dl.csv", SZ},
      {"Exclude", "1", SZ},
      {"ExcludeTableName", "SKIPPED", SZ},
      {"ExcludeFieldName", "DISPLAY_NAME", SZ},
      {"RunBefore", "1", SZ},
      {"RunBeforeCommand", "/usr/local/bin/before.sh", SZ},
      {"RunSQLBefore", "1", SZ},
      {"RunSQLBeforeCmd", "delete from audit", EXPAND},
      {"RunAfter", "1", SZ},
      {"RunAfterCommand", "/usr/local/bin/after.sh", SZ},
      {"RunSQLAfter", "1", SZ},
      {"RunSQLAfterCmd", "update ADDRESSES set TITLE = '' where TITLE is null; analyze", EXPAND},
      {"ScheduleType", "1", SZ},
      {"ScheduleWeek", "1", SZ},
      {"WeekDays", "2,4", SZ},
  };
  for (int i = 0; i < parameters::kColumnBoxCount; ++i) {
    const auto name = std::string(parameters::kColumnBoxes[i].ParameterName());
    const bool on = std::find(kDefaultColumns.begin(), kDefaultColumns.end(), name) != kDefaultColumns.end() ||
                    name == "TITLE" || name == "COMPANY_NAME";
    expected.emplace_back(name, on ? "1" : "0", SZ);
  }
  std::vector<std::tuple<std::string, std::string, ValueType>> written;
  for (const auto& w : h.recording()->writes) written.emplace_back(w.name, w.text, w.type);
  EXPECT_EQ(written, expected);
  EXPECT_EQ(registry::Hive(h.hiveFile()).Get(registry::kParametersKeyPath, "RunSQLBeforeCmd")->type, EXPAND);

  // Switched-off groups store "0" and empty values.
  m.Tick("chkdistlist", false);
  m.Tick("chkexcludes", false);
  m.SaveStuff();
  for (const char* name : {"DistListName", "DistListServer", "DistListOrg", "DistListCon", "DistListFile",
                           "ExcludeTableName", "ExcludeFieldName"})
    EXPECT_EQ(h.Stored(name), "") << name;
  EXPECT_EQ(h.Stored("DistList"), "0");
  EXPECT_EQ(h.Stored("Exclude"), "0");
}

// --- The connection string's shown copy --------------------------------------

TEST(WizardConnectionString, TheShownCopyHidesThePasswordAndAStringWithoutOneIsQuestioned) {
  struct Case {
    std::string built, shown;
    bool questioned;
  };
  const Case cases[] = {
      {"Provider=SQLOLEDB;Password=a1;User ID=sa;Initial Catalog=gal",
       "Provider=SQLOLEDB;Password=EXISTS;User ID=sa;Initial Catalog=gal", false},
      {"Driver=FreeTDS;Server=h;password=a1", "Driver=FreeTDS;Server=h;password=EXISTS", false},
      {"Driver={PostgreSQL Unicode};Server=h;Uid=u;Pwd={se;cret};CommLog=0",
       "Driver={PostgreSQL Unicode};Server=h;Uid=u;Pwd=EXISTS;CommLog=0", false},
      // Only a driver that takes a password is questioned: not SQLite's database file.
      {"Driver=SQLite3;Database=/var/lib/corvane/gal.db", "Driver=SQLite3;Database=/var/lib/corvane/gal.db", false},
      {"Driver={PostgreSQL Unicode};Server=h;Uid=u", "Driver={PostgreSQL Unicode};Server=h;Uid=u", true},
      {"DSN=gal", "DSN=gal", true},
      {"Provider=SQLOLEDB;Integrated Security=SSPI;Data Source=h", "Provider=SQLOLEDB;Integrated Security=SSPI;Data Source=h",
       false},
  };
  for (const Case& c : cases) {
    WizardHarness h;
    Form1Model& m = h.Open();
    h.view.built = c.built;
    m.Click("cmdchangedb");
    EXPECT_EQ(m.Get("txtConnectionString").text, c.built);
    EXPECT_EQ(m.Get("txtconnectionstringNoPass").text, c.shown);
    ASSERT_EQ(h.view.messages.size(), c.questioned ? 1u : 0u) << c.built;
    if (c.questioned) {
      EXPECT_EQ(h.view.messages[0].title, "Password not Saved!");
      EXPECT_THAT(h.view.messages[0].text, StartsWith("A password does not appear to be part of the connection "
                                                      "string that was entered.\r\n\r\nThis is generally"));
    }
  }
}

// --- Summary -------------------------------------------------------------------

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(text.substr(start, end - start));
  EXPECT_EQ(start, text.size()) << "every line ends in CR LF";
  return lines;
}

TEST(WizardSummary, SaysWhatWillBeSavedWithEveryScheduleKind) {
  for (const ScheduleCase& c : ScheduleCases()) {
    WizardHarness h;
    Form1Model& m = h.Open();
    FillConfiguration(m);
    c.choose(m);
    ASSERT_TRUE(m.BuildSummary());
    const auto lines = Lines(m.Get("txtsummary").text);
    ASSERT_GT(lines.size(), 20u);
    EXPECT_EQ(lines[17], c.summaryLine) << c.name;
  }
  WizardHarness h;
  Form1Model& m = h.Open();
  FillConfiguration(m);
  ASSERT_TRUE(m.BuildSummary());
  EXPECT_THAT(
      Lines(m.Get("txtsummary").text),
      ElementsAre("Use the following Database connect string: Driver={PostgreSQL Unicode};Server=db;Database=gal;"
                  "Uid=corvane;Pwd=EXISTS;CommLog=0(password removed)",
                  "TableNames: ADDRESSES (ADDRESSES_TMP)", "",
                  "Exch: ldap://dc1.example.org/DC=example,DC=org??sub Mailbox: svc-gal", "", "Fields: ", "GIVEN_NAME",
                  "INITIALS", "SURNAME", "DISPLAY_NAME", "DISPLAY_NAME_7BIT", "ENTRY_ID", "TITLE", "COMPANY_NAME",
                  "DISPLAY_TYPE", "EMS_AB_PROXY_ADDRESSES", "", "Schedule: Every Day, starting 1/1/1990 10:10:10 AM",
                  "Exclude items found in the column: DISPLAY_NAME in the table: SKIPPED from the new table.", "",
                  "The new table is published only when it is complete.", "", "Distribution list update selected.", "", "Public Folder update selected. Profile: CONTACTS", "",
                  "Local Contacts update selected. Profile: CONTACTS"));
  EXPECT_EQ(m.Get("cmdNext").text, "&Finish");
}

// --- Pages ---------------------------------------------------------------------

TEST(WizardPages, TheFinishTabChecksTheRequiredFieldsAndNextShowsTheSummaryAnyway) {
  WizardHarness h;
  Form1Model& m = h.Open();
  m.Type("txtConnectionString", "Driver=SQLite3;Database=/tmp/gal.db");
  // The Finish tab with no mail profile: the message, no summary.
  m.Type("txtmailprofile", "");
  m.ClickTab(7);
  ASSERT_EQ(h.view.messages.size(), 1u);
  EXPECT_EQ(h.view.messages[0].text,
            "Missing DB connection information, tablename, or mail profile name. Please correct the required fields.");
  EXPECT_EQ(h.view.messages[0].icon, MsgIcon::Critical);
  EXPECT_EQ(m.Get("txtsummary").text, "");
  EXPECT_EQ(m.Get("cmdNext").text, "&Next >>");
  // Reaching it with Next: the message, then the summary.
  m.ClickTab(6);
  m.Click("cmdNext");
  EXPECT_EQ(h.view.messages.size(), 2u);
  EXPECT_EQ(m.VisiblePage(), 7);
  EXPECT_NE(m.Get("txtsummary").text, "");
  EXPECT_EQ(m.Get("cmdNext").text, "&Finish");
}

TEST(WizardPages, AnInvalidStartDateReturnsToTheSchedulePage) {
  WizardHarness h;
  Form1Model& m = h.Open();
  m.Type("txtConnectionString", "DSN=gal");
  m.Pick("DTPDate", {2023, 2, 30, 0, 0, 0});
  m.ClickTab(6);
  m.Click("cmdNext");
  ASSERT_EQ(h.view.messages.size(), 1u);
  EXPECT_EQ(h.view.messages[0].title, "Invalid Date");
  EXPECT_EQ(h.view.messages[0].text, "The date entered is not valid.");
  EXPECT_EQ(m.VisiblePage(), 4);
  EXPECT_EQ(m.Get("TabStrip1").listIndex, 4);
  EXPECT_EQ(m.Get("cmdNext").text, "&Next >>");
}

TEST(WizardPages, TheSchedulePageKeepsAOneTimeStartThatIsStillAheadAndSaysWhenOneHasPassed) {
  WizardHarness h;
  Form1Model& m = h.Open();
  m.Type("txtServer", "dc1");
  m.Choose("Option1_3");
  // As the window picks: the date field's day, the time field's time of day.
  m.Pick("DTPDate", {2024, 3, 6, 14, 30, 0});  // tomorrow
  m.Pick("DTPTime", {2024, 3, 5, 6, 0, 0});    // earlier in the day than now
  m.ClickTab(5);
  m.Click("cmdback");
  EXPECT_EQ(m.Get("DTPDate").value, (parameters::DateTime{2024, 3, 6, 14, 30, 0}));
  EXPECT_EQ(m.Get("DTPTime").value, (parameters::DateTime{2024, 3, 5, 6, 0, 0}));
  EXPECT_TRUE(h.view.messages.empty());
  m.SaveStuff();
  EXPECT_EQ(h.Stored("StartTime"), "3-6-2024 6:0:0 AM");

  m.Pick("DTPDate", {2024, 3, 5, 14, 30, 0});  // today, 6 AM: passed
  m.ClickTab(4);
  EXPECT_EQ(m.Get("DTPDate").value, kNow);
  EXPECT_EQ(m.Get("DTPTime").value, kNow);
  ASSERT_EQ(h.view.messages.size(), 1u);
  EXPECT_THAT(h.view.messages[0].text, HasSubstr("3/5/2024 6:00:00 AM, has passed, so it is now 3/5/2024 2:30:00 PM"));
}

// --- Control reactions ------------------------------------------------------------

TEST(WizardReactions, TickingNoParseForcesAndLocksNoSmtp) {
  WizardHarness h;
  registry::Hive(h.hiveFile()).Set(registry::kParametersKeyPath, "NoParse", registry::Value::Sz("0"));
  Form1Model& m = h.Open();
  EXPECT_FALSE(m.Get("chkparse").checked);
  EXPECT_TRUE(m.Get("chksmtp").enabled);
  m.Tick("chkparse", true);
  EXPECT_TRUE(m.Get("chksmtp").checked);
  EXPECT_FALSE(m.Get("chksmtp").enabled);
  m.Tick("chkparse", false);
  EXPECT_TRUE(m.Get("chksmtp").checked);
  EXPECT_TRUE(m.Get("chksmtp").enabled);
}

TEST(WizardReactions, PublicFoldersFillTheListAndAFailureIsSaid) {
  WizardHarness h;
  Form1Model& m = h.Open();
  h.folders = {{"Company", "Sales"}, Failure{-2147221233, "not found"}};
  m.Click("cmdPopulate");
  EXPECT_TRUE(m.Get("chkContacts_1").checked);
  EXPECT_TRUE(m.Get("cmbsubs").enabled);
  EXPECT_THAT(m.Get("cmbsubs").items, ElementsAre("Corvane Contacts", "Company", "Sales"));
  ASSERT_EQ(h.view.messages.size(), 1u);
  EXPECT_THAT(h.view.messages[0].text, HasSubstr("not found (error -2147221233)"));
}

// --- Finish ----------------------------------------------------------------------

TEST(WizardFinish, OffersToStartOrRestartTheServiceByItsStatus) {
  struct Case {
    std::vector<std::string> statuses;
    bool yes;
    std::string question;
    std::vector<std::string> calls;  // after the first status query
  };
  const Case cases[] = {
      {{"SERVICE_STOPPED", "SERVICE_STOPPED", "SERVICE_RUNNING"}, true,
       "The Corvane Service is currently stopped. Would you like to start the Corvane Service Now?",
       {"GetTargetServiceStatus", "StartTargetService", "GetTargetServiceStatus"}},
      {{"SERVICE_RUNNING", "SERVICE_RUNNING", "SERVICE_RUNNING"}, true,
       "The Corvane Service is currently RUNNING. Would you like to stop and re-start the Corvane Service Now?",
       {"GetTargetServiceStatus", "BounceTargetService", "GetTargetServiceStatus"}},
      {{"SERVICE_STATUS_UNKNOWN", "SERVICE_START_PENDING", "SERVICE_RUNNING"}, true,
       "The Corvane Service status is currently unknown. Would you like to attempt to start the Corvane Service Now?",
       {"GetTargetServiceStatus", "StartTargetService", "GetTargetServiceStatus"}},
      {{"SERVICE_RUNNING"}, false,
       "The Corvane Service is currently RUNNING. Would you like to stop and re-start the Corvane Service Now?", {}},
  };
  for (const Case& c : cases) {
    WizardHarness h;
    Form1Model& m = h.Open();
    m.Type("txtConnectionString", "DSN=gal");
    m.Type("txtServer", "dc1");
    m.ClickTab(7);
    h.statuses.assign(c.statuses.begin(), c.statuses.end());
    h.view.answers = {c.yes};
    m.Click("cmdNext");
    std::vector<std::string> expected = {"TargetService=Corvane Service", "hostname=gal-host",
                                         "GetTargetServiceStatus"};
    expected.insert(expected.end(), c.calls.begin(), c.calls.end());
    EXPECT_EQ(h.serviceCalls, expected) << c.question;
    ASSERT_EQ(h.view.messages.size(), c.yes ? 1u : 2u);
    EXPECT_EQ(h.view.messages[0].text, c.question);
    if (!c.yes) {
      ASSERT_EQ(h.view.messages.size(), 2u);
      EXPECT_EQ(h.view.messages[1].text,
                "Any changes made in the Corvane Configuration wizard will take effect the next time the service is "
                "started.");
    }
    EXPECT_EQ(h.Stored("ConnectionString"), "DSN=gal");
    EXPECT_FALSE(m.Get("cmdNext").enabled);
    EXPECT_TRUE(h.view.ended);
  }
}

TEST(WizardFinish, ContactJobsGetTheMailProfileFirstAndAMissingComponentIsSaid) {
  WizardHarness h;
  Form1Model& m = h.Open();
  m.Type("txtConnectionString", "DSN=gal");
  m.Type("txtServer", "dc1");
  m.Tick("ChkDynamicProfile", false);
  m.Type("txtAltProfile", "");
  m.Tick("chkContacts_0", true);
  m.ClickTab(7);
  m.Click("cmdNext");
  EXPECT_EQ(m.Get("txtAltProfile").text, "TWCorvane");
  EXPECT_EQ(h.Stored("ConnectionString"), std::nullopt);
  EXPECT_FALSE(h.view.ended);

  h.serviceCreatable = false;
  m.Click("cmdNext");
  EXPECT_EQ(h.Stored("txtAltProfile"), "TWCorvane");
  ASSERT_EQ(h.view.messages.size(), 1u);
  EXPECT_THAT(h.view.messages[0].text, HasSubstr("ActiveX component can't create object (error 429)"));
  EXPECT_TRUE(h.view.ended);
}

TEST(WizardFinish, ASettingsFileThatCannotBeWrittenIsSaidOnceAndTheWizardStays) {
  TempFolder folder;
  std::ofstream(folder.path() / "not-a-folder") << "x";
  WizardHarness h(folder.path() / "not-a-folder" / "registry.hive");
  Form1Model& m = h.Open();
  m.Type("txtConnectionString", "DSN=gal");
  m.Type("txtServer", "dc1");
  m.ClickTab(7);
  m.Click("cmdNext");
  ASSERT_EQ(h.view.messages.size(), 2u);
  EXPECT_THAT(h.view.messages[0].text, StartsWith("Connect: 20\r\n\r\n"));  // ENOTDIR, at the first write
  EXPECT_THAT(h.view.messages[1].text, StartsWith("Not every setting could be saved"));
  EXPECT_FALSE(h.view.ended);
  EXPECT_TRUE(m.Get("cmdNext").enabled);
  EXPECT_TRUE(h.serviceCalls.empty());

  // A damaged settings file is said when the window opens.
  WizardHarness damaged;
  std::ofstream(damaged.hiveFile()) << "[SYSTEM\\x]\nnot a value line\n";
  damaged.Open();
  ASSERT_EQ(damaged.view.messages.size(), 1u);
  EXPECT_THAT(damaged.view.messages[0].text, HasSubstr("registry.hive:2"));
}

TEST(WizardFinish, WhatTheServiceLacksIsSaidWhereItIsEntered) {
  // No mailbox and no server: warned, and saved all the same.
  WizardHarness h;
  Form1Model& m = h.Open("");
  m.Type("txtConnectionString", "DSN=gal");
  m.ClickTab(7);
  h.view.answers = {false};
  m.Click("cmdNext");
  ASSERT_EQ(h.view.messages.size(), 3u);
  EXPECT_THAT(h.view.messages[0].text, StartsWith("Missing on the Microsoft Exchange page: Mailbox, Server (directory)."));
  EXPECT_EQ(h.Stored("Mailbox"), "");
  EXPECT_TRUE(h.view.ended);

  // Contacts exports without any mail profile: said, on the Exports page, and nothing saved.
  WizardHarness p;
  Form1Model& n = p.Open();
  n.Type("txtConnectionString", "DSN=gal");
  n.Tick("ChkDynamicProfile", false);
  n.Type("txtAltProfile", "");
  n.Type("txtmailprofile", "");
  n.Tick("chkContacts_1", true);
  n.ClickTab(6);
  n.Click("cmdNext");  // the required-fields message, then the summary
  n.Click("cmdNext");
  ASSERT_EQ(p.view.messages.size(), 2u);
  EXPECT_THAT(p.view.messages[1].text, HasSubstr("\"Mail profile for contacts\" on the Exports page"));
  EXPECT_EQ(n.VisiblePage(), 5);
  EXPECT_EQ(p.view.focus, "txtAltProfile");
  EXPECT_EQ(p.Stored("ConnectionString"), std::nullopt);
  EXPECT_FALSE(p.view.ended);
}

// After Yes the wizard reads the status again; a service that does not run
// is said, with why and the command that starts it.
TEST(WizardFinish, AServiceThatDoesNotRunAfterTheStartIsSaidWithWhy) {
  struct Case {
    std::optional<Failure> failure;
    std::string status, why;
  };
  const Case cases[] = {
      {Failure{5, "access denied"}, "SERVICE_STOPPED", "Why: access denied (error 5)."},
      {std::nullopt, "SERVICE_STOPPED",
       "Why: it stopped again after it was started; its log says why: journalctl -u 'Corvane\\x20Service.service'."},
      {std::nullopt, "SERVICE_START_PENDING", "Why: systemd is still starting it."},
  };
  for (const Case& c : cases) {
    WizardHarness h;
    Form1Model& m = h.Open();
    m.Type("txtConnectionString", "DSN=gal");
    m.Type("txtServer", "dc1");
    m.ClickTab(7);
    h.statuses = {"SERVICE_STOPPED", "SERVICE_STOPPED", c.status};
    h.requestFailure = c.failure;
    h.view.answers = {true};
    m.Click("cmdNext");
    ASSERT_EQ(h.view.messages.size(), 2u);
    EXPECT_THAT(h.view.messages[1].text, StartsWith("The Corvane Service is not running after the start: its status is " +
                                                    c.status + ".\r\n\r\n" + c.why));
    EXPECT_THAT(h.view.messages[1].text, HasSubstr("sudo systemctl start 'Corvane\\x20Service.service'"));
    EXPECT_TRUE(h.view.ended);
  }
}

TEST(WizardFinish, TheWaitForTheServiceShowsItselfKeepsThePagesAndCancelEndsIt) {
  WizardHarness h;
  Form1Model& m = h.Open();
  m.Type("txtConnectionString", "DSN=gal");
  m.Type("txtServer", "dc1");
  m.ClickTab(7);
  h.statuses = {"SERVICE_RUNNING", "SERVICE_RUNNING"};
  h.view.answers = {true};
  h.waitStatuses = {"SERVICE_STOP_PENDING", "SERVICE_START_PENDING", "SERVICE_START_PENDING"};
  int rounds = 0;
  h.duringWait = [&] {
    ++rounds;
    EXPECT_EQ(h.view.busy, std::vector<bool>{true});
    EXPECT_TRUE(m.Get("lblservicestatus").visible);
    EXPECT_FALSE(m.Get("TabStrip1").enabled);
    m.ClickTab(3);
    m.Click("cmdback");
    EXPECT_EQ(m.VisiblePage(), 7);
    EXPECT_FALSE(m.Get("cmdback").enabled);
    if (rounds == 2) {
      EXPECT_EQ(m.Get("lblservicestatus").text,
                "Restarting the Corvane Service... Status: SERVICE_START_PENDING. Cancel stops waiting.");
      m.Click("cmdCancel");
      EXPECT_FALSE(h.view.ended);
    }
  };
  m.Click("cmdNext");
  EXPECT_EQ(rounds, 2);
  EXPECT_EQ(h.serviceCalls.back(), "CancelWait");  // no status read after it
  EXPECT_EQ(h.view.busy, (std::vector<bool>{true, false}));
  EXPECT_EQ(h.view.messages.back().text,
            "The wait for the Corvane Service was cancelled. The service is left in whatever state systemd brings it "
            "to.");
  EXPECT_TRUE(h.view.ended);
}

}  // namespace
}  // namespace corvane::wizard::testing
