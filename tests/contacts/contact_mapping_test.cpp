// The contact field mapping in its three places, one row at a time.
#include "service/contacts/contact_mapping.h"

#include <gtest/gtest.h>

#include <map>

#include "tests/support/recording_connection.h"
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

}  // namespace
}  // namespace corvane::testing
