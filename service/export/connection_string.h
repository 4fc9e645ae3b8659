// Connection strings as they may be shown: the password never appears.
#pragma once

#include <string>

namespace corvane::service {

// `connectionString` with the value of every "Password=" and "PWD="
// attribute (any case) replaced by "EXISTS"; everything else unchanged.
std::string PasswordFreeConnectionString(const std::string& connectionString);

}  // namespace corvane::service
