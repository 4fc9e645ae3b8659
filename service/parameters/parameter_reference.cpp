#include "service/parameters/parameter_reference.h"

#include <algorithm>
#include <cctype>

#include <fmt/format.h>

#include "platform/registry/hive_format.h"
#include "service/parameters/parameters.h"

namespace corvane::parameters {
namespace {

using enum ValueKind;

// Every value of the key by section. Say what the value does for the
// administrator: when it is read, what each text means, what happens when
// it is missing.
const std::vector<ParameterSection> kReference = {
    {"Database and tables",
     "Where the export goes. The service reads the table names at its start; a change needs a restart of the "
     "service.",
     {
         {.name = "ConnectionString",
          .description =
              "ODBC connection string of the target database, for example "
              "Driver=SQLite3;Database=/var/lib/corvane/corvane.db;JournalMode=WAL;SyncPragma=NORMAL or "
              "Driver={PostgreSQL Unicode};Server=db.example.org;Port=5432;Database=corvane;Uid=corvane;Pwd=secret;"
              "CommLog=0. Required: without it the service and corvane-run end at once (exit status 78). Every "
              "run writes back the text it read. A password in it never appears in a log."},
         {.name = "ConnectionStringnopw",
          .description = "The same connection string with its password shown as EXISTS; the wizard shows it. "
                         "The service never reads it."},
         {.name = "TableName", .description = "Name of the final table, the copy of the address list that readers use."},
         {.name = "TempTableName",
          .description = "Name of the temporary table that the GAL reader fills at every run before the final table "
                         "is built from it. Required."},
         {.name = "DOS",
          .kind = Boolean,
          .description = "Special site mode: the tables become small_gal and temp_small_gal whatever TableName and "
                         "TempTableName say, and a fixed unique index is created after each run. Leave it off."},
     }},
    {"Mail access",
     "How the GAL reader logs on: Server names the directory (an LDAP URL, a host name or an LDIF file) and "
     "Mailbox one entry of it.",
     {
         {.name = "Mailbox",
          .description = "The mailbox the service's mail profile is created with: the account name, mail address or "
                         "a proxy address of exactly one entry of the directory. Required: a run without it ends "
                         "the service (exit status 78)."},
         {.name = "Server",
          .description = "The directory of that mailbox: ldap://host/base??sub, ldaps://..., a host name (the base "
                         "comes from the server), or the path of an LDIF file. Required, like Mailbox."},
         {.name = "MailProfile",
          .description = "Name of the mail profile handed to the GAL reader; empty means TWCorvane. The profile "
                         "keeps the mailbox and server it was created with: after changing Mailbox or Server, "
                         "remove it (corvane-reg delete HKLM\\SOFTWARE\\Corvane\\MAPI\\Profiles\\TWCorvane /f)."},
         {.name = "UseAltProfile",
          .kind = Switch,
          .description = "Which profile the contact jobs log on with: 0 the profile named by txtAltProfile; any "
                         "other text (1, or missing) the profile TWCorvane. Only 0 turns it off."},
         {.name = "txtAltProfile", .description = "The other mail profile of the contact jobs (see UseAltProfile)."},
     }},
    {"Directory bind",
     "How the service, corvane-run, its check and dsimport bind to an LDAP directory (Server and DistListServer "
     "alike), read at every logon. The environment variables CORVANE_LDAP_BINDDN and CORVANE_LDAP_PASSWORD_FILE, "
     "where set, win over LdapBindDN and LdapPasswordFile. The password itself is never a value here: it is the "
     "first line of the password file. Without LdapSaslMech and LdapBindDN the bind is a SASL bind where ldap.conf "
     "names SASL_MECH, else anonymous.",
     {
         {.name = "LdapBindDN",
          .description = "The identity of a simple bind, a DN (CN=svc-corvane,OU=Service,DC=example,DC=org) or, on "
                         "Active Directory, a user principal name (svc-corvane@example.org)."},
         {.name = "LdapPasswordFile",
          .description = "The file whose first line is the password of LdapBindDN, e.g. "
                         "/var/lib/corvane/ldap-password; a regular file readable by its owner only (chmod 600), "
                         "else the bind fails before anything is sent."},
         {.name = "LdapSaslMech",
          .description = "A SASL mechanism to bind with instead, e.g. GSSAPI (Kerberos: the ticket comes from "
                         "KRB5CCNAME, kept fresh from a keytab) or EXTERNAL (ldapi:// or a client certificate); "
                         "LdapBindDN is then not used."},
         {.name = "LdapStartTLS",
          .kind = Switch,
          .description = "1 starts TLS (StartTLS) on an ldap:// connection before the bind, as domain controllers "
                         "that require signing or TLS want; a server that cannot is an error. ldaps:// is TLS "
                         "already."},
         {.name = "LdapCAFile",
          .description = "A PEM file of the certificate authorities to trust for ldaps:// and StartTLS, for a "
                         "site whose CA is not in the system's store (ldap.conf's TLS_CACERT). The server's "
                         "certificate must then be signed by one of them and name the host of the URL."},
         {.name = "LdapRefuseClearBind",
          .kind = Switch,
          .description = "1 refuses a simple bind whose password would travel in clear: ldap:// without "
                         "LdapStartTLS to a host other than the loopback. 0 (the default) binds and warns in the "
                         "run log and in corvane-run --check."},
     }},
    {"Update run options",
     "Read at the service's start (NoParse, NoSMTP, NoExtraEvents, ToDoCount) or at every run (the others).",
     {
         {.name = "NoParse",
          .kind = Switch,
          .description = "1 skips the address pass: the final table gets DEFSMTP but no ADDR1 to ADDR5 or SMTP "
                         "columns, and contacts the public-folder sync adds get no extra address fields."},
         {.name = "NoSMTP", .kind = Switch, .description = "1 leaves out the SMTP column (ADDR1 to ADDR5 stay)."},
         {.name = "NoExtraEvents",
          .kind = Switch,
          .description = "1 leaves out the information events at the service's start and around each run."},
         {.name = "ToDoCount",
          .kind = Number,
          .description = "Handed to the GAL reader at every run; a value from 1 to 49 only adds a line per entry to "
                         "CorvaneDLL.log.",
          .min = 0,
          .max = 32767},
         {.name = "Exclude",
          .kind = Switch,
          .description = "1 leaves out of the final table every row whose ExcludeFieldName column matches (any "
                         "case) a value of the exclusion table."},
         {.name = "ExcludeTableName", .description = "The exclusion table: it holds the values to leave out."},
         {.name = "ExcludeFieldName",
          .description = "The column compared between the address list and the exclusion table, e.g. ACCOUNT."},
         {.name = "RunBefore", .kind = Boolean, .description = "1 starts RunBeforeCommand before each run."},
         {.name = "RunBeforeCommand",
          .description = "A command line or document opened before each run; the run does not wait for it. Under "
                         "systemd it runs as the service's user with the service's restrictions."},
         {.name = "RunSQLBefore", .kind = Boolean, .description = "1 executes RunSQLBeforeCmd before each run."},
         {.name = "RunSQLBeforeCmd", .description = "One SQL statement run against the database before each run."},
         {.name = "RunSQLPreParse",
          .kind = Boolean,
          .description = "1 executes RunSQLPreParseCmd once the GAL reader has filled the temporary table, before "
                         "the address pass."},
         {.name = "RunSQLPreParseCmd", .description = "One SQL statement for that point."},
         {.name = "RunAfter", .kind = Boolean, .description = "1 starts RunAfterCommand after each successful run."},
         {.name = "RunAfterCommand",
          .description = "A command line or document opened after each successful run; not waited for."},
         {.name = "RunSQLAfter", .kind = Boolean, .description = "1 executes RunSQLAfterCmd after each run."},
         {.name = "RunSQLAfterCmd",
          .description = "SQL run once the final table is in place; with \";\" in it, each piece between them is "
                         "run in turn (e.g. grant select on GAL to reporting)."},
         {.name = "PublishMode",
          .description = "Empty: every run drops the final table and builds it again in place. swap: the run "
                         "builds the new table as <TableName>_new, on databases other than SQL Server and Oracle "
                         "with one insert ... select that also applies the exclusion table, and gives it the final "
                         "name only once it is complete, so readers see the old table or the new one, never a part "
                         "of one. Read at every run; the wizard's \"Publish the new table only when it is "
                         "complete\"."},
         {.name = "MaxShrinkPercent",
          .description = "Empty: off. A percentage from 0 to 100: a run whose new table would hold fewer rows than "
                         "the last completed build published by more than that publishes nothing and ends as a "
                         "failed run with an error event naming both counts. The count of the last completed build "
                         "is kept in final-table.json in the home, so a table left short by a killed run is no "
                         "measure; before any build was recorded there the published table is. A value that is not "
                         "such a percentage fails the run the same way. Read at every run."},
     }},
    {"Schedule",
     "When the service runs the export. It checks every 10 seconds (the first check about 70 seconds after its "
     "start) and runs when the kind's conditions hold. ScheduleType is read at the service's start; the other "
     "values at every check. corvane-run --check describes the configured schedule and says when it is next due.",
     {
         {.name = "ScheduleType",
          .kind = OneOf,
          .description = "The kind of schedule. Missing or empty: 9, and the service never runs the export.",
          .choices = {{0, "daily (see ScheduleDay)"},
                      {1, "weekly (ScheduleWeek, WeekDays)"},
                      {2, "monthly (ScheduleMonth, Months)"},
                      {3, "one time only (OneTime)"},
                      {4, "once at every start of the service"},
                      {5, "never"},
                      {6, "continuously: each run starts at the first check after the last one ended"},
                      {9, "nothing configured: never"}}},
         {.name = "StartTime",
          .kind = DateAndTime,
          .description = "No scheduled run starts before this moment; for the weekly kind the weeks count from it, "
                         "and monthly runs never happen in its calendar month. Not a date-time: 1-1-2000."},
         {.name = "LastSuccessfulRun",
          .kind = DateAndTime,
          .description = "Written by each successful run; the daily kinds count from it. The wizard empties it at "
                         "every save, which makes a daily schedule due at once."},
         {.name = "OneTime",
          .kind = Switch,
          .description = "One time only: 1 while the run is pending; the service sets it to 0 after that run."},
         {.name = "ScheduleDay",
          .kind = OneOf,
          .description = "Daily: which days. Due once 24 hour boundaries have passed since LastSuccessfulRun.",
          .choices = {{0, "every day"},
                      {1, "week days: Sunday to Thursday"},
                      {2, "every DayCount days"}}},
         {.name = "DayCount",
          .kind = Number,
          .description = "Daily, ScheduleDay 2: the number of days between runs (the wizard writes 1 or 99 for "
                         "the other day choices).",
          .min = 1,
          .max = 1365},
         {.name = "ScheduleWeek",
          .kind = Number,
          .description = "Weekly: due only once this many whole weeks have passed since StartTime; then at every "
                         "check of every day listed in WeekDays (runs follow each other all day).",
          .min = 0,
          .max = 32767},
         {.name = "WeekDays",
          .kind = NumberList,
          .description = "Weekly: the days, 1 Sunday, 2 Monday ... 7 Saturday, e.g. 2,4,6.",
          .min = 1,
          .max = 7},
         {.name = "ScheduleMonth",
          .kind = OneOf,
          .description = "Monthly: how the day is chosen. Due at every check of that day in the months listed in "
                         "Months, except in the calendar month of StartTime.",
          .choices = {{0, "day MonthDay of the month"}, {1, "the MonthOpt1-th weekday MonthOpt2"}}},
         {.name = "MonthDay", .kind = Number, .description = "Monthly, ScheduleMonth 0: the day.", .min = 1, .max = 31},
         {.name = "MonthOpt1",
          .kind = OneOf,
          .description = "Monthly, ScheduleMonth 1: which of the weekdays (counted in StartTime's month).",
          .choices = {{1, "first"}, {2, "second"}, {3, "third"}, {4, "fourth"}, {5, "fifth"}}},
         {.name = "MonthOpt2",
          .kind = OneOf,
          .description = "Monthly, ScheduleMonth 1: the weekday.",
          .choices = {{1, "Sunday"},
                      {2, "Monday"},
                      {3, "Tuesday"},
                      {4, "Wednesday"},
                      {5, "Thursday"},
                      {6, "Friday"},
                      {7, "Saturday"}}},
         {.name = "Months",
          .kind = NumberList,
          .description = "Monthly: the months, 1 January ... 12 December, e.g. 1,4,7,10.",
          .min = 1,
          .max = 12},
     }},
    {"Distribution list",
     "With DistList on, every successful run writes the proxy addresses of the final table into DistListFile and "
     "starts dsimport(1) on it, which makes the group hold exactly those members. Needs the column switch "
     "EMS_AB_PROXY_ADDRESSES.",
     {
         {.name = "DistList",
          .kind = Boolean,
          .description = "True or 1 keeps the distribution list; read at the service's start."},
         {.name = "DistListName", .description = "Name of the list: the group is CN=<DistListName>."},
         {.name = "DistListServer",
          .description = "The directory that holds the group, as for Server: an LDAP URL, a host name or an LDIF "
                         "file."},
         {.name = "DistListOrg", .description = "The base point, e.g. DC=example,DC=org."},
         {.name = "DistListCon", .description = "The container below it, CN=<name> or OU=<name>, e.g. Users."},
         {.name = "DistListFile",
          .description = "The list file the run writes and dsimport reads, e.g. /var/lib/corvane/distlist.csv "
                         "(under systemd the service can write only in its home). Empty: no list until the service "
                         "is started again."},
         {.name = "DistListImportMargin",
          .kind = Number,
          .description = "Minutes a run's dsimport may take, waiting for an earlier import included, before "
                         "corvane-run --status warns (exit status 1) that no import followed the last completed run; "
                         "empty means 30. dsimport leaves the outcome of every import in "
                         "$CORVANE_HOME/last-dsimport.json (mode 0640), which --status and --check show, and copies "
                         "this value there for a monitoring user who cannot read the settings.",
          .min = 1,
          .max = 10080},
     }},
    {"Contacts",
     "Address books kept as vCard folders under $CORVANE_HOME/mailstore after each successful run.",
     {
         {.name = "chkcontacts0",
          .kind = Switch,
          .description = "1 rebuilds the local address book (the mailbox's contacts sub-folder localcontactname) "
                         "from the final table."},
         {.name = "chkcontacts1",
          .kind = Switch,
          .description = "1 keeps the public contacts folder cmbsubs in step with the final table."},
         {.name = "localcontactname", .description = "The sub-folder of the mailbox's contacts the local export rebuilds."},
         {.name = "cmbsubs",
          .description = "The public contacts folder: a top-level name, a second-level name, or top and sub name "
                         "joined by \\. Empty: the sync does nothing."},
     }},
    {"Service bookkeeping",
     "Written by the service; there is no need to set them.",
     {
         {.name = "TimerInterval",
          .kind = Number,
          .description = "The check interval in milliseconds, recorded at each start; changing it has no effect.",
          .min = 0,
          .max = 2147483647},
         {.name = kFinalTableIncomplete,
          .kind = Switch,
          .description = "1 while a run has left the final table incomplete (stopped or failed while building "
                         "it); the service then runs the export at its first check whatever the schedule. A run "
                         "that completes sets 0."},
     }},
};

// What each column of the final table holds, by box.
constexpr std::array<std::string_view, kColumnBoxCount> kColumnDescriptions = {
    "the given name",
    "the initials",
    "the surname",
    "the display name",
    "the display name in plain ASCII",
    "the entry identifier (the final table always starts with entry_id)",
    "the job title",
    "the company",
    "the office",
    "the manager's display name",
    "the office telephone number",
    "a second office telephone number",
    "the assistant's name",
    "the assistant's telephone number",
    "the mobile number",
    "the pager number",
    "the display type (0 user, 1 group, 2 public folder, 6 contact)",
    "the entry's e-mail addresses, as many as fit in 1023 characters; the run log counts the entries that have "
    "more (the distribution list needs this column)",
    "the business city",
    "the business country",
    "the business post office box",
    "the business postal code",
    "the business state or province",
    "the business street",
    "the business fax number",
    "the business home page",
    "the business telephone number",
    "a second business telephone number",
    "the department",
    "the home telephone number",
    "a second home telephone number",
    "the home fax number",
    "the home street",
    "the home city",
    "the home state or province",
    "the home postal code",
    "the home country",
    "the account name",
    "custom attribute 1",
    "custom attribute 2",
    "custom attribute 3",
    "custom attribute 4",
    "the comment",
    "the personal home page",
};

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// Edits (insert, delete, replace, swap of neighbours) from a to b.
size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    for (size_t j = 1; j <= b.size(); ++j) {
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  }
  return d[a.size()][b.size()];
}

int ColumnBoxOf(std::string_view name) {
  for (int i = 0; i < kColumnBoxCount; ++i)
    if (registry::EqualsNoCase(kColumnBoxes[i].ParameterName(), name)) return i;
  return -1;
}

std::string ChoicesText(const ParameterDoc& doc) {
  std::vector<std::string> values;
  for (const auto& c : doc.choices) values.push_back(std::to_string(c.value));
  return fmt::format("{}", fmt::join(values, ", "));
}

bool InRange(std::string_view text, const ParameterDoc& doc) {
  auto n = ToInt32(text);
  return n && *n >= doc.min && *n <= doc.max;
}

}  // namespace

const std::vector<ParameterSection>& ParameterReference() { return kReference; }

const ParameterDoc* FindParameterDoc(std::string_view name) {
  for (const auto& section : kReference)
    for (const auto& doc : section.parameters)
      if (registry::EqualsNoCase(doc.name, name)) return &doc;
  return nullptr;
}

std::string_view ColumnDescription(int box) { return kColumnDescriptions.at(static_cast<size_t>(box)); }

bool IsKnownParameter(std::string_view name) {
  if (ColumnBoxOf(name) >= 0) return true;
  return std::any_of(AllParameters().begin(), AllParameters().end(),
                     [&](const ParameterInfo& p) { return registry::EqualsNoCase(p.name, name); });
}

std::string NearestKnownName(std::string_view name) {
  // The short captions of the last six boxes name their column, not their switch.
  for (const auto& box : kColumnBoxes)
    if (!box.tag.empty() && registry::EqualsNoCase(box.caption, name)) return std::string(box.tag);
  std::vector<std::string_view> known;
  for (const auto& p : AllParameters()) known.push_back(p.name);
  for (const auto& box : kColumnBoxes) known.push_back(box.ParameterName());
  const std::string wanted = Lower(name);
  std::string_view best;
  size_t bestDistance = std::max<size_t>(2, wanted.size() / 4) + 1;  // farther than that is no likely typo
  for (std::string_view candidate : known) {
    const size_t distance = EditDistance(wanted, Lower(candidate));
    if (distance < bestDistance) {
      bestDistance = distance;
      best = candidate;
    }
  }
  return std::string(best);
}

std::string UnknownNameWarning(std::string_view name) {
  const std::string nearest = NearestKnownName(name);
  if (nearest.empty()) return fmt::format("{} is not a value Corvane reads", name);
  return fmt::format("{} is not a value Corvane reads (did you mean {}?)", name, nearest);
}

std::optional<std::string> ValueProblem(std::string_view name, std::string_view text) {
  const std::string shown = fmt::format("\"{}\"", text);
  if (ColumnBoxOf(name) >= 0) {
    // The run reads a column switch as a number; anything else counts a failure.
    if (auto n = ToInt16(text); n && (*n == 0 || *n == 1)) return std::nullopt;
    return shown + " is not 0 or 1 (1 puts the column into the final table)";
  }
  const ParameterDoc* doc = FindParameterDoc(name);
  if (doc == nullptr || TrimBlanks(text).empty()) return std::nullopt;
  // Two texts the run reads by their own rules, and fails on when it cannot.
  if (name == "PublishMode")
    return ToPublishMode(text) ? std::nullopt : std::optional(shown + " is not empty or " + kPublishSwap);
  if (name == "MaxShrinkPercent")
    return ToShrinkThreshold(text).valid ? std::nullopt : std::optional(shown + " is not a percentage from 0 to 100");
  switch (doc->kind) {
    case Text: return std::nullopt;
    case Switch: {
      auto n = ToInt16(text);
      if (n && (*n == 0 || *n == 1)) return std::nullopt;
      return shown + " is not 0 or 1";
    }
    case Boolean:
      if (ToBoolean(text)) return std::nullopt;
      return shown + " is not 0, 1, True or False";
    case Number:
      if (InRange(text, *doc)) return std::nullopt;
      return fmt::format("{} is not a whole number from {} to {}", shown, doc->min, doc->max);
    case OneOf: {
      auto n = ToInt32(text);
      if (n && std::any_of(doc->choices.begin(), doc->choices.end(), [&](const auto& c) { return c.value == *n; }))
        return std::nullopt;
      return fmt::format("{} is not one of {}", shown, ChoicesText(*doc));
    }
    case DateAndTime:
      if (ParseDateTime(text)) return std::nullopt;
      return shown + " is not a date and time such as 6-15-2026 2:30:0 AM (month first)";
    case NumberList:
      for (const auto& item : SplitList(text))
        if (!InRange(item, *doc))
          return fmt::format("{} is not a list of numbers from {} to {} joined by commas", shown, doc->min, doc->max);
      return std::nullopt;
  }
  return std::nullopt;
}

std::string KindText(const ParameterDoc& doc) {
  switch (doc.kind) {
    case Text: return "text";
    case Switch: return "switch, 0 or 1";
    case Boolean: return "switch, 0 or 1, True or False";
    case Number: return fmt::format("whole number, {} to {}", doc.min, doc.max);
    case OneOf: return fmt::format("one of {}", ChoicesText(doc));
    case DateAndTime: return "date and time, month first: 6-15-2026 2:30:0 AM";
    case NumberList: return fmt::format("list of numbers from {} to {}, e.g. {},{}", doc.min, doc.max, doc.min, doc.min + 1);
  }
  return "text";
}

}  // namespace corvane::parameters
