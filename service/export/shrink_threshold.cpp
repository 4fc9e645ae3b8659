#include "service/export/shrink_threshold.h"

#include <fmt/format.h>

namespace corvane::service {

std::string ShrinkRefusal(const std::string& table, long published, long fresh, double percent, ShrinkBase base) {
  if (published <= 0 || fresh >= published) return {};
  const double fewer = 100.0 * static_cast<double>(published - fresh) / static_cast<double>(published);
  if (fewer <= percent) return {};
  const char* measure =
      base == ShrinkBase::LastCompletedRun ? "the last completed run published" : "the published one holds";
  return fmt::format(
      "The final table {} was not published: the new table would hold {} rows where {} {}, {:.1f}% fewer, more than "
      "MaxShrinkPercent ({})",
      table, fresh, measure, published, fewer, percent);
}

}  // namespace corvane::service
