// The contact field mapping in its three places, one row at a time.
#include "service/contacts/contact_mapping.h"

#include <gtest/gtest.h>

#include <strings.h>

#include <map>

#include "platform/ado/recording_connection.h"
#include "platform/outlook/memory_store.h"

namespace corvane::testing {
namespace {

using outlook::ContactProperty;
using service::contacts::MappingPlace;
using P = ContactProperty;

struct MappingCase {
  std::string name;
  MappingPlace place;
  std::map<std::string, ado::FieldValue> row;
  std::map<P, std::string> before;  // the contact's values before the write
  std::string noParse;
  std::map<P, std::string> expected;  // every property not named here is empty
};

class ContactMapping : public ::testing::TestWithParam<MappingCase> {};

TEST_P(ContactMapping, WritesTheRow) {
  const MappingCase& c = GetParam();
  auto db = std::make_shared<ado::RecordingDatabase>();
  std::vector<std::string> columns;
  std::vector<ado::FieldValue> values;
  for (const auto& [column, value] : c.row) {
    columns.push_back(column);
    values.push_back(value);
  }
  db->When("select * from GAL", ado::ScriptedAnswer::Rows(columns, {values}));
  ado::RecordingConnection conn(db);
  conn.Open("recording");
  auto rs = conn.CreateRecordset();
  rs->Open("select * from GAL", conn);

  outlook::MemoryStore store;
  store.AddProfile("p", "m");
  outlook::Namespace ns = outlook::Application(store).GetNamespace("MAPI");
  ns.Logon("p");
  outlook::ContactItem contact = ns.GetDefaultFolder(outlook::olFolderContacts).GetItems().Add(2);
  for (const auto& [p, v] : c.before) contact.Set(p, v);
  int events = 0;
  service::contacts::WriteContactFields(contact, *rs, c.place, {[&] { ++events; }, [&] { return c.noParse; }});

  for (size_t i = 0; i < outlook::kContactPropertyCount; ++i) {
    auto p = static_cast<P>(i);
    auto it = c.expected.find(p);
    EXPECT_EQ(contact.Get(p), it == c.expected.end() ? "" : it->second) << outlook::PropertyName(p);
  }
  EXPECT_EQ(contact.UserPropertyValue("EntryID"), "E1");
  EXPECT_EQ(contact.UserPropertyValue("RawPhoneData").has_value(), c.place != MappingPlace::LocalExport);
  EXPECT_EQ(events, c.place == MappingPlace::LocalExport ? 0 : 1);
}

const std::map<std::string, ado::FieldValue> kPerson = {
    {"ENTRY_ID", "E1"},       {"DISPLAY_NAME", "Ann O'Neil"}, {"GIVEN_NAME", "Ann"}, {"SURNAME", "O'Neil"},
    {"INITIALS", ""},         {"DISPLAY_TYPE", "0"},          {"TITLE", "Engineer"}, {"ACCOUNT", "aoneil"},
    {"DEFSMTP", "ann@x.org"}, {"SMTP", "a@x.org"},            {"ADDR1", "smtp:ann@x.org"}, {"ADDR2", std::nullopt},
    {"EXT1", "7"}};

std::map<std::string, ado::FieldValue> With(std::map<std::string, ado::FieldValue> row,
                                            const std::map<std::string, ado::FieldValue>& changes) {
  for (const auto& [k, v] : changes) row[k] = v;
  return row;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, ContactMapping,
    ::testing::Values(
        MappingCase{"PersonAdded", MappingPlace::AddPhase, kPerson, {}, "",
                    {{P::FullName, "Ann O'Neil"}, {P::FirstName, "Ann"}, {P::LastName, "O'Neil"},
                     {P::JobTitle, "Engineer"}, {P::Account, "aoneil"}, {P::Email1Address, "ann@x.org"},
                     {P::Email1AddressType, "SMTP"}, {P::Email2Address, "smtp:ann@x.org"}, {P::User4, "7"}}},
        // NoParse keeps the address columns off added contacts only.
        MappingCase{"NoParseAdded", MappingPlace::AddPhase, kPerson, {}, "1",
                    {{P::FullName, "Ann O'Neil"}, {P::FirstName, "Ann"}, {P::LastName, "O'Neil"},
                     {P::JobTitle, "Engineer"}, {P::Account, "aoneil"}, {P::Email1Address, "ann@x.org"},
                     {P::Email1AddressType, "SMTP"}, {P::User4, "7"}}},
        // A person with no name parts is named by the display name; the
        // first proxy address stands in for an empty default one.
        MappingCase{"HelpDesk", MappingPlace::UpdatePhase,
                    With(kPerson, {{"GIVEN_NAME", ""}, {"SURNAME", ""}, {"DISPLAY_NAME", "Help Desk"}, {"DEFSMTP", ""}}),
                    {}, "1",
                    {{P::FullName, "Help Desk"}, {P::LastName, "Help Desk"}, {P::JobTitle, "Engineer"},
                     {P::Account, "aoneil"}, {P::Email1Address, "a@x.org"}, {P::Email1AddressType, "SMTP"},
                     {P::Email2Address, "smtp:ann@x.org"}, {P::User4, "7"}}},
        // A distribution list takes only its full name among the names.
        MappingCase{"DistributionList", MappingPlace::AddPhase,
                    With(kPerson, {{"DISPLAY_TYPE", "1"}, {"TITLE", std::nullopt}, {"ACCOUNT", std::nullopt}}), {}, "",
                    {{P::FullName, "Ann O'Neil"}, {P::Email1Address, "ann@x.org"}, {P::Email1AddressType, "SMTP"},
                     {P::Email2Address, "smtp:ann@x.org"}, {P::User4, "7"}}},
        // Update phase: an empty value clears, a Null keeps.
        MappingCase{"UpdateEmptyAndNull", MappingPlace::UpdatePhase,
                    With(kPerson, {{"ASSISTANT", ""}, {"MANAGER_NAME", std::nullopt}, {"DISPLAY_TYPE", std::nullopt}}),
                    {{P::AssistantName, "Dee"}, {P::ManagerName, "Mo"}}, "",
                    {{P::FullName, "Ann O'Neil"}, {P::FirstName, "Ann"}, {P::LastName, "O'Neil"},
                     {P::JobTitle, "Engineer"}, {P::Account, "aoneil"}, {P::ManagerName, "Mo"},
                     {P::Email1Address, "ann@x.org"}, {P::Email1AddressType, "SMTP"},
                     {P::Email2Address, "smtp:ann@x.org"}, {P::User4, "7"}}},
        // The local export: the title as the courtesy title, SMTP only, a
        // single proxy address, columns the table lacks left alone.
        MappingCase{"LocalExport", MappingPlace::LocalExport, kPerson, {}, "1",
                    {{P::FullName, "Ann O'Neil"}, {P::FirstName, "Ann"}, {P::LastName, "O'Neil"}, {P::Title, "Engineer"},
                     {P::Account, "aoneil"}, {P::Email1Address, "a@x.org"}, {P::Email1AddressType, "SMTP"},
                     {P::Email2Address, "smtp:ann@x.org"}, {P::User4, "7"}}}),
    [](const auto& info) { return info.param.name; });


// Every row of the mapping, in the three places, against a model written
// from the mapping table: its write rules, its order and the rules of
// rows 5 and 6. Each column is tried with a value, an empty text and a
// Null over a contact whose every property holds a value already, so that
// a value landing on the wrong property, or a rule applied wrongly, shows.
namespace table {

enum class Rule { Always, NonEmpty, NullAsEmpty, Parsed, None };
using R = Rule;
using Row = std::map<std::string, ado::FieldValue>;
using Contact = std::map<std::string, std::string>;  // property or user property -> value

struct Mapped {
  const char* column;
  const char* property;  // a contact property, or "user:<name>"
  Rule update, add, local;
};

// Rows 1 to 4 and 7 to 40 of the mapping table ("title" goes to Title in
// the local export).
const std::vector<Mapped> kRowsBefore = {
    {"company_Name", "CompanyName", R::NonEmpty, R::NonEmpty, R::NonEmpty},
    {"Display_Name", "FullName", R::NonEmpty, R::NonEmpty, R::NonEmpty},
    {"Entry_id", "user:EntryID", R::NonEmpty, R::NonEmpty, R::NonEmpty},
    {"Bus_telephone_number", "user:RawPhoneData", R::NonEmpty, R::NonEmpty, R::None},
};
const std::vector<Mapped> kRowsAfter = {
    {"title", "JobTitle", R::Always, R::NullAsEmpty, R::None},
    {"title", "Title", R::None, R::None, R::Always},
    {"Account", "Account", R::Always, R::NullAsEmpty, R::Always},
    {"Office_location", "OfficeLocation", R::Always, R::NullAsEmpty, R::Always},
    {"Manager_Name", "ManagerName", R::Always, R::NullAsEmpty, R::Always},
    {"Office_Telephone_number", "OtherTelephoneNumber", R::Always, R::NonEmpty, R::Always},
    {"Assistant", "AssistantName", R::Always, R::NonEmpty, R::Always},
    {"Assistant_Telephone_Number", "AssistantTelephoneNumber", R::Always, R::NonEmpty, R::Always},
    {"Mobile_Telephone_Number", "MobileTelephoneNumber", R::Always, R::NonEmpty, R::Always},
    {"Pager_Telephone_Number", "PagerNumber", R::Always, R::NonEmpty, R::Always},
    {"Bus_Add_City", "BusinessAddressCity", R::Always, R::NonEmpty, R::Always},
    {"Bus_Add_Country", "BusinessAddressCountry", R::Always, R::NonEmpty, R::Always},
    {"Bus_add_Post_Office_Box", "BusinessAddressPostOfficeBox", R::Always, R::NonEmpty, R::Always},
    {"Bus_add_postal_code", "BusinessAddressPostalCode", R::Always, R::NonEmpty, R::Always},
    {"Bus_Add_state_or_Province", "BusinessAddressState", R::Always, R::NonEmpty, R::Always},
    {"Bus_Add_Street", "BusinessAddressStreet", R::Always, R::NonEmpty, R::Always},
    {"Bus_add_Fax_number", "BusinessFaxNumber", R::Always, R::NonEmpty, R::Always},
    {"Bus_Home_Page", "BusinessHomePage", R::Always, R::NonEmpty, R::Always},
    {"Bus_telephone_number", "BusinessTelephoneNumber", R::Always, R::NonEmpty, R::Always},
    {"Bus2_Telephone_number", "Business2TelephoneNumber", R::Always, R::NonEmpty, R::Always},
    {"Bus_Department_name", "Department", R::Always, R::NonEmpty, R::Always},
    {"H_telephone_number", "HomeTelephoneNumber", R::Always, R::NonEmpty, R::Always},
    {"h2_telephone_number", "Home2TelephoneNumber", R::Always, R::NonEmpty, R::Always},
    {"h_fax_number", "HomeFaxNumber", R::Always, R::NonEmpty, R::Always},
    {"h_add_street", "HomeAddressStreet", R::Always, R::NonEmpty, R::Always},
    {"h_add_city", "HomeAddressCity", R::Always, R::NonEmpty, R::Always},
    {"h_add_state_or_province", "HomeAddressState", R::Always, R::NonEmpty, R::Always},
    {"h_add_postal_code", "HomeAddressPostalCode", R::Always, R::NonEmpty, R::Always},
    {"h_add_country", "HomeAddressCountry", R::Always, R::NonEmpty, R::Always},
    {"Addr1", "Email2Address", R::Always, R::Parsed, R::Always},
    {"addr2", "Email3Address", R::Always, R::Parsed, R::Always},
    {"addr3", "User1", R::Always, R::Parsed, R::Always},
    {"addr4", "User2", R::Always, R::Parsed, R::Always},
    {"Addr5", "User3", R::Always, R::Parsed, R::Always},
    {"ext1", "User4", R::Always, R::NonEmpty, R::Always},
};

ado::FieldValue Get(const Row& row, std::string column) {
  for (const auto& [name, value] : row)
    if (strcasecmp(name.c_str(), column.c_str()) == 0) return value;
  return std::nullopt;
}

// The write rules of the table.
void Write(Contact& c, Rule rule, const std::string& property, const ado::FieldValue& v, bool parsed) {
  if (rule == R::Parsed) rule = parsed ? R::NonEmpty : R::None;
  if (rule == R::Always && v) c[property] = *v;
  if (rule == R::NonEmpty && v && !v->empty()) c[property] = *v;
  if (rule == R::NullAsEmpty) c[property] = v.value_or("");
}

// What the table says the contact `before` becomes.
Contact Expected(MappingPlace place, const Row& row, Contact c, const std::string& noParse) {
  const bool sync = place != MappingPlace::LocalExport, add = place == MappingPlace::AddPhase;
  const bool parsed = noParse.empty() || noParse == "0";
  auto rule = [&](const Mapped& m) { return !sync ? m.local : add ? m.add : m.update; };
  for (const auto& m : kRowsBefore) Write(c, rule(m), m.property, Get(row, m.column), parsed);
  // Row 5.
  auto defSmtp = Get(row, "DefSMTP"), smtp = Get(row, "SMTP");
  std::optional<std::string> address;
  if (sync && defSmtp && !defSmtp->empty()) address = defSmtp;
  else if (smtp && !smtp->empty()) address = smtp;
  if (address) {
    c["Email1Address"] = *address;
    c["Email1AddressType"] = "SMTP";
  }
  // Row 6.
  const Rule names = !sync ? R::Always : add ? R::NonEmpty : R::Always;
  auto name = [&](const char* column, const char* property, Rule r) { Write(c, r, property, Get(row, column), parsed); };
  const auto type = Get(row, "Display_type");
  const std::string kind = !sync ? "local" : !type ? "other" : type->empty() ? "6" : *type;
  if (kind == "local") {
    name("Given_Name", "FirstName", names);
    name("surname", "LastName", names);
    name("Account", "Account", names);
    name("Initials", "Initials", names);
  } else if (kind == "0" || kind == "6") {
    name("Given_Name", "FirstName", names);
    name("surname", "LastName", names);
    name("Initials", "Initials", add ? R::NullAsEmpty : R::Always);
    if (Get(row, "given_name") == "" && Get(row, "surname") == "" && Get(row, "initials") == "")
      name("display_name", "LastName", names);
  } else if (kind == "1" || kind == "2") {
    name("display_name", "FullName", names);
  } else {
    name("Given_Name", "FirstName", names);
    name("surname", "LastName", names);
    name("Account", "Account", names);
    name("Initials", "Initials", names);
    name("title", "JobTitle", names);
  }
  for (const auto& m : kRowsAfter) Write(c, rule(m), m.property, Get(row, m.column), parsed);
  return c;
}

// What WriteContactFields makes of the contact `before`.
Contact Actual(MappingPlace place, const Row& row, const Contact& before, const std::string& noParse) {
  auto db = std::make_shared<ado::RecordingDatabase>();
  std::vector<std::string> columns;
  std::vector<ado::FieldValue> values;
  for (const auto& [column, value] : row) {
    columns.push_back(column);
    values.push_back(value);
  }
  db->When("select * from GAL", ado::ScriptedAnswer::Rows(columns, {values}));
  ado::RecordingConnection conn(db);
  conn.Open("recording");
  auto rs = conn.CreateRecordset();
  rs->Open("select * from GAL", conn);
  outlook::MemoryStore store;
  store.AddProfile("p", "m");
  outlook::Namespace ns = outlook::Application(store).GetNamespace("MAPI");
  ns.Logon("p");
  outlook::ContactItem contact = ns.GetDefaultFolder(outlook::olFolderContacts).GetItems().Add(2);
  for (size_t i = 0; i < outlook::kContactPropertyCount; ++i) {
    auto p = static_cast<P>(i);
    contact.Set(p, before.at(std::string(outlook::PropertyName(p))));
  }
  for (const char* user : {"EntryID", "RawPhoneData"})
    contact.AddUserProperty(user, outlook::olText).SetValue(before.at(std::string("user:") + user));
  service::contacts::WriteContactFields(contact, *rs, place, {[] {}, [&] { return noParse; }});
  Contact out;
  for (size_t i = 0; i < outlook::kContactPropertyCount; ++i)
    out[std::string(outlook::PropertyName(static_cast<P>(i)))] = contact.Get(static_cast<P>(i));
  for (const char* user : {"EntryID", "RawPhoneData"})
    out[std::string("user:") + user] = contact.UserPropertyValue(user).value_or("<none>");
  return out;
}

}  // namespace table

TEST(ContactMappingTable, EveryRowInEveryPlace) {
  using table::Row;
  // A person row: every column of the table with a value of its own.
  Row person = {{"Display_type", "0"}, {"DefSMTP", "defsmtp-v"}, {"SMTP", "smtp-v"},
                {"Given_Name", "given-v"}, {"surname", "surname-v"}, {"Initials", "initials-v"}};
  for (const auto* rows : {&table::kRowsBefore, &table::kRowsAfter})
    for (const auto& m : *rows) person[m.column] = std::string(m.column) + "-v";
  table::Contact before;
  for (size_t i = 0; i < outlook::kContactPropertyCount; ++i)
    before[std::string(outlook::PropertyName(static_cast<P>(i)))] = "before";
  before["user:EntryID"] = before["user:RawPhoneData"] = "before";

  struct Case {
    std::string name;
    Row row;
    std::string noParse;
  };
  std::vector<Case> cases = {{"person", person, ""}, {"person, NoParse 1", person, "1"}};
  for (const auto& [column, value] : person) {
    Row empty = person, null = person;
    empty[column] = "";
    null[column] = std::nullopt;
    cases.push_back({column + " empty", empty, ""});
    cases.push_back({column + " Null", null, ""});
  }
  for (const char* type : {"6", "", "1", "2", "3"}) {
    Row r = person;
    r["Display_type"] = type;
    cases.push_back({std::string("display type '") + type + "'", r, ""});
  }
  Row helpDesk = person;
  helpDesk["Given_Name"] = helpDesk["surname"] = helpDesk["Initials"] = "";
  cases.push_back({"no name parts", helpDesk, ""});
  helpDesk["Initials"] = std::nullopt;
  cases.push_back({"no name parts, Null initials", helpDesk, ""});

  for (const auto& c : cases)
    for (auto place : {MappingPlace::UpdatePhase, MappingPlace::AddPhase, MappingPlace::LocalExport}) {
      SCOPED_TRACE(c.name + " in place " + std::to_string(static_cast<int>(place)));
      EXPECT_EQ(table::Actual(place, c.row, before, c.noParse), table::Expected(place, c.row, before, c.noParse));
    }
}

}  // namespace
}  // namespace corvane::testing
