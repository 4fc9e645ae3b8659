// The administrator's reference of the parameters key: for every value of
// AllParameters() and every column switch, the kind of text it takes, the
// values it allows and what it does. The corvane-parameters(5) manual page
// is generated from it, and the configuration check and corvane-reg judge
// names and texts by it.
//
// Adding a parameter: add it to AllParameters() (name, registry type,
// default) and describe it in the section it belongs to in
// parameter_reference.cpp; a test fails while one of the two is missing.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "service/parameters/column_switches.h"

namespace corvane::parameters {

// How the service reads a value's text.
enum class ValueKind {
  Text,        // any text
  Switch,      // read as a number: "1" is on; "0" or empty is off
  Boolean,     // "True"/"False" (any case), "1"/"0" or another number (non-zero is on); empty is off
  Number,      // a whole number between min and max
  OneOf,       // one of the numbers listed in choices
  DateAndTime, // month first, "6-15-2026 2:30:0 AM" (empty: none)
  NumberList,  // whole numbers between min and max joined by ",", e.g. "2,4,6"
};

struct Choice {
  int value;
  std::string_view meaning;
};

struct ParameterDoc {
  std::string_view name;
  ValueKind kind = ValueKind::Text;
  std::string_view description;
  std::vector<Choice> choices = {};  // OneOf: every allowed value with its meaning
  int min = 0, max = 0;              // Number and NumberList: the allowed range
};

struct ParameterSection {
  std::string_view title;
  std::string_view introduction;  // may be empty
  std::vector<ParameterDoc> parameters;
};

// The sections of the reference in the order the manual page shows them.
// The 44 column switches are not listed here (see ColumnDescription).
const std::vector<ParameterSection>& ParameterReference();

// The entry of a named value (any case), nullptr when it has none.
const ParameterDoc* FindParameterDoc(std::string_view name);

// What the column of a column box holds, e.g. "the given name".
std::string_view ColumnDescription(int box);

// Whether the service reads a value of this name (any case): a value of
// AllParameters() or a column switch.
bool IsKnownParameter(std::string_view name);

// The known name closest to an unknown one (a short caption such as "EXT1"
// gives the switch it stands for); empty when none is close.
std::string NearestKnownName(std::string_view name);

// The warning for a value name the service does not read:
// "DISPLAY_NAM is not a value Corvane reads (did you mean DISPLAY_NAME?)".
std::string UnknownNameWarning(std::string_view name);

// Why `text` is not a valid value of the known parameter `name`, in words
// ("\"yes\" is not 0 or 1"); nullopt when it is valid or the name is unknown.
std::optional<std::string> ValueProblem(std::string_view name, std::string_view text);

// The kind as the manual page names it, e.g. "switch (0 or 1)".
std::string KindText(const ParameterDoc& doc);

}  // namespace corvane::parameters
