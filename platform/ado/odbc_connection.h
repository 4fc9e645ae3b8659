// The ODBC-backed Connection. Private to platform/ado.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/ado/ado.h"
#include "platform/ado/odbc_support.h"

namespace corvane::ado::odbc {

class OdbcRecordset;

class OdbcConnection : public Connection {
 public:
  OdbcConnection() = default;
  ~OdbcConnection() override;

  void Open(const std::string& connectionString, const std::string& user, const std::string& password,
            int options) override;
  std::unique_ptr<Recordset> Execute(const std::string& text) override;
  std::unique_ptr<Recordset> CreateRecordset() override;
  const std::vector<ErrorRecord>& Errors() const override { return errors_; }
  void ClearErrors() override { errors_.clear(); }
  int State() const override { return dbc_ ? adStateOpen : adStateClosed; }
  void Close() override;
  std::string DbmsName() const override { return dbmsName_; }
  void CaseSensitiveLike(bool on) override;
  void BeginTrans() override;
  void CommitTrans() override;
  void RollbackTrans() override;
  std::unique_ptr<Command> Prepare(const std::string& text) override;
  void BeginBatch() override;
  void CommitBatch() override;
  void AbandonBatch() noexcept override;
  bool BatchPending() const override { return batch_ == BatchState::Pending; }
  void ExpectStatements(std::vector<std::string> texts) override;
  void ExpectStatementsDoneBy(std::vector<std::string> texts, std::string together) override;
  bool RunsStatementsAhead() const override { return dialect_ == Dialect::PostgreSQL; }

  // Runs `write`, a change of the database, as part of the open batch:
  // when the database refuses it, the batch falls back to committing alone
  // (replaying its work so far) and `write` runs once more, alone. `replay`
  // does the same change again alone, should a later refusal roll the
  // batch back. Without a pending batch `write` just runs.
  void BatchedWrite(const std::function<void()>& write, std::function<void()> replay);
  // Prepares and runs `text` with `parameters` once; a replay's work.
  void ExecuteBound(const std::string& text, const std::vector<FieldValue>& parameters);

  // For the recordsets of this connection.
  Dialect dialect() const { return dialect_; }
  // True when the driver runs one statement at a time per connection
  // (SQL_MAX_CONCURRENT_ACTIVITIES = 1): no result may stay open while
  // another statement runs.
  bool OneActiveStatement() const { return oneActiveStatement_; }
  // A new statement handle; throws when the connection is closed.
  Handle NewStatement();
  // Runs `text` on `stmt`; throws AdoError (with Errors() filled) when refused.
  void ExecDirect(Handle& stmt, const std::string& text);
  // Throws AdoError for a failed call on `h` unless `rc` is a success or SQL_NO_DATA.
  void Check(SQLRETURN rc, const Handle& h) {
    if (!Ok(rc) && rc != SQL_NO_DATA) Raise(h);
  }
  [[noreturn]] void Raise(const Handle& h);
  void ResetErrors() { errors_.clear(); }
  // A cursor name not yet used on this connection.
  std::string NextCursorName();
  void Register(OdbcRecordset* rs);
  void Unregister(OdbcRecordset* rs);

 private:
  bool ConnectionDead() const;
  void PrepareSession();
  std::unique_ptr<Recordset> ExecuteNow(const std::string& text);
  void SetAutocommit(bool on);
  // Ends the driver's transaction; throws AdoError when that fails.
  void EndTransaction(SQLSMALLINT completion);
  // Rolls the batch back and replays its writes, each committed alone.
  void FallBackToAlone();
  // Runs the announced statements together; false (the batch fallen back
  // when the database refused them) when they are to run one by one.
  bool RunExpectedTogether();
  // Ends the announcement. Statements it ran ahead that the caller never
  // reached are undone: the batch falls back to the writes really made.
  void DropAnnouncement();
  // The same before a new announcement; a lost connection is left for the
  // next statement to report.
  void DropAnnouncementBeforeAnother();
  void ClearAnnouncement() noexcept;

  std::vector<std::string> expected_;  // announced statements (ExpectStatements)
  size_t expectedNext_ = 0;            // the next one's position
  bool expectedRan_ = false;           // run together already
  std::string expectedTogether_;       // the one statement that does their work, or none

  // Off: every statement commits alone. Pending: a batch's transaction is
  // open. Alone: a batch that fell back, its statements commit alone.
  enum class BatchState { Off, Pending, Alone };
  BatchState batch_ = BatchState::Off;
  std::vector<std::function<void()>> replays_;  // the pending batch's writes
  bool inTransaction_ = false;                  // between BeginTrans and its end

  Handle dbc_;
  Handle spareStatement_;  // a statement handle free for the next Execute
  std::vector<ErrorRecord> errors_;
  std::string dbmsName_;
  Dialect dialect_ = Dialect::Other;
  bool oneActiveStatement_ = false;
  unsigned cursorCounter_ = 0;
  std::vector<OdbcRecordset*> recordsets_;
};

}  // namespace corvane::ado::odbc
