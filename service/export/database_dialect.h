// The database dialect: what the run's statements depend on, chosen once
// per connection from the kind the probe found ("MSSQL", "ORACLE" or
// "OTHER", the text the run logs) and the driver's DBMS name, which tells
// the databases behind the OTHER kind apart.
#pragma once

#include <optional>
#include <string>

#include "platform/ado/ado.h"
#include "service/export/schema.h"

namespace corvane::service {

struct Exclusion;
struct ExportContext;

// How the swap publishes the work table under the final name.
enum class PublishForm {
  Oracle,      // two renames, then "commit"
  Mssql,       // sp_rename inside a transaction
  PostgreSQL,  // renames of the tables and the index inside a transaction
  SQLite,      // legacy renames and a new index inside a transaction
  MySQL,       // one rename table statement for both tables
  Other,       // two renames, no transaction
};

class DatabaseDialect {
 public:
  // An unknown kind (the empty text, before the probe) gets no kind's forms.
  DatabaseDialect() = default;
  // `kind` as DetermineDBType gives it; `dbmsName` as Connection::DbmsName
  // gives it, or nullopt when the connection could not say.
  DatabaseDialect(std::string kind, std::optional<std::string> dbmsName);
  // Probes `w`'s connection: DetermineDBType and its DBMS name; never fails.
  static DatabaseDialect Probe(ExportContext& w);

  const std::string& Kind() const { return kind_; }  // what the run logs ("DBtype:")
  bool IsOracle() const { return kind_ == "ORACLE"; }
  bool IsMssql() const { return kind_ == "MSSQL"; }
  bool IsOther() const { return kind_ == "OTHER"; }
  // The database behind the connection, whatever the kind.
  ado::Dialect Engine() const { return engine_; }
  // The database's own name as the driver gave it at the probe; empty when
  // it could not say.
  std::string DbmsName() const { return dbmsName_.value_or(""); }

  // The OTHER kind's column types (OtherKindTypesFor; "memo" when the DBMS
  // name is unknown).
  OtherKindTypes Types() const;
  // Whether the database takes the sync table's varchar(1024): every one
  // but the desktop databases of the OTHER kind, which need memo columns.
  bool HoldsLongVarchar() const;
  // Oracle's changes are made lasting by a "commit" statement of the run's
  // own; the other kinds commit through the connection.
  bool CommitsByStatement() const { return IsOracle(); }
  // The temporary table's "CREATE TABLE" tail (TempTableColumnList).
  std::string TempTableColumns(const std::string& tableName, const OtherKindTypes& types) const;
  // The statement that drops the temporary table's primary key before the
  // final table is built from it; only ORACLE names one.
  std::optional<std::string> DropTempConstraint(const std::string& tempTable, const std::string& tableName) const;
  // The final table's create statement: built from the temporary table on
  // ORACLE and MSSQL (without the excluded rows), created empty from the
  // definition list elsewhere.
  std::string FinalTableCreate(const Exclusion& exclusion, const FinalTableLists& lists, const std::string& tempTable,
                               const std::string& table) const;
  // The kinds whose final table is built by select (ORACLE, MSSQL); the
  // other kinds copy the rows themselves.
  bool BuildsBySelect() const { return IsOracle() || IsMssql(); }
  // SQLite refuses "grant"; it is a known refusal there.
  bool RefusesGrant() const { return engine_ == ado::Dialect::SQLite; }
  // How many rows the OTHER kind's row copy may write with one insert (see
  // CopyRowsInsert), on the databases whose like and unique index are known
  // to agree that way; 0 elsewhere. SQLite takes no DEFAULT in a row of
  // values, so there each row has an insert of its own.
  size_t CopiedRowsPerInsert() const {
    if (engine_ == ado::Dialect::SQLite) return 1;
    return engine_ == ado::Dialect::PostgreSQL || engine_ == ado::Dialect::MySQL ? 50 : 0;
  }
  // MariaDB and MySQL keep a table's rights by its name.
  bool GrantsByName() const { return publish_ == PublishForm::MySQL; }
  // The work table's index, as the rebuild in place gives it for the kind
  // (the bracketed form on ORACLE and MSSQL, the unique index elsewhere).
  std::string WorkTableIndex(const std::string& table, const std::string& workTable) const;
  PublishForm Publish() const { return publish_; }

 private:
  std::string kind_;
  std::optional<std::string> dbmsName_;
  ado::Dialect engine_ = ado::Dialect::Other;
  PublishForm publish_ = PublishForm::Other;
};

// The dialect the update run chose for `w`'s connection; an unknown kind
// before it did.
const DatabaseDialect& RunDialect(const ExportContext& w);

}  // namespace corvane::service
