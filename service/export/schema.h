// The GAL tables: the temporary table's column list per database kind and
// the final table's column lists from the column selection and switches.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "service/parameters/column_switches.h"

namespace corvane::service {

// The OTHER kind's types for the two long columns of the tables, and what
// its temporary table adds to its column list, by database.
struct OtherKindTypes {
  // One long type for both columns, and nothing added.
  OtherKindTypes(std::string both = "memo") : entryId(both), longText(std::move(both)) {}
  OtherKindTypes(const char* both) : OtherKindTypes(std::string(both)) {}
  std::string entryId;   // ENTRY_ID (and the final table's entry_id)
  std::string longText;  // EMS_AB_PROXY_ADDRESSES
  std::string tempKey;   // ", INDEX (ENTRY_ID)" where rows are found again only by their identifier
};

// The text that follows "CREATE TABLE " + TempTableName: " (ENTRY_ID ...)"
// for "MSSQL", "ORACLE" (with its primary key named tableName + "_ENTRY_ID")
// and any other kind, which takes `types` ("memo", or "text" where the
// database has no memo).
std::string TempTableColumnList(const std::string& databaseType, const std::string& tableName,
                                const OtherKindTypes& types = {});

// The temporary table's 51 column names in table order, as the ORACLE
// statement writes them.
std::vector<std::string> TempTableColumnNames();

// The OTHER kind's type for the long columns, chosen by the driver's DBMS
// name (Connection::DbmsName): "memo" for Access/Jet, "text" elsewhere
// (SQLite gives memo numeric affinity, PostgreSQL has no memo).
std::string LongTextTypeFor(const std::string& dbmsName);
// The OTHER kind's types by the driver's DBMS name: LongTextTypeFor for
// both long columns, except on MariaDB and MySQL. There the identifier is
// ASCII text of at most 1024 characters (hexadecimal), which an ordinary
// index can hold, and the temporary table gets an index on it: neither
// database has a row locator, so the address parse pass finds each row
// again by its identifier, and the final table's copy by its unique index.
OtherKindTypes OtherKindTypesFor(const std::string& dbmsName);

struct FinalTableLists {
  std::string selectList;      // " entry_id, GIVEN_NAME,..." with the address part
  std::string definitionList;  // "entry_id memo, GIVEN_NAME varchar(255),..."
  std::vector<std::string> columns;  // the column names of the select list, in order
};
// The final table's two column lists: entry_id, each selected box's caption
// in box order (a selected ENTRY_ID box adds nothing), then the address
// columns by NoParse/NoSMTP. `types` give entry_id and
// EMS_AB_PROXY_ADDRESSES their types in the definition list (the OTHER
// kind's statement), as in the temporary table; every other column is
// varchar(255).
FinalTableLists BuildFinalTableLists(const parameters::ColumnSelection& boxes, int16_t NoParse, int16_t NoSMTP,
                                     const OtherKindTypes& types = {});

}  // namespace corvane::service
