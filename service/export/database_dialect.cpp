#include "service/export/database_dialect.h"

#include <exception>
#include <utility>

#include "service/export/database.h"
#include "service/export/exclusion.h"
#include "service/export/export_context.h"

namespace corvane::service {
namespace {

PublishForm PublishFormOf(const std::string& kind, ado::Dialect engine) {
  if (kind == "ORACLE") return PublishForm::Oracle;
  if (kind == "MSSQL") return PublishForm::Mssql;
  switch (engine) {
    case ado::Dialect::PostgreSQL: return PublishForm::PostgreSQL;
    case ado::Dialect::SQLite: return PublishForm::SQLite;
    case ado::Dialect::MySQL: return PublishForm::MySQL;
    case ado::Dialect::Oracle:  // behind the OTHER kind, Oracle gets the other databases' statements
    case ado::Dialect::Other: return PublishForm::Other;
  }
  return PublishForm::Other;
}

}  // namespace

DatabaseDialect::DatabaseDialect(std::string kind, std::optional<std::string> dbmsName)
    : kind_(std::move(kind)),
      dbmsName_(std::move(dbmsName)),
      engine_(ado::DialectOf(dbmsName_.value_or(""))),
      publish_(PublishFormOf(kind_, engine_)) {}

DatabaseDialect DatabaseDialect::Probe(ExportContext& w) {
  std::string kind = DetermineDBType(w);
  std::optional<std::string> name;
  try {
    if (w.ServiceConnection) name = w.ServiceConnection->DbmsName();
  } catch (const std::exception&) {
  }
  return DatabaseDialect(std::move(kind), std::move(name));
}

OtherKindTypes DatabaseDialect::Types() const {
  if (!dbmsName_) return {};
  return OtherKindTypesFor(*dbmsName_);
}

bool DatabaseDialect::HoldsLongVarchar() const {
  return !(IsOther() && LongTextTypeFor(dbmsName_.value_or("")) == "memo");
}

std::string DatabaseDialect::TempTableColumns(const std::string& tableName, const OtherKindTypes& types) const {
  return TempTableColumnList(kind_, tableName, types);
}

std::optional<std::string> DatabaseDialect::DropTempConstraint(const std::string& tempTable,
                                                               const std::string& tableName) const {
  if (!IsOracle()) return std::nullopt;
  return "alter table " + tempTable + " drop constraint " + tableName + "_ENTRY_ID";
}

std::string DatabaseDialect::FinalTableCreate(const Exclusion& exclusion, const FinalTableLists& lists,
                                              const std::string& tempTable, const std::string& table) const {
  if (exclusion.state == Exclusion::State::On) {
    const std::string notExcluded = " a where " + exclusion.notExcluded;
    if (IsOracle()) return "create table " + table + " as select " + lists.selectList + " from " + tempTable + notExcluded;
    if (IsMssql()) return "select " + lists.selectList + " into " + table + " from " + tempTable + notExcluded;
    return "create table " + table + "(" + lists.definitionList + ")";
  }
  if (IsOracle()) return "create table " + table + " as select " + lists.selectList + " from " + tempTable;
  if (IsMssql()) return "select " + lists.selectList + " into " + table + " from " + tempTable;
  return "create table " + table + " (" + lists.definitionList + ")";
}

std::string DatabaseDialect::WorkTableIndex(const std::string& table, const std::string& workTable) const {
  if (publish_ == PublishForm::Oracle || publish_ == PublishForm::Mssql)
    return "Create INDEX [" + table + "index] ON " + workTable + " ([entry_id]) WITH DROP_EXISTING";
  // PostgreSQL and SQLite name indexes once per schema, not per table: the
  // work table's index has a name of its own until the swap.
  const bool perSchema = publish_ == PublishForm::PostgreSQL || publish_ == PublishForm::SQLite;
  return "CREATE UNIQUE INDEX " + (perSchema ? workTable : table) + "_index ON " + workTable + " (entry_id)";
}

const DatabaseDialect& RunDialect(const ExportContext& w) {
  static const DatabaseDialect unknown;
  return w.Dialect ? *w.Dialect : unknown;
}

}  // namespace corvane::service
