#include "platform/ado/sql_source.h"

#include <regex>

namespace corvane::ado {

std::optional<SimpleSelect> ParseSimpleSelect(const std::string& text) {
  static const std::regex query(
      R"(^\s*select\s+([\s\S]+?)\s+from\s+([A-Za-z_][\w$#.]*|"[^"]+")(?:\s+where\s+([\s\S]+?))?\s*;?\s*$)",
      std::regex::icase | std::regex::optimize);
  static const std::regex columns(R"(^(\*|[A-Za-z_"][\w$#."]*(\s*,\s*[A-Za-z_"][\w$#."]*)*)$)", std::regex::optimize);
  static const std::regex keyword(R"(^(distinct|all|top)\b)", std::regex::icase | std::regex::optimize);
  static const std::regex clauses(R"(\b(order|group|having|limit|offset|union|intersect|except|fetch|join)\b)",
                                  std::regex::icase | std::regex::optimize);
  std::smatch m;
  if (!std::regex_match(text, m, query)) return std::nullopt;
  SimpleSelect s{m[1].str(), m[2].str(), m[3].str()};
  if (!std::regex_match(s.list, columns) || std::regex_search(s.list, keyword)) return std::nullopt;
  // A table name followed by anything but a where clause ("t a, u b") does
  // not reach here: the pattern above demands the end of the text.
  if (std::regex_search(s.where, clauses)) return std::nullopt;
  return s;
}

}  // namespace corvane::ado
