// The summary on the Finish page: what will be saved, in words.
#include <fmt/format.h>

#include "service/parameters/column_switches.h"
#include "wizard/form1_model.h"

namespace corvane::wizard {

bool Form1Model::BuildSummary() {
  if (!CopyDateIntoTime()) {
    view_.MessageBox("The date entered is not valid.", "Invalid Date", MsgIcon::Exclamation);
    ClickTab(kSchedulePage);
    return false;
  }
  SetText("cmdNext", kFinishCaption);

  std::string s;
  auto line = [&s](const std::string& text) { s += text + "\r\n"; };
  line("Use the following Database connect string: " + Text("txtconnectionstringNoPass") + "(password removed)");
  line("TableNames: " + Text("txttblname") + " (" + Text("txttmptblname") + ")");
  line("");
  line("Exch: " + Text("txtServer") + " Mailbox: " + Text("TxtMailbox"));
  line("");
  line("Fields: ");
  for (int i = 0; i < parameters::kColumnBoxCount; ++i) {
    const std::string box = Indexed("chkDBFields", i);
    if (Checked(box)) line(Text(box));
  }
  line("");
  line("Schedule: " + ScheduleText());
  line(Checked("chkexcludes") ? "Exclude items found in the column: " + Text("cmbfields") + " in the table: " +
                                    Text("txtexclusiontable") + " from the new table."
                              : "");
  if (Checked("chkPublishSwap")) {
    line("");
    line("The new table is published only when it is complete.");
  }
  if (Checked("chkdistlist")) {
    line("");
    line("Distribution list update selected.");
  }
  if (Checked("chkContacts_1")) {
    line("");
    line("Public Folder update selected. Profile: " + Text("txtAltProfile"));
  }
  if (Checked("chkContacts_0")) {
    line("");
    line("Local Contacts update selected. Profile: " + Text("txtAltProfile"));
  }
  SetText("txtsummary", s);
  return true;
}

std::string Form1Model::TickedCaptions(const std::string& array, int first, int last) const {
  std::vector<std::string> captions;
  for (int i = first; i <= last; ++i)
    if (Checked(Indexed(array, i))) captions.push_back(Text(Indexed(array, i)));
  return fmt::format("{}", fmt::join(captions, ", "));
}

std::string Form1Model::ScheduleText() const {
  const std::string time = parameters::FormatDefaultDateTime(c_["DTPTime"].value);
  switch (ChosenIndex("Option1", kScheduleKinds)) {
    case 0:
      switch (ChosenIndex("Optday", 3)) {
        case 0:
          return "Every Day, starting " + time;
        case 1:
          return "Weekdays, starting " + time;
        default: {
          const std::string n = Text("lstdays");
          return "Every " + n + (n == "1" ? " day, starting " : " days, starting ") + time;
        }
      }
    case 1:
      return "Every " + Text("lstweek") + " week(s), on " + TickedCaptions("chkweek", 1, 7) + " starting at " + time;
    case 2:
      if (ChosenIndex("optmonthly", 2) == 0)
        return "Day " + Text("lstmonth") + " of the months: " + TickedCaptions("chkmonth", 1, 12) + " starting at " +
               time;
      return "The " + Text("cmbmonth") + " " + Text("cmbmonth2") + " of the month(s): " +
             TickedCaptions("chkmonth", 1, 12) + " starting at " + time;
    case 3:
      return "One Time Only";
    case 4:
      return "On Computer Startup";
    case 5:
      return "Never!";
    case 6:
      return "Continuously.  Starts immediately following last run.";
    default:
      return "";
  }
}

}  // namespace corvane::wizard
