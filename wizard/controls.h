// The controls of the wizard's window as plain data: each control is known
// by its name (an element of a control array is "<array>_<index>", e.g.
// "chkDBFields_17"), and the window shows exactly what these hold.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "service/parameters/parameters.h"

namespace corvane::wizard {

struct Control {
  std::string text;                 // content of a box, caption of anything else
  std::string placeholder;          // hint shown while an empty box has no text
  bool checked = false;             // check boxes and option buttons
  bool enabled = true;
  bool visible = true;
  std::vector<std::string> items;   // entries of a list or drop-down
  std::vector<int> itemData;        // one number per entry, where the control has them
  int listIndex = -1;               // selected entry, -1 for none
  parameters::DateTime value;       // date and time pickers
};

// "chkDBFields", 17 -> "chkDBFields_17".
std::string Indexed(std::string_view array, int index);

// Every control of the window by name. Looking up a name that does not
// exist is a programming error and throws std::out_of_range.
class Controls {
 public:
  // Adds a control; returns it for filling in its design values.
  Control& Add(const std::string& name, Control control = {});
  Control& operator[](const std::string& name) { return controls_.at(name); }
  const Control& operator[](const std::string& name) const { return controls_.at(name); }
  bool Has(const std::string& name) const { return controls_.count(name) != 0; }
  const std::map<std::string, Control>& All() const { return controls_; }

 private:
  std::map<std::string, Control> controls_;
};

}  // namespace corvane::wizard
