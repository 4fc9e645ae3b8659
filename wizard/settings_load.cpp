// Loading: fills Form1's controls from the parameters key when the window
// opens. A missing value reads as empty and takes the control's default; a
// value that names no entry of its list leaves the list as it was.
#include <fmt/format.h>

#include "service/parameters/column_switches.h"
#include "wizard/form1_model.h"

namespace corvane::wizard {

namespace {

constexpr const char* kBuildHint = "Click Build to create a connect string! -->";
constexpr const char* kDefaultStartTime = "01-01-1990 10:10:10";

int Number(const std::string& text) { return parameters::ToInt32(text).value_or(0); }

}  // namespace

std::string Form1Model::Param(const std::string& name) const {
  return ports_.store->Read(name).value_or(std::string());
}

// A check box takes the number it was saved as: 1 ticks it.
bool Form1Model::SwitchParam(const std::string& name) const { return Number(Param(name)) == 1; }

void Form1Model::Load() {
  CheckStoreAccess();
  SetText("lblversion", fmt::format("Version: {}.{}", ports_.versionMajor, ports_.versionMinor));
  SetText("lblwelcome", "This program configures the Corvane Service.  \r\rClick Next to begin the configuration.");
  LoadAccount();
  FillFixedLists();
  const parameters::DateTime now = ports_.now();
  SetValue("DTPDate", now);
  SetValue("DTPTime", now);
  LoadValues();
  LoadSchedule();
  LoadFields();
  LoadOptions();
}

void Form1Model::Activate() { view_.Focus("cmdNext"); }

// Says once, before anything is edited, that the parameters key cannot be
// read or written by whoever started the wizard.
void Form1Model::CheckStoreAccess() {
  if (auto failure = ports_.store->CheckAccess()) ReportStoreFailure(*failure);
}

void Form1Model::ReportStoreFailure(const Failure& failure) {
  if (storeFailureShown_) return;
  storeFailureShown_ = true;
  view_.MessageBox(fmt::format("Connect: {}\r\n\r\n{}", failure.number, failure.text), kWizardTitle,
                   MsgIcon::Critical);
}

// The service's logon account ("ObjectName") decides the mail-access text
// and the default mailbox.
void Form1Model::LoadAccount() {
  const std::string& account = ports_.serviceAccount;
  const size_t slash = account.find('\\');
  const std::string userName = slash == std::string::npos ? account : account.substr(slash + 1);
  if (account.empty() || account == "LocalSystem") {
    SetText("lblmail",
            "The Corvane Service Requires access to the mail system.  \r\rThis system is currently configured to use "
            "the account '" +
                account +
                "'.  This type of configuration is not supported, unless LocalSystem has access to the Microsoft "
                "Exchange System.  \r\rIt is recommended that you close this wizard and change the service account "
                "for the Corvane Service.\r\rIf you choose to continue with this condition, type the name of the "
                "mailbox and server to use in the boxes below. ");
  } else {
    SetText("lblmail",
            "The Corvane Service Requires access to the mail system.  \r\rThe account that runs the Corvane Service "
            "is currently set to " +
                account + ".  This account must be able to logon to the mailbox on the server you specify below.\r\r");
  }
  SetText("TxtMailbox", Param("Mailbox"));
  SetText("txtServer", Param("Server"));
  SetText("txtLdapBindDN", Param("LdapBindDN"));
  SetText("txtLdapPasswordFile", Param("LdapPasswordFile"));
  SetText("txtLdapSaslMech", Param("LdapSaslMech"));
  if (Text("TxtMailbox").empty()) SetText("TxtMailbox", userName);
}

void Form1Model::LoadValues() {
  auto orDefault = [this](const char* name, const std::string& fallback) {
    std::string value = Param(name);
    return value.empty() ? fallback : value;
  };
  const std::string useAlt = Param("UseAltProfile");
  Tick("ChkDynamicProfile", useAlt.empty() || parameters::UseAltProfileOn(useAlt));
  SetText("txtAltProfile", Param("txtAltProfile"));
  SetText("txttmptblname", orDefault("TempTableName", "TEMP_GAL"));
  Type("txttblname", orDefault("TableName", "GAL"));  // also captions the exclusion box
  SetText("txtdistlistname", orDefault("DistListName", "CorvaneDistList"));
  SetText("txtexchangeserver", Param("DistListServer"));
  SetText("txtexchangeorganization", Param("DistListOrg"));
  SetText("txtcontainer", orDefault("DistListCon", "Recipients"));
  SetText("txttempfile", orDefault("DistListFile", ports_.distListFileDefault));
  Tick("chkdistlist", parameters::BooleanOn(Param("DistList")));

  // The hint stays a hint: an empty box must never be saved as a string.
  for (auto [box, value] : {std::pair{"txtConnectionString", "ConnectionString"},
                            std::pair{"txtconnectionstringNoPass", "ConnectionStringnopw"}}) {
    c_[box].placeholder = kBuildHint;
    SetText(box, Param(value));
  }
  SetText("txtmailprofile", orDefault("MailProfile", "TWCorvane"));
  SetText("txtexclusiontable", Param("ExcludeTableName"));
  Tick("chkexcludes", SwitchParam("Exclude"));
}

void Form1Model::LoadSchedule() {
  const int kind = Number(Param("ScheduleType"));
  if (kind >= 0 && kind < kScheduleKinds) Choose(Indexed("Option1", kind));

  const std::string stored = Param("StartTime");
  if (auto start = parameters::ParseDateTime(stored.empty() ? kDefaultStartTime : stored)) {
    SetValue("DTPDate", *start);
    SetValue("DTPTime", *start);
  }

  // A number that names no entry (a missing value among them) keeps the
  // entry selected so far, so a kind chosen later never saves an empty one.
  auto select = [this](const char* list, int index) {
    if (index >= 0) SetListIndex(list, index);
  };

  // Weekly.
  select("lstweek", Number(Param("ScheduleWeek")) - 1);
  auto tickListed = [this](const char* array, int count, const std::string& list) {
    for (int i = 1; i <= count; ++i) Tick(Indexed(array, i), false);
    for (const std::string& entry : parameters::SplitList(list)) {
      const int i = Number(entry);
      if (i >= 1 && i <= count) Tick(Indexed(array, i), true);
    }
  };
  tickListed("chkweek", 7, Param("WeekDays"));

  // Monthly.
  const int month = Number(Param("ScheduleMonth"));
  if (month == 0) {
    Choose("optmonthly_0");
    select("lstmonth", Number(Param("MonthDay")) - 1);
  } else if (month == 1) {
    Choose("optmonthly_1");
    select("cmbmonth", Number(Param("MonthOpt1")) - 1);
    const int weekday = Number(Param("MonthOpt2"));
    if (weekday >= 2 && weekday <= 7) SetListIndex("cmbmonth2", weekday - 2);
    if (weekday == 1) SetListIndex("cmbmonth2", 6);
  }
  tickListed("chkmonth", 12, Param("Months"));

  // Daily.
  const int day = Number(Param("ScheduleDay"));
  if (day >= 0 && day <= 2) Choose(Indexed("Optday", day));
  if (day == 2) select("lstdays", Number(Param("DayCount")) - 1);
}

void Form1Model::LoadFields() {
  bool any = false;
  std::vector<std::string> captions;
  for (int i = 0; i < parameters::kColumnBoxCount; ++i) {
    const std::string box = Indexed("chkDBFields", i);
    SetChecked(box, SwitchParam(Text(box)));
    any = any || Checked(box);
    captions.push_back(Text(box));
  }
  if (!any) {
    // A fresh configuration: the columns every export needs, stored at once.
    for (int i : {0, 1, 2, 3, 4, 5, 16, 17}) {
      const std::string box = Indexed("chkDBFields", i);
      SetChecked(box, true);
      Save(Text(box), "1");
    }
  }
  RebuildFieldLists();
  SetItems("cmbfields", captions);
  const std::string excluded = Param("ExcludeFieldName");
  for (size_t i = 0; i < captions.size(); ++i)
    if (captions[i] == excluded) SetListIndex("cmbfields", static_cast<int>(i));
}

void Form1Model::LoadOptions() {
  const std::pair<const char*, const char*> commands[] = {
      {"chkbefore", "RunBefore"}, {"chkSQLbefore", "RunSQLBefore"}, {"chkafter", "RunAfter"}, {"ChkSQLAfter", "RunSQLAfter"}};
  for (auto [box, value] : commands) Tick(box, SwitchParam(value));
  SetText("txtbefore", Param("RunBeforeCommand"));
  SetText("txtSQLBefore", Param("RunSQLBeforeCmd"));
  SetText("txtafter", Param("RunAfterCommand"));
  SetText("txtSQLAfter", Param("RunSQLAfterCmd"));

  // Without a stored choice the address parse is off, and with it the SMTP column.
  SetChecked("chksmtp", SwitchParam("NoSMTP"));
  const std::string noParse = Param("NoParse");
  Tick("chkparse", noParse.empty() || Number(noParse) == 1);

  Tick("chkevents", SwitchParam("NoExtraEvents"));
  SetChecked("chkPublishSwap", parameters::ToPublishMode(Param("PublishMode")) == parameters::PublishMode::Swap);
  Tick("chkContacts_0", SwitchParam("chkcontacts0"));
  Tick("chkContacts_1", SwitchParam("chkcontacts1"));
  SetText("txtlocalcontactname", Param("localcontactname"));
  const std::string folder = Param("cmbsubs");
  if (!folder.empty() && folder != "CorvaneContacts") SetItems("cmbsubs", {folder});
  // The stored folder stays shown even while the sync is off, so saving
  // keeps it.
  if (Checked("chkContacts_1") || !folder.empty()) SetListIndex("cmbsubs", 0);

  for (const char* box : {"chkbefore", "chkSQLbefore", "chkafter", "ChkSQLAfter", "chkexcludes"}) OnCheckBox(box);
}

}  // namespace corvane::wizard
