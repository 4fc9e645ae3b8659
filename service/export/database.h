// The service's database procedures, all on ServiceMain::ServiceConnection:
// the dialect probe, the two statement runners (xSQL for the program's own
// statements, LoggedSQL for the administrator's) and the table procedures.
#pragma once

#include <optional>
#include <string>

#include "service/host/service_main.h"

namespace corvane::service {

// A statement's failure as the runners log it.
struct StatementFailure {
  int32_t number = 0;
  std::string description;
};

// "MSSQL", "ORACLE" or "OTHER"; never fails.
std::string DetermineDBType(ServiceMain& w);
// Removes LF characters from `statement` (in place), runs it and logs it;
// failures are logged, never passed on. Returns the failure, if any, for
// callers that must know whether the statement took effect.
std::optional<StatementFailure> xSQL(ServiceMain& w, std::string& statement);
std::optional<StatementFailure> xSQL(ServiceMain& w, std::string&& statement);
// Logs and runs an administrator's statement unchanged; a failure writes
// an error event and a log line, never passed on.
void LoggedSQL(ServiceMain& w, const std::string& statement);
// Returns the failure of the drop, if any (a missing table is one).
std::optional<StatementFailure> droptable(ServiceMain& w, const std::string& tableName);
void dropconstraint(ServiceMain& w);
void addconstraint(ServiceMain& w);
// true/false, or no value when no connection string is configured.
std::optional<bool> DoesSyncTableExist(ServiceMain& w);

}  // namespace corvane::service
