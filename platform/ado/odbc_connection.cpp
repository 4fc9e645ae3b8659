#include "platform/ado/odbc_connection.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <string_view>

#include "platform/ado/odbc_recordset.h"

namespace corvane::ado::odbc {

namespace {

// The value of `name` in an ODBC connection string, empty when absent.
std::string AttributeOf(const std::string& connectionString, std::string_view name) {
  size_t pos = 0;
  while (pos < connectionString.size()) {
    size_t end = connectionString.find(';', pos);
    if (end == std::string::npos) end = connectionString.size();
    const std::string_view item = std::string_view(connectionString).substr(pos, end - pos);
    const size_t eq = item.find('=');
    if (eq != std::string_view::npos && eq == name.size() &&
        std::equal(name.begin(), name.end(), item.begin(),
                   [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b)); }))
      return std::string(item.substr(eq + 1));
    pos = end + 1;
  }
  return {};
}

// A SQLite database file the driver is about to create is made first, empty
// (SQLite takes it for an empty database) and readable by its owner only:
// it holds the address list, and SQLite gives its journal files the same
// mode. An existing file keeps its mode.
void CreateSqliteFilePrivately(const std::string& connectionString) {
  std::string driver = AttributeOf(connectionString, "Driver");
  std::transform(driver.begin(), driver.end(), driver.begin(), [](unsigned char c) { return std::tolower(c); });
  const std::string file = AttributeOf(connectionString, "Database");
  if (driver.find("sqlite") == std::string::npos || file.empty() || file == ":memory:" ||
      AttributeOf(connectionString, "NoCreat") == "1")
    return;
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return;  // there already, or not to be made: the driver says why
  ::fchmod(fd, 0600);
  ::close(fd);
}

// psqlODBC guards each statement inside a transaction with a savepoint of
// its own (a RELEASE and a SAVEPOINT before every one), so that a refused
// statement leaves the transaction alive: a subtransaction per statement,
// which costs the server about a fifth of a batched statement's time. The
// batches here handle a refusal themselves (the batch is rolled back and
// replayed, see BatchedWrite) and no transaction here goes on after a
// refusal, so the driver is told to leave refusals to the database
// ("Protocol=7.4-0": a refused statement aborts the transaction, as
// PostgreSQL itself does). A string that names its own Protocol keeps it.
std::string WithoutDriverSavepoints(const std::string& connectionString) {
  std::string driver = AttributeOf(connectionString, "Driver");
  std::transform(driver.begin(), driver.end(), driver.begin(), [](unsigned char c) { return std::tolower(c); });
  if ((driver.find("postgres") == std::string::npos && driver.find("psqlodbc") == std::string::npos) ||
      !AttributeOf(connectionString, "Protocol").empty())
    return connectionString;
  std::string out = connectionString;
  if (!out.empty() && out.back() != ';') out += ';';
  return out + "Protocol=7.4-0";
}

}  // namespace

OdbcConnection::~OdbcConnection() { Close(); }

void OdbcConnection::Open(const std::string& connectionString, const std::string& user, const std::string& password,
                          int /*options*/) {
  if (dbc_) throw AdoError(adErrObjectOpen, "ADODB.Connection", "Operation is not allowed when the object is open.");
  errors_.clear();
  std::string text = WithoutDriverSavepoints(connectionString);
  if (!user.empty()) text += ";UID=" + user;
  if (!password.empty()) text += ";PWD=" + password;

  CreateSqliteFilePrivately(connectionString);
  Handle dbc(SQL_HANDLE_DBC, Environment());
  SQLSetConnectAttr(dbc.get(), SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(15), 0);
  SQLCHAR completed[2048];
  SQLSMALLINT completedLength = 0;
  SQLRETURN rc = SQLDriverConnect(dbc.get(), nullptr, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS, completed,
                                  sizeof completed, &completedLength, SQL_DRIVER_NOPROMPT);
  if (!Ok(rc)) {
    errors_ = Diagnostics(SQL_HANDLE_DBC, dbc.get());
    throw AdoError(adErrGeneric, kSource, DescriptionOf(errors_, "The database could not be reached."));
  }
  dbc_ = std::move(dbc);

  SQLCHAR name[256] = {};
  SQLSMALLINT nameLength = 0;
  if (Ok(SQLGetInfo(dbc_.get(), SQL_DBMS_NAME, name, sizeof name, &nameLength)))
    dbmsName_ = reinterpret_cast<const char*>(name);
  dialect_ = DialectOf(dbmsName_);
  SQLUSMALLINT activities = 0;
  oneActiveStatement_ =
      Ok(SQLGetInfo(dbc_.get(), SQL_MAX_CONCURRENT_ACTIVITIES, &activities, sizeof activities, nullptr)) &&
      activities == 1;
  try {
    PrepareSession();
  } catch (...) {
    Close();
    throw;
  }
}

// Session settings the system's statements rely on.
void OdbcConnection::PrepareSession() {
  Handle stmt = NewStatement();
  if (dialect_ == Dialect::PostgreSQL) {
    // Backslashes in literals are ordinary characters (directory names,
    // addresses), never escapes.
    ExecDirect(stmt, "SET standard_conforming_strings = on");
  } else if (dialect_ == Dialect::MySQL) {
    // The same for MariaDB and MySQL, whose default reads a backslash as an escape.
    ExecDirect(stmt, "SET SESSION sql_mode = CONCAT_WS(',', NULLIF(@@SESSION.sql_mode, ''), 'NO_BACKSLASH_ESCAPES')");
  }
}

void OdbcConnection::CaseSensitiveLike(bool on) {
  if (dialect_ != Dialect::SQLite) return;  // PostgreSQL's and Oracle's like respect case already
  Handle stmt = NewStatement();
  ExecDirect(stmt, on ? "PRAGMA case_sensitive_like=ON" : "PRAGMA case_sensitive_like=OFF");
}

std::unique_ptr<Recordset> OdbcConnection::Execute(const std::string& text) {
  if (expectedNext_ < expected_.size()) {
    if (text == expected_[expectedNext_] && (expectedRan_ || RunExpectedTogether())) {
      // Replayed as it comes: a fallback redoes only what the caller reached.
      if (batch_ == BatchState::Pending) replays_.push_back([this, text] { ExecuteNow(text); });
      ++expectedNext_;
      return std::make_unique<OdbcRecordset>();
    }
    DropAnnouncement();
  }
  if (batch_ != BatchState::Pending) return ExecuteNow(text);
  std::unique_ptr<Recordset> rs;
  BatchedWrite([&] { rs = ExecuteNow(text); }, nullptr);
  // Only what changes the database is replayed; a query is not.
  if (batch_ == BatchState::Pending && rs->State() == adStateClosed)
    replays_.push_back([this, text] { ExecuteNow(text); });
  return rs;
}

std::unique_ptr<Recordset> OdbcConnection::ExecuteNow(const std::string& text) {
  // The handle of the last statement that returned no rows serves the next
  // one: allocating a handle per statement costs more than running a small one.
  Handle stmt = spareStatement_ ? std::move(spareStatement_) : NewStatement();
  errors_.clear();
  ExecDirect(stmt, text);
  SQLSMALLINT columns = 0;
  SQLNumResultCols(stmt.get(), &columns);
  auto rs = std::make_unique<OdbcRecordset>();
  if (columns > 0) {
    rs->OpenExecuted(*this, text, std::move(stmt));
  } else if (Ok(SQLFreeStmt(stmt.get(), SQL_CLOSE))) {
    spareStatement_ = std::move(stmt);
  }
  return rs;
}

std::unique_ptr<Recordset> OdbcConnection::CreateRecordset() { return std::make_unique<OdbcRecordset>(); }

namespace {

const char* const kConnection = "ADODB.Connection";

// Binds `values` as text parameters 1..n of `stmt`; `lengths` must live
// until the statement has run.
void BindText(OdbcConnection& c, Handle& stmt, const std::vector<FieldValue>& values, std::vector<SQLLEN>& lengths) {
  static char none = 0;
  lengths.assign(values.size(), 0);
  for (size_t i = 0; i < values.size(); ++i) {
    const FieldValue& v = values[i];
    lengths[i] = v ? static_cast<SQLLEN>(v->size()) : SQL_NULL_DATA;
    const SQLULEN size = v ? std::max<SQLULEN>(v->size(), 1) : 1;
    SQLPOINTER data = v ? const_cast<char*>(v->data()) : &none;
    c.Check(SQLBindParameter(stmt.get(), static_cast<SQLUSMALLINT>(i + 1), SQL_PARAM_INPUT, SQL_C_CHAR,
                             size > 4000 ? SQL_LONGVARCHAR : SQL_VARCHAR, size, 0, data, 0, &lengths[i]),
            stmt);
  }
}

class OdbcCommand : public Command {
 public:
  OdbcCommand(OdbcConnection& c, std::string text) : c_(c), text_(std::move(text)), stmt_(c.NewStatement()) {
    c_.ResetErrors();
    c_.Check(SQLPrepare(stmt_.get(), reinterpret_cast<SQLCHAR*>(text_.data()), SQL_NTS), stmt_);
  }
  long Execute(const std::vector<FieldValue>& parameters) override {
    long affected = -1;
    c_.BatchedWrite([&] { affected = Run(parameters); },
                    [c = &c_, text = text_, parameters] { c->ExecuteBound(text, parameters); });
    return affected;
  }

 private:
  long Run(const std::vector<FieldValue>& parameters) {
    c_.ResetErrors();
    std::vector<SQLLEN> lengths;
    SQLFreeStmt(stmt_.get(), SQL_CLOSE);
    SQLFreeStmt(stmt_.get(), SQL_RESET_PARAMS);
    BindText(c_, stmt_, parameters, lengths);
    const SQLRETURN rc = SQLExecute(stmt_.get());
    SQLLEN affected = 0;
    if (rc != SQL_NO_DATA) {  // SQL_NO_DATA: a searched change that found no row
      c_.Check(rc, stmt_);
      if (!Ok(SQLRowCount(stmt_.get(), &affected))) affected = -1;
    }
    SQLFreeStmt(stmt_.get(), SQL_CLOSE);
    SQLFreeStmt(stmt_.get(), SQL_RESET_PARAMS);
    return static_cast<long>(affected);
  }

  OdbcConnection& c_;
  std::string text_;
  Handle stmt_;
};

}  // namespace

std::unique_ptr<Command> OdbcConnection::Prepare(const std::string& text) {
  return std::make_unique<OdbcCommand>(*this, text);
}

void OdbcConnection::ExecuteBound(const std::string& text, const std::vector<FieldValue>& parameters) {
  Handle stmt = NewStatement();
  std::string copy = text;
  Check(SQLPrepare(stmt.get(), reinterpret_cast<SQLCHAR*>(copy.data()), SQL_NTS), stmt);
  std::vector<SQLLEN> lengths;
  BindText(*this, stmt, parameters, lengths);
  Check(SQLExecute(stmt.get()), stmt);
}

void OdbcConnection::SetAutocommit(bool on) {
  const auto value = reinterpret_cast<SQLPOINTER>(static_cast<uintptr_t>(on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF));
  const SQLRETURN rc = SQLSetConnectAttr(dbc_.get(), SQL_ATTR_AUTOCOMMIT, value, 0);
  if (!Ok(rc)) Raise(dbc_);
}

void OdbcConnection::EndTransaction(SQLSMALLINT completion) {
  const SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, dbc_.get(), completion);
  std::vector<ErrorRecord> failure;
  if (!Ok(rc)) failure = Diagnostics(SQL_HANDLE_DBC, dbc_.get());
  try {
    SetAutocommit(true);
  } catch (const AdoError&) {
    if (failure.empty()) throw;
  }
  if (!Ok(rc)) {
    errors_ = std::move(failure);
    const bool lost = IsConnectionFailure(errors_) || ConnectionDead();
    throw AdoError(lost ? adErrGeneric : adErrStatementRefused, kSource, DescriptionOf(errors_, "Unspecified error"));
  }
}

void OdbcConnection::BeginTrans() {
  if (!dbc_) throw AdoError(adErrObjectClosed, kConnection, "Operation is not allowed when the object is closed.");
  if (inTransaction_ || batch_ != BatchState::Off)
    throw AdoError(adErrObjectOpen, kConnection, "A transaction is already open on this connection.");
  SetAutocommit(false);
  inTransaction_ = true;
}

void OdbcConnection::CommitTrans() {
  if (!inTransaction_) throw AdoError(adErrInvalidArgument, kConnection, "No transaction is active.");
  inTransaction_ = false;
  EndTransaction(SQL_COMMIT);
}

void OdbcConnection::RollbackTrans() {
  if (!inTransaction_) throw AdoError(adErrInvalidArgument, kConnection, "No transaction is active.");
  inTransaction_ = false;
  EndTransaction(SQL_ROLLBACK);
}

void OdbcConnection::BeginBatch() {
  if (!dbc_) throw AdoError(adErrObjectClosed, kConnection, "Operation is not allowed when the object is closed.");
  if (inTransaction_ || batch_ != BatchState::Off)
    throw AdoError(adErrObjectOpen, kConnection, "A transaction is already open on this connection.");
  replays_.clear();
  try {
    SetAutocommit(false);
  } catch (const AdoError& e) {
    if (IsConnectionLost(e)) throw;
    return;  // a driver without transactions: every statement commits alone
  }
  batch_ = BatchState::Pending;
}

void OdbcConnection::CommitBatch() {
  try {
    DropAnnouncement();
  } catch (const AdoError&) {
    // The connection is gone, and the batch with it.
    batch_ = BatchState::Off;
    replays_.clear();
    throw;
  }
  const BatchState state = batch_;
  batch_ = BatchState::Off;
  if (state != BatchState::Pending) return;
  try {
    EndTransaction(SQL_COMMIT);
    replays_.clear();
  } catch (const AdoError& e) {
    if (IsConnectionLost(e)) {
      replays_.clear();
      throw;
    }
    // The database refused the commit as a whole: its writes go in alone.
    batch_ = BatchState::Pending;
    FallBackToAlone();
    batch_ = BatchState::Off;
  }
}

void OdbcConnection::AbandonBatch() noexcept {
  ClearAnnouncement();
  const BatchState state = batch_;
  batch_ = BatchState::Off;
  replays_.clear();
  if (state != BatchState::Pending || !dbc_) return;
  try {
    EndTransaction(SQL_ROLLBACK);
  } catch (...) {
    // A lost connection has rolled the batch back itself.
  }
}

void OdbcConnection::BatchedWrite(const std::function<void()>& write, std::function<void()> replay) {
  if (batch_ != BatchState::Pending) {
    write();
    return;
  }
  try {
    write();
  } catch (const AdoError& e) {
    if (e.Number != adErrStatementRefused) throw;  // a lost link, or no refusal by the database
    // Alone the statement could have failed the same way, but on some
    // databases (PostgreSQL) a refusal also ends the transaction: roll
    // back, redo the batch's work alone, then run the refused write alone
    // so that it leaves what it would have left alone.
    FallBackToAlone();
    write();
    return;
  }
  if (replay) replays_.push_back(std::move(replay));
}

void OdbcConnection::ClearAnnouncement() noexcept {
  expected_.clear();
  expectedNext_ = 0;
  expectedRan_ = false;
  expectedTogether_.clear();
}

void OdbcConnection::DropAnnouncement() {
  const bool ranAhead = expectedRan_ && expectedNext_ < expected_.size();
  ClearAnnouncement();
  if (ranAhead && batch_ == BatchState::Pending) FallBackToAlone();
}

void OdbcConnection::DropAnnouncementBeforeAnother() {
  try {
    DropAnnouncement();
  } catch (const AdoError&) {
    // The connection is gone: the next statement reports it.
  }
}

void OdbcConnection::ExpectStatements(std::vector<std::string> texts) {
  DropAnnouncementBeforeAnother();
  expected_ = std::move(texts);
  // Two or more, in a batch, and none that a comment could join to the next.
  bool together = expected_.size() > 1 && batch_ == BatchState::Pending && RunsStatementsAhead();
  for (const std::string& text : expected_)
    together = together && text.find("--") == std::string::npos && text.find("/*") == std::string::npos;
  if (!together) expected_.clear();
}

void OdbcConnection::ExpectStatementsDoneBy(std::vector<std::string> texts, std::string together) {
  DropAnnouncementBeforeAnother();
  expected_ = std::move(texts);
  expectedTogether_ = std::move(together);
  if (expected_.empty() || expectedTogether_.empty() || batch_ != BatchState::Pending) {
    expected_.clear();
    expectedTogether_.clear();
  }
}

bool OdbcConnection::RunExpectedTogether() {
  if (batch_ != BatchState::Pending) return false;
  // The one statement that does their work, or else all of them in one text.
  std::string joined = std::move(expectedTogether_);
  expectedTogether_.clear();
  const bool several = joined.empty();
  if (several) {
    for (const std::string& text : expected_) {
      joined += text;
      joined += ";";
    }
  }
  try {
    Handle stmt = spareStatement_ ? std::move(spareStatement_) : NewStatement();
    errors_.clear();
    ExecDirect(stmt, joined);
    // A statement after the first one reports its refusal as its result comes.
    if (several)
      for (SQLRETURN rc = SQLMoreResults(stmt.get()); rc != SQL_NO_DATA; rc = SQLMoreResults(stmt.get())) Check(rc, stmt);
    if (Ok(SQLFreeStmt(stmt.get(), SQL_CLOSE))) spareStatement_ = std::move(stmt);
  } catch (const AdoError& e) {
    expected_.clear();
    if (e.Number != adErrStatementRefused) throw;  // the link is lost: the first statement raises it
    // One of them was refused: what the batch holds is rolled back and
    // redone alone, and the statements then run one by one.
    FallBackToAlone();
    return false;
  }
  expectedRan_ = true;
  return true;
}

void OdbcConnection::FallBackToAlone() {
  std::vector<std::function<void()>> replays = std::move(replays_);
  replays_.clear();
  batch_ = BatchState::Alone;
  try {
    EndTransaction(SQL_ROLLBACK);
  } catch (const AdoError& e) {
    if (IsConnectionLost(e)) throw;
  }
  for (const auto& replay : replays) {
    try {
      replay();
    } catch (const AdoError& e) {
      // These writes succeeded moments ago in the same order; only a lost
      // connection (or another session's change in between) stops one now.
      if (IsConnectionLost(e)) throw;
    }
  }
  errors_.clear();
}

void OdbcConnection::Close() {
  // Recordsets still open on this connection close first: their statement
  // handles belong to it.
  while (!recordsets_.empty()) recordsets_.back()->Close();
  spareStatement_.Reset();
  // Uncommitted work is rolled back, as the database does for a session
  // that ends.
  if (batch_ != BatchState::Off) AbandonBatch();
  if (inTransaction_) {
    inTransaction_ = false;
    SQLEndTran(SQL_HANDLE_DBC, dbc_.get(), SQL_ROLLBACK);
  }
  if (dbc_) {
    SQLDisconnect(dbc_.get());
    dbc_.Reset();
  }
}

Handle OdbcConnection::NewStatement() {
  if (!dbc_)
    throw AdoError(adErrObjectClosed, "ADODB.Connection", "Operation is not allowed when the object is closed.");
  Handle stmt(SQL_HANDLE_STMT, dbc_.get());
  return stmt;
}

void OdbcConnection::ExecDirect(Handle& stmt, const std::string& text) {
  std::string copy = text;
  Check(SQLExecDirect(stmt.get(), reinterpret_cast<SQLCHAR*>(copy.data()), static_cast<SQLINTEGER>(copy.size())), stmt);
}

void OdbcConnection::Raise(const Handle& h) {
  errors_ = Diagnostics(h.type(), h.get());
  const bool lost = IsConnectionFailure(errors_) || ConnectionDead();
  throw AdoError(lost ? adErrGeneric : adErrStatementRefused, kSource, DescriptionOf(errors_, "Unspecified error"));
}

bool OdbcConnection::ConnectionDead() const {
  if (!dbc_) return true;
  SQLUINTEGER dead = SQL_CD_FALSE;
  if (!Ok(SQLGetConnectAttr(dbc_.get(), SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr))) return false;
  return dead == SQL_CD_TRUE;
}

std::string OdbcConnection::NextCursorName() { return "corvane_rs_" + std::to_string(++cursorCounter_); }

void OdbcConnection::Register(OdbcRecordset* rs) { recordsets_.push_back(rs); }

void OdbcConnection::Unregister(OdbcRecordset* rs) {
  recordsets_.erase(std::remove(recordsets_.begin(), recordsets_.end(), rs), recordsets_.end());
}

}  // namespace corvane::ado::odbc

namespace corvane::ado {

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

std::unique_ptr<Connection> CreateConnection() { return std::make_unique<odbc::OdbcConnection>(); }

namespace {

[[noreturn]] void NoTransactions() {
  throw AdoError(adErrFeatureNotAvailable, "ADODB.Connection", "The connection does not support transactions.");
}

}  // namespace

void Connection::BeginTrans() { NoTransactions(); }
void Connection::CommitTrans() { NoTransactions(); }
void Connection::RollbackTrans() { NoTransactions(); }
std::unique_ptr<Command> Connection::Prepare(const std::string& /*text*/) {
  throw AdoError(adErrFeatureNotAvailable, "ADODB.Connection", "The connection does not support prepared statements.");
}

Dialect DialectOf(const std::string& dbmsName) {
  const std::string name = Lower(dbmsName);
  if (name.find("sqlite") != std::string::npos) return Dialect::SQLite;
  if (name.find("postgres") != std::string::npos) return Dialect::PostgreSQL;
  if (name.find("oracle") != std::string::npos) return Dialect::Oracle;
  if (name.find("mariadb") != std::string::npos || name.find("mysql") != std::string::npos) return Dialect::MySQL;
  return Dialect::Other;
}

std::string WithoutCreatingTheDatabase(const std::string& connectionString) {
  const std::string lower = Lower(connectionString);
  const size_t driver = lower.find("driver=");
  const size_t end = driver == std::string::npos ? driver : lower.find(';', driver);
  if (driver == std::string::npos || lower.substr(driver, end - driver).find("sqlite") == std::string::npos)
    return connectionString;
  // The SQLite ODBC driver's own attribute.
  std::string out = connectionString;
  if (!out.empty() && out.back() != ';') out += ';';
  return out + "NoCreat=1";
}

}  // namespace corvane::ado
