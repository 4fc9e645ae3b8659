#include "galreader/row_statements.h"

#include <fmt/format.h>

#include <array>

#include "galreader/library_log.h"
#include "platform/utf8/utf8.h"

namespace corvane::galreader {

namespace {

constexpr std::string_view kInsertColumnList =
    " (entry_id, display_name, bus_add_city, bus_add_country, bus_add_post_office_box, bus_add_postal_code, "
    "bus_add_state_or_province, bus_add_street, bus_add_fax_number, bus_home_page, bus_telephone_number, "
    "bus2_telephone_number, bus_department_name, given_name, initials, surname, display_name_7bit, title, "
    "company_name, office_location, h_telephone_number, h2_telephone_number, h_fax_number, h_add_street, "
    "h_add_city, h_add_state_or_province, h_add_postal_code, h_add_country, manager_name, "
    "office_telephone_number, office2_telephone_number, assistant, assistant_telephone_number, "
    "mobile_telephone_number, pager_telephone_number, display_type, "
    "EMS_AB_PROXY_ADDRESSES,account,ext1,ext2,ext3,ext4,COM,PHP, DefSMTP) values ('";

struct ColumnUpdate {
  std::string_view column;
  size_t value;  // 0-based record position
};

// Updates 2 to 45 of the second attempt. The personal home page goes to
// php and the comment to com, as in the combined insert.
constexpr std::array<ColumnUpdate, kRetryStatementCount - 1> kColumnUpdates = {{
    {"display_name", 1},
    {"bus_add_city", 2},
    {"bus_add_country", 3},
    {"bus_add_post_office_box", 4},
    {"bus_add_postal_code", 5},
    {"bus_add_state_or_province", 6},
    {"bus_add_street", 7},
    {"bus_add_fax_number", 8},
    {"bus_home_page", 9},
    {"bus_telephone_number", 10},
    {"bus2_telephone_number", 11},
    {"bus_department_name", 12},
    {"given_name", 13},
    {"initials", 14},
    {"surname", 15},
    {"display_name_7bit", 16},
    {"title", 17},
    {"company_name", 18},
    {"office_location", 19},
    {"h_telephone_number", 20},
    {"h2_telephone_number", 21},
    {"h_fax_number", 22},
    {"h_add_street", 23},
    {"h_add_city", 24},
    {"h_add_state_or_province", 25},
    {"h_add_postal_code", 26},
    {"h_add_country", 27},
    {"manager_name", 28},
    {"office_telephone_number", 29},
    {"office2_telephone_number", 30},
    {"assistant", 31},
    {"assistant_telephone_number", 32},
    {"mobile_telephone_number", 33},
    {"pager_telephone_number", 34},
    {"display_type", 35},
    {"EMS_AB_PROXY_ADDRESSES", 36},
    {"account", 37},
    {"ext1", 38},
    {"ext2", 39},
    {"ext3", 40},
    {"ext4", 41},
    {"php", 43},
    {"com", 42},
    {"DefSMTP", 44},
}};

// Byte length of the apostrophe-like character at value[pos], or 0.
// Matching whole encoded sequences means a byte such as 0xB4 inside
// another character ("ô" is C3 B4) is never taken for one.
size_t ApostropheLength(std::string_view value, size_t pos) {
  const std::string_view rest = value.substr(pos);
  if (rest[0] == '\'' || rest[0] == '`') return 1;
  if (rest.starts_with("\xC2\xB4")) return 2;                                  // U+00B4 acute accent
  if (rest.starts_with("\xE2\x80\x98") || rest.starts_with("\xE2\x80\x99")) return 3;  // U+2018, U+2019
  return 0;
}

// Executes one statement; its result set is released at once.
void Execute(ado::Connection& connection, const std::string& statement) { connection.Execute(statement); }

}  // namespace

std::string EscapeSqlText(std::string_view value) {
  // Every apostrophe-like character starts with one of these bytes; most
  // values hold none and come back as they are.
  constexpr std::string_view kLeadBytes = "'`\xC2\xE2";
  size_t pos = value.find_first_of(kLeadBytes);
  if (pos == std::string_view::npos) return std::string(value);

  std::string escaped;
  escaped.reserve(value.size() + 2);
  size_t pieceStart = 0;
  bool cut = false;  // a cut seen since the last piece
  while (pos != std::string_view::npos) {
    const size_t length = ApostropheLength(value, pos);
    if (length == 0) {  // a lead byte of some other character
      pos = value.find_first_of(kLeadBytes, pos + 1);
      continue;
    }
    if (pos > pieceStart) {
      if (cut && !escaped.empty()) escaped += "''";
      escaped.append(value.substr(pieceStart, pos - pieceStart));
    }
    cut = true;
    pieceStart = pos + length;
    pos = value.find_first_of(kLeadBytes, pieceStart);
  }
  if (pieceStart < value.size()) {
    if (cut && !escaped.empty()) escaped += "''";
    escaped.append(value.substr(pieceStart));
  }
  return escaped;
}

std::string EscapeCountryText(std::string_view value) {
  std::string escaped;
  escaped.reserve(value.size() + 2);
  for (const char c : value) {
    escaped += c;
    if (c == '\'') escaped += '\'';
  }
  return escaped;
}

GalRecord EscapeGalRecord(const GalRecord& record) {
  GalRecord escaped;
  for (size_t i = 0; i < kGalValueCount; ++i) {
    escaped[i] = i == kCountryValue ? EscapeCountryText(record[i]) : EscapeSqlText(record[i]);
  }
  return escaped;
}

std::string BuildCombinedInsert(const std::string& tableName, const GalRecord& escaped, bool debugLog) {
  size_t length = 12 + tableName.size() + kInsertColumnList.size() + 3 * kGalValueCount;
  for (const auto& value : escaped) length += value.size();
  std::string statement;
  statement.reserve(length);
  statement += "insert into ";
  statement += tableName;
  statement += kInsertColumnList;
  for (size_t i = 0; i < kGalValueCount; ++i) {
    if (i > 0) statement += "','";
    if (i < kGalColumnCount) DebugLog(debugLog, "X");
    statement += escaped[i];
  }
  statement += "')";
  return statement;
}

std::string BuildKeyInsert(const std::string& tableName, const GalRecord& escaped) {
  return "insert into " + tableName + "(entry_id) values ('" + escaped[kEntryIdValue] + "')";
}

std::string BuildColumnUpdate(const std::string& tableName, size_t step, const GalRecord& escaped) {
  const ColumnUpdate& update = kColumnUpdates.at(step - 1);
  std::string statement = "update " + tableName + " set ";
  statement += update.column;
  statement += " ='" + escaped[update.value] + "' where entry_id ='" + escaped[kEntryIdValue] + "'";
  return statement;
}

std::optional<std::string> CombinedInsertOf(const std::string& tableName, const GalRecord& record) {
  std::string statement = BuildCombinedInsert(tableName, EscapeGalRecord(record), false);
  if (utf8::CharacterCount(statement) > kMaxInsertLength) return std::nullopt;
  return statement;
}

std::string JoinCombinedInserts(const std::string& tableName, const std::vector<std::string>& inserts) {
  // Each insert is this prefix, which ends with its row's opening "('", then the row's values.
  const size_t prefix = std::string_view("insert into ").size() + tableName.size() + kInsertColumnList.size();
  size_t length = 0;
  for (const auto& insert : inserts) length += insert.size() - prefix + 3;
  std::string statement = inserts.at(0);
  statement.reserve(length + prefix);
  for (size_t i = 1; i < inserts.size(); ++i) {
    statement += ",('";
    statement.append(inserts[i], prefix);
  }
  return statement;
}

std::string ParameterizedRowsInsert(const std::string& tableName, size_t rows) {
  // The column list without the opening "('" of the first row's values.
  const std::string_view columns = kInsertColumnList.substr(0, kInsertColumnList.size() - 2);
  std::string row = "(";
  for (size_t i = 0; i < kGalValueCount; ++i) row += i > 0 ? ",?" : "?";
  row += ")";
  std::string statement = "insert into " + tableName;
  statement += columns;
  statement.reserve(statement.size() + rows * (row.size() + 1));
  for (size_t r = 0; r < rows; ++r) statement += (r > 0 ? "," : "") + row;
  return statement;
}

std::vector<ado::FieldValue> StoredValuesOf(const GalRecord& record) {
  std::vector<ado::FieldValue> values;
  values.reserve(kGalValueCount);
  for (size_t i = 0; i < kGalValueCount; ++i) {
    // The country's literal doubles each apostrophe: it stores the value as
    // it is. Elsewhere the escaped value's "''" joins store one apostrophe.
    if (i == kCountryValue) {
      values.emplace_back(record[i]);
      continue;
    }
    std::string stored = EscapeSqlText(record[i]);
    for (size_t at = stored.find("''"); at != std::string::npos; at = stored.find("''", at + 1)) stored.erase(at, 1);
    values.emplace_back(std::move(stored));
  }
  return values;
}

RowResult WriteGalRow(ado::Connection& connection, const std::string& tableName, const GalRecord& record,
                      bool debugLog) {
  const GalRecord escaped = EscapeGalRecord(record);
  const std::string statement = BuildCombinedInsert(tableName, escaped, debugLog);
  const size_t length = utf8::CharacterCount(statement);
  if (length > kMaxInsertLength) {
    DebugLog(debugLog, fmt::format("\nSQL statement is too long:\n{}\n", statement));
    DebugLog(debugLog, fmt::format("\nLength: {}\n", length));
    DebugLog(debugLog, "y\n");
    return RowResult::LeftOut;
  }
  try {
    Execute(connection, statement);
  } catch (const ado::AdoError& e) {
    if (!ado::IsConnectionLost(e)) return RetryByColumn(connection, tableName, escaped, statement, e, debugLog);
    DumpComError(e);
    return RowResult::ConnectionLost;
  }
  DebugLog(debugLog, "y\n");
  return RowResult::Written;
}

RowResult RetryByColumn(ado::Connection& connection, const std::string& tableName, const GalRecord& escaped,
                        const std::string& failedStatement, const ado::AdoError& error, bool debugLog) {
  DumpComError(error);
  DebugLog(debugLog, fmt::format("Error:{}\n", failedStatement));
  DebugLog(debugLog, fmt::format("Too Long! {} is {} characters long.\n\n", failedStatement,
                                 utf8::CharacterCount(failedStatement)));
  DebugLog(debugLog, "Performing 2nd Attempt - line by line\n");
  RowResult result = RowResult::Written;
  for (size_t step = 0; step < kRetryStatementCount; ++step) {
    const std::string statement =
        step == 0 ? BuildKeyInsert(tableName, escaped) : BuildColumnUpdate(tableName, step, escaped);
    try {
      Execute(connection, statement);
    } catch (const ado::AdoError& e) {
      DumpComError(e);
      DebugLog(debugLog, fmt::format("Error: {}\n", statement));
      if (ado::IsConnectionLost(e)) return RowResult::ConnectionLost;
      // Without its key the entry adds no row (with a key on entry_id, the
      // updates go to the row of the same identifier).
      if (step == 0) result = RowResult::LeftOut;
    }
  }
  return result;
}

}  // namespace corvane::galreader
