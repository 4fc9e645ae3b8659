#include "service/export/iso_time.h"

#include <cstdio>
#include <cstdlib>

#include <fmt/format.h>

namespace corvane::service {

std::string IsoTime(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  const long offset = tm.tm_gmtoff / 60;
  return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}{}{:02}:{:02}", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                     tm.tm_hour, tm.tm_min, tm.tm_sec, offset < 0 ? '-' : '+', std::labs(offset) / 60,
                     std::labs(offset) % 60);
}

std::optional<std::time_t> ParseIsoTime(const std::string& text) {
  std::tm tm{};
  char sign = 0;
  int offsetHours = 0, offsetMinutes = 0, used = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%n", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour,
                  &tm.tm_min, &tm.tm_sec, &used) != 6)
    return std::nullopt;
  const std::string zone = text.substr(static_cast<size_t>(used));
  if (zone != "Z" && (std::sscanf(zone.c_str(), "%c%2d:%2d", &sign, &offsetHours, &offsetMinutes) != 3 ||
                      (sign != '+' && sign != '-')))
    return std::nullopt;
  tm.tm_year -= 1900;
  tm.tm_mon -= 1;
  const long offset = (sign == '-' ? -1 : 1) * (offsetHours * 3600L + offsetMinutes * 60L);
  return timegm(&tm) - offset;
}

}  // namespace corvane::service
