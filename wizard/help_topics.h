// The help: one HTML page per tab of the wizard, and context numbers that
// point into them. Contexts 0 to 7 are the pages of the tabs "Welcome" to
// "Finish"; 100 * page + n is section n of that page (anchor "c<number>").
#pragma once

#include <string>
#include <string_view>

namespace corvane::wizard {

// The context of the control that has the focus: its section where it has
// one, else its page; 0 for the buttons and unknown names.
int HelpContextOf(std::string_view control);

// The help page and anchor of a context, e.g. "database.html#c101";
// the welcome page for an unknown context.
std::string HelpTopic(int context);

}  // namespace corvane::wizard
