// The record of the last run that the service and corvane-run leave in the
// Corvane home for monitoring: $CORVANE_HOME/last-run.json, replaced
// atomically after every run.
#pragma once

#include <ctime>
#include <filesystem>
#include <optional>
#include <string>

#include "service/export/iso_time.h"
#include "service/export/update_run.h"

namespace corvane::service {

inline constexpr const char* kLastRunFileName = "last-run.json";

struct LastRunRecord {
  std::string program;  // who ran it: "CorvaneService" or "corvane-run"
  std::time_t start = 0;
  std::time_t end = 0;
  RunOutcome outcome;
  std::string finalTable;
  std::string temporaryTable;
  // The next moment the schedule is due, when there is one, and the next
  // run in words (also "at the next start of the service", "never", ...).
  std::optional<std::time_t> nextDue;
  std::string nextDueText;
};

// The exit status of corvane-run for a run that ended so (the service's
// for the same endings): 0 completed, 2 failed or stopped, else the status
// the run ended the process with.
int RunExitStatus(const RunOutcome& outcome);

// "completed", "failed", "stopped", "ended".
const char* OutcomeName(RunOutcome::Kind kind);
// A follow-on job's ending: "completed", "partly completed", "failed".
const char* FollowOnOutcomeName(FollowOnOutcome::Kind kind);


// The record as JSON; times in local time with their UTC offset
// ("2026-06-15T02:04:11+02:00"), row counts that were not taken as null,
// the contact jobs that ran as "follow_on_jobs" (job, outcome, detail).
std::string LastRunJson(const LastRunRecord& record);
// The record from its JSON; nullopt, with the reason in `error`, when the
// text is not such a record.
std::optional<LastRunRecord> ParseLastRun(const std::string& json, std::string& error);

// Writes the record to `file` atomically (mode 0640: the home's group, a
// monitoring user among it, may read it; others not).
// Throws std::exception naming the file when it cannot be written.
void WriteLastRun(const std::filesystem::path& file, const LastRunRecord& record);
// Reads it back; nullopt with the reason in `error` (missing, unreadable,
// damaged).
std::optional<LastRunRecord> ReadLastRun(const std::filesystem::path& file, std::string& error);

}  // namespace corvane::service
