// Publishing the final table by a swap ("PublishMode" = "swap"): the new
// rows go into a work table (TableName + "_new") with the final table's
// columns, types, index and grant, and only a complete work table takes the
// final name, in one step, so that readers of the final table see the old
// table or the new one, never neither and never a part of one.
#pragma once

#include <optional>
#include <string>

#include "service/export/database.h"
#include "service/export/final_table.h"
#include "service/export/run_recovery.h"
#include "service/export/schema.h"
#include "service/export/export_context.h"

namespace corvane::service {

// The table the new rows are built in, and the name the published table
// takes for the moment of the swap.
std::string WorkTableName(const std::string& tableName);
std::string RetiredTableName(const std::string& tableName);

// Drops a work or retired table an earlier run left behind, then builds the
// work table from the temporary table (leaving out excluded rows on every
// kind), with the final table's index and grant. The OTHER kind copies its
// rows in one statement, with the values the row-by-row copy gives. The
// published table is not touched. Statements go through xSQL.
FinalTableBuild BuildWorkTable(ExportContext& w, Recovery& recovery, const OtherKindTypes& types);

// Whether `table` exists (it can be read); a lost database is a failure for
// `recovery`, and answers no.
bool TableExists(ExportContext& w, Recovery& recovery, const std::string& table);

// Gives the work table the final name: where the database renames tables in
// a transaction (PostgreSQL, SQLite, SQL Server), the published table is
// renamed away, the work table renamed to the final name and the old table
// dropped in one transaction; MariaDB and MySQL rename both tables in one
// statement; elsewhere (Oracle, other databases) the two renames follow each
// other at once, and a failed second rename puts the old table back.
// Returns the failure that kept the work table from being published (the
// published table is then as it was), or nullopt once it is published.
std::optional<StatementFailure> PublishWorkTable(ExportContext& w, Recovery& recovery);

}  // namespace corvane::service
