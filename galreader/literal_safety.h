// Makes a connection read the row writer's string literals the standard
// way: a backslash is an ordinary character, only a doubled apostrophe
// stands for an apostrophe.
#pragma once

#include "platform/ado/ado.h"

namespace corvane::galreader {

// For databases that can read backslashes in literals as escapes, switches
// that off for this connection; other databases are left as they are.
// Failures are ignored: the statements then run as the database is set.
void UseStandardStringLiterals(ado::Connection& connection);

}  // namespace corvane::galreader
