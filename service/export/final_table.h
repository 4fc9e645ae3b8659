// The final-table build: drops the final table and builds it again from the
// temporary table with the selected columns, leaving out excluded rows
// where the database kind allows it, then adds its index and read rights.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "service/export/address_parse.h"
#include "service/export/database.h"
#include "service/export/exclusion.h"
#include "service/export/run_recovery.h"
#include "service/export/schema.h"
#include "service/export/export_context.h"

namespace corvane::service {

// What a build did, for the run's check of the published table.
struct FinalTableBuild {
  std::string table;                              // the table built: TableName, or the work table of a swap
  bool created = false;                           // false when the exclude settings were invalid
  std::optional<StatementFailure> createFailure;  // the create statement was refused
  // Two counts that must agree: what the final table holds, and what it
  // should hold by the temporary table (less excluded rows where the
  // exclusion applies; one row per entry identifier on the OTHER kind).
  std::string finalRowsQuery;
  std::string expectedRowsQuery;
};

// Called with the count query of the rows the new table should hold,
// before the build changes anything; it may end the run (throw) instead.
using BeforeRebuild = std::function<void(const std::string& expectedRowsQuery)>;

// Runs the build on w.ServiceConnection (open) with w.chkDBFields, the
// switches and the "Exclude" parameters. `types` are the OTHER kind's
// long-text types ("memo" on Access/Jet). Failures of the recordset
// operations and of the reconnect go to `recovery`, and so does a copy
// statement that finds the database gone; other statements go through
// xSQL. `progress` reports rows copied on the OTHER kind.
FinalTableBuild BuildFinalTable(ExportContext& w, Recovery& recovery, const OtherKindTypes& types,
                                const RowProgress& progress = {}, const BeforeRebuild& beforeDrop = {});

// The final table's fixed statements that a database may refuse on every
// run by design.
enum class FixedStatement {
  IndexWithDropExisting,  // "Create INDEX [...] ... WITH DROP_EXISTING"
  DropIndex,              // the OTHER kind's "DROP INDEX ... on ..."
  GrantToPublic,          // "grant select on ... to public"
};

// Whether the database behind w.ServiceConnection is known to refuse
// `statement` on every run: the bracketed index with DROP_EXISTING names an
// index a table just created cannot have (and only SQL Server reads the
// brackets), so does the OTHER kind's DROP INDEX, and SQLite has no grant.
bool RefusedByDesign(ExportContext& w, FixedStatement statement);

// The statement that creates `table` with the final table's columns: from
// the temporary table, leaving out excluded rows (ORACLE, MSSQL), or empty
// (the OTHER kind, whose rows are copied afterwards). `exclusion` is not Invalid.
std::string FinalTableCreateStatement(const ExportContext& w, const Exclusion& exclusion, const FinalTableLists& lists,
                                      const std::string& table);

// The row-copy statements of the OTHER kind for one value (apostrophes
// doubled): the insert that starts a row and the update of one column.
std::string CopyInsertStatement(const std::string& table, const std::string& column, const std::string& id);
std::string CopyUpdateStatement(const std::string& table, const std::string& column, const std::string& value,
                                const std::string& id);

// A value of a copied row: its column's name and its text.
struct CopiedValue {
  std::string column;
  std::string value;
};

// The one insert that leaves what the copy statements of `rows` leave
// (for each row the insert of its entry identifier, its first value, then
// an update per further value, each finding its row by
// `entry_id like '<id>'`), in a table that has just been created with a
// unique index on entry_id and whose like respects case: there each update
// finds its own new row only. A column that a row has no value for gets
// its DEFAULT (several rows only). nullopt when an update might find
// another row or none: a row does not start with its identifier, or the
// identifier holds a wildcard (% _), an escape (\) or an apostrophe.
std::optional<std::string> CopyRowsInsert(const std::string& table, const std::vector<std::vector<CopiedValue>>& rows);

}  // namespace corvane::service
