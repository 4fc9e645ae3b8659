// The update run: one complete export of the global address list into the
// configured database (UpdateGAL), with its recovery handler.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "service/export/export_context.h"

namespace corvane::shell {
class Shell;
}

namespace corvane::service {

class GalLibrary;

// What one run came to, for whoever reports it (corvane-run's exit status,
// a record of the last run).
struct RunOutcome {
  enum class Kind {
    Completed,  // the final table is a complete, fresh copy of the address list as read
    Failed,     // the run failed (see cause); the final table is as it was, or announced incomplete
    Stopped,    // a stop request ended the run
    Ended,      // the run ends the process by design (a missing setting, a GAL count of 0, too many failures)
  };
  Kind kind = Kind::Completed;
  std::string cause;        // empty for a completed run
  long temporaryRows = -1;  // rows in the temporary table after the export; -1 when not counted
  long finalRows = -1;      // rows in the final table after its build; -1 when not counted
  int failures = 0;         // failures the recovery handler dealt with
  long shortenedProxyLists = 0;  // rows whose proxy-address list was cut at its bound
  int exitCode = 0;         // Ended: the exit status the process ends with
  std::vector<FollowOnOutcome> followOn;  // the contact jobs that ran, and how they ended
};

// The lock file in the Corvane home that a run holds from start to end
// (the service's runs and corvane-run's), so only one runs at a time.
inline constexpr const char* kRunLockName = "run.lock";

// What the run works with besides its context. Empty members take the
// defaults: libCorvane.so beside the program, the desktop shell, and
// follow-on jobs that do nothing. Each program builds its own set
// (StandardUpdateRunHooks, then contacts::InstallContactJobs).
struct UpdateRunHooks {
  GalLibrary* library = nullptr;
  shell::Shell* shell = nullptr;
  // The follow-on jobs after a successful export: the distribution-list
  // import, the local contacts export and the public-folder contact sync.
  std::function<void(ExportContext&)> ImportDL;
  std::function<void(ExportContext&)> ExportLocalContacts;
  std::function<void(ExportContext&)> SyncPublicFolderContacts;
  // For people watching a run: the phase entered, and rows done in the
  // long phases ("address parse", "final table"), the phase's last count
  // with `final` true.
  std::function<void(const std::string& phase)> OnPhase;
  std::function<void(const std::string& phase, long rows, bool final)> OnProgress;
  // Called once when a run ends, however it ends (before an
  // EndServiceProcess leaves UpdateGAL); not for a call turned away.
  std::function<void(const RunOutcome&)> OnOutcome;
  // The final table's record (final_table_record.h): the mark of a build
  // under way and the rows of the last completed one. Empty: none is kept,
  // and the deletion threshold measures against the published table.
  std::filesystem::path finalTableRecord;
};

// The hooks of a program that runs exports: the distribution-list import,
// and the final table's record in the Corvane home.
UpdateRunHooks StandardUpdateRunHooks();

// Runs one export on w; `run` is the caller's run state (a call while a
// run is under way is turned away). `result` is set true when the run reaches its end
// (or is turned away because another run is active) and false when it
// failed: after the recovery of a database failure, and when the export was
// cut short or the final table could not be built in full (an error event
// names the cause; "LastSuccessfulRun" is not saved). Throws
// EndServiceProcess where the service must end (missing settings, a GAL
// count of 0, too many failures, a stop request at a yield).
void UpdateGAL(ExportContext& w, RunState& run, bool& result, UpdateRunHooks& hooks);

}  // namespace corvane::service
