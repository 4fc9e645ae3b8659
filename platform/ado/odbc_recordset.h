// The ODBC-backed Recordset. Private to platform/ado.
//
// Rows arrive in batches of bounded size from a row source chosen by the
// database: SQLite pages by rowid ("where rowid > last order by rowid"),
// PostgreSQL reads a held cursor (a snapshot taken at open, so rows written
// back are never met again), and other databases read one open statement.
// Between batches no statement of the recordset is active, so the caller and
// the write-back may run their own statements on the same connection, on
// every driver. Update writes the changed fields of the current row by its
// row locator (SQLite rowid, PostgreSQL ctid, Oracle ROWID) read alongside
// the row, which costs the same whatever the table's size.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ado/ado.h"
#include "platform/ado/odbc_support.h"

namespace corvane::ado::odbc {

class OdbcConnection;

struct Row {
  std::vector<FieldValue> values;
  std::string locator;     // where the row lives; empty for read-only rows
  bool noLocator = false;  // keyed by a first field that is NULL: cannot be found again
};

class RowSource {
 public:
  virtual ~RowSource() = default;
  // Positions before the first row.
  virtual void Start() = 0;
  // Appends up to `limit` rows; sets `done` once the last row has been read.
  virtual void Fetch(std::vector<Row>& rows, size_t limit) = 0;
  // Ends the read; never throws.
  virtual void Stop() noexcept = 0;

  std::vector<std::string> names;  // the result's columns, without the locator
  bool done = false;
};

class OdbcRecordset : public Recordset {
 public:
  OdbcRecordset() = default;
  ~OdbcRecordset() override;

  void Open(const std::string& source, Connection& activeConnection, int cursorType, int lockType,
            int options) override;
  // Takes the result of a statement the connection has just executed.
  void OpenExecuted(OdbcConnection& connection, const std::string& text, Handle stmt);

  int State() const override { return open_ ? adStateOpen : adStateClosed; }
  bool IsEOF() const override { return !open_ || eof_; }
  int FieldCount() const override;
  std::string FieldName(int index) const override;
  int FieldIndex(const std::string& name) const override;
  FieldValue GetValue(int index) const override;
  void SetValue(int index, FieldValue value) override;
  void Update() override;
  void ExpectUpdates(size_t rows, const UpdatePlan& plan) override;
  void MoveFirst() override;
  void MoveNext() override;
  void Close() override;

  static constexpr size_t kBatchRows = 1000;

 private:
  void Begin(OdbcConnection& connection, std::unique_ptr<RowSource> source);
  void LoadBatch();
  void CheckRow(int index) const;
  void PrepareUpdate();
  void WriteBack();  // Update's work: the changed fields of the current row
  // "update <table> set <name> = <valueOf(i)>, …" for the `changed` fields.
  std::string UpdateOf(const std::vector<bool>& changed, const std::function<std::string(size_t)>& valueOf) const;
  // The current write-back of `row` as one statement with its values and
  // locator written out (PostgreSQL), for announced write-backs.
  std::string LiteralUpdate(const Row& row, const std::vector<bool>& changed) const;
  void ResetBatch();

  OdbcConnection* conn_ = nullptr;
  std::unique_ptr<RowSource> source_;
  bool open_ = false;
  bool eof_ = true;
  std::vector<std::string> names_;
  std::vector<Row> batch_;
  size_t pos_ = 0;

  // Write-back: the table, the changed fields of the current row, and the
  // prepared UPDATE for the last set of changed fields.
  bool updatable_ = false;
  std::string table_;
  std::vector<bool> dirty_;
  std::vector<bool> preparedFor_;
  std::string updateText_;
  Handle update_;
  // Rows of the batch before this position have their write-backs
  // announced (ExpectUpdates): they are written by LiteralUpdate.
  size_t announcedUntil_ = 0;
};

}  // namespace corvane::ado::odbc
