// Saving (`SaveStuff`) and Finish: every parameter written from the
// controls, one value at a time in a fixed order, then the offer to start
// or restart the service.
#include <fmt/format.h>

#include "service/host/parameters/column_switches.h"
#include "wizard/form1_model.h"

namespace corvane::wizard {

namespace {

constexpr const char* kServiceName = "Corvane Service";
constexpr const char* kTakesEffectLater =
    "Any changes made in the Corvane Configuration wizard will take effect the next time the service is started.";

}  // namespace

void Form1Model::Save(std::string_view name, std::string_view text) {
  if (auto failure = ports_.store->Write(name, text, parameters::TypeOf(name))) {
    saveFailed_ = true;
    ReportStoreFailure(*failure);
  }
}

void Form1Model::SaveSwitch(std::string_view name, bool on) { Save(name, on ? "1" : "0"); }

// Gives the time picker the date picker's date; false, changing nothing,
// when the date or the result is not a valid date and time.
bool Form1Model::CopyDateIntoTime() {
  const parameters::DateTime date = c_["DTPDate"].value;
  if (!parameters::IsValid(date)) return false;
  parameters::DateTime time = c_["DTPTime"].value;
  time.year = date.year;
  time.month = date.month;
  time.day = date.day;
  if (!parameters::IsValid(time)) return false;
  SetValue("DTPTime", time);
  return true;
}

void Form1Model::SaveStuff() {
  Save("Server", Text("txtServer"));
  Save("Mailbox", Text("TxtMailbox"));
  Save("LdapBindDN", Text("txtLdapBindDN"));
  Save("LdapPasswordFile", Text("txtLdapPasswordFile"));
  Save("LdapSaslMech", Text("txtLdapSaslMech"));
  SaveSwitch("UseAltProfile", Checked("ChkDynamicProfile"));
  Save("txtAltProfile", Text("txtAltProfile"));
  SaveSwitch("chkcontacts1", Checked("chkContacts_1"));
  SaveSwitch("chkcontacts0", Checked("chkContacts_0"));
  Save("localcontactname", Text("txtlocalcontactname"));
  Save("cmbsubs", Text("cmbsubs"));
  SaveSwitch("NoParse", Checked("chkparse"));
  SaveSwitch("NoSMTP", Checked("chksmtp"));
  SaveSwitch("NoExtraEvents", Checked("chkevents"));
  Save("PublishMode", Checked("chkPublishSwap") ? parameters::kPublishSwap : "");

  CopyDateIntoTime();

  Save("ConnectionString", Text("txtConnectionString"));
  Save("ConnectionStringnopw", Text("txtconnectionstringNoPass"));
  Save("MailProfile", Text("txtmailprofile"));
  Save("TableName", Text("txttblname"));
  Save("TempTableName", Text("txttmptblname"));

  const parameters::DateTime start = c_["DTPTime"].value;
  Save("StartTime", parameters::FormatDefaultDateTime(start));
  Save("OneTime", "0");
  Save("LastSuccessfulRun", "");
  Save("StartTime", parameters::FormatStoredDateTime(start));

  // A switched-off group stores its switch and empty values.
  auto group = [this](const char* box, const char* value, std::initializer_list<std::pair<const char*, const char*>> pairs) {
    const bool on = Checked(box);
    SaveSwitch(value, on);
    for (auto [name, control] : pairs) Save(name, on ? Text(control) : std::string());
  };
  group("chkdistlist", "DistList",
        {{"DistListName", "txtdistlistname"},
         {"DistListServer", "txtexchangeserver"},
         {"DistListOrg", "txtexchangeorganization"},
         {"DistListCon", "txtcontainer"},
         {"DistListFile", "txttempfile"}});
  group("chkexcludes", "Exclude", {{"ExcludeTableName", "txtexclusiontable"}, {"ExcludeFieldName", "cmbfields"}});
  group("chkbefore", "RunBefore", {{"RunBeforeCommand", "txtbefore"}});
  group("chkSQLbefore", "RunSQLBefore", {{"RunSQLBeforeCmd", "txtSQLBefore"}});
  group("chkafter", "RunAfter", {{"RunAfterCommand", "txtafter"}});
  group("ChkSQLAfter", "RunSQLAfter", {{"RunSQLAfterCmd", "txtSQLAfter"}});

  SaveSchedule();

  for (int i = 0; i < parameters::kColumnBoxCount; ++i) {
    const std::string box = Indexed("chkDBFields", i);
    SaveSwitch(Text(box), Checked(box));
  }
}

void Form1Model::SaveSchedule() {
  const int kind = ChosenIndex("Option1", kScheduleKinds);
  Save("ScheduleType", std::to_string(kind));
  auto ticked = [this](const char* array, int count) {
    std::vector<int> indexes;
    for (int i = 1; i <= count; ++i)
      if (Checked(Indexed(array, i))) indexes.push_back(i);
    return parameters::JoinList(indexes);
  };
  auto itemData = [this](const char* list) {
    const Control& c = c_[list];
    return c.listIndex < 0 ? std::string() : std::to_string(c.itemData[c.listIndex]);
  };
  switch (kind) {
    case 0: {
      const int day = ChosenIndex("Optday", 3);
      Save("ScheduleDay", std::to_string(day));
      Save("DayCount", day == 0 ? "1" : day == 1 ? "99" : Text("lstdays"));
      break;
    }
    case 1:
      Save("ScheduleWeek", Text("lstweek"));
      Save("WeekDays", ticked("chkweek", 7));
      break;
    case 2: {
      const int month = ChosenIndex("optmonthly", 2);
      Save("ScheduleMonth", std::to_string(month));
      if (month == 0) {
        Save("MonthDay", Text("lstmonth"));
      } else {
        Save("MonthOpt1", itemData("cmbmonth"));
        Save("MonthOpt2", itemData("cmbmonth2"));
      }
      Save("Months", ticked("chkmonth", 12));
      break;
    }
    case 3:
      Save("OneTime", "1");
      break;
    default:
      break;
  }
}

void Form1Model::Finish() {
  // The contact jobs need a profile: offer the mail profile first.
  if (Text("txtAltProfile").empty() && (Checked("chkContacts_0") || Checked("chkContacts_1"))) {
    SetText("txtAltProfile", Text("txtmailprofile"));
    BuildSummary();
    return;
  }
  SetEnabled("cmdback", false);
  SetEnabled("cmdNext", false);
  saveFailed_ = false;
  SaveStuff();
  if (saveFailed_) {
    // Ending now would pretend the settings took: stay, with the entries kept.
    view_.MessageBox(
        "Not every setting could be saved, so the Corvane Service was not started or restarted.\r\n\r\n"
        "Start the wizard as the service's user, or with \"sudo -E CorvaneWizard\", and finish it again.",
        kWizardTitle, MsgIcon::Critical);
    SetEnabled("cmdback", true);
    SetEnabled("cmdNext", true);
    return;
  }

  Failure failure;
  std::unique_ptr<SvcUtil> service = ports_.createSvcUtil(failure);
  if (!service) {
    view_.MessageBox(fmt::format("The Corvane Service cannot be started from here: {} (error {}).\r\n\r\n{}",
                                 failure.text, failure.number, kTakesEffectLater),
                     kWizardTitle, MsgIcon::Exclamation);
    view_.End();
    return;
  }
  service->SetTargetService(kServiceName);
  service->SetHostname(ports_.computerName);
  const std::string status = service->GetTargetServiceStatus();
  const char* question =
      status == "SERVICE_STOPPED"
          ? "The Corvane Service is currently stopped. Would you like to start the Corvane Service Now?"
      : status == "SERVICE_RUNNING"
          ? "The Corvane Service is currently RUNNING. Would you like to stop and re-start the Corvane Service Now?"
          : "The Corvane Service status is currently unknown. Would you like to attempt to start the Corvane Service "
            "Now?";
  if (view_.AskYesNo(question, kWizardTitle, MsgIcon::Question)) {
    if (service->GetTargetServiceStatus() == "SERVICE_RUNNING")
      service->BounceTargetService();
    else
      service->StartTargetService();
  } else {
    view_.MessageBox(kTakesEffectLater, kWizardTitle, MsgIcon::Information);
  }
  view_.End();
}

}  // namespace corvane::wizard
