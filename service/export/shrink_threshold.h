// The deletion threshold ("MaxShrinkPercent"): a new final table that would
// hold far fewer rows than the published one is not published, since a
// directory read that silently came back short (a wrong base, a lost
// permission) would otherwise empty the table its readers rely on.
#pragma once

#include <string>

namespace corvane::service {

// What the new rows are measured against: the rows of the last completed
// build (the final table's record), or, where no build was recorded yet,
// what the published table holds.
enum class ShrinkBase { LastCompletedRun, PublishedTable };

// Why `fresh` rows may not replace the `published` rows of `table`: they are
// fewer by more than `percent` percent. Empty when they may (also when
// nothing is published yet).
std::string ShrinkRefusal(const std::string& table, long published, long fresh, double percent,
                          ShrinkBase base = ShrinkBase::PublishedTable);

}  // namespace corvane::service
