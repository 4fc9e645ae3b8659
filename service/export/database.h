// The service's database procedures, all on ServiceMain::ServiceConnection:
// the dialect probe, the two statement runners (xSQL for the program's own
// statements, LoggedSQL for the administrator's) and the table procedures.
#pragma once

#include <optional>
#include <string>

#include "service/host/service_main.h"

namespace corvane::service {

// "MSSQL", "ORACLE" or "OTHER"; never fails.
std::string DetermineDBType(ServiceMain& w);
// Removes LF characters from `statement` (in place), runs it and logs it;
// failures are logged, never passed on.
void xSQL(ServiceMain& w, std::string& statement);
void xSQL(ServiceMain& w, std::string&& statement);
// Logs and runs an administrator's statement unchanged; a failure writes
// an error event and a log line, never passed on.
void LoggedSQL(ServiceMain& w, const std::string& statement);
void droptable(ServiceMain& w, const std::string& tableName);
void dropconstraint(ServiceMain& w);
void addconstraint(ServiceMain& w);
// true/false, or no value when no connection string is configured.
std::optional<bool> DoesSyncTableExist(ServiceMain& w);

}  // namespace corvane::service
