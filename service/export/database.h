// The service's database procedures, all on ExportContext::ServiceConnection:
// the dialect probe, the two statement runners (xSQL for the program's own
// statements, LoggedSQL for the administrator's) and the table procedures.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "service/export/export_context.h"

namespace corvane::service {

// A statement's failure as the runners log it.
struct StatementFailure {
  int32_t number = 0;
  std::string description;
};

// Asked only after the database refused a statement (never for a lost
// database): whether the refusal is one the database is known to give for
// that statement on every run (a fixed statement that does not apply to
// it), decided by the statement and the database, not by the message.
using KnownRefusal = std::function<bool()>;

// "MSSQL", "ORACLE" or "OTHER"; never fails.
std::string DetermineDBType(ExportContext& w);
// Removes the statement's line breaks (in place): LF characters outside
// quoted values ('...'); an LF inside a value stays. Runs the statement and
// logs it ("Xsql:", where an LF inside a value shows as "\n", so no value
// splits a run-log line); failures are logged, never passed on. A refusal
// that `known` answers for is logged at information priority and added to
// w.ExpectedRefusals; any other failure at error priority. Returns the
// failure, if any, for callers that must know whether the statement took effect.
std::optional<StatementFailure> xSQL(ExportContext& w, std::string& statement, const KnownRefusal& known = {});
std::optional<StatementFailure> xSQL(ExportContext& w, std::string&& statement, const KnownRefusal& known = {});
// Logs and runs an administrator's statement unchanged; a failure writes
// an error event and a log line, never passed on.
void LoggedSQL(ExportContext& w, const std::string& statement);
// Returns the failure of the drop, if any (a missing table is one; its
// refusal is a known one: there was nothing to drop).
std::optional<StatementFailure> droptable(ExportContext& w, const std::string& tableName);
void dropconstraint(ExportContext& w);
void addconstraint(ExportContext& w);
// true/false, or no value when no connection string is configured.
std::optional<bool> DoesSyncTableExist(ExportContext& w);

}  // namespace corvane::service
