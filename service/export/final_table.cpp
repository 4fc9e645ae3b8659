#include "service/export/final_table.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <optional>
#include <set>
#include <vector>

#include "service/export/database.h"
#include "service/export/database_dialect.h"
#include "service/export/exclusion.h"

namespace corvane::service {
namespace {

std::string DoubleApostrophes(const std::string& value) {
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out;
}

bool SameName(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

bool RefusedByDesign(ExportContext& w, FixedStatement statement) {
  switch (statement) {
    case FixedStatement::IndexWithDropExisting:
    case FixedStatement::DropIndex: return true;
    case FixedStatement::GrantToPublic: return RunDialect(w).RefusesGrant();
  }
  return false;
}

std::string FinalTableCreateStatement(const ExportContext& w, const Exclusion& exclusion, const FinalTableLists& lists,
                                      const std::string& table) {
  return RunDialect(w).FinalTableCreate(exclusion, lists, w.TempTableName, table);
}

namespace {

// The columns of the final table, upper-cased, as the database reports
// them; nullopt when the database refuses to read it (it is missing). Falls
// back to the select list when the database gives no result description.
std::optional<std::set<std::string>> FinalTableColumns(ExportContext& w, const FinalTableLists& lists) {
  std::set<std::string> names;
  try {
    auto probe = w.ServiceConnection->Execute("select * from " + w.TableName + " where 1=0");
    if (probe->State() == ado::adStateOpen) {
      for (int i = 0; i < probe->FieldCount(); ++i) names.insert(Upper(probe->FieldName(i)));
      probe->Close();
      return names;
    }
  } catch (const ado::AdoError& e) {
    w.ServiceConnection->ClearErrors();
    // Refused: the table is not there. Any other failure (a lost database)
    // is left to the copy's own open, which reports it to the recovery.
    if (e.Number == ado::adErrStatementRefused) return std::nullopt;
  }
  for (const std::string& name : lists.columns) names.insert(Upper(name));
  return names;
}

}  // namespace

std::string CopyInsertStatement(const std::string& table, const std::string& column, const std::string& id) {
  return "insert into " + table + "(" + column + ") values ('" + id + "')";
}

std::string CopyUpdateStatement(const std::string& table, const std::string& column, const std::string& value,
                                const std::string& id) {
  return "update " + table + " set " + column + "='" + DoubleApostrophes(value) + "' where entry_id like '" + id + "'";
}

std::optional<std::string> CopyRowsInsert(const std::string& table, const std::vector<std::vector<CopiedValue>>& rows) {
  // The columns of all rows, in the order they first come.
  std::vector<std::string> columns;
  for (const auto& row : rows) {
    if (row.empty() || !SameName(row.front().column, "ENTRY_ID")) return std::nullopt;
    const std::string& id = row.front().value;
    if (id.empty() || id.find_first_of("%_\\'") != std::string::npos) return std::nullopt;
    for (const CopiedValue& v : row)
      if (std::find(columns.begin(), columns.end(), v.column) == columns.end()) columns.push_back(v.column);
  }
  if (columns.empty()) return std::nullopt;
  std::string statement = "insert into " + table + "(";
  for (size_t c = 0; c < columns.size(); ++c) statement += (c > 0 ? ", " : "") + columns[c];
  statement += ") values ";
  for (size_t r = 0; r < rows.size(); ++r) {
    statement += r > 0 ? ", (" : "(";
    for (size_t c = 0; c < columns.size(); ++c) {
      if (c > 0) statement += ", ";
      const auto value = std::find_if(rows[r].begin(), rows[r].end(),
                                      [&](const CopiedValue& v) { return v.column == columns[c]; });
      statement += value == rows[r].end() ? "DEFAULT" : "'" + DoubleApostrophes(value->value) + "'";
    }
    statement += ")";
  }
  return statement;
}

namespace {

// The copy finds each row with `where entry_id like '…'`, which only a
// case-sensitive like lets the index serve; the administrator's statements
// before and after the build run with the database's own like. Failing to
// switch costs speed only.
class CaseSensitiveLikeDuringCopy {
 public:
  explicit CaseSensitiveLikeDuringCopy(ado::Connection& connection) : connection_(connection) { on_ = Switch(true); }
  ~CaseSensitiveLikeDuringCopy() { Switch(false); }
  // Whether the copy's like respects case now.
  bool On() const { return on_; }
  CaseSensitiveLikeDuringCopy(const CaseSensitiveLikeDuringCopy&) = delete;
  CaseSensitiveLikeDuringCopy& operator=(const CaseSensitiveLikeDuringCopy&) = delete;

 private:
  bool Switch(bool on) {
    try {
      connection_.CaseSensitiveLike(on);
      return true;
    } catch (const std::exception&) {
      return false;
    }
  }
  ado::Connection& connection_;
  bool on_ = false;
};

constexpr long kCopyBatchRows = 500;

// One row of the temporary table as the copy writes it.
struct CopiedRow {
  std::vector<std::string> statements;  // its insert and updates, in order
  std::vector<CopiedValue> values;      // what they write, in the same order
};

// The current row's copy statements, built from the row as read.
CopiedRow ReadCopiedRow(Recovery& recovery, ado::Recordset& rs, const std::string& table,
                        const std::set<std::string>& finalColumns) {
  CopiedRow row;
  int columns = 0;
  recovery.Try([&] { columns = rs.FieldCount(); });
  std::string id;
  for (int c = 0; c < columns; ++c) {
    std::string name;
    ado::FieldValue value;
    if (!recovery.Try([&] { name = rs.FieldName(c); })) continue;
    recovery.Try([&] { value = rs.GetValue(c); });
    // Databases compare names without regard to case, and some report
    // them in lower case.
    if (SameName(name, "ENTRY_ID")) {
      id = value.value_or("");
      if (id.empty()) continue;
      row.statements.push_back(CopyInsertStatement(table, name, id));
      row.values.push_back({name, id});
    } else if (value && !value->empty() && finalColumns.count(Upper(name))) {
      row.statements.push_back(CopyUpdateStatement(table, name, *value, id));
      row.values.push_back({name, *value});
    }
  }
  return row;
}

// Announces the statements of `rows`, about to run one by one, so that
// the database may take them in one exchange or, with `oneInsert`, as the
// one insert that leaves what they leave (CopyRowsInsert).
void AnnounceRows(ado::Connection& connection, const std::string& table, const std::vector<CopiedRow>& rows,
                  bool oneInsert) {
  std::vector<std::string> statements;
  std::vector<std::vector<CopiedValue>> values;
  for (const CopiedRow& row : rows) {
    statements.insert(statements.end(), row.statements.begin(), row.statements.end());
    values.push_back(row.values);
  }
  // Announced as executed: xSQL takes line breaks out of a statement.
  for (const std::string& statement : statements)
    if (statement.find('\n') != std::string::npos) return;
  std::optional<std::string> together;
  if (oneInsert) together = CopyRowsInsert(table, values);
  if (together)
    connection.ExpectStatementsDoneBy(std::move(statements), std::move(*together));
  else if (connection.RunsStatementsAhead())
    connection.ExpectStatements(std::move(statements));
}

// The other kind's copy: one insert per row, one update per value, logged
// one by one. With `rowsPerInsert` (a table just created, with a unique
// index on entry_id, and a like that respects case: see CopyRowsInsert)
// up to that many rows are announced with the one insert that leaves what
// their statements leave, which the database runs in their place. Where
// the database takes several statements in one exchange, rows are
// announced together too. A group never spans a commit.
void CopyRows(ExportContext& w, Recovery& recovery, const std::set<std::string>& finalColumns, size_t rowsPerInsert,
              const RowProgress& progress) {
  const std::string& table = w.TableName;
  // A copy statement that finds the database gone ends the copy through the
  // recovery: every later one would fail the same way.
  auto copy = [&](std::string statement) {
    const auto failure = xSQL(w, statement);
    if (failure && failure->number == ado::adErrGeneric) recovery.Fail({failure->number, failure->description});
  };
  ado::Connection& connection = *w.ServiceConnection;
  constexpr size_t kRowsPerExchange = 50;
  const size_t groupRows = std::max(rowsPerInsert, connection.RunsStatementsAhead() ? kRowsPerExchange : size_t{1});
  auto rs = connection.CreateRecordset();
  recovery.Try([&] { rs->Open("select * from " + w.TempTableName, connection); });
  const auto more = [&] { return rs->State() == ado::adStateOpen && !rs->IsEOF(); };
  // The copy is committed per kCopyBatchRows rows, not per statement; a
  // refused statement still fails alone (see ado::Batch).
  std::optional<ado::Batch> batch;
  recovery.Try([&] { batch.emplace(connection); });
  long rows = 0;
  while (more()) {
    w.DoEvents();
    // The group's rows are read first, up to the next commit.
    std::vector<CopiedRow> group;
    bool moved = true;
    while (moved && more() && group.size() < groupRows &&
           (group.empty() || (rows + static_cast<long>(group.size())) % kCopyBatchRows != 0)) {
      group.push_back(ReadCopiedRow(recovery, *rs, table, finalColumns));
      moved = recovery.Try([&] { rs->MoveNext(); });
    }
    AnnounceRows(connection, table, group, rowsPerInsert > 0 && group.size() <= rowsPerInsert);
    for (size_t i = 0; i < group.size(); ++i) {
      if (i > 0) w.DoEvents();
      for (std::string& statement : group[i].statements) copy(std::move(statement));
      if (++rows % kCopyBatchRows == 0 && batch) recovery.Try([&] { batch->Commit(); });
      if (rows % kProgressEvery == 0 && progress) progress(rows, false);
    }
  }
  if (batch) recovery.Try([&] { batch->End(); });
  if (progress) progress(rows, true);
}

}  // namespace

FinalTableBuild BuildFinalTable(ExportContext& w, Recovery& recovery, const OtherKindTypes& types,
                                const RowProgress& progress, const BeforeRebuild& beforeDrop) {
  const DatabaseDialect& dialect = RunDialect(w);
  const bool oracle = dialect.CommitsByStatement();
  const std::string& table = w.TableName;
  const Exclusion exclusion = ReadExclusion(w, recovery);
  FinalTableBuild build;
  build.table = table;
  build.finalRowsQuery = "select count(*) from " + table;
  build.expectedRowsQuery = "select count(*) from " + w.TempTableName;
  if (dialect.IsOther()) {
    // The row copy makes one row per entry identifier that is not empty.
    build.finalRowsQuery = "select count(distinct entry_id) from " + table;
    build.expectedRowsQuery = "select count(distinct entry_id) from " + w.TempTableName + " where entry_id <> ''";
  } else if (exclusion.state == Exclusion::State::On) {
    build.expectedRowsQuery += " a where " + exclusion.notExcluded;
  }
  if (beforeDrop) beforeDrop(build.expectedRowsQuery);

  dropconstraint(w);
  droptable(w, table);
  FinalTableLists lists = BuildFinalTableLists(w.chkDBFields, w.NoParse, w.NoSMTP, types);
  if (oracle) xSQL(w, "commit");

  build.created = exclusion.state != Exclusion::State::Invalid;
  if (build.created)
    build.createFailure = xSQL(w, FinalTableCreateStatement(w, exclusion, lists, table));
  else
    WriteInvalidExclusionEvent(w);
  xSQL(w, "Create INDEX [" + table + "index] ON " + table + " ([entry_id]) WITH DROP_EXISTING",
       [&] { return RefusedByDesign(w, FixedStatement::IndexWithDropExisting); });
  if (oracle) xSQL(w, "commit");

  recovery.Try([&] { w.ServiceConnection->Close(); });
  recovery.Try([&] { w.ServiceConnection->Open(w.connectionstring, "", ""); });

  if (dialect.IsOther()) {
    xSQL(w, "DROP INDEX " + table + "_index on " + table,
         [&] { return RefusedByDesign(w, FixedStatement::DropIndex); });

    // Only the final table's columns are copied: an update of any other
    // column of the temporary table could only be refused, row after row.
    const bool uniqueIndex = !xSQL(w, "CREATE UNIQUE INDEX " + table + "_index ON " + table + " (entry_id)");
    if (auto columns = FinalTableColumns(w, lists)) {
      CaseSensitiveLikeDuringCopy caseSensitive(*w.ServiceConnection);
      // Only where like finds no row but the one just inserted.
      const bool oneInsert = build.created && !build.createFailure && uniqueIndex && caseSensitive.On();
      CopyRows(w, recovery, *columns, oneInsert ? dialect.CopiedRowsPerInsert() : 0, progress);
    } else {
      w.WriteLog("Final table " + table + " was not created; no rows copied", LogPriority::Error);
    }
  }

  addconstraint(w);
  xSQL(w, "grant select on " + table + " to public", [&] { return RefusedByDesign(w, FixedStatement::GrantToPublic); });
  if (oracle) xSQL(w, "commit");
  return build;
}

}  // namespace corvane::service
