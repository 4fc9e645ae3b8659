// Recognises the plain single-table queries ("select a, b from t [where ...]")
// whose rows the recordset can page through and write back by row locator.
#pragma once

#include <optional>
#include <string>

namespace corvane::ado {

struct SimpleSelect {
  std::string list;   // "*" or a comma-separated list of column names
  std::string table;  // the one table read
  std::string where;  // the condition, empty when there is none
};

// The parts of `text` when it is such a query; nothing for anything else
// (joins, expressions, grouping, ordering), which is then read as it is.
std::optional<SimpleSelect> ParseSimpleSelect(const std::string& text);

}  // namespace corvane::ado
