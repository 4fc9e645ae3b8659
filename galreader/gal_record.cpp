#include "galreader/gal_record.h"

#include <fmt/format.h>

#include <cstdint>
#include <string_view>

#include "galreader/library_log.h"
#include "platform/utf8/utf8.h"

namespace corvane::galreader {

const std::array<ULONG, kGalColumnCount> kGalColumnTags = {
    PR_ENTRYID,
    PR_DISPLAY_NAME,
    PR_LOCALITY,
    PR_COUNTRY,
    PR_POST_OFFICE_BOX,
    PR_POSTAL_CODE,
    PR_STATE_OR_PROVINCE,
    PR_STREET_ADDRESS,
    PR_PRIMARY_FAX_NUMBER,
    PR_BUSINESS_HOME_PAGE,
    PR_BUSINESS_TELEPHONE_NUMBER,
    PR_BUSINESS2_TELEPHONE_NUMBER,
    PR_DEPARTMENT_NAME,
    PR_GIVEN_NAME,
    PR_INITIALS,
    PR_SURNAME,
    PR_EMS_AB_DISPLAY_NAME_PRINTABLE,
    PR_TITLE,
    PR_COMPANY_NAME,
    PR_OFFICE_LOCATION,
    PR_HOME_TELEPHONE_NUMBER,
    PR_HOME2_TELEPHONE_NUMBER,
    PR_HOME_FAX_NUMBER,
    PR_HOME_ADDRESS_STREET,
    PR_HOME_ADDRESS_CITY,
    PR_HOME_ADDRESS_STATE_OR_PROVINCE,
    PR_HOME_ADDRESS_POSTAL_CODE,
    PR_HOME_ADDRESS_COUNTRY,
    PR_MANAGER_NAME,
    PR_BUSINESS_TELEPHONE_NUMBER,   // office_telephone_number: same property as bus_telephone_number
    PR_BUSINESS2_TELEPHONE_NUMBER,  // office2_telephone_number: same property as bus2_telephone_number
    PR_ASSISTANT,
    PR_ASSISTANT_TELEPHONE_NUMBER,
    PR_MOBILE_TELEPHONE_NUMBER,
    PR_PAGER_TELEPHONE_NUMBER,
    PR_DISPLAY_TYPE,
    PR_EMS_AB_PROXY_ADDRESSES,
    PR_ACCOUNT,
    PR_EMS_AB_EXTENSION_ATTRIBUTE_1,
    PR_EMS_AB_EXTENSION_ATTRIBUTE_2,
    PR_EMS_AB_EXTENSION_ATTRIBUTE_3,
    PR_EMS_AB_EXTENSION_ATTRIBUTE_4,
    PR_COMMENT,
    PR_PERSONAL_HOME_PAGE,
};

LPSPropTagArray GalColumnSet() {
  static SizedSPropTagArray(kGalColumnCount, columns) = [] {
    decltype(columns) set{};
    set.cValues = kGalColumnCount;
    for (size_t i = 0; i < kGalColumnCount; ++i) set.aulPropTag[i] = kGalColumnTags[i];
    return set;
  }();
  return reinterpret_cast<LPSPropTagArray>(&columns);
}

namespace {

// The property of column `index` when the row carries it with the expected
// tag; error values and anything unexpected count as missing.
const SPropValue* ColumnValue(const SRow& row, size_t index) {
  if (index >= row.cValues || row.lpProps == nullptr) return nullptr;
  const SPropValue& prop = row.lpProps[index];
  if (prop.ulPropTag != kGalColumnTags[index]) return nullptr;
  return &prop;
}

std::string TextValue(const SPropValue* prop) {
  if (prop == nullptr || prop->Value.lpszA == nullptr) return {};
  return utf8::ToValidUtf8(prop->Value.lpszA);
}

std::string HexValue(const SPropValue* prop) {
  if (prop == nullptr || prop->Value.bin.lpb == nullptr) return {};
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  hex.reserve(prop->Value.bin.cb * 2);
  for (ULONG i = 0; i < prop->Value.bin.cb; ++i) {
    const BYTE b = prop->Value.bin.lpb[i];
    hex += kDigits[b >> 4];
    hex += kDigits[b & 0x0F];
  }
  return hex;
}

std::string DisplayTypeValue(const SPropValue* prop) {
  if (prop == nullptr) return {};
  return fmt::format("{}", static_cast<int16_t>(static_cast<uint16_t>(prop->Value.l & 0xFFFF)));
}

// Joins the proxy addresses as "a{;},b{;}" within the bound, and finds the
// primary SMTP address among all of them, also those left out.
void ProxyValues(const SPropValue* prop, bool debugLog, std::string& joined, std::string& defSmtp, size_t& leftOut) {
  joined.clear();
  defSmtp.clear();
  if (prop == nullptr || prop->Value.MVszA.lppszA == nullptr) return;
  constexpr std::string_view kSeparator = "{;},";
  constexpr std::string_view kPrimaryPrefix = "SMTP:";
  size_t joinedCharacters = 0;
  for (ULONG i = 0; i < prop->Value.MVszA.cValues; ++i) {
    const char* raw = prop->Value.MVszA.lppszA[i];
    const std::string address = utf8::ToValidUtf8(raw != nullptr ? raw : "");
    const size_t itemCharacters = utf8::CharacterCount(address) + kSeparator.size();
    if (joinedCharacters + itemCharacters <= kProxyAddressListLimit) {
      joined += address;
      joined += kSeparator;
      joinedCharacters += itemCharacters;
    } else {
      DebugLog(debugLog, "-");
      ++leftOut;
    }
    if (address.starts_with(kPrimaryPrefix)) defSmtp = address.substr(kPrimaryPrefix.size());
  }
  if (!joined.empty()) joined.pop_back();
}

}  // namespace

GalRecord BuildGalRecord(const SRow& row, bool debugLog, size_t* proxyAddressesLeftOut) {
  GalRecord record;
  size_t leftOut = 0;
  for (size_t i = 0; i < kGalColumnCount; ++i) {
    const SPropValue* prop = ColumnValue(row, i);
    switch (i) {
      case kEntryIdValue: record[i] = HexValue(prop); break;
      case kDisplayTypeValue: record[i] = DisplayTypeValue(prop); break;
      case kProxyAddressesValue: ProxyValues(prop, debugLog, record[i], record[kDefSmtpValue], leftOut); break;
      default: record[i] = TextValue(prop); break;
    }
  }
  if (proxyAddressesLeftOut != nullptr) *proxyAddressesLeftOut = leftOut;
  return record;
}

}  // namespace corvane::galreader
