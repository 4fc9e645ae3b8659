// The bulk pipeline an administrator would script in place of Corvane, for
// the benchmark's side-by-side figures: the directory's LDIF turned into CSV
// (one row per entry with a mail address, the text attributes a GAL table
// holds), then one bulk load by the database's own tool: the sqlite3 shell's
// .import, psql's \copy (COPY), or MariaDB's LOAD DATA LOCAL INFILE.
#pragma once

#include <filesystem>
#include <string>

namespace corvane::bench {

struct BulkFigures {
  double seconds = 0;  // conversion and load, wall time
  long rows = -1;      // rows the table holds afterwards; -1 when the load failed
};

// Loads `ldif` into the table `table` (replaced) of the database behind the
// ODBC connection string `connectionString` ("sqlite", "postgres" or
// "mariadb" as `kind`), with the CSV written to `work`.
BulkFigures BulkLoad(const std::string& kind, const std::string& connectionString, const std::filesystem::path& ldif,
                     const std::filesystem::path& work, const std::string& table);

}  // namespace corvane::bench
