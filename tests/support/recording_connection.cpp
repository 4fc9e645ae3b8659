#include "tests/support/recording_connection.h"

#include <strings.h>

namespace corvane::ado {

namespace {

const char* const kProvider = "Microsoft OLE DB Provider for ODBC Drivers";

std::string Trim(const std::string& s) {
  const auto b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  const auto e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

// A result held in memory; rows written back are recorded.
class MemoryRecordset : public Recordset {
 public:
  explicit MemoryRecordset(RecordingDatabase* database) : database_(database) {}

  void Open(const std::string& source, Connection& activeConnection, int /*cursorType*/, int lockType,
            int /*options*/) override {
    if (open_) throw AdoError(adErrObjectOpen, "ADODB.Recordset", "Operation is not allowed when the object is open.");
    auto* c = dynamic_cast<RecordingConnection*>(&activeConnection);
    if (c == nullptr || c->State() != adStateOpen)
      throw AdoError(adErrInvalidConnection, "ADODB.Recordset",
                     "The connection cannot be used to perform this operation. It is either closed or invalid in this "
                     "context.");
    database_ = &c->database();
    ScriptedAnswer answer = c->Run(source);
    if (answer.kind == ScriptedAnswer::Kind::Rows)
      Load(source, std::move(answer), lockType == adLockPessimistic || lockType == adLockOptimistic || lockType == 4);
  }
  void Load(const std::string& source, ScriptedAnswer answer, bool updatable) {
    source_ = source;
    columns_ = std::move(answer.columns);
    rows_ = std::move(answer.rows);
    for (auto& row : rows_) row.resize(columns_.size());
    updatable_ = updatable;
    open_ = true;
    pos_ = 0;
    changed_.assign(columns_.size(), false);
  }
  int State() const override { return open_ ? adStateOpen : adStateClosed; }
  bool IsEOF() const override { return !open_ || pos_ >= rows_.size(); }
  int FieldCount() const override { return open_ ? static_cast<int>(columns_.size()) : 0; }
  std::string FieldName(int index) const override {
    if (index < 0 || index >= FieldCount()) NotFound();
    return columns_[static_cast<size_t>(index)];
  }
  int FieldIndex(const std::string& name) const override {
    for (size_t i = 0; i < columns_.size(); ++i)
      if (strcasecmp(columns_[i].c_str(), name.c_str()) == 0) return static_cast<int>(i);
    NotFound();
  }
  FieldValue GetValue(int index) const override {
    CheckRow(index);
    return rows_[pos_][static_cast<size_t>(index)];
  }
  void SetValue(int index, FieldValue value) override {
    CheckRow(index);
    if (!updatable_)
      throw AdoError(adErrFeatureNotAvailable, "ADODB.Recordset",
                     "Current Recordset does not support updating. This may be a limitation of the provider, or of "
                     "the selected locktype.");
    rows_[pos_][static_cast<size_t>(index)] = std::move(value);
    changed_[static_cast<size_t>(index)] = true;
  }
  void Update() override {
    CheckRow(0);
    RecordedUpdate u{source_, pos_, {}};
    for (size_t i = 0; i < columns_.size(); ++i)
      if (changed_[i]) u.values.emplace_back(columns_[i], rows_[pos_][i]);
    changed_.assign(columns_.size(), false);
    if (!u.values.empty()) database_->updates.push_back(std::move(u));
  }
  void MoveFirst() override {
    if (!open_) Closed();
    pos_ = 0;
  }
  void MoveNext() override {
    CheckRow(0);
    Update();
    ++pos_;
  }
  void Close() override { open_ = false; }

 private:
  [[noreturn]] static void NotFound() {
    throw AdoError(adErrItemNotFound, "ADODB.Recordset",
                   "Item cannot be found in the collection corresponding to the requested name or ordinal.");
  }
  [[noreturn]] static void Closed() {
    throw AdoError(adErrObjectClosed, "ADODB.Recordset", "Operation is not allowed when the object is closed.");
  }
  void CheckRow(int index) const {
    if (!open_) Closed();
    if (pos_ >= rows_.size())
      throw AdoError(adErrNoCurrentRecord, "ADODB.Recordset",
                     "Either BOF or EOF is True, or the current record has been deleted. Requested operation requires "
                     "a current record.");
    if (index < 0 || index >= FieldCount()) NotFound();
  }

  RecordingDatabase* database_;
  std::string source_;
  std::vector<std::string> columns_;
  std::vector<std::vector<FieldValue>> rows_;
  std::vector<bool> changed_;
  size_t pos_ = 0;
  bool open_ = false;
  bool updatable_ = false;
};

}  // namespace

ScriptedAnswer ScriptedAnswer::Rows(std::vector<std::string> columns, std::vector<std::vector<FieldValue>> rows) {
  ScriptedAnswer a;
  a.kind = Kind::Rows;
  a.columns = std::move(columns);
  a.rows = std::move(rows);
  return a;
}

ScriptedAnswer ScriptedAnswer::Fail(int32_t number, std::string description, std::vector<ErrorRecord> records) {
  ScriptedAnswer a;
  a.kind = Kind::Fail;
  a.number = number;
  if (records.empty()) records.push_back(ErrorRecord{0, "42000", description});
  a.description = std::move(description);
  a.records = std::move(records);
  return a;
}

void RecordingDatabase::When(const std::string& text, ScriptedAnswer answer, int times) {
  rules_.push_back(Rule{Trim(text), false, std::move(answer), times});
}

void RecordingDatabase::WhenPrefix(const std::string& prefix, ScriptedAnswer answer, int times) {
  rules_.push_back(Rule{Trim(prefix), true, std::move(answer), times});
}

void RecordingDatabase::FailOpen(std::string description) {
  openFails = true;
  openFailure = std::move(description);
}

ScriptedAnswer RecordingDatabase::AnswerFor(const std::string& text) {
  const std::string t = Trim(text);
  for (auto it = rules_.rbegin(); it != rules_.rend(); ++it) {
    if (it->remaining == 0) continue;
    const bool match = it->prefix ? strncasecmp(t.c_str(), it->text.c_str(), it->text.size()) == 0
                                  : strcasecmp(t.c_str(), it->text.c_str()) == 0;
    if (!match) continue;
    if (it->remaining > 0) --it->remaining;
    return it->answer;
  }
  return ScriptedAnswer::Closed();
}

std::function<std::unique_ptr<Connection>()> RecordingDatabase::Factory() {
  // The factory shares this database; the caller keeps it alive.
  return
      [this] { return std::make_unique<RecordingConnection>(std::shared_ptr<RecordingDatabase>(this, [](auto*) {})); };
}

std::shared_ptr<RecordingDatabase> RecordingDatabase::LikeMssql() {
  auto db = std::make_shared<RecordingDatabase>();
  db->dbmsName = "Microsoft SQL Server";
  db->When("sp_tables", ScriptedAnswer::Rows({"TABLE_QUALIFIER", "TABLE_OWNER", "TABLE_NAME", "TABLE_TYPE", "REMARKS"},
                                             {{"corvane", "dbo", "GAL", "TABLE", std::nullopt}}));
  return db;
}

std::shared_ptr<RecordingDatabase> RecordingDatabase::LikeOracle() {
  auto db = std::make_shared<RecordingDatabase>();
  db->dbmsName = "Oracle";
  db->When("sp_tables",
           ScriptedAnswer::Fail(adErrStatementRefused, "ORA-00900: invalid SQL statement",
                                {ErrorRecord{900, "42000", "[Oracle][ODBC][Ora]ORA-00900: invalid SQL statement"}}));
  db->When("select sysdate from dual", ScriptedAnswer::Rows({"SYSDATE"}, {{"2026-12-07 10:05:03"}}));
  return db;
}

RecordingConnection::RecordingConnection(std::shared_ptr<RecordingDatabase> database)
    : database_(std::move(database)) {}

RecordingConnection::~RecordingConnection() = default;

void RecordingConnection::Open(const std::string& connectionString, const std::string& /*user*/,
                               const std::string& /*password*/, int /*options*/) {
  if (open_) throw AdoError(adErrObjectOpen, "ADODB.Connection", "Operation is not allowed when the object is open.");
  errors_.clear();
  database_->connectionStrings.push_back(connectionString);
  if (database_->openFails) {
    errors_.push_back(ErrorRecord{0, "08001", database_->openFailure});
    throw AdoError(adErrGeneric, kProvider, database_->openFailure);
  }
  open_ = true;
}

ScriptedAnswer RecordingConnection::Run(const std::string& text) {
  if (!open_)
    throw AdoError(adErrObjectClosed, "ADODB.Connection", "Operation is not allowed when the object is closed.");
  errors_.clear();
  database_->statements.push_back(text);
  ScriptedAnswer answer = database_->AnswerFor(text);
  if (answer.kind == ScriptedAnswer::Kind::Fail) {
    errors_ = answer.records;
    throw AdoError(answer.number, kProvider, answer.description);
  }
  return answer;
}

std::unique_ptr<Recordset> RecordingConnection::Execute(const std::string& text) {
  ScriptedAnswer answer = Run(text);
  auto rs = std::make_unique<MemoryRecordset>(database_.get());
  if (answer.kind == ScriptedAnswer::Kind::Rows) rs->Load(text, std::move(answer), false);
  return rs;
}

std::unique_ptr<Recordset> RecordingConnection::CreateRecordset() {
  return std::make_unique<MemoryRecordset>(database_.get());
}

namespace {

// A prepared statement of a recording connection: each run is recorded as
// the statement's text, its parameters in `RecordingDatabase::parameters`.
class RecordingCommand : public Command {
 public:
  RecordingCommand(RecordingConnection& connection, std::string text)
      : connection_(connection), text_(std::move(text)) {}
  long Execute(const std::vector<FieldValue>& parameters) override {
    connection_.database().parameters.push_back(parameters);
    connection_.Run(text_);
    return -1;
  }

 private:
  RecordingConnection& connection_;
  std::string text_;
};

}  // namespace

void RecordingConnection::BeginTrans() {
  if (inTransaction_)
    throw AdoError(adErrObjectOpen, "ADODB.Connection", "A transaction is already open on this connection.");
  inTransaction_ = true;
  database_->transactions.push_back("BeginTrans");
}

void RecordingConnection::CommitTrans() { EndTransaction("CommitTrans"); }
void RecordingConnection::RollbackTrans() { EndTransaction("RollbackTrans"); }

void RecordingConnection::EndTransaction(const char* what) {
  if (!inTransaction_) throw AdoError(adErrInvalidArgument, "ADODB.Connection", "No transaction is active.");
  inTransaction_ = false;
  database_->transactions.push_back(what);
}

std::unique_ptr<Command> RecordingConnection::Prepare(const std::string& text) {
  if (!open_)
    throw AdoError(adErrObjectClosed, "ADODB.Connection", "Operation is not allowed when the object is closed.");
  return std::make_unique<RecordingCommand>(*this, text);
}

void RecordingConnection::Close() {
  if (open_) ++database_->closes;
  open_ = false;
  if (inTransaction_) EndTransaction("RollbackTrans");
}

}  // namespace corvane::ado
