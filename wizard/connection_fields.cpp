#include "wizard/connection_fields.h"

#include <strings.h>

#include <cstring>

namespace corvane::wizard {

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool Is(std::string_view name, std::initializer_list<const char*> spellings) {
  for (const char* s : spellings)
    if (name.size() == std::strlen(s) && strncasecmp(name.data(), s, name.size()) == 0) return true;
  return false;
}

bool ContainsNoCase(std::string_view text, std::string_view part) {
  for (size_t i = 0; i + part.size() <= text.size(); ++i)
    if (strncasecmp(text.data() + i, part.data(), part.size()) == 0) return true;
  return false;
}

// A value as it must be written: in braces when it holds ';', braces,
// '=' or blanks at its ends.
std::string Quote(const std::string& value) {
  const bool plain = value.find_first_of(";{}=") == std::string::npos && Trim(value) == value;
  if (plain) return value;
  std::string out = "{";
  for (char c : value) {
    out += c;
    if (c == '}') out += '}';
  }
  return out + "}";
}

}  // namespace

ConnectionFields ParseConnectionString(std::string_view text) {
  ConnectionFields f;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t equals = text.find('=', pos);
    const size_t semicolon = text.find(';', pos);
    if (equals == std::string_view::npos || (semicolon != std::string_view::npos && semicolon < equals)) {
      pos = semicolon == std::string_view::npos ? text.size() : semicolon + 1;  // an item without a value
      continue;
    }
    const std::string name(Trim(text.substr(pos, equals - pos)));
    size_t p = equals + 1;
    while (p < text.size() && (text[p] == ' ' || text[p] == '\t')) ++p;
    std::string value;
    if (p < text.size() && text[p] == '{') {
      for (++p; p < text.size(); ++p) {
        if (text[p] == '}') {
          if (p + 1 < text.size() && text[p + 1] == '}') {
            value += '}';
            ++p;
            continue;
          }
          ++p;
          break;
        }
        value += text[p];
      }
      const size_t end = text.find(';', p);
      pos = end == std::string_view::npos ? text.size() : end + 1;
    } else {
      const size_t end = text.find(';', p);
      value = Trim(text.substr(p, end == std::string_view::npos ? std::string_view::npos : end - p));
      pos = end == std::string_view::npos ? text.size() : end + 1;
    }
    if (Is(name, {"Driver"})) f.driver = value;
    else if (Is(name, {"DSN"})) f.dsn = value;
    else if (Is(name, {"Server", "Servername", "Host"})) f.server = value;
    else if (Is(name, {"Port"})) f.port = value;
    else if (Is(name, {"Database"})) f.database = value;
    else if (Is(name, {"Uid", "User", "Username", "User ID"})) f.user = value;
    else if (Is(name, {"Pwd", "Password"})) f.password = value;
    else f.others.emplace_back(name, value);
  }
  return f;
}

std::string ComposeConnectionString(const ConnectionFields& f) {
  std::string out;
  auto add = [&out](std::string_view name, const std::string& value) {
    if (value.empty()) return;
    if (!out.empty()) out += ';';
    out += name;
    out += '=';
    out += Quote(value);
  };
  if (!f.dsn.empty()) {
    add("DSN", f.dsn);
  } else if (!f.driver.empty()) {
    if (!out.empty()) out += ';';
    // Driver names with blanks are written in braces, as ODBC's own examples do.
    out += "Driver=" + (f.driver.find(' ') != std::string::npos ? "{" + f.driver + "}" : Quote(f.driver));
  }
  add("Server", f.server);
  add("Port", f.port);
  add("Database", f.database);
  add("Uid", f.user);
  if (f.savePassword) add("Pwd", f.password);
  for (const auto& [name, value] : f.others) {
    if (!out.empty()) out += ';';
    out += name + "=" + Quote(value);
  }
  return out;
}

bool IsFileDriver(std::string_view driver) { return ContainsNoCase(driver, "sqlite"); }

std::vector<Attribute> RecommendedAttributes(std::string_view driver) {
  if (IsFileDriver(driver)) return {{"JournalMode", "WAL"}, {"SyncPragma", "NORMAL"}};
  if (ContainsNoCase(driver, "postgres")) return {{"CommLog", "0"}};
  return {};
}

}  // namespace corvane::wizard
