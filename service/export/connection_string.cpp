#include "service/export/connection_string.h"

#include <strings.h>

namespace corvane::service {

namespace {

bool IsPasswordKey(std::string key) {
  const auto b = key.find_first_not_of(" \t");
  const auto e = key.find_last_not_of(" \t");
  key = b == std::string::npos ? std::string() : key.substr(b, e - b + 1);
  return strcasecmp(key.c_str(), "password") == 0 || strcasecmp(key.c_str(), "pwd") == 0;
}

// The end of the value that starts at `pos`: the next ';', or past the
// closing brace of a value written in braces (which may hold ';').
size_t ValueEnd(const std::string& s, size_t pos) {
  size_t p = pos;
  while (p < s.size() && (s[p] == ' ' || s[p] == '\t')) ++p;
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
    if (IsPasswordKey(s.substr(pos, equals - pos)))
      out += "EXISTS";
    else
      out.append(s, equals + 1, end - equals - 1);
    if (end < s.size()) out += ';';
    pos = end + 1;
  }
  return out;
}

}  // namespace corvane::service
