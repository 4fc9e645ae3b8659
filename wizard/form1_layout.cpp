// Form1's controls with their design values, and the primitives that
// change a control and show the change.
#include <fmt/format.h>

#include "service/parameters/column_switches.h"
#include "wizard/form1_model.h"

namespace corvane::wizard {

namespace {

constexpr const char* kTabCaptions[kPageCount] = {"Welcome",  "Database", "Microsoft Exchange", "Fields",
                                                   "Schedule", "Exports",  "Options",            "Finish"};
constexpr const char* kKindCaptions[kScheduleKinds] = {
    "Daily", "Weekly", "Monthly", "One Time Only", "On computer startup", "Never", "Continuosly"};
constexpr const char* kDays[7] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
constexpr const char* kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

Control Caption(std::string text, bool checked = false) {
  Control c;
  c.text = std::move(text);
  c.checked = checked;
  return c;
}

std::vector<std::string> Numbers(int from, int to) {
  std::vector<std::string> out;
  for (int i = from; i <= to; ++i) out.push_back(std::to_string(i));
  return out;
}

}  // namespace

Form1Model::Form1Model(WizardView& view, WizardPorts ports) : view_(view), ports_(std::move(ports)) {
  CreateControls();
}

void Form1Model::CreateControls() {
  c_.Add("cmdback", Caption("<< &Back")).enabled = false;
  c_.Add("cmdNext", Caption(kNextCaption));
  c_.Add("cmdCancel", Caption("&Cancel"));
  c_.Add("cmdHelp", Caption("&Help"));
  Control& tabs = c_.Add("TabStrip1");
  for (const char* caption : kTabCaptions) tabs.items.emplace_back(caption);
  tabs.listIndex = 0;
  for (int i = 0; i < kPageCount; ++i) c_.Add(Indexed("frm", i)).visible = i == 0;

  // Welcome
  for (const char* name : {"lblwelcome", "lblversion"}) c_.Add(name);
  // Database
  for (const char* name : {"txtConnectionString", "txtconnectionstringNoPass", "txttblname", "txttmptblname",
                           "txtexclusiontable", "cmbfields"})
    c_.Add(name);
  c_.Add("cmdchangedb", Caption("Build"));
  c_.Add("chkexcludes", Caption("Exclude item from the table, if a matching item is found in the "));
  // Microsoft Exchange
  for (const char* name : {"lblmail", "TxtMailbox", "txtmailprofile", "txtLdapBindDN", "txtLdapPasswordFile",
                           "txtLdapSaslMech"})
    c_.Add(name);
  c_.Add("txtServer").placeholder = "ldap://dc1.example.org/DC=example,DC=org??sub";
  // Fields
  c_.Add("lstexchangefields");
  c_.Add("lstselectedfields");
  c_.Add("cmdaddselected", Caption("Add ->"));
  c_.Add("cmdremoveselected", Caption("<- Remove"));
  c_.Add("cmdaddall", Caption("Add All ->>"));
  c_.Add("cmdremoveall", Caption("<<- Remove All"));
  for (int i = 0; i < parameters::kColumnBoxCount; ++i) {
    Control& box = c_.Add(Indexed("chkDBFields", i), Caption(std::string(parameters::kColumnBoxes[i].ParameterName())));
    box.visible = false;
  }
  // Schedule
  for (int k = 0; k < kScheduleKinds; ++k) {
    c_.Add(Indexed("Option1", k), Caption(kKindCaptions[k], k == 0));
    c_.Add(Indexed("frmschedule", k)).visible = k == 0;
  }
  c_.Add("DTPDate");
  c_.Add("DTPTime");
  c_.Add("Optday_0", Caption("Every Day", true));
  c_.Add("Optday_1", Caption("Week Days"));
  c_.Add("Optday_2", Caption("Every"));
  c_.Add("optmonthly_0", Caption("Day", true));
  c_.Add("optmonthly_1", Caption("The"));
  for (const char* name : {"lstdays", "lstweek", "lstmonth", "cmbmonth", "cmbmonth2"}) c_.Add(name);
  for (int d = 1; d <= 7; ++d) c_.Add(Indexed("chkweek", d), Caption(kDays[d - 1]));
  for (int m = 1; m <= 12; ++m) c_.Add(Indexed("chkmonth", m), Caption(kMonths[m - 1]));
  // Exports
  c_.Add("ChkDynamicProfile", Caption("Use the same Mail Profile created during the database import."));
  c_.Add("txtAltProfile");
  c_.Add("chkContacts_0", Caption("Create Contacts in local contact folder:"));
  c_.Add("chkContacts_1", Caption("Create/Sync Public Folder Contacts (NA w/ MS Access):"));
  c_.Add("txtlocalcontactname", Caption("CorvaneContacts"));
  c_.Add("cmbsubs").items = {"CorvaneContacts"};
  c_.Add("cmdPopulate", Caption("..."));
  c_.Add("chkdistlist", Caption("Create/Update a distribution list of every exported address"));
  for (const char* name :
       {"txtdistlistname", "txtexchangeserver", "txtexchangeorganization", "txtcontainer", "txttempfile"})
    c_.Add(name);
  // Options
  c_.Add("chkparse", Caption("Do Not generate Extended Email Addresses"));
  c_.Add("chksmtp", Caption("Do Not generate extended SMTP Column"));
  c_.Add("chkevents", Caption("Disable Extended Event Logging"));
  c_.Add("chkPublishSwap", Caption("Publish the new table only when it is complete"));
  c_.Add("chkbefore", Caption("Run this command before the export:"));
  c_.Add("chkSQLbefore", Caption("Run this SQL statement before the export:"));
  c_.Add("chkafter", Caption("Run this command after the export:"));
  c_.Add("ChkSQLAfter", Caption("Run this SQL after the export (statements separated by \";\"):"));
  for (const char* name : {"txtbefore", "txtSQLBefore", "txtafter", "txtSQLAfter"}) c_.Add(name);
  // Finish
  c_.Add("txtsummary");
  // Below the pages: what the wizard waits for while the service starts.
  c_.Add("lblservicestatus").visible = false;
}

void Form1Model::FillFixedLists() {
  SetItems("lstdays", Numbers(1, 31));
  SetItems("lstmonth", Numbers(1, 31));
  SetItems("lstweek", Numbers(1, 5));
  SetItems("cmbmonth", {"first", "second", "third", "fourth", "fifth"}, {1, 2, 3, 4, 5});
  SetItems("cmbmonth2", {"Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"},
           {2, 3, 4, 5, 6, 7, 1});
  for (const char* list : {"lstdays", "lstmonth", "lstweek", "cmbmonth", "cmbmonth2"}) SetListIndex(list, 0);
  for (const char* name : {"lstdays", "cmbmonth", "cmbmonth2"}) SetEnabled(name, false);
}

void Form1Model::SetText(const std::string& name, const std::string& text) {
  c_[name].text = text;
  view_.ControlChanged(name);
}

void Form1Model::SetChecked(const std::string& name, bool checked) {
  c_[name].checked = checked;
  view_.ControlChanged(name);
}

void Form1Model::SetEnabled(const std::string& name, bool enabled) {
  c_[name].enabled = enabled;
  view_.ControlChanged(name);
}

void Form1Model::SetVisible(const std::string& name, bool visible) {
  c_[name].visible = visible;
  view_.ControlChanged(name);
}

void Form1Model::SetItems(const std::string& name, std::vector<std::string> items, std::vector<int> itemData) {
  Control& c = c_[name];
  c.items = std::move(items);
  c.itemData = std::move(itemData);
  c.listIndex = -1;
  view_.ControlChanged(name);
}

bool Form1Model::SetListIndex(const std::string& name, int index) {
  Control& c = c_[name];
  if (index < -1 || index >= static_cast<int>(c.items.size())) return false;
  c.listIndex = index;
  c.text = index < 0 ? std::string() : c.items[index];
  view_.ControlChanged(name);
  return true;
}

void Form1Model::SetValue(const std::string& name, const parameters::DateTime& value) {
  c_[name].value = value;
  view_.ControlChanged(name);
}

int Form1Model::ChosenIndex(const std::string& array, int count) const {
  for (int i = 0; i < count; ++i)
    if (Checked(Indexed(array, i))) return i;
  return -1;
}

int Form1Model::VisiblePage() const {
  for (int i = 0; i < kPageCount; ++i)
    if (c_[Indexed("frm", i)].visible) return i;
  return 0;
}

}  // namespace corvane::wizard
