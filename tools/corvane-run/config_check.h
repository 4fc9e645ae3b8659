// corvane-run --check: the configuration of a Corvane home as a run would
// meet it. Reads the parameters, names values the service does not read or
// cannot read as meant, opens the database, logs on to the directory with
// the mailbox, compares the stored mail profile with the parameters,
// describes the schedule and the final table's columns. Changes nothing.
#pragma once

#include <cstdio>
#include <ctime>

#include "platform/registry/registry.h"

namespace corvane::runtool {

inline constexpr int kCheckGood = 0;
inline constexpr int kCheckWarnings = 1;
inline constexpr int kCheckErrors = 2;

// Prints one line per finding ("ok: ...", "warning: ...", "error: ...")
// and a closing count to `out`; returns kCheckGood, kCheckWarnings or
// kCheckErrors. `hive` is the home's registry, `now` the moment the
// schedule is judged at.
int CheckConfiguration(const registry::Hive& hive, std::time_t now, std::FILE* out);

}  // namespace corvane::runtool
