// The final-table build: drops the final table and builds it again from the
// temporary table with the selected columns, leaving out excluded rows
// where the database kind allows it, then adds its index and read rights.
#pragma once

#include <string>

#include "service/export/address_parse.h"
#include "service/export/database.h"
#include "service/export/run_recovery.h"
#include "service/host/service_main.h"

namespace corvane::service {

// What a build did, for the run's check of the published table.
struct FinalTableBuild {
  bool created = false;                           // false when the exclude settings were invalid
  std::optional<StatementFailure> createFailure;  // the create statement was refused
  // Two counts that must agree: what the final table holds, and what it
  // should hold by the temporary table (less excluded rows where the
  // exclusion applies; one row per entry identifier on the OTHER kind).
  std::string finalRowsQuery;
  std::string expectedRowsQuery;
};

// Runs the build on w.ServiceConnection (open) with w.chkDBFields, the
// switches and the "Exclude" parameters. `longTextType` is the OTHER kind's
// long-text type ("memo" on Access/Jet). Failures of the recordset
// operations and of the reconnect go to `recovery`, and so does a copy
// statement that finds the database gone; other statements go through
// xSQL. `progress` reports rows copied on the OTHER kind.
FinalTableBuild BuildFinalTable(ServiceMain& w, Recovery& recovery, const std::string& longTextType,
                                const RowProgress& progress = {});

// The row-copy statements of the OTHER kind for one value (apostrophes
// doubled): the insert that starts a row and the update of one column.
std::string CopyInsertStatement(const std::string& table, const std::string& column, const std::string& id);
std::string CopyUpdateStatement(const std::string& table, const std::string& column, const std::string& value,
                                const std::string& id);

}  // namespace corvane::service
