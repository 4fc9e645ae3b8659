// How Form1's controls react to clicks and to one another: buttons, check
// boxes, option buttons, the field lists, the connection string and the
// public-folder list.
#include <algorithm>
#include <cctype>
#include <fmt/format.h>

#include "service/export/connection_string.h"
#include "service/parameters/column_switches.h"
#include "wizard/connection_fields.h"
#include "wizard/form1_model.h"

namespace corvane::wizard {

namespace {

// "Option1_3" -> {"Option1", 3}; {name, -1} when the name has no index.
std::pair<std::string, int> SplitIndexed(const std::string& name) {
  const size_t underscore = name.rfind('_');
  if (underscore == std::string::npos) return {name, -1};
  return {name.substr(0, underscore), parameters::ToInt32(name.substr(underscore + 1)).value_or(-1)};
}

bool ContainsNoCase(const std::string& text, std::string_view part) {
  auto it = std::search(text.begin(), text.end(), part.begin(), part.end(),
                        [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) ==
                                                    std::tolower(static_cast<unsigned char>(b)); });
  return it != text.end();
}

constexpr const char* kPasswordNotSaved =
    "A password does not appear to be part of the connection string that was entered.\r\n\r\n"
    "This is generally not an acceptable configuration unless you are using Microsoft Access, or a similiar Database "
    "System, without any type of security.\r\n\r\n"
    "If the Build button was used to create the connection string, the allow saving password option must be selected "
    "to allow the password to be saved.\r\n\r\n"
    "It is recommended that you click ok to this dialog, then click Build.  Next, go to the second tab of the "
    "datalink properties window(titled connection) and click the checkbox to Allow saving password.";

}  // namespace

void Form1Model::Click(const std::string& button) {
  if (!c_[button].enabled) return;
  if (button == "cmdNext") Next();
  else if (button == "cmdback") Back();
  else if (button == "cmdCancel") Waiting() ? CancelWait() : view_.End();
  else if (button == "cmdHelp") {
    const int tab = c_["TabStrip1"].listIndex;
    view_.ShowHelp(tab >= 1 && tab <= 7 ? tab : 0);
  }
  else if (button == "cmdchangedb") BuildConnectionString();
  else if (button == "cmdaddselected") MoveField("lstexchangefields", "lstselectedfields", true);
  else if (button == "cmdremoveselected") MoveField("lstselectedfields", "lstexchangefields", false);
  else if (button == "cmdaddall") SelectAllFields(true);
  else if (button == "cmdremoveall") SelectAllFields(false);
  else if (button == "cmdPopulate") PopulatePublicFolders();
}

void Form1Model::Tick(const std::string& checkBox, bool checked) {
  SetChecked(checkBox, checked);
  OnCheckBox(checkBox);
}

void Form1Model::Choose(const std::string& optionButton) {
  auto [array, index] = SplitIndexed(optionButton);
  for (int i = 0; c_.Has(Indexed(array, i)); ++i) SetChecked(Indexed(array, i), i == index);
  OnOption(array, index);
}

void Form1Model::Type(const std::string& box, const std::string& text) {
  SetText(box, text);
  if (box == "txttblname") ExcludeCaption();
  // The shown copy follows a string typed by hand, so it never shows an old one.
  if (box == "txtConnectionString") SetText("txtconnectionstringNoPass", service::PasswordFreeConnectionString(text));
}

void Form1Model::Select(const std::string& list, int index) { SetListIndex(list, index); }

void Form1Model::Pick(const std::string& picker, const parameters::DateTime& value) { SetValue(picker, value); }

void Form1Model::EnableWith(const std::string& checkBox, std::initializer_list<const char*> boxes) {
  for (const char* box : boxes) SetEnabled(box, Checked(checkBox));
}

void Form1Model::OnCheckBox(const std::string& name) {
  const bool on = Checked(name);
  if (name == "chkparse") {
    if (on) SetChecked("chksmtp", true);
    SetEnabled("chksmtp", !on);
  } else if (name == "ChkDynamicProfile") {
    if (on) SetText("txtAltProfile", "TWCorvane");
    SetEnabled("txtAltProfile", !on);
  } else if (name == "chkContacts_0" || name == "chkContacts_1") {
    const std::string box = name == "chkContacts_0" ? "txtlocalcontactname" : "cmbsubs";
    SetEnabled(box, on);
    if (on && Text(box).empty()) SetText(box, "CorvaneContacts");
  } else if (name == "chkdistlist") {
    EnableWith(name, {"txtdistlistname", "txtexchangeserver", "txtexchangeorganization", "txtcontainer", "txttempfile"});
  } else if (name == "chkexcludes") {
    EnableWith(name, {"txtexclusiontable", "cmbfields"});
  } else if (name == "chkbefore") {
    EnableWith(name, {"txtbefore"});
  } else if (name == "chkafter") {
    EnableWith(name, {"txtafter"});
  } else if (name == "chkSQLbefore") {
    EnableWith(name, {"txtSQLBefore"});
  } else if (name == "ChkSQLAfter") {
    EnableWith(name, {"txtSQLAfter"});
  }
}

void Form1Model::OnOption(const std::string& array, int index) {
  if (array == "Option1") {
    PickersToNow();
    for (int k = 0; k < kScheduleKinds; ++k) SetVisible(Indexed("frmschedule", k), k == index);
    SetVisible("DTPTime", index >= 0 && index <= 3);
    SetVisible("DTPDate", index == 0 || index == 3);
  } else if (array == "Optday") {
    SetEnabled("lstdays", index == 2);
  } else if (array == "optmonthly") {
    SetEnabled("cmbmonth", index == 1);
    SetEnabled("cmbmonth2", index == 1);
    SetEnabled("lstmonth", index == 0);
  }
}

void Form1Model::ExcludeCaption() {
  if (!Text("txttblname").empty())
    SetText("chkexcludes", "Exclude item from table " + Text("txttblname") + ", if a matching item is found in the ");
}

void Form1Model::PickersToNow() {
  pickersSetToNow_ = ports_.now();
  SetValue("DTPDate", pickersSetToNow_);
  SetValue("DTPTime", pickersSetToNow_);
}

// The lists only show the column boxes: selected columns on the right, the
// others on the left, each in the boxes' order.
void Form1Model::RebuildFieldLists() {
  std::vector<std::string> selected, available;
  for (int i = 0; i < parameters::kColumnBoxCount; ++i) {
    const std::string box = Indexed("chkDBFields", i);
    (Checked(box) ? selected : available).push_back(Text(box));
  }
  SetItems("lstselectedfields", std::move(selected));
  SetItems("lstexchangefields", std::move(available));
}

void Form1Model::MoveField(const std::string& from, const std::string& to, bool select) {
  const Control& source = c_[from];
  const int row = source.listIndex;
  if (row < 0) return;
  const std::string caption = source.items[row];
  for (int i = 0; i < parameters::kColumnBoxCount; ++i)
    if (Text(Indexed("chkDBFields", i)) == caption) SetChecked(Indexed("chkDBFields", i), select);
  std::vector<std::string> rest = source.items;
  rest.erase(rest.begin() + row);
  SetItems(from, rest);
  // The next entry takes the selection, so a column after column moves by keyboard.
  SetListIndex(from, std::min(row, static_cast<int>(rest.size()) - 1));
  std::vector<std::string> grown = c_[to].items;
  grown.push_back(caption);
  SetItems(to, grown);
}

void Form1Model::SelectAllFields(bool select) {
  for (int i = 0; i < parameters::kColumnBoxCount; ++i) SetChecked(Indexed("chkDBFields", i), select);
  RebuildFieldLists();
}

void Form1Model::BuildConnectionString() {
  const std::string result = view_.BuildConnectionString(Text("txtConnectionString"));
  SetText("txtConnectionString", result);
  const std::string copy = service::PasswordFreeConnectionString(result);
  SetText("txtconnectionstringNoPass", copy);
  // Only a driver that takes a password can have lost one: a database file
  // (SQLite) has none, and the builder asks for none.
  const bool takesPassword = !IsFileDriver(ParseConnectionString(result).driver);
  if (copy == result && !result.empty() && takesPassword && !ContainsNoCase(result, "Integrated Security=SSPI"))
    view_.MessageBox(kPasswordNotSaved, "Password not Saved!", MsgIcon::Information);
}

void Form1Model::PopulatePublicFolders() {
  if (!Checked("chkContacts_1")) Tick("chkContacts_1", true);
  SetEnabled("cmbsubs", true);
  PublicFolderListing listing = ports_.listPublicFolders();
  std::vector<std::string> items{"Corvane Contacts"};
  items.insert(items.end(), listing.names.begin(), listing.names.end());
  SetItems("cmbsubs", std::move(items));  // what was typed stays
  if (listing.failure)
    view_.MessageBox(fmt::format("The public folders could not all be listed: {} (error {}).", listing.failure->text,
                                 listing.failure->number),
                     kWizardTitle, MsgIcon::Information);
}

}  // namespace corvane::wizard
