// The database layer: the few ADO objects the system uses (a Connection
// and a Recordset), over ODBC. Errors are numbered as ADO numbers them, so
// the callers' error handling reads the same as on the original platform.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace corvane::ado {

// HRESULTs as signed 32-bit numbers, the way the run logs print them.
inline constexpr int32_t adErrGeneric = -2147467259;           // 0x80004005 E_FAIL: unreachable or lost database
inline constexpr int32_t adErrStatementRefused = -2147217900;  // 0x80040E14: the database refused the statement
// ADO's own errors (0x800A0000 + the ADO error code).
inline constexpr int32_t adErrInvalidArgument = -2146825287;      // 3001
inline constexpr int32_t adErrNoCurrentRecord = -2146825267;      // 3021: at EOF
inline constexpr int32_t adErrFeatureNotAvailable = -2146825037;  // 3251: a read-only recordset was written
inline constexpr int32_t adErrItemNotFound = -2146825023;         // 3265: no such field
inline constexpr int32_t adErrObjectClosed = -2146824584;         // 3704
inline constexpr int32_t adErrObjectOpen = -2146824583;           // 3705
inline constexpr int32_t adErrInvalidConnection = -2146824579;    // 3709
inline constexpr int32_t adErrRowNotFound = -2147217864;          // 0x80040E38: the row to write back is gone

enum CursorType : int { adOpenUnspecified = -1, adOpenForwardOnly = 0, adOpenKeyset = 1, adOpenDynamic = 2, adOpenStatic = 3 };
enum LockType : int { adLockUnspecified = -1, adLockReadOnly = 1, adLockPessimistic = 2, adLockOptimistic = 3 };
enum ObjectState : int { adStateClosed = 0, adStateOpen = 1 };

// A field value: std::nullopt is SQL NULL, distinct from an empty text.
using FieldValue = std::optional<std::string>;

// One record of the provider (driver): native number, SQLSTATE, message.
struct ErrorRecord {
  int32_t Number = 0;
  std::string SQLState;
  std::string Description;
};

// Raised by every failing operation. Number is the HRESULT (see above),
// Source names the component, Description says what happened in words.
class AdoError : public std::runtime_error {
 public:
  AdoError(int32_t number, std::string source, std::string description)
      : std::runtime_error(description), Number(number), Source(std::move(source)), Description(std::move(description)) {}
  int32_t Number;
  std::string Source;
  std::string Description;
};

// True when the failure means the database cannot be reached any more
// (the link was lost): every later statement on the connection fails too.
inline bool IsConnectionLost(const AdoError& e) { return e.Number == adErrGeneric; }

class Connection;
class Command;

// A result of a query. Fields are addressed by 0-based position in the
// SELECT list (or table order for "select *") or by name without regard to
// case. Recordsets opened with adOpenDynamic + adLockOptimistic can change
// the current row and write it back with Update at a cost that does not
// grow with the table.
class Recordset {
 public:
  virtual ~Recordset() = default;
  Recordset(const Recordset&) = delete;
  Recordset& operator=(const Recordset&) = delete;

  virtual void Open(const std::string& source, Connection& activeConnection, int cursorType = adOpenUnspecified,
                    int lockType = adLockUnspecified, int options = -1) = 0;
  virtual int State() const = 0;
  virtual bool IsEOF() const = 0;  // ADO's EOF (EOF itself is a C macro)
  virtual int FieldCount() const = 0;
  virtual std::string FieldName(int index) const = 0;
  // Throws AdoError for an unknown name (ADO: item not found in collection).
  virtual int FieldIndex(const std::string& name) const = 0;
  virtual FieldValue GetValue(int index) const = 0;
  FieldValue GetValue(const std::string& name) const { return GetValue(FieldIndex(name)); }
  virtual void SetValue(int index, FieldValue value) = 0;
  void SetValue(const std::string& name, FieldValue value) { SetValue(FieldIndex(name), std::move(value)); }
  virtual void Update() = 0;

  // The fields a row's next Update writes, by position, with their values;
  // empty for a row left alone.
  using PlannedChange = std::vector<std::pair<int, FieldValue>>;
  using UpdatePlan = std::function<PlannedChange(const std::vector<FieldValue>& row)>;
  // Announces the write-backs the caller makes next, for the current row
  // and the rows after it that the recordset holds already, `rows` at most:
  // `plan` tells from a row's values what the caller sets in it before its
  // Update. The caller writes each such row once, then moves on. Inside a
  // pending batch a connection that runs statements ahead (PostgreSQL) may
  // then send the writes in one exchange; each Update still ends as it
  // would alone (a different change is simply written alone), except that
  // a row changed meanwhile by another session is not reported missing.
  // Does nothing where it saves nothing, and while an announcement covers
  // the current row.
  virtual void ExpectUpdates(size_t rows, const UpdatePlan& plan) {
    (void)rows;
    (void)plan;
  }
  virtual void MoveFirst() = 0;
  virtual void MoveNext() = 0;
  virtual void Close() = 0;

 protected:
  Recordset() = default;
};

class Connection {
 public:
  virtual ~Connection() = default;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Opens with an ODBC connection string; user and password, when not
  // empty, are passed as UID and PWD. Throws AdoError (adErrGeneric) when
  // the database cannot be reached; the driver's records go to Errors().
  virtual void Open(const std::string& connectionString, const std::string& user = "",
                    const std::string& password = "", int options = -1) = 0;
  // Runs any statement. Always returns a Recordset: open (State() == 1)
  // for a row-returning statement, closed otherwise.
  virtual std::unique_ptr<Recordset> Execute(const std::string& text) = 0;
  // A new, closed recordset to Open() on this connection.
  virtual std::unique_ptr<Recordset> CreateRecordset() = 0;
  virtual const std::vector<ErrorRecord>& Errors() const = 0;
  virtual void ClearErrors() = 0;
  virtual int State() const = 0;
  virtual void Close() = 0;
  // The driver's DBMS name (SQL_DBMS_NAME), e.g. "SQLite", "PostgreSQL".
  virtual std::string DbmsName() const = 0;
  // While `on`, `like` compares case-sensitively on a database whose own
  // `like` ignores case (SQLite), so an index on the compared column can
  // serve it; off restores the database's own behaviour. Elsewhere nothing
  // changes (on MariaDB and MySQL `like` follows the column's collation).
  // Throws AdoError when the database refuses.
  virtual void CaseSensitiveLike(bool on) { (void)on; }

  // Transactions, as ADO names them: statements after BeginTrans stay
  // uncommitted until CommitTrans, and RollbackTrans undoes them; either
  // ends the transaction and the connection commits each statement alone
  // again. Throws AdoError (adErrFeatureNotAvailable where the connection
  // has no transactions, adErrObjectOpen for a second BeginTrans).
  // Prefer the scope class Transaction below.
  virtual void BeginTrans();
  virtual void CommitTrans();
  virtual void RollbackTrans();

  // A statement prepared once and run many times with bound parameters
  // ("?" in the text, each bound as text; std::nullopt binds NULL).
  // Throws AdoError when the database refuses the text.
  virtual std::unique_ptr<Command> Prepare(const std::string& text);

  // Batched writing (see the scope class Batch below). Statements that
  // return no rows and rows written back through recordsets are committed
  // together at CommitBatch, yet each caller sees what committing them one
  // by one gives: when the database refuses one, the work of the batch so
  // far is rolled back and replayed statement by statement, each committed
  // alone, and the refused statement then runs alone too (raising its own
  // error, as it would have); the batch's further statements are committed
  // one by one until CommitBatch. AbandonBatch rolls back what is still
  // uncommitted. Connections without transactions commit every statement
  // as it runs (the defaults).
  virtual void BeginBatch() {}
  virtual void CommitBatch() {}
  virtual void AbandonBatch() noexcept {}
  // True while the open batch holds work that is not yet committed.
  virtual bool BatchPending() const { return false; }

  // Announces the statements the caller executes next, in this order, each
  // through its own Execute: changes that return no rows. Inside a pending
  // batch a connection to a database that takes several statements at once
  // (PostgreSQL) may run them together at the first one's Execute, in one
  // exchange with the database instead of one each; each later Execute of
  // an announced text then only reports its success. Whatever happens, each
  // statement ends as it would alone: when the database refuses the group,
  // the batch falls back as for a refused statement (see BeginBatch) and
  // the announced statements run one by one as they come. An Execute of any
  // other text, a new announcement or the batch's commit drops what is left
  // of the announcement unrun: where it ran ahead, the batch falls back so.
  virtual void ExpectStatements(std::vector<std::string> texts) { (void)texts; }
  // Announces statements as ExpectStatements does, with one statement that
  // leaves what they leave together (the caller answers for that). Inside
  // a pending batch the connection runs `together` at the first one's
  // Execute in their place, on every database; when the database refuses
  // it, the group falls back as a refused group does above.
  virtual void ExpectStatementsDoneBy(std::vector<std::string> texts, std::string together) {
    (void)texts;
    (void)together;
  }
  // True when announcing statements can save exchanges with the database
  // (the caller may then build them ahead).
  virtual bool RunsStatementsAhead() const { return false; }

 protected:
  Connection() = default;
};

// A prepared statement of a connection (ADO's Command); it must not
// outlive its connection.
class Command {
 public:
  virtual ~Command() = default;
  Command(const Command&) = delete;
  Command& operator=(const Command&) = delete;
  // Runs the statement with `parameters` bound in order; returns the rows
  // it changed (-1 where the driver does not tell). Throws AdoError when the
  // database refuses it (the records are in the connection's Errors()).
  virtual long Execute(const std::vector<FieldValue>& parameters) = 0;

 protected:
  Command() = default;
};

// A transaction for the length of a scope: rolled back when the scope ends
// without Commit (an exception on the way out, an early return).
class Transaction {
 public:
  explicit Transaction(Connection& connection) : connection_(connection) { connection_.BeginTrans(); }
  ~Transaction() {
    if (open_) {
      try {
        connection_.RollbackTrans();
      } catch (...) {
        // A lost connection has rolled the transaction back itself.
      }
    }
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  // Commits; the transaction is over even when the commit throws.
  void Commit() {
    open_ = false;
    connection_.CommitTrans();
  }

 private:
  Connection& connection_;
  bool open_ = true;
};

// Batched writing for the length of a scope (see Connection::BeginBatch):
// Commit commits the work so far and goes on batching; the scope's end
// without End rolls back what is uncommitted.
class Batch {
 public:
  explicit Batch(Connection& connection) : connection_(connection) { connection_.BeginBatch(); }
  ~Batch() {
    if (open_) connection_.AbandonBatch();
  }
  Batch(const Batch&) = delete;
  Batch& operator=(const Batch&) = delete;
  // Commits the batch and begins the next one. Throws AdoError when the
  // commit fails; the batch is over then.
  void Commit() {
    End();
    connection_.BeginBatch();
    open_ = true;
  }
  // Commits the batch; batching is over even when the commit throws.
  void End() {
    open_ = false;
    connection_.CommitBatch();
  }
  bool Pending() const { return connection_.BatchPending(); }

 private:
  Connection& connection_;
  bool open_ = true;
};

// A new, closed connection backed by ODBC (unixODBC).
std::unique_ptr<Connection> CreateConnection();

// The database behind a driver, as far as the statements sent to it differ.
enum class Dialect { SQLite, PostgreSQL, Oracle, MySQL, Other };  // MySQL: MariaDB and MySQL

// The dialect of a driver's DBMS name (Connection::DbmsName), by the
// database's name in it, ignoring case.
Dialect DialectOf(const std::string& dbmsName);

// `connectionString` for a look at the database that must create nothing:
// a driver that creates a missing database file when it connects (the
// SQLite driver) is told not to, so the connection fails instead. Other
// drivers' strings come back unchanged.
std::string WithoutCreatingTheDatabase(const std::string& connectionString);

}  // namespace corvane::ado
