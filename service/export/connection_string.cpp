#include "service/export/connection_string.h"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace corvane::service {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// A key that names a password: it contains "password" or "pwd" (any case),
// as "PWD", "Password", "SSLPassword" and "OldPwd" do.
bool IsPasswordKey(std::string_view key) {
  std::string lower(key);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower.find("password") != std::string::npos || lower.find("pwd") != std::string::npos;
}

// The end of the value that starts at `pos`: the next ';', or past the
// closing brace of a value written in braces (which may hold ';').
size_t ValueEnd(const std::string& s, size_t pos) {
  size_t p = pos;
  while (p < s.size() && IsBlank(s[p])) ++p;
  if (p < s.size() && s[p] == '{') {
    for (++p; p < s.size(); ++p) {
      if (s[p] != '}') continue;
      if (p + 1 < s.size() && s[p + 1] == '}') {  // "}}" is a brace inside the value
        ++p;
        continue;
      }
      ++p;
      break;
    }
  }
  const size_t semicolon = s.find(';', p);
  return semicolon == std::string::npos ? s.size() : semicolon;
}

// The text inside a braced value, such as psqlODBC's
// "pqopt={password=x sslmode=require}", with the value of every "key=value"
// item whose key names a password replaced by "EXISTS". Items are
// separated by blanks or ';'; a value may be quoted with ' (and \').
std::string PasswordFreeItems(std::string_view s) {
  std::string out;
  size_t p = 0;
  while (p < s.size()) {
    const size_t keyStart = p;
    while (p < s.size() && s[p] != '=' && !IsBlank(s[p]) && s[p] != ';') ++p;
    const std::string_view key = s.substr(keyStart, p - keyStart);
    while (p < s.size() && IsBlank(s[p])) ++p;
    if (p >= s.size() || s[p] != '=') {  // a separator, or a word without value
      out.append(s.substr(keyStart, p - keyStart));
      if (p < s.size() && (IsBlank(s[p]) || s[p] == ';')) out += s[p++];
      continue;
    }
    ++p;  // '='
    while (p < s.size() && IsBlank(s[p])) ++p;
    out.append(s.substr(keyStart, p - keyStart));
    const size_t valueStart = p;
    if (p < s.size() && s[p] == '\'') {
      for (++p; p < s.size() && s[p] != '\''; ++p)
        if (s[p] == '\\') ++p;
      if (p < s.size()) ++p;
    } else {
      while (p < s.size() && !IsBlank(s[p]) && s[p] != ';') ++p;
    }
    p = std::min(p, s.size());
    if (IsPasswordKey(key))
      out += "EXISTS";
    else
      out.append(s.substr(valueStart, p - valueStart));
  }
  return out;
}

}  // namespace

std::string PasswordFreeConnectionString(const std::string& connectionString) {
  const std::string& s = connectionString;
  std::string out;
  size_t pos = 0;
  while (pos < s.size()) {
    const size_t equals = s.find('=', pos);
    const size_t semicolon = s.find(';', pos);
    if (equals == std::string::npos || (semicolon != std::string::npos && semicolon < equals)) {
      // An item without a value: copy it as it stands.
      const size_t end = semicolon == std::string::npos ? s.size() : semicolon + 1;
      out.append(s, pos, end - pos);
      pos = end;
      continue;
    }
    const size_t end = ValueEnd(s, equals + 1);
    out.append(s, pos, equals + 1 - pos);
    std::string_view value(s.data() + equals + 1, end - equals - 1);
    const size_t open = value.find_first_not_of(" \t");
    if (IsPasswordKey(std::string_view(s).substr(pos, equals - pos))) {
      out += "EXISTS";
    } else if (open != std::string_view::npos && value[open] == '{') {
      const size_t close = value.find_last_of('}');
      const size_t innerEnd = close != std::string_view::npos && close > open ? close : value.size();
      out.append(value.substr(0, open + 1));
      out += PasswordFreeItems(value.substr(open + 1, innerEnd - open - 1));
      out.append(value.substr(innerEnd));
    } else {
      out.append(value);
    }
    if (end < s.size()) out += ';';
    pos = end + 1;
  }
  return out;
}

}  // namespace corvane::service
