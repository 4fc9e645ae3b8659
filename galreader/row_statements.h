// The row writer: one GAL row record into the temporary table, first by one
// combined INSERT, and when the database refuses it, "line by line": the
// entry identifier alone and then one UPDATE per column, so a value the
// database will not take costs that column only.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "galreader/gal_record.h"
#include "platform/ado/ado.h"

namespace corvane::galreader {

// Longest combined insert that is executed, in characters.
inline constexpr size_t kMaxInsertLength = 4096;

// The quoting rule for every column but bus_add_country: the value is cut at
// each apostrophe-like character (U+0027, U+0060, U+2018, U+2019, U+00B4),
// empty pieces are dropped and the rest joined with "''". The result holds
// no quote that could end its literal.
std::string EscapeSqlText(std::string_view value);

// The quoting rule for bus_add_country: every U+0027 doubled, nothing else.
std::string EscapeCountryText(std::string_view value);

// Both rules applied to a record: the country rule to bus_add_country,
// EscapeSqlText to all other values.
GalRecord EscapeGalRecord(const GalRecord& record);

// The combined insert of an escaped record. In debug-log mode writes one
// "X" before each of the values 1 to 44.
std::string BuildCombinedInsert(const std::string& tableName, const GalRecord& escaped, bool debugLog);

// The second attempt's statements, in order: the key insert, then one
// update per column (45 in all).
std::string BuildKeyInsert(const std::string& tableName, const GalRecord& escaped);
std::string BuildColumnUpdate(const std::string& tableName, size_t step, const GalRecord& escaped);
inline constexpr size_t kRetryStatementCount = 45;

// What became of one entry.
enum class RowResult {
  Written,         // a row was added (complete, or as far as the second attempt got)
  LeftOut,         // the row rules left it out: too long, or its key insert was refused
  ConnectionLost,  // the database connection is gone: nothing more can be written
};

// The combined insert WriteGalRow runs for `record`; nothing when the
// record is left out as too long. Writes no log line.
std::optional<std::string> CombinedInsertOf(const std::string& tableName, const GalRecord& record);

// One insert of the rows of several combined inserts into `tableName`
// (CombinedInsertOf's statements, at least one), in their order:
// "insert into T (…) values ('…'),('…')". It writes what they write.
std::string JoinCombinedInserts(const std::string& tableName, const std::vector<std::string>& inserts);

// The insert of `rows` rows that JoinCombinedInserts writes, with a `?`
// parameter in place of each value, and a record's parameters for it: the
// values its combined insert stores (its literals as the database reads
// them), in the same order.
std::string ParameterizedRowsInsert(const std::string& tableName, size_t rows);
std::vector<ado::FieldValue> StoredValuesOf(const GalRecord& record);

// Writes one record; every database error is logged and absorbed, except
// a lost connection, which ends the record at once (after its error lines).
RowResult WriteGalRow(ado::Connection& connection, const std::string& tableName, const GalRecord& record,
                      bool debugLog);

// The second attempt for a combined insert that raised `error`; it stops
// at the first statement that finds the connection lost.
RowResult RetryByColumn(ado::Connection& connection, const std::string& tableName, const GalRecord& escaped,
                        const std::string& failedStatement, const ado::AdoError& error, bool debugLog);

}  // namespace corvane::galreader
