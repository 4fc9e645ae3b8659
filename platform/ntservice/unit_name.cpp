#include "platform/ntservice/unit_name.h"

#include <fmt/format.h>

namespace corvane::ntservice {
namespace {

bool Plain(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ':' || c == '_' ||
         c == '.';
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string SystemdEscape(std::string_view name) {
  std::string out;
  for (size_t i = 0; i < name.size(); ++i) {
    char c = name[i];
    if (c == '/') {
      out += '-';
    } else if (Plain(c) && !(i == 0 && c == '.')) {
      out += c;
    } else {
      out += fmt::format("\\x{:02x}", static_cast<unsigned char>(c));
    }
  }
  return out;
}

std::string UnitFileName(std::string_view serviceName) { return SystemdEscape(serviceName) + ".service"; }

std::string UnescapeUnitName(std::string_view unitName) {
  std::string out;
  for (size_t i = 0; i < unitName.size(); ++i) {
    if (unitName[i] == '\\' && i + 3 < unitName.size() && unitName[i + 1] == 'x') {
      int high = HexDigit(unitName[i + 2]);
      int low = HexDigit(unitName[i + 3]);
      if (high >= 0 && low >= 0) {
        out += static_cast<char>(high * 16 + low);
        i += 3;
        continue;
      }
    }
    out += unitName[i];
  }
  return out;
}

}  // namespace corvane::ntservice
