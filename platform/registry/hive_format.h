// Text form of a hive, close to the .reg files administrators know:
//
//   ; comment
//   [SYSTEM\CurrentControlSet\Services\Corvane Service\Parameters]
//   "TableName"="GAL"
//   "ConnectionString"=expand:"Driver=SQLite3;Database=/tmp/gal.db"
//   "TimerInterval"=dword:000003e8
//
// Inside quotes a backslash escapes the next character: \\ \" and the
// control characters \n \r \t. Blank lines and lines starting with ';' are
// ignored. Anything else is an error naming the file and line.
#pragma once

#include <string>
#include <vector>

#include "registry.h"

namespace corvane::registry {

struct HiveKey {
  std::string path;
  std::vector<NamedValue> values;
};

struct HiveContents {
  std::vector<HiveKey> keys;

  HiveKey* FindKey(std::string_view path);
  const HiveKey* FindKey(std::string_view path) const;
  HiveKey& FindOrAddKey(std::string_view path);
};

// Throws RegistryError("<source>:<line>: <what>") on malformed text.
HiveContents ParseHive(const std::string& text, const std::string& source);
std::string FormatHive(const HiveContents& contents);

bool EqualsNoCase(std::string_view a, std::string_view b);

}  // namespace corvane::registry
