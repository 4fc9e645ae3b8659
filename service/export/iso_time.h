// Times in the records Corvane leaves for monitoring (last-run.json,
// final-table.json, last-dsimport.json).
#pragma once

#include <ctime>
#include <optional>
#include <string>

namespace corvane::service {

// "2026-06-15T02:04:11+02:00": local time with its offset from UTC.
std::string IsoTime(std::time_t t);
// The time such a text (or one ending in "Z") names; nullopt when it is
// not one.
std::optional<std::time_t> ParseIsoTime(const std::string& text);

}  // namespace corvane::service
