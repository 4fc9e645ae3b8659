// The administrator's exclusion of rows from the final table: the
// parameters "Exclude", "ExcludeTableName" and "ExcludeFieldName".
#pragma once

#include <string>

#include "service/export/run_recovery.h"
#include "service/export/export_context.h"

namespace corvane::service {

struct Exclusion {
  enum class State {
    Off,      // "Exclude" is not 1
    Invalid,  // "Exclude" is 1 but a name is missing: no final table is built
    On,
  };
  State state = State::Off;
  // While On, the condition on the temporary table (as "a") that keeps a
  // row: "not exists (select 'x' from EXCLUDES b where upper(a.F) = upper(b.F))".
  std::string notExcluded;
};

// Reads the three parameters (a store that cannot be read is a failure for
// `recovery`, and the defaults apply). Writes nothing.
Exclusion ReadExclusion(ExportContext& w, Recovery& recovery);

// The information event of invalid settings: "Exclude Settings invalid".
void WriteInvalidExclusionEvent(ExportContext& w);

}  // namespace corvane::service
