// A Connection that runs nothing: it records every statement text it is
// given and answers from a script. Tests use it for the databases no test
// server exists for (SQL Server, Oracle): fed like such a database, it lets
// the callers' dialect choices and statement texts be checked.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/ado/ado.h"

namespace corvane::ado {

// What a scripted statement does.
struct ScriptedAnswer {
  enum class Kind { Closed, Rows, Fail };
  Kind kind = Kind::Closed;
  std::vector<std::string> columns;           // Rows: the result's columns
  std::vector<std::vector<FieldValue>> rows;  // Rows: the result's rows
  int32_t number = 0;                         // Fail: the error raised
  std::string description;
  std::vector<ErrorRecord> records;  // Fail: what Errors() holds afterwards

  // The statement runs and returns no rows (a closed recordset).
  static ScriptedAnswer Closed() { return {}; }
  // The statement returns an open recordset with these rows.
  static ScriptedAnswer Rows(std::vector<std::string> columns, std::vector<std::vector<FieldValue>> rows = {});
  // The statement is refused with this error; `records` default to one
  // record with native number 0 and the description.
  static ScriptedAnswer Fail(int32_t number, std::string description, std::vector<ErrorRecord> records = {});
};

// A row written back through a recordset of a recording connection.
struct RecordedUpdate {
  std::string source;                                      // the recordset's source text
  size_t row = 0;                                          // 0-based position of the row in the result
  std::vector<std::pair<std::string, FieldValue>> values;  // changed fields, by name
};

// The script and the record, shared by every connection made from it (the
// service opens several connections in one run).
class RecordingDatabase {
 public:
  // Statements equal to `text` (ignoring case and surrounding blanks) get
  // `answer`. The rule added last wins; `times` > 0 limits its uses.
  void When(const std::string& text, ScriptedAnswer answer, int times = -1);
  // Statements that begin with `prefix` (ignoring case and leading blanks).
  void WhenPrefix(const std::string& prefix, ScriptedAnswer answer, int times = -1);
  // Makes Open fail with adErrGeneric and this description (a database that is down).
  void FailOpen(std::string description = "[unixODBC]Could not connect to the server");

  // The answer for `text`; statements without a rule run and return no rows.
  ScriptedAnswer AnswerFor(const std::string& text);

  // A factory for ExportContext::NewConnection.
  std::function<std::unique_ptr<Connection>()> Factory();

  // Fed like SQL Server: "sp_tables" returns a result.
  static std::shared_ptr<RecordingDatabase> LikeMssql();
  // Fed like Oracle: "sp_tables" is refused, "select sysdate from dual" returns a row.
  static std::shared_ptr<RecordingDatabase> LikeOracle();

  std::string dbmsName = "Recording";
  bool openFails = false;
  std::string openFailure;

  // The record.
  std::vector<std::string> statements;         // every Execute text and Recordset source, in order
  std::vector<std::string> connectionStrings;  // every Open
  std::vector<RecordedUpdate> updates;
  // BeginTrans, CommitTrans and RollbackTrans, in order (batches commit
  // each statement alone here: they are not recorded).
  std::vector<std::string> transactions;
  // The parameters of each run of a prepared statement, in order (its
  // text is in `statements`).
  std::vector<std::vector<FieldValue>> parameters;
  int closes = 0;

 private:
  struct Rule {
    std::string text;
    bool prefix = false;
    ScriptedAnswer answer;
    int remaining = -1;
  };
  std::vector<Rule> rules_;
};

class RecordingConnection : public Connection {
 public:
  explicit RecordingConnection(std::shared_ptr<RecordingDatabase> database = std::make_shared<RecordingDatabase>());
  ~RecordingConnection() override;

  void Open(const std::string& connectionString, const std::string& user = "", const std::string& password = "",
            int options = -1) override;
  std::unique_ptr<Recordset> Execute(const std::string& text) override;
  std::unique_ptr<Recordset> CreateRecordset() override;
  const std::vector<ErrorRecord>& Errors() const override { return errors_; }
  void ClearErrors() override { errors_.clear(); }
  int State() const override { return open_ ? adStateOpen : adStateClosed; }
  void Close() override;
  std::string DbmsName() const override { return database_->dbmsName; }
  void BeginTrans() override;
  void CommitTrans() override;
  void RollbackTrans() override;
  std::unique_ptr<Command> Prepare(const std::string& text) override;

  RecordingDatabase& database() { return *database_; }
  const std::vector<std::string>& statements() const { return database_->statements; }

  // For the recordsets of this connection: records `text` and answers it,
  // raising a scripted failure.
  ScriptedAnswer Run(const std::string& text);

 private:
  std::shared_ptr<RecordingDatabase> database_;
  void EndTransaction(const char* what);

  std::vector<ErrorRecord> errors_;
  bool open_ = false;
  bool inTransaction_ = false;
};

}  // namespace corvane::ado
