// The value rules and the quoting of the row writer, on records built in
// memory: what each directory value becomes in the statements.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "galreader/gal_record.h"
#include "galreader/gal_session.h"
#include "galreader/row_statements.h"
#include "tests/galreader/log_dir.h"

namespace corvane::galreader {
namespace {

const std::string kRightQuote = "\xE2\x80\x99";  // U+2019
const std::string kLeftQuote = "\xE2\x80\x98";   // U+2018
const std::string kAcute = "\xC2\xB4";           // U+00B4
const std::string kOCircumflex = "\xC3\xB4";     // "ô": its second byte is 0xB4

TEST(EscapeSqlText, CutsAtApostropheLikeCharactersAndJoinsWithDoubledApostrophe) {
  EXPECT_EQ(EscapeSqlText("O'Brien"), "O''Brien");
  EXPECT_EQ(EscapeSqlText("D" + kRightQuote + "Arcy"), "D''Arcy");
  EXPECT_EQ(EscapeSqlText("D" + kLeftQuote + "Arcy"), "D''Arcy");
  EXPECT_EQ(EscapeSqlText("D" + kAcute + "Arcy"), "D''Arcy");
  EXPECT_EQ(EscapeSqlText("D`Arcy"), "D''Arcy");
  EXPECT_EQ(EscapeSqlText("'Quoted'"), "Quoted");
  EXPECT_EQ(EscapeSqlText("a''b"), "a''b");
  EXPECT_EQ(EscapeSqlText("a'`" + kRightQuote + kAcute + "b"), "a''b");
  EXPECT_EQ(EscapeSqlText("'`" + kLeftQuote + kAcute), "");
  EXPECT_EQ(EscapeSqlText(""), "");
  EXPECT_EQ(EscapeSqlText("plain text; -- /* */ \\ \" %"), "plain text; -- /* */ \\ \" %");
}

TEST(EscapeSqlText, NeverTouchesBytesInsideOtherCharacters) {
  const std::string cote = "C" + kOCircumflex + "te";
  EXPECT_EQ(EscapeSqlText(cote), cote);
  // U+2039 (E2 80 B9) and U+00B5 (C2 B5) share lead bytes with the quotes.
  EXPECT_EQ(EscapeSqlText("a\xE2\x80\xB9" "b\xC2\xB5" "c"), "a\xE2\x80\xB9" "b\xC2\xB5" "c");
  EXPECT_EQ(EscapeSqlText(kOCircumflex + "'" + kOCircumflex), kOCircumflex + "''" + kOCircumflex);
}

TEST(EscapeSqlText, LeavesNoApostropheThatCouldEndTheLiteral) {
  // Every apostrophe in the result stands in a pair.
  for (const std::string value : {"'", "''", "'''", "x'''y", "\\'", "'; drop table t; --", "a'b'c'"}) {
    const std::string escaped = EscapeSqlText(value);
    for (size_t i = 0; i < escaped.size(); ++i) {
      if (escaped[i] != '\'') continue;
      ASSERT_LT(i + 1, escaped.size()) << value;
      ASSERT_EQ(escaped[i + 1], '\'') << value;
      ++i;
    }
  }
}

TEST(EscapeCountryText, DoublesOnlyTheApostrophe) {
  EXPECT_EQ(EscapeCountryText("Cote d'Ivoire"), "Cote d''Ivoire");
  EXPECT_EQ(EscapeCountryText("it''s"), "it''''s");
  EXPECT_EQ(EscapeCountryText("a`b" + kRightQuote + "c" + kAcute), "a`b" + kRightQuote + "c" + kAcute);
}

// A contents-table row built in memory, with every column missing unless set.
class RowBuilder {
 public:
  RowBuilder() : props_(kGalColumnCount) {
    for (size_t i = 0; i < kGalColumnCount; ++i) {
      props_[i].ulPropTag = CHANGE_PROP_TYPE(kGalColumnTags[i], PT_ERROR);
      props_[i].Value.err = MAPI_E_NOT_FOUND;
    }
  }
  RowBuilder& Text(size_t column, std::string value) {
    texts_.push_back(std::move(value));
    props_[column].ulPropTag = kGalColumnTags[column];
    props_[column].Value.lpszA = texts_.back().data();
    return *this;
  }
  RowBuilder& Binary(std::vector<BYTE> bytes) {
    bytes_ = std::move(bytes);
    props_[kEntryIdValue].ulPropTag = PR_ENTRYID;
    props_[kEntryIdValue].Value.bin = {static_cast<ULONG>(bytes_.size()), bytes_.data()};
    return *this;
  }
  RowBuilder& Long(LONG value) {
    props_[kDisplayTypeValue].ulPropTag = PR_DISPLAY_TYPE;
    props_[kDisplayTypeValue].Value.l = value;
    return *this;
  }
  RowBuilder& Addresses(std::vector<std::string> addresses) {
    addresses_ = std::move(addresses);
    pointers_.clear();
    for (auto& a : addresses_) pointers_.push_back(a.data());
    props_[kProxyAddressesValue].ulPropTag = PR_EMS_AB_PROXY_ADDRESSES;
    props_[kProxyAddressesValue].Value.MVszA = {static_cast<ULONG>(pointers_.size()), pointers_.data()};
    return *this;
  }
  SRow Row() { return SRow{0, static_cast<ULONG>(props_.size()), props_.data()}; }

 private:
  std::vector<SPropValue> props_;
  std::vector<std::string> texts_;  // never reallocates the strings' buffers we point into
  std::vector<BYTE> bytes_;
  std::vector<std::string> addresses_;
  std::vector<LPSTR> pointers_;
};

// A quiet run logs on as a service; a debug-log run names its profile
// explicitly; both without a mail spooler and in a session of their own.
TEST(GalSession, LogonFlagsFollowTheQuietFlag) {
  EXPECT_EQ(GalLogonFlags(false), 0x18002u);
  EXPECT_EQ(GalLogonFlags(true), 0x8032u);
}

TEST(BuildGalRecord, MissingPropertiesGiveEmptyValues) {
  RowBuilder b;
  const GalRecord record = BuildGalRecord(b.Row(), false);
  for (const auto& value : record) EXPECT_EQ(value, "");
}

TEST(BuildGalRecord, EntryIdIsUpperCaseHexInByteOrder) {
  RowBuilder b;
  b.Binary({0x00, 0xAB, 0x0F, 0xFF, 0x10});
  EXPECT_EQ(BuildGalRecord(b.Row(), false)[kEntryIdValue], "00AB0FFF10");
}

TEST(BuildGalRecord, DisplayTypeIsTheLowWordAsSignedDecimal) {
  const std::vector<std::pair<LONG, std::string>> cases = {
      {0, "0"}, {6, "6"}, {0x0000FFFF, "-1"}, {0x00018000, "-32768"}, {0x7FFF0001, "1"}, {-2, "-2"}};
  for (const auto& [value, text] : cases) {
    RowBuilder b;
    b.Long(value);
    EXPECT_EQ(BuildGalRecord(b.Row(), false)[kDisplayTypeValue], text) << value;
  }
}

TEST(BuildGalRecord, TextsComeUnchangedExceptInvalidUtf8) {
  RowBuilder b;
  b.Text(1, "Ren\xC3\xA9 O'Brien").Text(3, "Cote d'Ivoire").Text(10, "+1 555").Text(29, "+1 555").Text(16, "a\xFFz");
  const GalRecord record = BuildGalRecord(b.Row(), false);
  EXPECT_EQ(record[1], "Ren\xC3\xA9 O'Brien");
  EXPECT_EQ(record[3], "Cote d'Ivoire");
  EXPECT_EQ(record[10], record[29]);
  EXPECT_EQ(record[16], "a\xEF\xBF\xBDz");
}

TEST(BuildGalRecord, ProxyAddressesAreJoinedAndTheLastPrimarySmtpWins) {
  RowBuilder b;
  b.Addresses({"SMTP:first@x.org", "smtp:second@x.org", "X400:c=US;a= ;p=Org", "SMTP:last@x.org"});
  const GalRecord record = BuildGalRecord(b.Row(), false);
  EXPECT_EQ(record[kProxyAddressesValue],
            "SMTP:first@x.org{;},smtp:second@x.org{;},X400:c=US;a= ;p=Org{;},SMTP:last@x.org{;}");
  EXPECT_EQ(record[kDefSmtpValue], "last@x.org");
}

TEST(BuildGalRecord, LowerCaseSmtpNeverSetsDefSmtp) {
  RowBuilder b;
  b.Addresses({"smtp:second@x.org", "Smtp:third@x.org"});
  EXPECT_EQ(BuildGalRecord(b.Row(), false)[kDefSmtpValue], "");
}

// A 30-byte secondary address, distinct per i.
std::string Address30(int i) {
  std::string address = "smtp:user" + std::to_string(i) + "@";
  return address + std::string(30 - address.size(), 'a');
}

TEST(BuildGalRecord, ProxyListStaysWithinItsBoundAndLeftOutAddressesStillCount) {
  TempLogDir dir;
  std::vector<std::string> addresses;
  for (int i = 0; i < 40; ++i) addresses.push_back(Address30(i));
  addresses.back() = "SMTP:" + std::string(25, 'z');  // left out, yet the primary address
  RowBuilder b;
  b.Addresses(addresses);
  const GalRecord record = BuildGalRecord(b.Row(), true);
  // 30 + 4 bytes per item: 30 items fill 1020 bytes; the 31st would pass 1023.
  std::string expected;
  for (int i = 0; i < 30; ++i) expected += addresses[i] + "{;},";
  expected.pop_back();
  EXPECT_EQ(record[kProxyAddressesValue], expected);
  EXPECT_LE(record[kProxyAddressesValue].size(), 1022u);
  EXPECT_EQ(record[kDefSmtpValue], std::string(25, 'z'));
  EXPECT_EQ(dir.Log(), std::string(10, '-'));
}

TEST(BuildGalRecord, ProxyBoundCountsCharactersNotBytes) {
  // Two-byte characters: "smtp:" and 500 of them take 509 characters with
  // their separator, so two fit within 1023 although they take 2018 bytes.
  std::string wide;
  for (int i = 0; i < 500; ++i) wide += "\xC3\xA9";
  RowBuilder b;
  b.Addresses({"smtp:" + wide, "smtp:" + wide, "smtp:x"});
  const GalRecord record = BuildGalRecord(b.Row(), false);
  EXPECT_EQ(record[kProxyAddressesValue], "smtp:" + wide + "{;},smtp:" + wide + "{;}");
}

TEST(BuildGalRecord, NoAddressesGiveEmptyListAndDefSmtp) {
  RowBuilder b;
  b.Addresses({});
  const GalRecord record = BuildGalRecord(b.Row(), false);
  EXPECT_EQ(record[kProxyAddressesValue], "");
  EXPECT_EQ(record[kDefSmtpValue], "");
}

GalRecord NumberedRecord() {
  GalRecord record;
  for (size_t i = 0; i < kGalValueCount; ++i) record[i] = "v" + std::to_string(i + 1);
  return record;
}

TEST(RowStatements, CombinedInsertIsSpelledExactly) {
  const std::string statement = BuildCombinedInsert("TEMP_GAL", NumberedRecord(), false);
  EXPECT_EQ(statement,
            "insert into TEMP_GAL (entry_id, display_name, bus_add_city, bus_add_country, bus_add_post_office_box, "
            "bus_add_postal_code, bus_add_state_or_province, bus_add_street, bus_add_fax_number, bus_home_page, "
            "bus_telephone_number, bus2_telephone_number, bus_department_name, given_name, initials, surname, "
            "display_name_7bit, title, company_name, office_location, h_telephone_number, h2_telephone_number, "
            "h_fax_number, h_add_street, h_add_city, h_add_state_or_province, h_add_postal_code, h_add_country, "
            "manager_name, office_telephone_number, office2_telephone_number, assistant, "
            "assistant_telephone_number, mobile_telephone_number, pager_telephone_number, display_type, "
            "EMS_AB_PROXY_ADDRESSES,account,ext1,ext2,ext3,ext4,COM,PHP, DefSMTP) values ('v1','v2','v3','v4','v5',"
            "'v6','v7','v8','v9','v10','v11','v12','v13','v14','v15','v16','v17','v18','v19','v20','v21','v22','v23',"
            "'v24','v25','v26','v27','v28','v29','v30','v31','v32','v33','v34','v35','v36','v37','v38','v39','v40',"
            "'v41','v42','v43','v44','v45')");
}

TEST(RowStatements, CombinedInsertWrites44MarksInDebugLogModeOnly) {
  TempLogDir dir;
  BuildCombinedInsert("T", NumberedRecord(), false);
  EXPECT_EQ(dir.Log(), "");
  BuildCombinedInsert("T", NumberedRecord(), true);
  EXPECT_EQ(dir.Log(), std::string(44, 'X'));
}

TEST(RowStatements, SecondAttemptStatementsInOrder) {
  const GalRecord r = NumberedRecord();
  EXPECT_EQ(BuildKeyInsert("TEMP_GAL", r), "insert into TEMP_GAL(entry_id) values ('v1')");
  EXPECT_EQ(BuildColumnUpdate("TEMP_GAL", 1, r), "update TEMP_GAL set display_name ='v2' where entry_id ='v1'");
  EXPECT_EQ(BuildColumnUpdate("TEMP_GAL", 3, r), "update TEMP_GAL set bus_add_country ='v4' where entry_id ='v1'");
  EXPECT_EQ(BuildColumnUpdate("TEMP_GAL", 36, r),
            "update TEMP_GAL set EMS_AB_PROXY_ADDRESSES ='v37' where entry_id ='v1'");
  EXPECT_EQ(BuildColumnUpdate("TEMP_GAL", 42, r), "update TEMP_GAL set php ='v44' where entry_id ='v1'");
  EXPECT_EQ(BuildColumnUpdate("TEMP_GAL", 43, r), "update TEMP_GAL set com ='v43' where entry_id ='v1'");
  EXPECT_EQ(BuildColumnUpdate("TEMP_GAL", 44, r), "update TEMP_GAL set DefSMTP ='v45' where entry_id ='v1'");
}

TEST(RowStatements, EscapingUsesTheCountryRuleForTheCountryOnly) {
  GalRecord r;
  r[1] = "O" + kRightQuote + "Brien";
  r[3] = "Cote d'Ivoire`";
  r[27] = "Cote d'Ivoire`";
  const GalRecord escaped = EscapeGalRecord(r);
  EXPECT_EQ(escaped[1], "O''Brien");
  EXPECT_EQ(escaped[3], "Cote d''Ivoire`");
  EXPECT_EQ(escaped[27], "Cote d''Ivoire");
}

}  // namespace
}  // namespace corvane::galreader
