// How a run publishes the final table: the parameters "PublishMode" (rebuild
// the table in place, or build it aside and swap it in) and
// "MaxShrinkPercent" (the deletion threshold).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace corvane::service {

enum class PublishMode {
  Rebuild,  // "" (the default): the final table is dropped and built again in place
  Swap,     // "swap": built under a work name, then given the final name in one step
};
// The mode a "PublishMode" text asks for, without regard to case or
// surrounding blanks; nullopt for a text that names no mode.
std::optional<PublishMode> ParsePublishMode(std::string_view text);

// "MaxShrinkPercent": empty is off; otherwise a percentage from 0 to 100
// (decimals allowed).
struct ShrinkThreshold {
  bool valid = true;              // false: the text is no such percentage
  std::optional<double> percent;  // no value: off (or not valid)
};
ShrinkThreshold ParseShrinkThreshold(std::string_view text);

// The refusal to publish `fresh` rows in place of `published` ones when
// that is fewer by more than `percent` percent, or empty when publishing
// may go on (also when nothing is published yet).
std::string ShrinkRefusal(const std::string& table, long published, long fresh, double percent);

}  // namespace corvane::service
