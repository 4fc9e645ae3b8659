// CorvaneService: the service program. It reads its settings, handles its
// command line and then runs its Timer on the event loop until systemd (or
// the person who started it) stops it, or an update run ends the process.
#include <filesystem>
#include <system_error>

#include "platform/ntservice/event_loop.h"
#include "platform/ntservice/standard_error.h"
#include "platform/ntservice/systemd_service_control.h"
#include "platform/registry/registry.h"
#include "service/contacts/contact_jobs.h"
#include "service/export/update_run.h"
#include "service/host/clock.h"
#include "service/host/run_log.h"
#include "service/host/service_host.h"
#include "service/host/service_main.h"

namespace {

using namespace corvane;

std::filesystem::path ProgramFolder() {
  std::error_code ec;
  return std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
}

}  // namespace

int main(int argc, char** argv) {
  service::StartupOptions options;
  options.commandLine = service::CommandLine(argc, argv);  // before the loop sees argv
  options.programFolder = ProgramFolder();
  options.home = registry::CorvaneHome();
  options.computerName = service::ComputerName();

  ntservice::EventLoop loop(argc, argv);
  service::SystemClock clock;
  service::RunLog runLog(clock);
  // Warnings and errors of the run log also go to standard error, which the
  // journal files at their priority: `journalctl -u` shows why a run failed.
  runLog.OnAlert = [](service::LogPriority priority, const std::string& message) {
    ntservice::WriteStandardError(static_cast<int>(priority), message);
  };
  ntservice::SystemdServiceControl control(ntservice::SystemdSettings::FromEnvironment());
  service::ServiceMain w(runLog, control, clock, {});
  auto timer = loop.CreateTimer(service::kBuiltTimerInterval);
  service::contacts::InstallContactJobs(service::DefaultUpdateRunHooks());
  service::ServiceHost host(w, *timer, [](service::ServiceMain& m, bool& result) { service::UpdateGAL(m, result); });
  host.RequestExit = [&loop](int exitCode) { loop.Quit(exitCode); };
  w.DoEvents = host.GuardedDoEvents(loop.ProcessPendingOnce());

  int exitCode = 0;
  if (auto early = host.Startup(options)) {
    exitCode = *early;
  } else {
    exitCode = loop.Run();
  }
  host.Unload();
  return exitCode;
}
