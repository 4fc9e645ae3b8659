#include "service/parameters/parameters.h"

#include <charconv>
#include <fmt/format.h>

#include "platform/registry/hive_format.h"

namespace corvane::parameters {

namespace {

using registry::ValueType;
constexpr ValueType SZ = ValueType::String;
constexpr ValueType EXPAND = ValueType::ExpandString;

template <typename Int>
std::optional<Int> ToInt(std::string_view text) {
  text = TrimBlanks(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  Int value{};
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

}  // namespace

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

const std::vector<ParameterInfo>& AllParameters() {
  static const std::vector<ParameterInfo> kAll = {
      // Database and tables
      {"ConnectionString", EXPAND, ""},
      {"ConnectionStringnopw", EXPAND, ""},
      {"TableName", SZ, "GAL"},
      {"TempTableName", SZ, "TEMP_GAL"},
      {"DOS", SZ, "0"},
      // Mail access
      {"Mailbox", SZ, ""},
      {"Server", SZ, ""},
      {"MailProfile", SZ, ""},
      {"UseAltProfile", SZ, "1"},
      {"txtAltProfile", SZ, ""},
      // Directory bind
      {"LdapBindDN", SZ, ""},
      {"LdapPasswordFile", SZ, ""},
      {"LdapSaslMech", SZ, ""},
      {"LdapStartTLS", SZ, "0"},
      {"LdapCAFile", SZ, ""},
      {"LdapRefuseClearBind", SZ, "0"},
      // Update run options
      {"NoParse", SZ, "0"},
      {"NoSMTP", SZ, "0"},
      {"NoExtraEvents", SZ, "0"},
      {"ToDoCount", SZ, "0"},
      {"Exclude", SZ, "0"},
      {"ExcludeTableName", SZ, "EXCLUDES"},
      {"ExcludeFieldName", SZ, ""},
      {"RunBefore", SZ, ""},
      {"RunBeforeCommand", SZ, ""},
      {"RunSQLBefore", SZ, ""},
      {"RunSQLBeforeCmd", EXPAND, ""},
      {"RunSQLPreParse", SZ, ""},
      {"RunSQLPreParseCmd", SZ, ""},
      {"RunAfter", SZ, ""},
      {"RunAfterCommand", SZ, ""},
      {"RunSQLAfter", SZ, ""},
      {"RunSQLAfterCmd", EXPAND, ""},
      // Publishing the final table: "swap" builds it aside and swaps it in;
      // a percentage refuses a table that shrank by more.
      {"PublishMode", SZ, ""},
      {"MaxShrinkPercent", SZ, ""},
      // Schedule
      {"ScheduleType", SZ, "9"},
      {"StartTime", SZ, "01/01/2000 12:00:00 AM"},
      {"LastSuccessfulRun", SZ, ""},
      {"OneTime", SZ, "0"},
      {"ScheduleDay", SZ, ""},
      {"DayCount", SZ, ""},
      {"ScheduleWeek", SZ, ""},
      {"WeekDays", SZ, ""},
      {"ScheduleMonth", SZ, ""},
      {"MonthDay", SZ, ""},
      {"MonthOpt1", SZ, ""},
      {"MonthOpt2", SZ, ""},
      {"Months", SZ, ""},
      // Distribution list
      {"DistList", SZ, "False"},
      {"DistListName", SZ, ""},
      {"DistListServer", SZ, ""},
      {"DistListOrg", SZ, ""},
      {"DistListCon", SZ, ""},
      {"DistListFile", SZ, ""},
      {"DistListImportMargin", SZ, ""},
      // Contacts
      {"chkcontacts0", SZ, ""},
      {"chkcontacts1", SZ, ""},
      {"localcontactname", SZ, ""},
      {"cmbsubs", SZ, ""},
      // Service bookkeeping
      {"TimerInterval", SZ, ""},
      {kFinalTableIncomplete, SZ, "0"},
  };
  return kAll;
}

ValueType TypeOf(std::string_view name) {
  for (const auto& p : AllParameters())
    if (registry::EqualsNoCase(p.name, name)) return p.type;
  return SZ;
}

bool SwitchOn(std::string_view text) { return text == "1"; }

bool UseAltProfileOn(std::string_view text) { return text != "0"; }

std::optional<bool> ToBoolean(std::string_view text) {
  std::string_view t = TrimBlanks(text);
  if (registry::EqualsNoCase(t, "True")) return true;
  if (registry::EqualsNoCase(t, "False")) return false;
  if (auto n = ToInt<int64_t>(t)) return *n != 0;
  return std::nullopt;
}

bool BooleanOn(std::string_view text) { return ToBoolean(text).value_or(false); }

std::optional<int16_t> ToInt16(std::string_view text) { return ToInt<int16_t>(text); }
std::optional<int32_t> ToInt32(std::string_view text) { return ToInt<int32_t>(text); }

std::optional<PublishMode> ToPublishMode(std::string_view text) {
  text = TrimBlanks(text);
  if (text.empty()) return PublishMode::Rebuild;
  if (registry::EqualsNoCase(text, kPublishSwap)) return PublishMode::Swap;
  return std::nullopt;
}

ShrinkThreshold ToShrinkThreshold(std::string_view text) {
  text = TrimBlanks(text);
  if (text.empty()) return {};
  if (text.back() == '%') text = TrimBlanks(text.substr(0, text.size() - 1));
  double percent = -1;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), percent);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || !(percent >= 0 && percent <= 100))
    return {false, std::nullopt};
  return {true, percent};
}

std::vector<std::string> SplitList(std::string_view text) {
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    size_t comma = text.find(',', start);
    out.emplace_back(TrimBlanks(text.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start)));
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return out;
}

std::string JoinList(const std::vector<int>& numbers) { return fmt::format("{}", fmt::join(numbers, ",")); }

DateTime ToDateTime(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  return DateTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

std::time_t ToTimeT(const DateTime& dt) {
  std::tm tm{};
  tm.tm_year = dt.year - 1900;
  tm.tm_mon = dt.month - 1;
  tm.tm_mday = dt.day;
  tm.tm_hour = dt.hour;
  tm.tm_min = dt.minute;
  tm.tm_sec = dt.second;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

bool IsValid(const DateTime& dt) {
  return dt.year >= 100 && dt.year <= 9999 && dt.month >= 1 && dt.month <= 12 && dt.day >= 1 &&
         dt.day <= DaysInMonth(dt.year, dt.month) && dt.hour >= 0 && dt.hour <= 23 && dt.minute >= 0 &&
         dt.minute <= 59 && dt.second >= 0 && dt.second <= 59;
}

std::string FormatStoredDateTime(const DateTime& dt) {
  return fmt::format("{}-{}-{} {}:{}:{} {}", dt.month, dt.day, dt.year, dt.hour, dt.minute, dt.second,
                     dt.hour >= 12 ? "PM" : "AM");
}

std::optional<DateTime> ParseDateTime(std::string_view text) {
  std::string_view t = TrimBlanks(text);
  // Date: M{-/}D{-/}YYYY
  auto number = [&t](int& out) {
    size_t n = 0;
    while (n < t.size() && n < 5 && t[n] >= '0' && t[n] <= '9') ++n;
    if (n == 0) return false;
    auto v = ToInt<int>(t.substr(0, n));
    t.remove_prefix(n);
    out = *v;
    return true;
  };
  auto separator = [&t](std::string_view allowed) {
    if (t.empty() || allowed.find(t.front()) == std::string_view::npos) return false;
    t.remove_prefix(1);
    return true;
  };
  DateTime dt;
  dt.hour = dt.minute = dt.second = 0;
  if (!number(dt.month) || !separator("-/") || !number(dt.day) || !separator("-/") || !number(dt.year)) return std::nullopt;
  t = TrimBlanks(t);
  if (!t.empty() && t.front() >= '0' && t.front() <= '9') {
    if (!number(dt.hour) || !separator(":") || !number(dt.minute)) return std::nullopt;
    if (separator(":") && !number(dt.second)) return std::nullopt;
    t = TrimBlanks(t);
  }
  if (!t.empty()) {
    bool pm = registry::EqualsNoCase(t, "PM");
    if (!pm && !registry::EqualsNoCase(t, "AM")) return std::nullopt;
    if (dt.hour == 12 && !pm) dt.hour = 0;
    else if (pm && dt.hour >= 1 && dt.hour <= 11) dt.hour += 12;
  }
  if (!IsValid(dt)) return std::nullopt;
  return dt;
}

std::string FormatDefaultDateTime(const DateTime& dt) {
  int hour12 = dt.hour % 12 == 0 ? 12 : dt.hour % 12;
  return fmt::format("{}/{}/{} {}:{:02}:{:02} {}", dt.month, dt.day, dt.year, hour12, dt.minute, dt.second,
                     dt.hour >= 12 ? "PM" : "AM");
}

std::string FormatFixedDateTime(const DateTime& dt) {
  return fmt::format("{:02}-{:02}-{:04} {:02}:{:02}:{:02}", dt.month, dt.day, dt.year, dt.hour, dt.minute, dt.second);
}

}  // namespace corvane::parameters
