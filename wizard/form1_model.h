// The configuration wizard's window `Form1` without its pixels: every
// control's state, the loading and saving of the parameters key, the page
// movement, the controls' reactions to one another, the field lists and the
// summary. The window (form1_window.h) shows the controls and hands every
// user action to the methods below; tests call the same methods.
//
// Setting a check box or an option button from the code runs the same
// reaction as a click, as it does on the window, so loading a value shows
// the controls that depend on it the way a click would.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "wizard/controls.h"
#include "wizard/wizard_ports.h"
#include "wizard/wizard_view.h"

namespace corvane::wizard {

inline constexpr int kPageCount = 8;
inline constexpr int kSchedulePage = 4;
inline constexpr int kExportsPage = 5;
inline constexpr int kFinishPage = 7;
inline constexpr int kScheduleKinds = 7;  // Option1 elements: daily ... continuously
inline constexpr const char* kNextCaption = "&Next >>";
inline constexpr const char* kFinishCaption = "&Finish";
// Title of the message boxes that name none.
inline constexpr const char* kWizardTitle = "CorvaneWizard";

class Form1Model {
 public:
  // Creates every control with its design values. `view` and the store in
  // `ports` must outlive the model.
  Form1Model(WizardView& view, WizardPorts ports);
  Form1Model(const Form1Model&) = delete;
  Form1Model& operator=(const Form1Model&) = delete;

  const Control& Get(const std::string& name) const { return c_[name]; }
  const Controls& All() const { return c_; }

  // Fills the controls from the parameters key (when the window opens).
  // Writes the default column switches when none is set.
  void Load();
  // The window became active: the Next button takes the focus.
  void Activate();

  // User actions. Names are control names ("Option1_3", "chkweek_2").
  void ClickTab(int tab);  // 0-based: 0 "Welcome" ... 7 "Finish"
  void Click(const std::string& button);
  void Tick(const std::string& checkBox, bool checked);
  void Choose(const std::string& optionButton);
  void Type(const std::string& box, const std::string& text);
  void Select(const std::string& list, int index);
  void Pick(const std::string& picker, const parameters::DateTime& value);
  // F1 with the focus on `control` (may be empty).
  void HelpOn(const std::string& control);

  // Writes every parameter from the controls, in the stored order.
  void SaveStuff();
  // Fills the summary box; false (after the "Invalid Date" message and a
  // return to the schedule page) when the start date is not valid.
  bool BuildSummary();
  // The page shown, 0 to 7.
  int VisiblePage() const;
  // True while Finish waits for the service to start or restart.
  bool Waiting() const { return waitingService_ != nullptr; }

 private:
  void CreateControls();
  void FillFixedLists();

  // Setting a property shows it on the window.
  void SetText(const std::string& name, const std::string& text);
  void SetChecked(const std::string& name, bool checked);
  void SetEnabled(const std::string& name, bool enabled);
  void SetVisible(const std::string& name, bool visible);
  void SetItems(const std::string& name, std::vector<std::string> items, std::vector<int> itemData = {});
  // Selects an entry (-1 none); the control's text follows the selection.
  // Returns false, changing nothing, when there is no such entry.
  bool SetListIndex(const std::string& name, int index);
  void SetValue(const std::string& name, const parameters::DateTime& value);
  bool Checked(const std::string& name) const { return c_[name].checked; }
  const std::string& Text(const std::string& name) const { return c_[name].text; }
  int ChosenIndex(const std::string& array, int count) const;

  // Reactions.
  void OnCheckBox(const std::string& name);
  void OnOption(const std::string& array, int index);
  void EnableWith(const std::string& checkBox, std::initializer_list<const char*> boxes);
  void ExcludeCaption();
  void PickersToNow();
  void KeepOneTimeStartAhead();

  // Loading.
  std::string Param(const std::string& name) const;
  bool SwitchParam(const std::string& name) const;
  void LoadAccount();
  void LoadValues();
  void LoadSchedule();
  void LoadFields();
  void LoadOptions();
  void CheckStoreAccess();

  // Saving.
  void Save(std::string_view name, std::string_view text);
  void SaveSwitch(std::string_view name, bool on);
  void SaveSchedule();
  bool CopyDateIntoTime();
  void Finish();
  bool ProfileForContactsGiven();
  void WarnWhatTheServiceLacks();
  void StartOrRestart(SvcUtil& service, bool restart);
  void ReportServiceNotRunning(SvcUtil& service, const std::string& status, bool restart);
  void CancelWait();
  void ReportStoreFailure(const Failure& failure);

  // Pages.
  void Next();
  void Back();

  // Field lists and the other buttons.
  void RebuildFieldLists();
  void MoveField(const std::string& from, const std::string& to, bool select);
  void SelectAllFields(bool select);
  void BuildConnectionString();
  void PopulatePublicFolders();

  std::string ScheduleText() const;
  std::string TickedCaptions(const std::string& array, int first, int last) const;

  WizardView& view_;
  WizardPorts ports_;
  Controls c_;
  bool storeFailureShown_ = false;
  bool saveFailed_ = false;
  // What the pickers were last set to by the wizard itself (not chosen).
  parameters::DateTime pickersSetToNow_;
  // The service Finish waits for, and whether Cancel ended that wait.
  SvcUtil* waitingService_ = nullptr;
  bool waitCancelled_ = false;
};

}  // namespace corvane::wizard
