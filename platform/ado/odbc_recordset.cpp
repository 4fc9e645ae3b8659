#include "platform/ado/odbc_recordset.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <functional>
#include <limits>

#include "platform/ado/odbc_connection.h"
#include "platform/ado/sql_source.h"

namespace corvane::ado::odbc {

namespace {

const char* const kRecordset = "ADODB.Recordset";

// Reads up to `limit` rows of the open result on `stmt` into `rows`. With
// `withLocator` the first column is the row locator. True once the result
// has no more rows.
// With `keyFirst` the first field's value serves as the locator.
bool ReadRows(OdbcConnection& c, Handle& stmt, bool withLocator, std::vector<Row>& rows, size_t limit,
              bool keyFirst = false) {
  SQLSMALLINT count = 0;
  c.Check(SQLNumResultCols(stmt.get(), &count), stmt);
  const auto columns = static_cast<SQLUSMALLINT>(count);
  const SQLUSMALLINT first = withLocator ? 2 : 1;
  std::vector<char> buffer(4096);
  for (size_t n = 0; n < limit; ++n) {
    SQLRETURN rc = SQLFetch(stmt.get());
    if (rc == SQL_NO_DATA) return true;
    c.Check(rc, stmt);
    Row row;
    row.values.resize(columns >= first ? columns - first + 1 : 0);
    for (SQLUSMALLINT col = 1; col <= columns; ++col) {
      FieldValue value;
      if (!GetText(stmt.get(), col, buffer, value)) c.Raise(stmt);
      if (col < first)
        row.locator = value.value_or("");
      else
        row.values[col - first] = std::move(value);
    }
    if (keyFirst && !row.values.empty()) {
      row.locator = row.values[0].value_or("");
      row.noLocator = !row.values[0].has_value();
    }
    rows.push_back(std::move(row));
  }
  return false;
}

std::vector<std::string> ResultNames(Handle& stmt, bool withLocator) {
  auto names = ColumnNames(stmt.get());
  if (withLocator && !names.empty()) names.erase(names.begin());
  return names;
}

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == ';' || std::isspace(static_cast<unsigned char>(text.back()))))
    text.pop_back();
  return text;
}

// One statement read from start to end; the fallback for any query and any
// database. The statement stays open between batches where the driver allows
// other statements meanwhile; where it runs one statement at a time, the
// whole result is read at the start and the statement closed (memory then
// grows with the result: such drivers offer no way to resume a read).
class StatementSource : public RowSource {
 public:
  StatementSource(OdbcConnection& c, std::string text, bool withLocator, bool keyFirst = false, Handle executed = {})
      : c_(c), text_(std::move(text)), withLocator_(withLocator), keyFirst_(keyFirst), stmt_(std::move(executed)) {}
  void Start() override {
    done = false;
    if (!stmt_) {
      stmt_ = c_.NewStatement();
      c_.ExecDirect(stmt_, text_);
    }
    names = ResultNames(stmt_, withLocator_);
    if (names.empty()) done = true;
    held_.clear();
    next_ = 0;
    if (!done && c_.OneActiveStatement()) {
      ReadRows(c_, stmt_, withLocator_, held_, std::numeric_limits<size_t>::max(), keyFirst_);
      stmt_.Reset();
    }
  }
  void Fetch(std::vector<Row>& rows, size_t limit) override {
    if (!stmt_) {
      for (; next_ < held_.size() && limit > 0; --limit) rows.push_back(std::move(held_[next_++]));
      if (next_ >= held_.size()) {
        done = true;
        held_.clear();
      }
      return;
    }
    if (ReadRows(c_, stmt_, withLocator_, rows, limit, keyFirst_)) {
      done = true;
      stmt_.Reset();
    }
  }
  void Stop() noexcept override {
    stmt_.Reset();
    held_.clear();
  }

 private:
  OdbcConnection& c_;
  std::string text_;
  bool withLocator_;
  bool keyFirst_;
  Handle stmt_;
  std::vector<Row> held_;
  size_t next_ = 0;
};

// SQLite: pages through one table by rowid, one short query per batch.
class RowidSource : public RowSource {
 public:
  RowidSource(OdbcConnection& c, const SimpleSelect& s)
      : c_(c),
        probe_("select rowid from " + s.table + " limit 1"),
        text_("select rowid, " + s.list + " from " + s.table + " where rowid > ?" +
              (s.where.empty() ? "" : " and (" + s.where + ")") + " order by rowid limit " +
              std::to_string(OdbcRecordset::kBatchRows)) {}
  void Start() override {
    done = false;
    last_ = std::numeric_limits<int64_t>::min();
    if (!stmt_) {
      // A view answers rowid with NULL, which would page past every row.
      Handle probe = c_.NewStatement();
      c_.ExecDirect(probe, probe_);
      std::vector<Row> first;
      ReadRows(c_, probe, true, first, 1);
      if (!first.empty() && first[0].locator.empty())
        throw AdoError(adErrStatementRefused, kSource,
                       "The rows of " + probe_.substr(probe_.find(" from ") + 6) + " have no rowid.");
      stmt_ = c_.NewStatement();
      c_.Check(SQLPrepare(stmt_.get(), reinterpret_cast<SQLCHAR*>(text_.data()), SQL_NTS), stmt_);
      c_.Check(SQLBindParameter(stmt_.get(), 1, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0, &last_, 0, nullptr),
               stmt_);
    }
  }
  void Fetch(std::vector<Row>& rows, size_t limit) override {
    const size_t before = rows.size();
    c_.Check(SQLExecute(stmt_.get()), stmt_);
    if (names.empty()) names = ResultNames(stmt_, true);
    ReadRows(c_, stmt_, true, rows, limit);
    SQLFreeStmt(stmt_.get(), SQL_CLOSE);  // no read stays open while rows are written back
    if (rows.size() - before < std::min(limit, OdbcRecordset::kBatchRows)) done = true;
    if (rows.size() > before) last_ = std::stoll(rows.back().locator);
  }
  void Stop() noexcept override { stmt_.Reset(); }

 private:
  OdbcConnection& c_;
  std::string probe_;
  std::string text_;
  Handle stmt_;
  int64_t last_ = 0;
};

// PostgreSQL: a cursor held across transactions holds the query's result as
// of the open; each batch is one FETCH. Rows written back get a new ctid but
// never reappear in the cursor, and no statement stays active between batches.
class HeldCursorSource : public RowSource {
 public:
  HeldCursorSource(OdbcConnection& c, std::string text, bool withLocator)
      : c_(c), text_(Trimmed(std::move(text))), withLocator_(withLocator) {}
  ~HeldCursorSource() override { Stop(); }
  void Start() override {
    done = false;
    name_ = c_.NextCursorName();
    Handle stmt = c_.NewStatement();
    c_.ExecDirect(stmt, "DECLARE " + name_ + " NO SCROLL CURSOR WITH HOLD FOR " + text_);
    declared_ = true;
  }
  void Fetch(std::vector<Row>& rows, size_t limit) override {
    Handle stmt = c_.NewStatement();
    c_.ExecDirect(stmt, "FETCH FORWARD " + std::to_string(limit) + " FROM " + name_);
    if (names.empty()) names = ResultNames(stmt, withLocator_);
    if (ReadRows(c_, stmt, withLocator_, rows, limit)) done = true;
  }
  void Stop() noexcept override {
    if (!declared_) return;
    declared_ = false;
    try {
      Handle stmt = c_.NewStatement();
      c_.ExecDirect(stmt, "CLOSE " + name_);
    } catch (...) {
      // A lost connection took the cursor with it.
    }
  }

 private:
  OdbcConnection& c_;
  std::string text_;
  bool withLocator_;
  std::string name_;
  bool declared_ = false;
};

// Whether rows are written back by a locator the database gives each row;
// elsewhere by their first field.
bool HasRowLocator(Dialect d) { return d == Dialect::SQLite || d == Dialect::PostgreSQL || d == Dialect::Oracle; }

// A column name as the database reads an identifier: in double quotes, or
// in backquotes on MariaDB and MySQL, which read double quotes as a string.
std::string Quoted(const std::string& name, Dialect dialect) {
  const char quote = dialect == Dialect::MySQL ? '`' : '"';
  std::string q(1, quote);
  for (char ch : name) {
    q += ch;
    if (ch == quote) q += quote;
  }
  return q + quote;
}

}  // namespace

OdbcRecordset::~OdbcRecordset() { Close(); }

void OdbcRecordset::Open(const std::string& source, Connection& activeConnection, int /*cursorType*/, int lockType,
                         int /*options*/) {
  if (open_) throw AdoError(adErrObjectOpen, kRecordset, "Operation is not allowed when the object is open.");
  auto* c = dynamic_cast<OdbcConnection*>(&activeConnection);
  if (c == nullptr || c->State() != adStateOpen)
    throw AdoError(adErrInvalidConnection, kRecordset,
                   "The connection cannot be used to perform this operation. It is either closed or invalid in this "
                   "context.");
  c->ResetErrors();
  const bool wantUpdate = lockType == adLockPessimistic || lockType == adLockOptimistic || lockType == 4;
  const auto simple = ParseSimpleSelect(source);
  std::unique_ptr<RowSource> rows;
  bool updatable = false;
  switch (c->dialect()) {
    case Dialect::SQLite:
      if (simple) {
        rows = std::make_unique<RowidSource>(*c, *simple);
        updatable = wantUpdate;
      } else {
        rows = std::make_unique<StatementSource>(*c, source, false);
      }
      break;
    case Dialect::PostgreSQL:
      if (wantUpdate && simple) {
        rows = std::make_unique<HeldCursorSource>(*c,
                                                  "select ctid, " + simple->list + " from " + simple->table +
                                                      (simple->where.empty() ? "" : " where " + simple->where),
                                                  true);
        updatable = true;
      } else {
        rows = std::make_unique<HeldCursorSource>(*c, source, false);
      }
      break;
    case Dialect::Oracle:
      if (wantUpdate && simple) {
        const std::string list = simple->list == "*" ? simple->table + ".*" : simple->list;
        rows = std::make_unique<StatementSource>(*c,
                                                 "select rowidtochar(rowid), " + list + " from " + simple->table +
                                                     (simple->where.empty() ? "" : " where " + simple->where),
                                                 true);
        updatable = true;
      } else {
        rows = std::make_unique<StatementSource>(*c, source, false);
      }
      break;
    case Dialect::MySQL:
    case Dialect::Other:
      // No row locator known: rows are written back keyed by their first
      // field (the entry identifier in the system's queries).
      updatable = wantUpdate && simple.has_value();
      rows = std::make_unique<StatementSource>(*c, source, false, updatable);
      break;
  }
  updatable_ = updatable;
  table_ = simple ? simple->table : std::string();
  const bool byLocator = simple && (c->dialect() == Dialect::SQLite || (updatable && HasRowLocator(c->dialect())));
  try {
    Begin(*c, std::move(rows));
  } catch (const AdoError& e) {
    // A view or a table without row locators refuses the locator: read the
    // query as it is, without write-back. Any other refusal stands.
    if (!byLocator || e.Number != adErrStatementRefused) throw;
    updatable_ = false;
    if (c->dialect() == Dialect::PostgreSQL)
      Begin(*c, std::make_unique<HeldCursorSource>(*c, source, false));
    else
      Begin(*c, std::make_unique<StatementSource>(*c, source, false));
  }
}

void OdbcRecordset::OpenExecuted(OdbcConnection& connection, const std::string& text, Handle stmt) {
  updatable_ = false;
  Begin(connection, std::make_unique<StatementSource>(connection, text, false, false, std::move(stmt)));
}

void OdbcRecordset::Begin(OdbcConnection& connection, std::unique_ptr<RowSource> source) {
  conn_ = &connection;
  source_ = std::move(source);
  open_ = true;
  conn_->Register(this);
  try {
    source_->Start();
    LoadBatch();
    names_ = source_->names;
    dirty_.assign(names_.size(), false);
    if (names_.empty()) Close();  // the statement returned no rows at all
  } catch (...) {
    Close();
    throw;
  }
}

void OdbcRecordset::LoadBatch() {
  batch_.clear();
  pos_ = 0;
  announcedUntil_ = 0;
  if (!source_->done) source_->Fetch(batch_, kBatchRows);
  eof_ = batch_.empty();
}

void OdbcRecordset::ResetBatch() {
  batch_.clear();
  pos_ = 0;
  announcedUntil_ = 0;
  eof_ = true;
}

int OdbcRecordset::FieldCount() const { return open_ ? static_cast<int>(names_.size()) : 0; }

std::string OdbcRecordset::FieldName(int index) const {
  if (index < 0 || index >= FieldCount())
    throw AdoError(adErrItemNotFound, kRecordset,
                   "Item cannot be found in the collection corresponding to the requested name or ordinal.");
  return names_[static_cast<size_t>(index)];
}

int OdbcRecordset::FieldIndex(const std::string& name) const {
  for (size_t i = 0; i < names_.size() && open_; ++i)
    if (strcasecmp(names_[i].c_str(), name.c_str()) == 0) return static_cast<int>(i);
  throw AdoError(adErrItemNotFound, kRecordset,
                 "Item cannot be found in the collection corresponding to the requested name or ordinal.");
}

void OdbcRecordset::CheckRow(int index) const {
  if (!open_) throw AdoError(adErrObjectClosed, kRecordset, "Operation is not allowed when the object is closed.");
  if (eof_)
    throw AdoError(adErrNoCurrentRecord, kRecordset,
                   "Either BOF or EOF is True, or the current record has been deleted. Requested operation requires a "
                   "current record.");
  FieldName(index);  // range check
}

FieldValue OdbcRecordset::GetValue(int index) const {
  CheckRow(index);
  return batch_[pos_].values[static_cast<size_t>(index)];
}

void OdbcRecordset::SetValue(int index, FieldValue value) {
  CheckRow(index);
  if (!updatable_)
    throw AdoError(adErrFeatureNotAvailable, kRecordset,
                   "Current Recordset does not support updating. This may be a limitation of the provider, or of the "
                   "selected locktype.");
  batch_[pos_].values[static_cast<size_t>(index)] = std::move(value);
  dirty_[static_cast<size_t>(index)] = true;
}

std::string OdbcRecordset::UpdateOf(const std::vector<bool>& changed,
                                    const std::function<std::string(size_t)>& valueOf) const {
  std::string text = "update " + table_ + " set ";
  bool firstColumn = true;
  for (size_t i = 0; i < names_.size(); ++i) {
    if (!changed[i]) continue;
    if (!firstColumn) text += ", ";
    firstColumn = false;
    text += Quoted(names_[i], conn_->dialect()) + " = " + valueOf(i);
  }
  return text;
}

void OdbcRecordset::PrepareUpdate() {
  std::string text = UpdateOf(dirty_, [](size_t) { return "?"; });
  switch (conn_->dialect()) {
    case Dialect::SQLite:
      text += " where rowid = ?";
      break;
    case Dialect::PostgreSQL:
      text += " where ctid = ?::tid returning ctid";
      break;
    case Dialect::Oracle:
      text += " where rowid = chartorowid(?)";
      break;
    case Dialect::MySQL:
    case Dialect::Other:
      text += " where " + Quoted(names_[0], conn_->dialect()) + " = ?";
      break;
  }
  update_ = conn_->NewStatement();
  conn_->Check(SQLPrepare(update_.get(), reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS), update_);
  preparedFor_ = dirty_;
  updateText_ = text;
}

namespace {

bool HoldsNul(const FieldValue& v) { return v && v->find('\0') != std::string::npos; }

}  // namespace

std::string OdbcRecordset::LiteralUpdate(const Row& row, const std::vector<bool>& changed) const {
  return UpdateOf(changed,
                  [&](size_t i) {
                    const FieldValue& v = row.values[i];
                    if (!v) return std::string("NULL");
                    // The session reads backslashes as ordinary characters:
                    // only an apostrophe needs doubling.
                    std::string literal = "'";
                    for (const char c : *v) {
                      literal += c;
                      if (c == '\'') literal += '\'';
                    }
                    return literal + "'";
                  }) +
         " where ctid = '" + row.locator + "'";
}

void OdbcRecordset::ExpectUpdates(size_t rows, const UpdatePlan& plan) {
  if (!open_ || eof_ || !updatable_ || conn_ == nullptr || conn_->dialect() != Dialect::PostgreSQL ||
      !conn_->RunsStatementsAhead() || !conn_->BatchPending() || pos_ < announcedUntil_)
    return;
  try {
    const size_t end = std::min(batch_.size(), pos_ + rows);
    std::vector<std::string> texts;
    std::vector<bool> changed(names_.size());
    for (size_t i = pos_; i < end; ++i) {
      Row planned = batch_[i];
      if (planned.noLocator || planned.locator.empty()) continue;
      std::fill(changed.begin(), changed.end(), false);
      bool writable = true;
      for (auto& [index, value] : plan(planned.values)) {
        if (index < 0 || static_cast<size_t>(index) >= names_.size() || HoldsNul(value)) writable = false;
        if (!writable) break;
        planned.values[static_cast<size_t>(index)] = std::move(value);
        changed[static_cast<size_t>(index)] = true;
      }
      // A row written with bound values instead runs between the
      // announced ones without disturbing them.
      if (writable && std::any_of(changed.begin(), changed.end(), [](bool c) { return c; }))
        texts.push_back(LiteralUpdate(planned, changed));
    }
    conn_->ExpectStatements(std::move(texts));
    announcedUntil_ = end;
  } catch (...) {
    // Announcing only saves exchanges: the rows are written one by one.
  }
}

void OdbcRecordset::Update() {
  CheckRow(0);
  if (!updatable_)
    throw AdoError(adErrFeatureNotAvailable, kRecordset,
                   "Current Recordset does not support updating. This may be a limitation of the provider, or of the "
                   "selected locktype.");
  if (std::none_of(dirty_.begin(), dirty_.end(), [](bool d) { return d; })) return;
  conn_->ResetErrors();
  Row& current = batch_[pos_];
  bool literal = pos_ < announcedUntil_ && !current.noLocator && !current.locator.empty();
  for (size_t i = 0; i < names_.size() && literal; ++i) literal = !(dirty_[i] && HoldsNul(current.values[i]));
  if (literal) {
    // An announced write-back: the connection may have run it already. The
    // row's new version has a ctid nobody reads back, so it cannot be
    // written again (the caller said it would not be).
    try {
      conn_->Execute(LiteralUpdate(current, dirty_));
    } catch (...) {
      std::fill(dirty_.begin(), dirty_.end(), false);
      throw;
    }
    current.noLocator = true;
    std::fill(dirty_.begin(), dirty_.end(), false);
    return;
  }
  try {
    if (!update_ || preparedFor_ != dirty_) PrepareUpdate();
    // In a batch the same change may have to be made again alone: the
    // changed values and the row's locator as they are now.
    const Row& row = batch_[pos_];
    std::vector<FieldValue> parameters;
    for (size_t i = 0; i < names_.size(); ++i)
      if (dirty_[i]) parameters.push_back(row.values[i]);
    parameters.push_back(row.locator);
    conn_->BatchedWrite([this] { WriteBack(); },
                        [c = conn_, text = updateText_, parameters = std::move(parameters)] {
                          c->ExecuteBound(text, parameters);
                        });
  } catch (...) {
    // The refused change is dropped, so that moving on does not try the same
    // write again (and fail again) for ever; the caller has the failure.
    std::fill(dirty_.begin(), dirty_.end(), false);
    if (update_) {
      SQLFreeStmt(update_.get(), SQL_CLOSE);
      SQLFreeStmt(update_.get(), SQL_RESET_PARAMS);
    }
    throw;
  }
}

void OdbcRecordset::WriteBack() {
  // A refused earlier try leaves the statement as it was.
  SQLFreeStmt(update_.get(), SQL_CLOSE);
  SQLFreeStmt(update_.get(), SQL_RESET_PARAMS);

  Row& row = batch_[pos_];
  const Dialect dialect = conn_->dialect();
  const auto rowNotFound = [] {
    return AdoError(adErrRowNotFound, kRecordset,
                    "Row cannot be located for updating. Some values may have been changed since it was last read.");
  };
  // Parameters: the changed values, then the row's locator.
  std::vector<SQLLEN> lengths(names_.size() + 1);
  static char none = 0;
  SQLUSMALLINT n = 0;
  for (size_t i = 0; i < names_.size(); ++i) {
    if (!dirty_[i]) continue;
    ++n;
    const FieldValue& v = row.values[i];
    lengths[n - 1] = v ? static_cast<SQLLEN>(v->size()) : SQL_NULL_DATA;
    const SQLULEN size = v ? std::max<SQLULEN>(v->size(), 1) : 1;
    SQLPOINTER data = v ? const_cast<char*>(v->data()) : &none;
    conn_->Check(SQLBindParameter(update_.get(), n, SQL_PARAM_INPUT, SQL_C_CHAR,
                                  size > 4000 ? SQL_LONGVARCHAR : SQL_VARCHAR, size, 0, data, 0, &lengths[n - 1]),
                 update_);
  }
  ++n;
  int64_t rowid = 0;
  std::string key;
  if (dialect == Dialect::SQLite) {
    rowid = std::stoll(row.locator);
    conn_->Check(
        SQLBindParameter(update_.get(), n, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0, &rowid, 0, nullptr),
        update_);
  } else {
    // Other databases: the row is found by its first field as it was read.
    if (row.noLocator) throw rowNotFound();
    key = row.locator;
    lengths[n - 1] = static_cast<SQLLEN>(key.size());
    conn_->Check(SQLBindParameter(update_.get(), n, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR,
                                  std::max<SQLULEN>(key.size(), 1), 0, key.data(), 0, &lengths[n - 1]),
                 update_);
  }

  SQLRETURN rc = SQLExecute(update_.get());
  if (rc == SQL_NO_DATA) throw rowNotFound();
  conn_->Check(rc, update_);
  if (dialect == Dialect::PostgreSQL) {
    // The new version of the row has a new ctid; keep it for a later write.
    rc = SQLFetch(update_.get());
    if (rc == SQL_NO_DATA) {
      SQLFreeStmt(update_.get(), SQL_CLOSE);
      throw rowNotFound();
    }
    conn_->Check(rc, update_);
    std::vector<char> buffer(64);
    FieldValue ctid;
    if (!GetText(update_.get(), 1, buffer, ctid)) conn_->Raise(update_);
    SQLFreeStmt(update_.get(), SQL_CLOSE);
    row.locator = ctid.value_or("");
  } else {
    SQLLEN affected = 0;
    SQLRowCount(update_.get(), &affected);
    SQLFreeStmt(update_.get(), SQL_CLOSE);
    if (affected == 0) throw rowNotFound();
    if (!HasRowLocator(dialect)) {
      row.locator = row.values[0].value_or("");
      row.noLocator = !row.values[0].has_value();
    }
  }
  SQLFreeStmt(update_.get(), SQL_RESET_PARAMS);
  std::fill(dirty_.begin(), dirty_.end(), false);
}

void OdbcRecordset::MoveNext() {
  CheckRow(0);
  if (std::any_of(dirty_.begin(), dirty_.end(), [](bool d) { return d; })) Update();
  if (++pos_ >= batch_.size()) LoadBatch();
}

void OdbcRecordset::MoveFirst() {
  if (!open_) throw AdoError(adErrObjectClosed, kRecordset, "Operation is not allowed when the object is closed.");
  if (!eof_ && std::any_of(dirty_.begin(), dirty_.end(), [](bool d) { return d; })) Update();
  source_->Stop();
  ResetBatch();
  source_->Start();
  LoadBatch();
}

void OdbcRecordset::Close() {
  if (!open_) return;
  open_ = false;
  if (source_) source_->Stop();
  source_.reset();
  update_.Reset();
  preparedFor_.clear();
  ResetBatch();
  names_.clear();
  if (conn_) conn_->Unregister(this);
  conn_ = nullptr;
}

}  // namespace corvane::ado::odbc
