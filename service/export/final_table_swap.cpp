#include "service/export/final_table_swap.h"

#include <fmt/format.h>

#include <vector>

#include "service/export/database_dialect.h"
#include "service/export/exclusion.h"

namespace corvane::service {
namespace {

// The OTHER kind's copy in one statement. It keeps what the row-by-row copy
// keeps: rows with an identifier, and only values that are not empty.
std::string CopyStatement(const ExportContext& w, const FinalTableLists& lists, const std::string& keep) {
  std::string columns, values;
  for (const std::string& column : lists.columns) {
    if (!columns.empty()) {
      columns += ", ";
      values += ", ";
    }
    columns += column;
    values += column == "entry_id" ? "a.entry_id" : "case when length(a." + column + ") > 0 then a." + column + " end";
  }
  return "insert into " + WorkTableName(w.TableName) + " (" + columns + ") select " + values + " from " +
         w.TempTableName + keep;
}

// A statement whose failure, when it found the database gone, ends the run
// through the recovery as every later one would fail too.
std::optional<StatementFailure> Run(ExportContext& w, Recovery& recovery, std::string statement) {
  auto failure = xSQL(w, statement);
  if (failure && failure->number == ado::adErrGeneric) recovery.Fail({failure->number, failure->description});
  return failure;
}

// Runs `steps` in order; the first failure stops them and is returned.
std::optional<StatementFailure> RunSteps(ExportContext& w, Recovery& recovery, const std::vector<std::string>& steps) {
  for (const std::string& step : steps)
    if (auto failure = Run(w, recovery, step)) return failure;
  return std::nullopt;
}

}  // namespace

std::string WorkTableName(const std::string& tableName) { return tableName + "_new"; }
std::string RetiredTableName(const std::string& tableName) { return tableName + "_old"; }

bool TableExists(ExportContext& w, Recovery& recovery, const std::string& table) {
  try {
    w.ServiceConnection->Execute("select * from " + table + " where 1=0");
    return true;
  } catch (const ado::AdoError& e) {
    w.ServiceConnection->ClearErrors();
    if (e.Number != ado::adErrStatementRefused) recovery.Fail({e.Number, e.Description});
  }
  return false;
}

FinalTableBuild BuildWorkTable(ExportContext& w, Recovery& recovery, const OtherKindTypes& types) {
  const DatabaseDialect& dialect = RunDialect(w);
  const bool oracle = dialect.CommitsByStatement();
  const std::string work = WorkTableName(w.TableName);
  const std::string& temp = w.TempTableName;

  // What an earlier run left: a work table it did not publish, or the old
  // table of a swap that ended before its drop.
  for (const std::string& leftover : {work, RetiredTableName(w.TableName)}) {
    if (!TableExists(w, recovery, leftover)) continue;
    w.WriteLog("Dropping " + leftover + ", left by an earlier run that did not finish publishing",
               LogPriority::Warning);
    droptable(w, leftover);
  }

  const Exclusion exclusion = ReadExclusion(w, recovery);
  FinalTableBuild build;
  build.table = work;
  build.finalRowsQuery = "select count(*) from " + work;
  dropconstraint(w);
  const FinalTableLists lists = BuildFinalTableLists(w.chkDBFields, w.NoParse, w.NoSMTP, types);
  if (exclusion.state == Exclusion::State::Invalid) {
    WriteInvalidExclusionEvent(w);
    return build;
  }
  build.created = true;
  const std::string notExcluded = exclusion.state == Exclusion::State::On ? exclusion.notExcluded : "";
  if (dialect.BuildsBySelect()) {
    build.expectedRowsQuery =
        "select count(*) from " + temp + (notExcluded.empty() ? "" : " a where " + notExcluded);
    build.createFailure = Run(w, recovery, FinalTableCreateStatement(w, exclusion, lists, work));
  } else {
    const std::string keep = " a where length(a.entry_id) > 0" + (notExcluded.empty() ? "" : " and " + notExcluded);
    build.expectedRowsQuery = "select count(distinct entry_id) from " + temp + keep;
    build.createFailure = Run(w, recovery, "create table " + work + " (" + lists.definitionList + ")");
    if (!build.createFailure) build.createFailure = Run(w, recovery, CopyStatement(w, lists, keep));
  }
  if (oracle) xSQL(w, "commit");
  // The bracketed form is refused as in the rebuild in place; the unique index is not.
  xSQL(w, dialect.WorkTableIndex(w.TableName, work), [&] {
    return dialect.BuildsBySelect() && RefusedByDesign(w, FixedStatement::IndexWithDropExisting);
  });
  // MariaDB and MySQL keep a table's rights by its name: the final name gets them after the swap.
  if (!dialect.GrantsByName())
    xSQL(w, "grant select on " + work + " to public",
         [&] { return RefusedByDesign(w, FixedStatement::GrantToPublic); });
  if (oracle) xSQL(w, "commit");
  return build;
}

std::optional<StatementFailure> PublishWorkTable(ExportContext& w, Recovery& recovery) {
  const PublishForm form = RunDialect(w).Publish();
  const std::string& table = w.TableName;
  const std::string work = WorkTableName(table);
  const std::string old = RetiredTableName(table);
  const bool published = TableExists(w, recovery, table);
  std::optional<StatementFailure> failure;

  // Databases that rename tables inside a transaction: readers see the old
  // table until the commit, the new one after it.
  auto transaction = [&](const std::string& begin, std::vector<std::string> steps, const std::string& commit,
                         const std::string& rollback) {
    if ((failure = Run(w, recovery, begin))) return;
    if ((failure = RunSteps(w, recovery, steps)) || (failure = Run(w, recovery, commit)))
      xSQL(w, std::string(rollback));
  };
  auto renames = [&](const std::string& form) {
    std::vector<std::string> steps;
    if (published) steps.push_back(fmt::format(fmt::runtime(form), table, old));
    steps.push_back(fmt::format(fmt::runtime(form), work, table));
    if (published) steps.push_back("drop table " + old);
    return steps;
  };

  switch (form) {
    case PublishForm::PostgreSQL: {
      auto steps = renames("alter table {} rename to {}");
      steps.push_back("alter index " + work + "_index rename to " + table + "_index");
      transaction("begin", steps, "commit", "rollback");
      break;
    }
    case PublishForm::SQLite: {
      // The legacy rename leaves views that read the final table by its
      // name alone, as a drop and create of the table would.
      xSQL(w, "PRAGMA legacy_alter_table=ON");
      auto steps = renames("alter table {} rename to {}");
      steps.push_back("drop index " + work + "_index");
      steps.push_back("CREATE UNIQUE INDEX " + table + "_index ON " + table + " (entry_id)");
      transaction("begin", steps, "commit", "rollback");
      xSQL(w, "PRAGMA legacy_alter_table=OFF");
      break;
    }
    case PublishForm::Mssql:
      transaction("begin transaction", renames("exec sp_rename '{}', '{}'"), "commit transaction",
                  "rollback transaction");
      break;
    case PublishForm::MySQL:
      // One statement renames both tables: readers wait for it, then read the new table.
      failure = Run(w, recovery,
                    published ? "rename table " + table + " to " + old + ", " + work + " to " + table
                              : "rename table " + work + " to " + table);
      if (!failure) {
        if (published) xSQL(w, "drop table " + old);  // left over, it is dropped by the next run
        xSQL(w, "grant select on " + table + " to public");
      }
      break;
    case PublishForm::Oracle:
    case PublishForm::Other: {
      // No transactional rename: between the two renames the final table is
      // missing for as long as the second takes.
      auto steps = renames("alter table {} rename to {}");
      if (published && (failure = Run(w, recovery, steps[0]))) break;
      if ((failure = Run(w, recovery, steps[published ? 1 : 0]))) {
        if (published) xSQL(w, "alter table " + old + " rename to " + table);
        break;
      }
      if (published) xSQL(w, steps[2]);  // left over, it is dropped by the next run
      if (form == PublishForm::Oracle) xSQL(w, "commit");
      break;
    }
  }
  if (!failure) addconstraint(w);
  return failure;
}

}  // namespace corvane::service
