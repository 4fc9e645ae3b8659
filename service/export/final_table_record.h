// The record of the final table's builds that the update run keeps in the
// Corvane home: $CORVANE_HOME/final-table.json, mode 0640, so a monitoring
// user of the home's group can read it (the registry, 0600, is not for it).
// A rebuild in place marks its build as begun before it drops the table,
// so any ending but completion, a killed process included, leaves the mark;
// and the record keeps the rows of the last completed build, which failed
// runs leave as they were, for the deletion threshold to measure against.
#pragma once

#include <ctime>
#include <filesystem>
#include <optional>
#include <string>

namespace corvane::service {

inline constexpr const char* kFinalTableRecordName = "final-table.json";

struct FinalTableRecord {
  enum class State {
    Complete,    // the last build completed
    Building,    // a build began and has not ended (or its process was killed)
    Incomplete,  // a run ended during the build: failed or stopped
  };
  std::string table;
  State state = State::Complete;
  std::time_t since = 0;  // when the state began
  long process = 0;       // the process that began the build
  std::string cause;      // Incomplete: why the run ended
  // The rows of the last completed build and when it completed; a record
  // made before any completed build has the rows the table held when the
  // first build began, and no time.
  std::optional<long> completedRows;
  std::optional<std::time_t> completedAt;
};

// "complete", "building", "incomplete".
const char* StateName(FinalTableRecord::State state);

// The record as JSON (times as last-run.json writes them), and back;
// nullopt, with the reason in `error`, when the text is not such a record.
std::string FinalTableRecordJson(const FinalTableRecord& record);
std::optional<FinalTableRecord> ParseFinalTableRecord(const std::string& json, std::string& error);

// Writes the record to `file` atomically, mode 0640. Throws std::exception
// naming the file when it cannot be written.
void WriteFinalTableRecord(const std::filesystem::path& file, const FinalTableRecord& record);
// Reads it back; nullopt with `error` empty when there is no such file, or
// with the reason in `error` when it cannot be read or is damaged.
std::optional<FinalTableRecord> ReadFinalTableRecord(const std::filesystem::path& file, std::string& error);

}  // namespace corvane::service
