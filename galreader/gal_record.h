// The GAL row record: the 45 text values of one GAL entry, derived from the
// 44 columns of its contents-table row.
#pragma once

#include <array>
#include <string>

#include "galreader/export_control.h"
#include "platform/mapi/mapi.h"

namespace corvane::galreader {

inline constexpr size_t kGalColumnCount = 44;
inline constexpr size_t kGalValueCount = 45;

// Value positions (0-based) the rules single out.
inline constexpr size_t kEntryIdValue = 0;
inline constexpr size_t kDisplayNameValue = 1;
inline constexpr size_t kCountryValue = 3;
inline constexpr size_t kDisplayTypeValue = 35;
inline constexpr size_t kProxyAddressesValue = 36;
inline constexpr size_t kDefSmtpValue = 44;


using GalRecord = std::array<std::string, kGalValueCount>;

// The tags asked from the contents table, in record order.
extern const std::array<ULONG, kGalColumnCount> kGalColumnTags;

// The same tags as a MAPI tag array for SetColumns.
LPSPropTagArray GalColumnSet();

// Builds the record of one row read with GalColumnSet(). Missing properties
// (and error values of any kind) give empty values; every text comes back
// as well-formed UTF-8. In debug-log mode each address left out of the
// joined proxy list writes "-"; their number goes to `proxyAddressesLeftOut`
// when given.
GalRecord BuildGalRecord(const SRow& row, bool debugLog, size_t* proxyAddressesLeftOut = nullptr);

}  // namespace corvane::galreader
