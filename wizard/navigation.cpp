// Moving between Form1's pages: the tab strip, Next, Back, Cancel and Help.
#include "wizard/form1_model.h"
#include "wizard/help_topics.h"

namespace corvane::wizard {

void Form1Model::ClickTab(int tab) {
  if (tab < 0 || tab >= kPageCount) return;
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
  // A one-time run must not start in the past; a moment still ahead is kept.
  if (tab == kSchedulePage && Checked("Option1_3") &&
      parameters::ToTimeT(c_["DTPTime"].value) < parameters::ToTimeT(ports_.now()))
    PickersToNow();
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
