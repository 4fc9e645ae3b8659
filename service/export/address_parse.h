// The address parse pass: splits each temporary-table row's proxy-address
// list into ADDR1 to ADDR5 and takes the primary SMTP address into SMTP,
// writing each row back through an updatable recordset.
#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>

#include "service/export/run_recovery.h"
#include "service/export/export_context.h"

namespace corvane::service {

// The address columns derived from one proxy-address list.
struct ParsedAddresses {
  std::array<std::optional<std::string>, 5> slots;  // the first five items; no value past the last item
  std::string smtp;                                  // after "SMTP:" up to the next "{;}"; empty when none
};
ParsedAddresses ParseProxyAddresses(std::string proxyText);

// Rows done so far: every `kProgressEvery` rows with `final` false, and
// once at the end of the pass with `final` true (whatever the count).
using RowProgress = std::function<void(long rows, bool final)>;
inline constexpr long kProgressEvery = 1000;

// Runs the pass on w.ServiceConnection (open) over w.TempTableName.
// Failures of the recordset operations go to `recovery`.
void AddressParse(ExportContext& w, Recovery& recovery, const RowProgress& progress = {});

}  // namespace corvane::service
