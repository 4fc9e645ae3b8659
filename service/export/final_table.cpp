#include "service/export/final_table.h"

#include <strings.h>

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

std::optional<std::string> CopyRowInsert(const std::string& table, const std::vector<CopiedValue>& row) {
  if (row.empty() || !SameName(row.front().column, "ENTRY_ID")) return std::nullopt;
  const std::string& id = row.front().value;
  if (id.empty() || id.find_first_of("%_\\'") != std::string::npos) return std::nullopt;
  std::string columns, values;
  for (const CopiedValue& v : row) {
    if (!columns.empty()) {
      columns += ", ";
      values += ", ";
    }
    columns += v.column;
    values += "'" + DoubleApostrophes(v.value) + "'";
  }
  return "insert into " + table + "(" + columns + ") values (" + values + ")";
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

// The other kind's copy: one insert per row, one update per value. With
// `rowAtOnce` (a table just created, with a unique index on entry_id, and
// a like that respects case) each row's statements are announced with the
// one insert that leaves what they leave (CopyRowInsert), which the
// database then runs in their place: one statement per row instead of one
// per value. The run log shows the statements one by one all the same.
void CopyRows(ExportContext& w, Recovery& recovery, const std::set<std::string>& finalColumns, bool rowAtOnce,
              const RowProgress& progress) {
  const std::string& table = w.TableName;
  // A copy statement that finds the database gone ends the copy through the
  // recovery: every later one would fail the same way.
  auto copy = [&](std::string statement) {
    const auto failure = xSQL(w, statement);
    if (failure && failure->number == ado::adErrGeneric) recovery.Fail({failure->number, failure->description});
  };
  ado::Connection& connection = *w.ServiceConnection;
  auto rs = connection.CreateRecordset();
  recovery.Try([&] { rs->Open("select * from " + w.TempTableName, connection); });
  // The copy is committed per kCopyBatchRows rows, not per statement; a
  // refused statement still fails alone (see ado::Batch).
  std::optional<ado::Batch> batch;
  recovery.Try([&] { batch.emplace(connection); });
  long rows = 0;
  while (rs->State() == ado::adStateOpen && !rs->IsEOF()) {
    w.DoEvents();
    int columns = 0;
    recovery.Try([&] { columns = rs->FieldCount(); });
    // The row's statements, built from the row read already, then run one
    // by one; announced first, the database may take them in one exchange.
    std::vector<std::string> statements;
    std::vector<CopiedValue> copied;  // the row's values in the order of its statements
    std::string id;
    for (int c = 0; c < columns; ++c) {
      std::string name;
      ado::FieldValue value;
      if (!recovery.Try([&] { name = rs->FieldName(c); })) continue;
      recovery.Try([&] { value = rs->GetValue(c); });
      // Databases compare names without regard to case, and some report
      // them in lower case.
      if (SameName(name, "ENTRY_ID")) {
        id = value.value_or("");
        if (!id.empty()) statements.push_back(CopyInsertStatement(table, name, id));
        if (!id.empty()) copied.push_back({name, id});
      } else if (value && !value->empty() && finalColumns.count(Upper(name))) {
        statements.push_back(CopyUpdateStatement(table, name, *value, id));
        copied.push_back({name, *value});
      }
    }
    // Announced as executed: xSQL takes line breaks out of a statement.
    bool plain = true;
    for (const std::string& statement : statements) plain = plain && statement.find('\n') == std::string::npos;
    std::optional<std::string> together;
    if (plain && rowAtOnce) together = CopyRowInsert(table, copied);
    if (together)
      connection.ExpectStatementsDoneBy(statements, std::move(*together));
    else if (plain && connection.RunsStatementsAhead())
      connection.ExpectStatements(statements);
    for (std::string& statement : statements) copy(std::move(statement));
    recovery.Try([&] { rs->MoveNext(); });
    if (++rows % kCopyBatchRows == 0 && batch) recovery.Try([&] { batch->Commit(); });
    if (rows % kProgressEvery == 0 && progress) progress(rows, false);
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
      const bool rowAtOnce = build.created && !build.createFailure && uniqueIndex && caseSensitive.On() &&
                             dialect.TakesCopiedRowAtOnce();
      CopyRows(w, recovery, *columns, rowAtOnce, progress);
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
