// One update run in the foreground, as corvane-run does it: the service's
// start-up values read from the parameters, the run log printed as it
// grows, the phase and the rows done shown on long phases, and an exit
// status that says whether the run reached its end.
#pragma once

#include <cstdio>
#include <string>

#include "service/export/update_run.h"
#include "service/host/service_main.h"

namespace corvane::runtool {

// Exit statuses: those of the service for the same endings.
inline constexpr int kRunCompleted = 0;
inline constexpr int kRunEndedEarly = 1;       // the settings could not be read
inline constexpr int kRunRecovered = 2;        // a failed run: a database failure, an export cut short or
                                               // stopped, a final table incomplete or not built
inline constexpr int kLocked = 75;             // another run holds the home's run lock
inline constexpr int kUsage = 64;
inline constexpr int kNotOwner = 77;           // root on a home that belongs to another user
inline constexpr int kEndedByDesign = service::kExitEndedByDesign;  // 69: GAL count 0, too many failures
inline constexpr int kNotConfigured = service::kExitMissingSetting;  // 78: connection string, mailbox, server,
                                                                     // profile or table name missing

// Reads the values the service reads at start-up (table names, switches,
// DOS mode, connection string) into w.
void ReadStartupValues(service::ServiceMain& w);

struct RunOptions {
  // Print the "Xsql:" entries (every statement the run executes). Off, the
  // output keeps the run's own lines, failures and progress.
  bool statements = true;
  // The output is the journal's stream: warning and error entries carry
  // the journal's priority prefix ("<4>", "<3>").
  bool journal = false;
};

// Runs UpdateGAL once on w, printing to `out`; returns the exit status.
int RunOnce(service::ServiceMain& w, service::UpdateRunHooks& hooks, std::FILE* out, const RunOptions& options = {});

// Whether a run-log entry ("HH:MM message") is one executed statement.
bool IsStatementEntry(const std::string& entry);

// The run log entry as one or more printable lines (CR becomes a line break).
std::string PrintableEntry(const std::string& entry);

}  // namespace corvane::runtool
