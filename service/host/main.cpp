// CorvaneService: the service program. It reads its settings, handles its
// command line and then runs its Timer on the event loop until systemd (or
// the person who started it) stops it, or an update run ends the process.
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <fmt/format.h>

#include "platform/ntservice/event_loop.h"
#include "platform/ntservice/standard_error.h"
#include "platform/ntservice/lock_file.h"
#include "platform/ntservice/systemd_service_control.h"
#include "platform/ntservice/systemd_status.h"
#include "platform/registry/registry.h"
#include "service/contacts/contact_jobs.h"
#include "service/export/update_run.h"
#include "service/core/clock.h"
#include "service/host/program_info.h"
#include "service/core/run_log.h"
#include "service/host/run_record.h"
#include "service/host/service_host.h"
#include "service/host/service_main.h"

namespace {

using namespace corvane;

constexpr const char* kUsage =
    "usage: CorvaneService [-install | -uninstall | -debug | -log | -dlog]\n"
    "The Tarnwick Corvane Service: copies the global address list into a SQL\n"
    "database on the schedule set in the parameters of the Corvane home\n"
    "($CORVANE_HOME, default /var/lib/corvane). systemd starts it without an option.\n"
    "  -install    write the systemd unit into $CORVANE_UNIT_DIR (default\n"
    "              /etc/systemd/system) and store TimerInterval, ConnectionString\n"
    "              and MailProfile\n"
    "  -uninstall  remove that unit; the settings stay\n"
    "  -debug      run in the foreground; a run stops at its first trapped error;\n"
    "              events are echoed to standard error\n"
    "  -log        run with the log file corvane.log (beside the program, else in\n"
    "              the home), checking the schedule every 10 seconds at once\n"
    "  -dlog       -log and the echo of -debug\n"
    "Every option needs a configured ConnectionString (corvane-reg, CorvaneWizard).\n"
    "Exit status: 0 done or stopped; 1 failed (install, uninstall, unreadable\n"
    "settings); 64 invalid option; 69 ended by design (no address-list entries,\n"
    "1000 failures in a run); 75 another CorvaneService runs on the home; 78 a\n"
    "required setting is missing.\n"
    "See CorvaneService(8), corvane-parameters(5), corvane-run(1).\n";

std::filesystem::path ProgramFolder() {
  std::error_code ec;
  return std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
}

// The home's run lock for the runs of one schedule check.
std::shared_ptr<void> TryRunLock(const std::filesystem::path& lockFile, std::string& why) {
  pid_t holder = 0;
  try {
    if (auto lock = ntservice::LockFile::TryLock(lockFile, &holder)) return lock;
    why = fmt::format("Another run (process {}) holds {}: no run at this check", holder, lockFile.string());
  } catch (const std::exception& e) {
    why = fmt::format("No run at this check: {}", e.what());
  }
  return nullptr;
}

// For tests only: $CORVANE_TEST_FIRST_TICK_MS, a number of milliseconds,
// brings the Timer's first tick forward from one interval (10 seconds) to
// that delay, so the tests of the program as a process need not wait for
// it. Unset (or not a number): -1, the first tick after one interval.
int FirstTickForTests() {
  const char* text = std::getenv("CORVANE_TEST_FIRST_TICK_MS");
  if (text == nullptr) return -1;
  int milliseconds = -1;
  const char* end = text + std::strlen(text);
  const auto [at, ec] = std::from_chars(text, end, milliseconds);
  return ec == std::errc() && at == end && milliseconds >= 0 ? milliseconds : -1;
}

}  // namespace

int main(int argc, char** argv) {
  // Answered before the options table, without touching the home.
  if (auto answered = service::AnswerHelpOrVersion(argc, argv, "CorvaneService", kUsage)) return *answered;
  service::StartupOptions options;
  options.commandLine = service::CommandLine(argc, argv);  // before the loop sees argv
  options.programFolder = ProgramFolder();
  options.home = registry::CorvaneHome();
  options.computerName = service::ComputerName();

  // One service per home: a second one would write into the same tables
  // (and replace the first one's log file).
  std::unique_ptr<ntservice::LockFile> instance;
  if (service::StartsTheService(options.commandLine)) {
    const auto lockFile = options.home / service::kServiceLockName;
    pid_t holder = 0;
    try {
      instance = ntservice::LockFile::TryLock(lockFile, &holder);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s\n", e.what());
      return service::kExitFailure;
    }
    if (!instance) {
      std::fprintf(stderr, "CorvaneService already runs on %s (process %d, %s): this one does not start\n",
                   options.home.c_str(), static_cast<int>(holder), lockFile.c_str());
      return service::kExitLocked;
    }
  }

  ntservice::EventLoop loop(argc, argv);
  service::SystemClock clock;
  service::RunLog runLog(clock);
  // Warnings and errors of the run log also go to standard error, which the
  // journal files at their priority: `journalctl -u` shows why a run failed.
  runLog.OnAlert = [](service::LogPriority priority, const std::string& message) {
    ntservice::WriteStandardError(static_cast<int>(priority), message);
  };
  auto settings = ntservice::SystemdSettings::FromEnvironment();
  ntservice::SystemdServiceControl control(settings);
  service::ServiceMain w(runLog, control, clock, loop.ProcessPendingOnce());
  auto timer = loop.CreateTimer(service::kBuiltTimerInterval, FirstTickForTests());
  // The run's follow-on jobs: the distribution list and the contact jobs.
  service::UpdateRunHooks hooks = service::StandardUpdateRunHooks();
  service::contacts::InstallContactJobs(hooks);
  // Each run's outcome is recorded in the home once the check's bookkeeping
  // is done (a one-time run has cleared OneTime by then).
  std::time_t runStart = 0;
  std::optional<service::RunOutcome> finished;
  // `systemctl status` shows what the service is doing: the run's phase,
  // then how the last run ended.
  hooks.OnPhase = [](const std::string& phase) { ntservice::PublishStatus("Update In Progress: " + phase); };
  hooks.OnOutcome = [&finished](const service::RunOutcome& o) {
    finished = o;
    ntservice::PublishStatus(o.kind == service::RunOutcome::Kind::Completed ? "Done" : "Not Running: " + o.cause);
  };
  service::ServiceHost host(w, *timer, [&runStart, &clock, &hooks](service::ServiceMain& m, bool& result) {
    runStart = clock.Now();
    service::UpdateGAL(m, m.run, result, hooks);
  });
  host.AfterRuns = [&] {
    if (!finished) return;
    const bool ends = finished->kind == service::RunOutcome::Kind::Ended ||
                      finished->kind == service::RunOutcome::Kind::Stopped;
    service::RecordRun(w, "CorvaneService", runStart, *finished, ends);
    finished.reset();
  };
  const auto runLock = options.home / service::kRunLockName;
  host.TryRunLock = [&runLock](std::string& why) { return TryRunLock(runLock, why); };
  host.RequestExit = [&loop](int exitCode) { loop.Quit(exitCode); };

  int exitCode = 0;
  if (auto early = host.Startup(options)) {
    exitCode = *early;
  } else {
    exitCode = loop.Run();
  }
  host.Unload();
  return exitCode;
}
