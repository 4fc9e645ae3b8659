#include "tests/galreader/gal_expectation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <regex>

#include "galreader/gal_session.h"
#include "platform/mapi/mapi.h"

namespace corvane::galreader::testing {

namespace {

// The contents-table properties behind the first 44 values.
const ULONG kTags[44] = {0x0FFF0102, 0x3001001E, 0x3A27001E, 0x3A26001E, 0x3A2B001E, 0x3A2A001E, 0x3A28001E,
                         0x3A29001E, 0x3A23001E, 0x3A51001E, 0x3A08001E, 0x3A1B001E, 0x3A18001E, 0x3A06001E,
                         0x3A0A001E, 0x3A11001E, 0x39FF001E, 0x3A17001E, 0x3A16001E, 0x3A19001E, 0x3A09001E,
                         0x3A2F001E, 0x3A25001E, 0x3A5D001E, 0x3A59001E, 0x3A5C001E, 0x3A5B001E, 0x3A5A001E,
                         0x3A4E001E, 0x3A08001E, 0x3A1B001E, 0x3A30001E, 0x3A2E001E, 0x3A1C001E, 0x3A21001E,
                         0x39000003, 0x800F101E, 0x3A00001E, 0x802D001E, 0x802E001E, 0x802F001E, 0x8030001E,
                         0x3004001E, 0x3A50001E};

size_t Characters(const std::string& text) {
  size_t n = 0;
  for (const char c : text) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

std::vector<std::string> EntryValues(const SRow& row) {
  std::vector<std::string> values(45);
  for (size_t i = 0; i < 44; ++i) {
    const SPropValue& p = row.lpProps[i];
    if (p.ulPropTag != kTags[i]) continue;  // missing: empty
    if (i == 0) {
      for (ULONG b = 0; b < p.Value.bin.cb; ++b) {
        char two[3];
        std::snprintf(two, sizeof two, "%02X", p.Value.bin.lpb[b]);
        values[0] += two;
      }
    } else if (i == 35) {
      values[35] = std::to_string(static_cast<short>(p.Value.l));
    } else if (i == 36) {
      // Addresses join while the text stays within 1023 characters.
      std::string joined;
      for (ULONG a = 0; a < p.Value.MVszA.cValues; ++a) {
        const std::string address = p.Value.MVszA.lppszA[a];
        if (Characters(joined) + Characters(address) + 4 <= 1023) joined += address + "{;},";
        if (address.compare(0, 5, "SMTP:") == 0) values[44] = address.substr(5);
      }
      values[36] = joined.empty() ? "" : joined.substr(0, joined.size() - 1);
    } else {
      values[i] = p.Value.lpszA;
    }
  }
  return values;
}

// What the database holds for a value after the quoting rule: every run of
// apostrophe-like characters between text becomes one apostrophe, runs at
// either end disappear.
std::string StoredText(const std::string& value) {
  static const std::regex runs("(?:'|`|\xE2\x80\x98|\xE2\x80\x99|\xC2\xB4)+");
  std::string text = std::regex_replace(value, runs, "'");
  if (!text.empty() && text.front() == '\'') text.erase(0, 1);
  if (!text.empty() && text.back() == '\'') text.pop_back();
  return text;
}

size_t Apostrophes(const std::string& text) { return std::count(text.begin(), text.end(), '\''); }

const std::string kColumnList =
    " (entry_id, display_name, bus_add_city, bus_add_country, bus_add_post_office_box, bus_add_postal_code, "
    "bus_add_state_or_province, bus_add_street, bus_add_fax_number, bus_home_page, bus_telephone_number, "
    "bus2_telephone_number, bus_department_name, given_name, initials, surname, display_name_7bit, title, "
    "company_name, office_location, h_telephone_number, h2_telephone_number, h_fax_number, h_add_street, h_add_city, "
    "h_add_state_or_province, h_add_postal_code, h_add_country, manager_name, office_telephone_number, "
    "office2_telephone_number, assistant, assistant_telephone_number, mobile_telephone_number, "
    "pager_telephone_number, display_type, EMS_AB_PROXY_ADDRESSES,account,ext1,ext2,ext3,ext4,COM,PHP, DefSMTP) "
    "values ('";

}  // namespace

std::vector<std::vector<std::string>> ReadGalValues() {
  std::vector<std::vector<std::string>> gal;
  EXPECT_EQ(MAPIInitialize(nullptr), S_OK);
  LPMAPISESSION session = nullptr;
  LPADRBOOK book = nullptr;
  ULONG cbGal = 0;
  LPENTRYID galId = nullptr;
  LPUNKNOWN container = nullptr;
  LPMAPITABLE contents = nullptr;
  LPSRowSet rows = nullptr;
  char profile[] = "TWCorvane";
  ULONG type = 0;
  SizedSPropTagArray(44, columns);
  columns.cValues = 44;
  std::copy(std::begin(kTags), std::end(kTags), columns.aulPropTag);
  if (MAPILogonEx(0, profile, nullptr, MAPI_NO_MAIL | MAPI_NEW_SESSION, &session) == S_OK &&
      session->OpenAddressBook(0, nullptr, AB_NO_DIALOG, &book) == S_OK &&
      HrFindExchangeGlobalAddressList(book, &cbGal, &galId) == S_OK &&
      book->OpenEntry(cbGal, galId, nullptr, 0, &type, &container) == S_OK &&
      static_cast<LPABCONT>(container)->GetContentsTable(0, &contents) == S_OK &&
      HrQueryAllRows(contents, reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, &rows) == S_OK) {
    for (ULONG r = 0; r < rows->cRows; ++r) gal.push_back(EntryValues(rows->aRow[r]));
  } else {
    ADD_FAILURE() << "cannot read the GAL: " << MAPIGetLastErrorText();
  }
  if (rows) FreeProws(rows);
  if (contents) contents->Release();
  if (container) container->Release();
  if (galId) MAPIFreeBuffer(galId);
  if (book) book->Release();
  if (session) {
    session->Logoff(0, 0, 0);
    session->Release();
  }
  MAPIUninitialize();
  return gal;
}

std::multimap<std::string, Row> ExpectedRows(const std::vector<std::vector<std::string>>& gal,
                                             const std::string& tableName, const TableLimits& limits) {
  std::multimap<std::string, Row> expected;
  for (const auto& values : gal) {
    Row stored(45);
    // The combined insert's length in characters: its fixed text, then
    // every value as its literal writes it.
    size_t statementLength = Characters("insert into " + tableName + kColumnList) + 44 * 3 + 2;
    bool refused = false;
    for (size_t i = 0; i < 45; ++i) {
      stored[i] = i == 3 ? values[i] : StoredText(values[i]);
      // The literal doubles each apostrophe the database stores.
      statementLength += Characters(*stored[i]) + Apostrophes(*stored[i]);
      const bool longColumn = i == 0 || i == 36;
      if (!longColumn && limits.varcharCharacters > 0 && Characters(*stored[i]) > limits.varcharCharacters) {
        refused = true;
      }
    }
    if (statementLength > 4096) continue;  // never written
    if (refused) {
      // Second attempt: the key, then every column that fits on its own.
      for (size_t i = 1; i < 45; ++i) {
        if (i != 36 && Characters(*stored[i]) > limits.varcharCharacters) stored[i].reset();
      }
    }
    expected.emplace(*stored[0], std::move(stored));
  }
  return expected;
}

}  // namespace corvane::galreader::testing
