// The wizard's window on Qt Widgets: shows Form1Model's controls (each
// widget's objectName is its control's name) and hands every user action
// to the model. It holds no state of its own beyond the widgets.
#pragma once

#include <QWidget>
#include <map>
#include <memory>

#include "wizard/form1_model.h"

class QLabel;
class QStackedWidget;

namespace corvane::wizard {

class HelpWindow;

class Form1Window : public QWidget, public WizardView {
 public:
  // Builds the window and its model; Start() loads the settings.
  explicit Form1Window(WizardPorts ports, QWidget* parent = nullptr);
  ~Form1Window() override;

  // Loads the settings into the controls (call once, before or after show()).
  void Start();
  Form1Model& model() { return *model_; }
  // True once the program was asked to end (Finish done, or Cancel).
  bool ended() const { return ended_; }

  // WizardView
  void ControlChanged(const std::string& name) override;
  void MessageBox(const std::string& text, const std::string& title, MsgIcon icon) override;
  bool AskYesNo(const std::string& text, const std::string& title, MsgIcon icon) override;
  std::string BuildConnectionString(const std::string& current) override;
  void ShowHelp(int context) override;
  void ShowBusy(bool busy) override;
  void Focus(const std::string& name) override;
  void End() override;

 protected:
  void showEvent(QShowEvent* event) override;
  // Closing the window while Finish waits for the service cancels the wait.
  void closeEvent(QCloseEvent* event) override;

 private:
  // form1_pages.cpp: the widgets, one page at a time.
  void BuildWindow();
  QWidget* WelcomePage();
  QWidget* DatabasePage();
  QWidget* ExchangePage();
  QWidget* FieldsPage();
  QWidget* SchedulePage();
  QWidget* ExportsPage();
  QWidget* OptionsPage();
  QWidget* FinishPage();
  // A label for `buddy` (its mnemonic moves the focus there).
  QLabel* Label(const QString& text, QWidget* buddy);

  // Registers every named widget and connects its user actions to the model.
  void ConnectControls();
  void Apply(const std::string& name, QWidget* widget);
  // The control that F1 speaks about: the focus widget or its nearest named parent.
  std::string FocusedControl() const;

  std::unique_ptr<Form1Model> model_;
  std::map<std::string, QWidget*> widgets_;   // owned by the window (Qt parents)
  std::map<QWidget*, QLabel*> buddyLabels_;  // a box's label follows its visibility
  QStackedWidget* pages_ = nullptr;
  HelpWindow* help_ = nullptr;
  bool activated_ = false;
  bool ended_ = false;
};

}  // namespace corvane::wizard
