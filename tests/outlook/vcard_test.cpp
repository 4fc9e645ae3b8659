// The vCard text itself: what clients read, and cards they wrote.
#include "platform/outlook/vcard.h"

#include <gtest/gtest.h>

#include <sstream>

namespace corvane::testing {
namespace {

using outlook::ContactProperty;
using outlook::ContactRecord;

std::vector<std::string> PhysicalLines(const std::string& card) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < card.size()) {
    size_t end = card.find("\r\n", pos);
    lines.push_back(card.substr(pos, end - pos));
    pos = end + 2;
  }
  return lines;
}

TEST(VCard, WritesStandardPropertiesEscapedAndFolded) {
  ContactRecord r;
  r.Get(ContactProperty::FullName) = "O'Neil, Ann; \"Annie\"";
  r.Get(ContactProperty::FirstName) = "Ann";
  r.Get(ContactProperty::LastName) = "O'Neil";
  r.Get(ContactProperty::CompanyName) = "Harbourline";
  r.Get(ContactProperty::Department) = "Sales\\EMEA";
  r.Get(ContactProperty::Email1Address) = "ann@example.org";
  r.Get(ContactProperty::MobileTelephoneNumber) = "+44 7700 900123";
  r.Get(ContactProperty::BusinessAddressStreet) = "1 Quay\r\nFloor 2";
  r.Get(ContactProperty::BusinessAddressCity) = "Leith";
  r.Get(ContactProperty::Account) = std::string(40, 'a') + "名前名前名前名前名前名前名前名前";
  r.userProperties = {{"EntryID", "00ABCD"}};
  const std::string card = outlook::WriteVCard(r, "0123abcd");
  for (const auto& expected : {
           "BEGIN:VCARD", "VERSION:3.0", "UID:0123abcd", "FN:O'Neil\\, Ann\\; \"Annie\"", "N:O'Neil;Ann;;;",
           "ORG:Harbourline;Sales\\\\EMEA", "email1.EMAIL;TYPE=INTERNET,PREF:ann@example.org",
           "mobile.TEL;TYPE=CELL,VOICE:+44 7700 900123",
           "work.ADR;TYPE=WORK;X-CORVANE-EOL=CRLF:;;1 Quay\\nFloor 2;Leith;;;",
           "X-CORVANE-USERPROPERTY;X-NAME=EntryID:00ABCD", "END:VCARD"}) {
    EXPECT_NE(card.find(std::string(expected) + "\r\n"), std::string::npos) << expected << "\n" << card;
  }
  for (const auto& line : PhysicalLines(card)) {
    EXPECT_LE(line.size(), 75u) << line;
    // A folded line never starts inside a UTF-8 character.
    if (line[0] == ' ') {
      EXPECT_NE(static_cast<unsigned char>(line[1]) & 0xC0, 0x80) << line;
    }
  }
  EXPECT_EQ(outlook::ReadVCard(card, "0123abcd"), r);
}

TEST(VCard, ReadsCardsOtherToolsWrote) {
  // As an address-book program writes a card: LF line ends, other types,
  // properties this store does not map.
  const std::string card =
      "BEGIN:VCARD\nVERSION:3.0\nUID:khard-made-uid\nFN:Bo Li\nN:Li;Bo;;;\n"
      "TEL;TYPE=cell:123\nTEL;TYPE=work:456\nTEL;TYPE=work:789\nEMAIL;TYPE=home:bo@example.org\n"
      "ADR;TYPE=home:;;2 Lane;Town;;;\nNOTE:Met at the fair\\, 2024\nEND:VCARD\n";
  auto r = outlook::ReadVCard(card, "file-stem");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->Get(ContactProperty::MobileTelephoneNumber), "123");
  EXPECT_EQ(r->Get(ContactProperty::BusinessTelephoneNumber), "456");
  EXPECT_EQ(r->Get(ContactProperty::Business2TelephoneNumber), "789");
  EXPECT_EQ(r->Get(ContactProperty::Email1Address), "bo@example.org");
  EXPECT_EQ(r->Get(ContactProperty::HomeAddressStreet), "2 Lane");
  // What is not mapped, the foreign UID included, is written back as read.
  const std::string again = outlook::WriteVCard(*r, "file-stem");
  EXPECT_NE(again.find("UID:khard-made-uid\r\n"), std::string::npos);
  EXPECT_EQ(again.find("UID:file-stem"), std::string::npos);
  EXPECT_NE(again.find("NOTE:Met at the fair\\, 2024\r\n"), std::string::npos);
  EXPECT_FALSE(outlook::ReadVCard("not a card", "x"));
}

}  // namespace
}  // namespace corvane::testing
