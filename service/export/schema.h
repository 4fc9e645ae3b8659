// The GAL tables: the temporary table's column list per database kind and
// the final table's column lists from the column selection and switches.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "service/host/parameters/column_switches.h"

namespace corvane::service {

// The text that follows "CREATE TABLE " + TempTableName: " (ENTRY_ID ...)"
// for "MSSQL", "ORACLE" (with its primary key named tableName + "_ENTRY_ID")
// and any other kind. `longTextType` is the OTHER kind's type for the two
// long columns ("memo", or "text" where the database has no memo).
std::string TempTableColumnList(const std::string& databaseType, const std::string& tableName,
                                const std::string& longTextType = "memo");

// The temporary table's 51 column names in table order, as the ORACLE
// statement writes them.
std::vector<std::string> TempTableColumnNames();

// The OTHER kind's type for the long columns, chosen by the driver's DBMS
// name (Connection::DbmsName): "memo" for Access/Jet, "text" elsewhere
// (SQLite gives memo numeric affinity, PostgreSQL has no memo).
std::string LongTextTypeFor(const std::string& dbmsName);

struct FinalTableLists {
  std::string selectList;      // " entry_id, GIVEN_NAME,..." with the address part
  std::string definitionList;  // "entry_id memo, GIVEN_NAME varchar(255),..."
};
// The final table's two column lists: entry_id, each selected box's caption
// in box order (a selected ENTRY_ID box adds nothing), then the address
// columns by NoParse/NoSMTP. `longTextType` is the type of entry_id and of
// EMS_AB_PROXY_ADDRESSES in the definition list (the OTHER kind's
// statement), as in the temporary table; every other column is varchar(255).
FinalTableLists BuildFinalTableLists(const parameters::ColumnSelection& boxes, int16_t NoParse, int16_t NoSMTP,
                                     const std::string& longTextType = "memo");

}  // namespace corvane::service
