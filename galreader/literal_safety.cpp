#include "galreader/literal_safety.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace corvane::galreader {

namespace {

bool Contains(std::string haystack, const std::string& needle) {
  std::transform(haystack.begin(), haystack.end(), haystack.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return haystack.find(needle) != std::string::npos;
}

}  // namespace

void UseStandardStringLiterals(ado::Connection& connection) {
  try {
    const std::string dbms = connection.DbmsName();
    if (Contains(dbms, "postgres")) {
      connection.Execute("SET standard_conforming_strings = on");
    } else if (Contains(dbms, "mysql") || Contains(dbms, "mariadb")) {
      connection.Execute("SET SESSION sql_mode = CONCAT(@@SESSION.sql_mode, ',NO_BACKSLASH_ESCAPES')");
    }
  } catch (...) {
    // A database that refuses the setting keeps its own; nothing to log.
  }
}

}  // namespace corvane::galreader
