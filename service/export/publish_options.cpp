#include "service/export/publish_options.h"

#include <fmt/format.h>
#include <strings.h>

#include <charconv>

namespace corvane::service {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

}  // namespace

std::optional<PublishMode> ParsePublishMode(std::string_view text) {
  text = Trim(text);
  if (text.empty()) return PublishMode::Rebuild;
  if (text.size() == 4 && strncasecmp(text.data(), "swap", 4) == 0) return PublishMode::Swap;
  return std::nullopt;
}

ShrinkThreshold ParseShrinkThreshold(std::string_view text) {
  text = Trim(text);
  if (text.empty()) return {};
  if (text.back() == '%') text = Trim(text.substr(0, text.size() - 1));
  double percent = -1;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), percent);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || !(percent >= 0 && percent <= 100))
    return {false, std::nullopt};
  return {true, percent};
}

std::string ShrinkRefusal(const std::string& table, long published, long fresh, double percent) {
  if (published <= 0 || fresh >= published) return {};
  const double fewer = 100.0 * static_cast<double>(published - fresh) / static_cast<double>(published);
  if (fewer <= percent) return {};
  return fmt::format(
      "The final table {} was not published: the new table would hold {} rows where the published one holds {}, "
      "{:.1f}% fewer, more than MaxShrinkPercent ({})",
      table, fresh, published, fewer, percent);
}

}  // namespace corvane::service
