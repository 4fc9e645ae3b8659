// The update run: one complete export of the global address list into the
// configured database (UpdateGAL), with its recovery handler.
#pragma once

#include <functional>
#include <string>

#include "service/host/service_main.h"

namespace corvane::shell {
class Shell;
}

namespace corvane::service {

class GalLibrary;

// What the run works with besides the window. Empty members take the
// defaults: libCorvane.so beside the program, the desktop shell, and
// follow-on jobs that do nothing (the programs set the contact jobs with
// contacts::InstallContactJobs; the distribution list is the export's own).
struct UpdateRunHooks {
  GalLibrary* library = nullptr;
  shell::Shell* shell = nullptr;
  // The follow-on jobs after a successful export: the distribution-list
  // import, the local contacts export and the public-folder contact sync.
  std::function<void(ServiceMain&)> ImportDL;
  std::function<void(ServiceMain&)> ExportLocalContacts;
  std::function<void(ServiceMain&)> SyncPublicFolderContacts;
  // For people watching a run: the phase entered, and rows done in the
  // long phases ("address parse", "final table"), the phase's last count
  // with `final` true.
  std::function<void(const std::string& phase)> OnPhase;
  std::function<void(const std::string& phase, long rows, bool final)> OnProgress;
};

// The hooks UpdateGAL(w, result) uses; the host sets the follow-on jobs here.
UpdateRunHooks& DefaultUpdateRunHooks();

// Runs one export on w. `result` is set true when the run reaches its end
// (or is turned away because another run is active) and false after the
// recovery of a database failure. Throws EndServiceProcess where the
// service must end (missing settings, a GAL count of 0, too many failures).
void UpdateGAL(ServiceMain& w, bool& result);
void UpdateGAL(ServiceMain& w, bool& result, UpdateRunHooks& hooks);

}  // namespace corvane::service
