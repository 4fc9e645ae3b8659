#include "service/export/database.h"

#include <exception>
#include <vector>

#include "service/export/connection_string.h"
#include "service/export/database_dialect.h"

namespace corvane::service {

namespace {

using Failure = StatementFailure;

Failure FailureOf(const std::exception_ptr& e) {
  try {
    std::rethrow_exception(e);
  } catch (const ado::AdoError& error) {
    return {error.Number, error.Description};
  } catch (const std::exception& error) {
    return {ado::adErrGeneric, error.what()};
  } catch (...) {
    return {ado::adErrGeneric, "Unspecified error"};
  }
}

// The service's connection for a statement runner; there is none before the
// first run connects, which fails the statement as a missing object does.
ado::Connection& Connected(ExportContext& w) {
  if (!w.ServiceConnection) throw ado::AdoError(91, "CorvaneService", "Object variable or With block variable not set");
  return *w.ServiceConnection;
}

// Runs `text` and releases a returned recordset at once.
void Run(ExportContext& w, const std::string& text) { Connected(w).Execute(text).reset(); }

// Answers whether `text` returns an open result; any failure answers no.
bool ReturnsOpenResult(ExportContext& w, const std::string& text) {
  try {
    auto rs = Connected(w).Execute(text);
    if (rs && rs->State() == ado::adStateOpen) {
      rs->Close();
      return true;
    }
  } catch (const std::exception&) {
    // The probe does not report: a database without it is simply not that kind.
  }
  return false;
}

// The statement without its line breaks: LF characters outside quoted
// values go; inside a value ('...', an apostrophe in it doubled) they are
// data and stay.
std::string WithoutLineBreaks(const std::string& statement) {
  std::string out;
  out.reserve(statement.size());
  bool inValue = false;
  for (char ch : statement) {
    if (ch == '\'') inValue = !inValue;
    if (ch == '\n' && !inValue) continue;
    out += ch;
  }
  return out;
}

// The statement for its run-log line: an LF left inside a value shows as
// "\n", so that a value cannot split the line.
std::string LoggedText(const std::string& statement) {
  std::string out;
  out.reserve(statement.size());
  for (char ch : statement) {
    if (ch == '\n')
      out += "\\n";
    else
      out += ch;
  }
  return out;
}

// Whether `table` can be read; any failure answers no, and leaves no error record.
bool TableReadable(ExportContext& w, const std::string& table) {
  try {
    Connected(w).Execute("select * from " + table + " where 1=0").reset();
    return true;
  } catch (const std::exception&) {
    if (w.ServiceConnection) w.ServiceConnection->ClearErrors();
    return false;
  }
}

}  // namespace

std::string DetermineDBType(ExportContext& w) {
  if (ReturnsOpenResult(w, "sp_tables")) return "MSSQL";
  if (ReturnsOpenResult(w, "select sysdate from dual")) return "ORACLE";
  return "OTHER";
}

std::optional<StatementFailure> xSQL(ExportContext& w, std::string& statement, const KnownRefusal& known) {
  // Most statements hold no line break: they run and are logged as they are.
  const bool lineBreaks = statement.find('\n') != std::string::npos;
  if (lineBreaks) statement = WithoutLineBreaks(statement);
  const auto logged = [&] { return lineBreaks ? LoggedText(statement) : statement; };
  std::optional<Failure> failed;
  try {
    Run(w, statement);
  } catch (const std::exception&) {  // not (...): a stop passes through
    failed = FailureOf(std::current_exception());
    // The provider's records are taken before `known` may ask the database.
    std::vector<ado::ErrorRecord> records;
    if (w.ServiceConnection) {
      records = w.ServiceConnection->Errors();
      w.ServiceConnection->ClearErrors();
    }
    const bool expected = failed->number == ado::adErrStatementRefused && known && known();
    const LogPriority priority = expected ? LogPriority::Info : LogPriority::Error;
    for (const auto& record : records)
      w.WriteLog("ConnErr:" + std::to_string(record.Number) + "-" + record.Description, priority);
    w.WriteLog("Error: " + std::to_string(failed->number) + " - " + failed->description, priority);
    if (expected) w.ExpectedRefusals.push_back(logged() + " (" + failed->description + ")");
  }
  w.WriteLog("Xsql:" + logged());
  return failed;
}

std::optional<StatementFailure> xSQL(ExportContext& w, std::string&& statement, const KnownRefusal& known) {
  std::string text = std::move(statement);
  return xSQL(w, text, known);
}

void LoggedSQL(ExportContext& w, const std::string& statement) {
  w.WriteLog("LoggedSQL: " + statement);
  try {
    Run(w, statement);
  } catch (const std::exception&) {  // not (...): a stop passes through
    const Failure failure = FailureOf(std::current_exception());
    const std::string text = "[" + std::to_string(failure.number) + "] " + failure.description;
    w.LogEvent(ntservice::EVENTLOG_ERROR_TYPE, 109, "SQL:" + text);
    w.WriteLog("LogSQLErr:" + text, LogPriority::Error);
  }
}

std::optional<StatementFailure> droptable(ExportContext& w, const std::string& tableName) {
  return xSQL(w, "drop table " + tableName, [&] { return !TableReadable(w, tableName); });
}

void dropconstraint(ExportContext& w) {
  if (auto statement = RunDialect(w).DropTempConstraint(w.TempTableName, w.TableName)) xSQL(w, *statement);
}

void addconstraint(ExportContext& w) {
  if (!w.DOS) return;
  xSQL(w,
       "CREATE UNIQUE INDEX VUZ_OPR.GAL_ENTRY_ID ON VUZ_OPR.GAL(ENTRY_ID) TABLESPACE ZODURAZ PCTFREE 10 INITRANS 2 "
       "MAXTRANS 255 STORAGE ( INITIAL 104K NEXT 104K MINEXTENTS 1 MAXEXTENTS 2147483645 PCTINCREASE 0 FREELISTS 1 "
       "FREELIST GROUPS 1) LOGGING");
}

std::optional<bool> DoesSyncTableExist(ExportContext& w) {
  const std::string connectionString = w.GetSetting("connectionstring", "");
  w.WriteLog("Connection String: " + PasswordFreeConnectionString(connectionString));
  if (connectionString.empty()) {
    w.WriteLog("Connection String Not found, exiting", LogPriority::Warning);
    return std::nullopt;
  }
  const std::string query = "select * from " + w.TableName + "_PFC_SyncData";
  try {
    auto connection = w.NewConnection();
    connection->Open(connectionString, "", "", -1);
    auto rs = connection->CreateRecordset();
    rs->Open(query, *connection, -1, -1, -1);
    if (rs->State() == ado::adStateOpen) {
      w.WriteLog("Opened Query: " + query);
      rs->Close();
      connection->Close();
      return true;
    }
  } catch (const std::exception&) {
    // An unreachable database or a missing table both mean: no sync table.
  }
  return false;
}

}  // namespace corvane::service
