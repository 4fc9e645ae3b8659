// The service program around its state (service_main.h): start-up (settings, command
// line, log file), the Timer's schedule check, and the handlers of the
// service requests. Plain code: the service control, the Timer, the clock
// and the update run are handed in.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/ntservice/timer.h"
#include "service/host/service_main.h"

namespace corvane::service {

inline constexpr int kVersionMajor = 4;
inline constexpr int kVersionMinor = 1;
inline constexpr int kBuiltTimerInterval = 10000;  // milliseconds

// Exit statuses of the service program besides 0 (done) and the ones the
// update run ends the process with.
inline constexpr int kExitFailure = 1;        // install/uninstall failed, settings unreadable
inline constexpr int kExitUsage = 64;         // invalid command option
inline constexpr int kExitNotConfigured = kExitMissingSetting;  // no connection string
inline constexpr int kExitLocked = 75;        // another CorvaneService runs on the same home

// The lock file in the Corvane home that a running CorvaneService holds.
inline constexpr const char* kServiceLockName = "service.lock";

inline constexpr const char* kInvalidOption =
    "Invalid command option. Available options are -install, -uninstall, -debug, -log, -dlog";
inline constexpr const char* kNoConnectString =
    "[99999] No ConnectString Information. The Corvane Service may be installed, but not configured. Please "
    "configure it using the Corvane Wizard (CorvaneWizard.exe)";
inline constexpr const char* kStartedEvent = "Service Started. Run the Corvane Wizard to configure the service. ";

// One update run (UpdateGAL): may throw EndServiceProcess.
using UpdateRun = std::function<void(ServiceMain& w, bool& result)>;

struct StartupOptions {
  std::string commandLine;              // the arguments after the program name, joined by blanks
  std::filesystem::path programFolder;  // where "corvane.log" goes when it can be written there
  std::filesystem::path home;           // the Corvane home: the log file's second place
  std::string computerName;             // for the start-up log line
};

// The arguments after the program name as one string, as the command-line
// table compares them.
std::string CommandLine(int argc, char** argv);
// $COMPUTERNAME, else the host name.
std::string ComputerName();
// Whether the command line starts the service (no option, "-debug", "-log",
// "-dlog") rather than ending in start-up (install, uninstall, invalid).
bool StartsTheService(const std::string& commandLine);

class ServiceHost {
 public:
  // w.DoEvents, the loop's "process pending messages once", is guarded
  // from here on (GuardedDoEvents).
  ServiceHost(ServiceMain& w, ntservice::Timer& timer, UpdateRun run);
  ServiceHost(const ServiceHost&) = delete;
  ServiceHost& operator=(const ServiceHost&) = delete;

  // Start-up in its fixed order. Returns the exit status when the process
  // ends here (install, uninstall, invalid option, no connection string),
  // nullopt when the service goes on with its Timer.
  std::optional<int> Startup(const StartupOptions& options);

  // The Timer's handler: one schedule check. Never throws: where the run
  // ends the process, the exit status is recorded and RequestExit called.
  void Tick();

  // Handlers of the service requests.
  void OnStart(bool& success);
  void OnPause(bool& success);
  void OnContinue(bool& success);
  void OnStop();

  // The program ends: the log file is closed.
  void Unload();

  // Wraps the loop's "process pending messages once" for the run: after
  // a stop request (or once the process is ending) it throws
  // EndServiceProcess, so a run ends after its current statement.
  std::function<void()> GuardedDoEvents(std::function<void()> processPendingOnce);

  // Takes the Corvane home's run lock for the runs of one check; nullptr,
  // with the reason in `why`, when another process holds it (the check then
  // starts no run). Unset: runs take no lock.
  std::function<std::shared_ptr<void>(std::string& why)> TryRunLock;

  // Called after the runs of a check and the schedule's bookkeeping, and
  // when a run ends the process; unset: nothing.
  std::function<void()> AfterRuns;

  // Set once the process must end; RequestExit is called with it.
  std::optional<int> exitCode() const { return exitCode_; }
  std::function<void(int exitCode)> RequestExit;

  // Where "-log"/"-dlog" put the log file (empty when it could not be created).
  const std::filesystem::path& logFilePath() const { return logFilePath_; }

 private:
  void OpenLogFile(const StartupOptions& options);
  void StartLogging(const StartupOptions& options, const char* option);
  void CheckSchedule();
  void CheckFailed(const std::string& what);
  void StartRun();
  void EndProcess(const EndServiceProcess& end);

  ServiceMain& w_;
  ntservice::Timer& timer_;
  UpdateRun run_;
  std::optional<int> exitCode_;
  std::filesystem::path logFilePath_;
  int tickDepth_ = 0;
  bool firstCheckDone_ = false;  // a check of this process has got past the run lock
};

}  // namespace corvane::service
