// The record dsimport leaves of its last import, for monitoring:
// $CORVANE_HOME/last-dsimport.json. The run starts dsimport and does not
// wait for it, so the import's own outcome is only known here; the run's
// last-run.json is rewritten by every run and cannot hold it.
#pragma once

#include <ctime>
#include <filesystem>
#include <optional>
#include <string>

namespace corvane::service {

inline constexpr const char* kImportRecordFileName = "last-dsimport.json";

// How long after a completed export its import may take before
// corvane-run --status warns, unless "DistListImportMargin" says otherwise.
inline constexpr long kDefaultImportMarginMinutes = 30;

struct ImportRecord {
  std::time_t start = 0;
  std::time_t end = 0;
  bool failed = false;
  // What happened to the group: "created", "updated", "unchanged", or
  // "nothing to do" (a list without members); empty when it failed.
  std::string outcome;
  std::string list;       // the list's name, empty when the file was not read
  std::string file;       // the list file
  std::string directory;  // /DSA=
  std::string group;      // the group's DN, empty when not known
  // Counts; -1 where the import did not get that far.
  long members = -1, added = -1, removed = -1, unchanged = -1, unresolved = -1, kept = -1;
  std::string cause;  // why it failed
  // "DistListImportMargin" as dsimport read it, for a reader that cannot
  // read the settings (monitoring runs as another user); -1 when unset.
  long marginMinutes = -1;
};

// The record as JSON; times in local time with their offset from UTC.
std::string ImportRecordJson(const ImportRecord& record);
// The record from its JSON; nullopt with the reason in `error`.
std::optional<ImportRecord> ParseImportRecord(const std::string& json, std::string& error);

// Writes the record to `file` atomically, mode 0640 (readable by the
// home's group), under the unique temporary name "<file>.dsimport.<pid>";
// temporary files of processes that have ended are removed first. Throws
// std::exception naming the file when it cannot be written.
void WriteImportRecord(const std::filesystem::path& file, const ImportRecord& record);
// Reads it back; nullopt with the reason in `error` (missing, unreadable,
// damaged); `missing` tells the first case apart.
std::optional<ImportRecord> ReadImportRecord(const std::filesystem::path& file, std::string& error, bool& missing);

// The record in one line for people: "completed 12/7/2026 10:05:03 AM:
// updated CN=...: 301 members; added 2, removed 1, unchanged 299,
// unresolved 1" or "failed ...: <cause>".
std::string DescribeImport(const ImportRecord& record);

}  // namespace corvane::service
