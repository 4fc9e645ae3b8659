// corvane-reg: the administrator's registry tool, in the manner of reg.exe.
//   corvane-reg query  [KEY] [/v NAME | /s]
//   corvane-reg add    [KEY] /v NAME [/t REG_SZ|REG_EXPAND_SZ|REG_DWORD] /d DATA [/f]
//   corvane-reg delete [KEY] /v NAME [/f]
//   corvane-reg delete KEY [/f]            (the key and every key below it)
// KEY defaults to the service's parameters key; a leading "HKLM\" or
// "HKEY_LOCAL_MACHINE\" is accepted and ignored.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "platform/registry/registry.h"

namespace corvane::tools {

// The usage text (what --help prints).
const char* RegUsage();

// Runs one command; returns the process exit status (0 success, 1 error).
// Confirmation questions (without /f) are read from `in`.
int RunRegCommand(const std::vector<std::string>& args, registry::Hive& hive, std::istream& in, std::ostream& out,
                  std::ostream& err);

}  // namespace corvane::tools
