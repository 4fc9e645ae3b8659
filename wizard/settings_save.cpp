// Saving (`SaveStuff`) and Finish: every parameter written from the
// controls, one value at a time in a fixed order, then the offer to start
// or restart the service.
#include <fmt/format.h>

#include "service/parameters/column_switches.h"
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
  if (!ProfileForContactsGiven()) return;
  WarnWhatTheServiceLacks();
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
  if (view_.AskYesNo(question, kWizardTitle, MsgIcon::Question))
    StartOrRestart(*service, service->GetTargetServiceStatus() == "SERVICE_RUNNING");
  else
    view_.MessageBox(kTakesEffectLater, kWizardTitle, MsgIcon::Information);
  view_.End();
}

// The contact jobs need a profile: the mail profile is offered first, and
// when there is none either, the administrator is told where to enter one.
// False when nothing may be saved yet.
bool Form1Model::ProfileForContactsGiven() {
  if (!Text("txtAltProfile").empty() || !(Checked("chkContacts_0") || Checked("chkContacts_1"))) return true;
  SetText("txtAltProfile", Text("txtmailprofile"));
  if (!Text("txtAltProfile").empty()) {
    BuildSummary();
    return false;
  }
  ClickTab(kExportsPage);
  view_.MessageBox(
      "The contacts exports need a mail profile, and none is given: type one in \"Mail profile for contacts\" on "
      "the Exports page, or tick \"Use the same Mail Profile created during the database import.\"",
      kWizardTitle, MsgIcon::Exclamation);
  view_.Focus("txtAltProfile");
  return false;
}

// The service ends itself at its first run without a mailbox or a server:
// say so before saving, and save all the same.
void Form1Model::WarnWhatTheServiceLacks() {
  std::vector<std::string> missing;
  if (Text("TxtMailbox").empty()) missing.emplace_back("Mailbox");
  if (Text("txtServer").empty()) missing.emplace_back("Server (directory)");
  if (missing.empty()) return;
  view_.MessageBox(fmt::format("Missing on the Microsoft Exchange page: {}.\r\n\r\nThe Corvane Service ends itself "
                               "at its first run until this is filled in. The settings are saved as they are.",
                               fmt::join(missing, ", ")),
                   kWizardTitle, MsgIcon::Exclamation);
}

// Starts or restarts the service and waits for it, showing that the wizard
// waits: a busy cursor, the service's status below the pages, and no other
// page or Back meanwhile; Cancel ends the wait. Afterwards the status is
// read again, and a service that does not run is said, with why.
void Form1Model::StartOrRestart(SvcUtil& service, bool restart) {
  const std::string doing = restart ? "Restarting the Corvane Service" : "Starting the Corvane Service";
  auto showStatus = [this, doing](const std::string& status) {
    if (!waitCancelled_)
      SetText("lblservicestatus", doing + "... Status: " + (status.empty() ? "requested" : status) +
                                      ". Cancel stops waiting.");
  };
  waitingService_ = &service;
  waitCancelled_ = false;
  SetEnabled("TabStrip1", false);
  SetEnabled("cmdback", false);
  showStatus("");
  SetVisible("lblservicestatus", true);
  view_.ShowBusy(true);
  service.SetWaitObserver(showStatus);
  if (restart)
    service.BounceTargetService();
  else
    service.StartTargetService();
  service.SetWaitObserver({});
  view_.ShowBusy(false);
  waitingService_ = nullptr;

  if (waitCancelled_) {
    view_.MessageBox("The wait for the Corvane Service was cancelled. The service is left in whatever state systemd "
                     "brings it to.",
                     kWizardTitle, MsgIcon::Information);
    return;
  }
  const std::string status = service.GetTargetServiceStatus();
  SetText("lblservicestatus", "The Corvane Service: " + status + ".");
  if (status != "SERVICE_RUNNING") ReportServiceNotRunning(service, status, restart);
}

void Form1Model::ReportServiceNotRunning(SvcUtil& service, const std::string& status, bool restart) {
  std::string why;
  if (auto failure = service.RequestFailure())
    why = fmt::format("{} (error {})", failure->text, failure->number);
  else if (status == "SERVICE_START_PENDING")
    why = "systemd is still starting it";
  else
    why = fmt::format("it stopped again after it was started; its log says why: journalctl -u '{}'", ports_.serviceUnit);
  view_.MessageBox(fmt::format("The Corvane Service is not running after the {}: its status is {}.\r\n\r\nWhy: "
                               "{}.\r\n\r\nThe settings are saved. To start the service, run:\r\n"
                               "sudo systemctl start '{}'",
                               restart ? "restart" : "start", status, why, ports_.serviceUnit),
                   kWizardTitle, MsgIcon::Exclamation);
}

void Form1Model::CancelWait() {
  waitCancelled_ = true;
  SetText("lblservicestatus", "Cancelling the wait...");
  waitingService_->CancelWait();
}

}  // namespace corvane::wizard
