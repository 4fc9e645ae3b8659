// Moving between Form1's pages: the tab strip, Next, Back, Cancel and Help.
#include <fmt/format.h>

#include "wizard/form1_model.h"
#include "wizard/help_topics.h"

namespace corvane::wizard {

void Form1Model::ClickTab(int tab) {
  // While Finish waits for the service, the pages stay as they are.
  if (tab < 0 || tab >= kPageCount || !c_["TabStrip1"].enabled) return;
  for (int i = 0; i < kPageCount; ++i) SetVisible(Indexed("frm", i), i == tab);
  SetListIndex("TabStrip1", tab);
  if (tab == kFinishPage) {
    if (!Text("txtmailprofile").empty() && !Text("txttmptblname").empty() && !Text("txtConnectionString").empty())
      BuildSummary();
    else
      view_.MessageBox(
          "Missing DB connection information, tablename, or mail profile name. Please correct the required fields.",
          kWizardTitle, MsgIcon::Critical);
  } else {
    SetText("cmdNext", kNextCaption);
  }
  SetEnabled("cmdback", tab != 0);
  if (tab == kSchedulePage && Checked("Option1_3")) KeepOneTimeStartAhead();
}

// A one-time run must not start in the past. The moment chosen is the date
// field's day at the time field's time (the time picker's own date is only
// brought in line when the summary is built); one still ahead is kept, one
// that has passed becomes now, and the administrator is told so unless the
// wizard itself had set it to an earlier now.
void Form1Model::KeepOneTimeStartAhead() {
  const parameters::DateTime date = c_["DTPDate"].value;
  parameters::DateTime chosen = c_["DTPTime"].value;
  chosen.year = date.year;
  chosen.month = date.month;
  chosen.day = date.day;
  // An impossible date is left for the summary's "Invalid Date".
  if (!parameters::IsValid(chosen) || parameters::ToTimeT(chosen) >= parameters::ToTimeT(ports_.now())) return;
  const bool setByTheWizard = c_["DTPDate"].value == pickersSetToNow_ && c_["DTPTime"].value == pickersSetToNow_;
  PickersToNow();
  if (!setByTheWizard)
    view_.MessageBox(fmt::format("The one-time start you chose, {}, has passed, so it is now {}: the export would run "
                                 "at once.\r\n\r\nChoose a later date and time if it should run later.",
                                 parameters::FormatDefaultDateTime(chosen),
                                 parameters::FormatDefaultDateTime(pickersSetToNow_)),
                     kWizardTitle, MsgIcon::Information);
}

void Form1Model::Next() {
  if (Text("cmdNext") == kFinishCaption) {
    Finish();
    return;
  }
  SetEnabled("cmdback", true);
  const int page = VisiblePage();
  ClickTab(page < kFinishPage ? page + 1 : kFinishPage);
  // The summary is shown even after the required-fields message.
  if (VisiblePage() == kFinishPage)
    BuildSummary();
  else
    SetText("cmdNext", kNextCaption);
}

void Form1Model::Back() {
  const int page = VisiblePage();
  if (page == 0) return;
  ClickTab(page - 1);
  SetEnabled("cmdback", VisiblePage() != 0);
  SetText("cmdNext", VisiblePage() == kFinishPage ? kFinishCaption : kNextCaption);
}

void Form1Model::HelpOn(const std::string& control) { view_.ShowHelp(HelpContextOf(control)); }

}  // namespace corvane::wizard
