// What the temporary table must hold for a GAL, worked out from the
// entries as the MAPI layer reports them, by rules written here apart from
// the library's own code.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "tests/galreader/library_fixture.h"

namespace corvane::galreader::testing {

// The 45 values of every GAL entry, read through the MAPI layer with the
// profile "TWCorvane" of the current Corvane home.
std::vector<std::vector<std::string>> ReadGalValues();

// Database limits that decide which statements are refused.
struct TableLimits {
  size_t varcharCharacters = 0;  // 0: the database does not enforce lengths
};

// The rows the table must hold, keyed by entry_id (more than one row per
// key when entries share an identifier).
std::multimap<std::string, Row> ExpectedRows(const std::vector<std::vector<std::string>>& gal,
                                             const std::string& tableName, const TableLimits& limits);

}  // namespace corvane::galreader::testing
