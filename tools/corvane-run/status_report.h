// corvane-run --status: the record of the last run (last-run.json) shown for
// people and judged as a monitoring check, with the exit statuses of a
// Nagios or Icinga plugin.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string_view>

namespace corvane::runtool {

inline constexpr int kStatusOk = 0;
inline constexpr int kStatusWarning = 1;   // the last run was stopped, a contact job failed or did part of its work, or its dsimport failed or is overdue
inline constexpr int kStatusCritical = 2;  // it failed, ended the service, or is older than the age allowed
inline constexpr int kStatusUnknown = 3;   // no readable record

// "26h", "90m", "2d", "45s" or a number of seconds; nullopt when the text
// is not such a duration.
std::optional<int64_t> ParseDuration(std::string_view text);

// Prints the record in `file` (a first line in the plugin's shape, then the
// details) and returns the check's status; a last run that ended more than
// `maxAgeSeconds` before `now` is CRITICAL. Where the home keeps a
// distribution list, the record dsimport leaves beside it is shown too: a
// failed import, or none started after a completed run within
// "DistListImportMargin" minutes, is a WARNING.
int ReportLastRun(const std::filesystem::path& file, std::optional<int64_t> maxAgeSeconds, std::time_t now,
                  std::FILE* out);

}  // namespace corvane::runtool
