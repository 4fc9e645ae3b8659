// Connection strings as they may be shown: the password never appears.
#pragma once

#include <string>

namespace corvane::service {

// `connectionString` with the value of every attribute whose name contains
// "password" or "pwd" (any case) replaced by "EXISTS", also inside a value
// written in braces (psqlODBC's "pqopt={password=x}"); everything else
// unchanged.
std::string PasswordFreeConnectionString(const std::string& connectionString);

}  // namespace corvane::service
