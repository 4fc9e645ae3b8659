// The service's parameters: every value of the parameters key by name,
// registry type and default, and the text encodings shared by the service
// and the wizard. Nothing here reads or writes the store itself.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry/registry.h"

namespace corvane::parameters {

struct ParameterInfo {
  std::string_view name;
  registry::ValueType type;      // as the wizard stores it
  std::string_view defaultText;  // what a reader uses when it is missing
};

// Written by the service: "1" while a run has left the final table
// incomplete (stopped or failed while building it), "0" once a run
// completes. The service runs the export at its first schedule check while
// it is "1", whatever the schedule.
inline constexpr const char* kFinalTableIncomplete = "FinalTableIncomplete";

// Every named value of the key (the 44 column switches are in
// column_switches.h; their type is REG_SZ and their default "0").
const std::vector<ParameterInfo>& AllParameters();
// The registry type a value is stored with (REG_SZ unless listed as
// REG_EXPAND_SZ); names compare without regard to case.
registry::ValueType TypeOf(std::string_view name);

// `text` without the blanks and tabs around it.
std::string_view TrimBlanks(std::string_view text);

// Switches: "1" is on; "0", empty and missing are off.
bool SwitchOn(std::string_view text);
// "UseAltProfile": only "0" is off.
bool UseAltProfileOn(std::string_view text);
// Boolean conversion as the service reads "DistList" and "DOS", and the
// run's on/off values: "True"/"False" (any case), or a number (non-zero is
// true). Anything else is not a Boolean.
std::optional<bool> ToBoolean(std::string_view text);
// Boolean switch with fallback: unreadable text counts as off.
bool BooleanOn(std::string_view text);

// Whole numbers: decimal, optional sign, surrounding blanks allowed;
// nullopt when not a number or out of range for 16 bits.
std::optional<int16_t> ToInt16(std::string_view text);
std::optional<int32_t> ToInt32(std::string_view text);

// "PublishMode": the empty text (the default) rebuilds the final table in
// place; "swap" (any case, blanks around) builds it under a work name and
// swaps it in. nullopt for a text that names no mode.
enum class PublishMode { Rebuild, Swap };
inline constexpr const char* kPublishSwap = "swap";  // what the wizard stores for Swap
std::optional<PublishMode> ToPublishMode(std::string_view text);

// "MaxShrinkPercent", the deletion threshold: empty is off; otherwise a
// percentage from 0 to 100, decimals and a trailing "%" allowed.
struct ShrinkThreshold {
  bool valid = true;              // false: the text is no such percentage
  std::optional<double> percent;  // no value: off (or not valid)
};
ShrinkThreshold ToShrinkThreshold(std::string_view text);

// Lists: "2,3,4" <-> {2,3,4}. Parsing keeps the entries as text (trimmed).
std::vector<std::string> SplitList(std::string_view text);
std::string JoinList(const std::vector<int>& numbers);

// A local date and time, as the parameters and logs speak of it.
struct DateTime {
  int year = 2000, month = 1, day = 1, hour = 0, minute = 0, second = 0;
  bool operator==(const DateTime&) const = default;
};

DateTime ToDateTime(std::time_t t);           // local time
std::time_t ToTimeT(const DateTime& dt);      // local time
bool IsValid(const DateTime& dt);

// The stored form: "6-15-2007 14:5:7 PM" (month first, nothing padded,
// 24-hour clock, " PM" from 12:00 on).
std::string FormatStoredDateTime(const DateTime& dt);
// Reads the stored form and the slash form with a 12-hour clock
// ("01/01/1990 11:25:31 AM"): month first; an hour of 13 or more is taken
// as written, 12 AM is midnight, 1 to 11 PM add 12. A date alone is
// midnight. nullopt when it is not a valid date-time.
std::optional<DateTime> ParseDateTime(std::string_view text);
// The system's default form used in logs: "12/7/2026 10:05:03 AM".
std::string FormatDefaultDateTime(const DateTime& dt);
// "mm-dd-yyyy hh:mm:ss", every field padded, 24-hour clock.
std::string FormatFixedDateTime(const DateTime& dt);

}  // namespace corvane::parameters
