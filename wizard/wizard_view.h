// What the wizard's logic needs from its window. The window reads the
// controls' state from the model (Form1Model::Get) and hands every user
// action to the model; the model tells the window through this interface
// what to show. Tests implement it without a display.
#pragma once

#include <string>

namespace corvane::wizard {

enum class MsgIcon { Critical, Question, Exclamation, Information };

class WizardView {
 public:
  virtual ~WizardView() = default;

  // Some property of the control `name` changed; show its new state.
  virtual void ControlChanged(const std::string& name) = 0;
  // A message box with an OK button; returns when it is closed.
  virtual void MessageBox(const std::string& text, const std::string& title, MsgIcon icon) = 0;
  // A message box with Yes and No buttons; true for Yes.
  virtual bool AskYesNo(const std::string& text, const std::string& title, MsgIcon icon) = 0;
  // The connection-string builder, opened on `current` (a new connection
  // when it is empty); returns the accepted string, or `current` on cancel.
  virtual std::string BuildConnectionString(const std::string& current) = 0;
  // Opens the help at a context number (see help_topics.h).
  virtual void ShowHelp(int context) = 0;
  // Shows that the wizard waits for the service (a busy cursor), or that
  // it no longer does; the window stays responsive either way.
  virtual void ShowBusy(bool busy) = 0;
  // Moves the keyboard focus to the control `name`.
  virtual void Focus(const std::string& name) = 0;
  // Ends the program.
  virtual void End() = 0;
};

}  // namespace corvane::wizard
