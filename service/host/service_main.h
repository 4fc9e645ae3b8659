// The state of the service program's one window, `ServiceMain`, and the
// collaborators handed to it. Every procedure of the service (start-up,
// scheduler, update run, database procedures, passes) works on this state,
// as the original form's procedures worked on the form's fields.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ado/ado.h"
#include "platform/ntservice/service_control.h"
#include "service/host/clock.h"
#include "service/host/parameters/column_switches.h"
#include "service/host/parameters/startup_settings.h"
#include "service/host/run_log.h"

namespace corvane::service {

class DatabaseDialect;

// Exit statuses of the endings by design; a restart cannot help with
// either, so the systemd unit lists both in RestartPreventExitStatus.
inline constexpr int kExitMissingSetting = 78;  // EX_CONFIG: connection string, mailbox, server, profile or table name
inline constexpr int kExitEndedByDesign = 69;   // EX_UNAVAILABLE: a GAL count of 0, or 1000 failures in a run

// Thrown where the service process must end (a missing setting, a GAL count
// of 0, too many failures) and by the run's yield (DoEvents) once a stop is
// requested. The host catches it, closes the log file and exits with
// `exitCode`.
//
// It deliberately does not derive from std::exception: the many
// `catch (const std::exception&)` that skip a failed step, row or job let
// it through, so an ending or a stop always reaches the top of the run.
// Keep it so, and keep `catch (...)` off the paths that can yield (the
// steps, passes and follow-on jobs of a run); where one is unavoidable it
// must rethrow.
struct EndServiceProcess {
  std::string reason;
  int exitCode = 1;
};

// How a follow-on job of the run in progress ended, for the record of the
// run (last-run.json) and `corvane-run --status`.
struct FollowOnOutcome {
  enum class Kind { Completed, Partial, Failed };
  std::string job;  // "local contacts export", "public-folder contact sync"
  Kind kind = Kind::Completed;
  std::string detail;  // what went wrong; empty when it completed
};

struct ServiceMain {
  ServiceMain(RunLog& log, ntservice::ServiceControl& control, const Clock& clk, std::function<void()> doEvents)
      : runLog(log), NTService1(control), clock(clk), DoEvents(std::move(doEvents)) {}

  // Collaborators.
  RunLog& runLog;
  ntservice::ServiceControl& NTService1;
  const Clock& clock;
  std::function<void()> DoEvents;  // let the window process pending messages once
  // Creates the database connections of the service (tests swap it).
  std::function<std::unique_ptr<ado::Connection>()> NewConnection = [] { return ado::CreateConnection(); };

  // Process-wide state.
  bool DebugMode = false;
  bool FileLogging = false;
  bool RunInProgress = false;
  bool StartupRunDone = false;
  bool isrunning = false;
  bool StopRequested = false;
  bool DOS = false;
  bool DistList = false;
  int16_t ToDoCount = 0;
  int16_t NoExtraEvents = 0;
  int16_t NoParse = 0;
  int16_t NoSMTP = 0;
  int16_t ScheduleType = 9;
  int16_t TickCount = 0;
  std::string connectionstring;
  std::string TempTableName = "TEMP_GAL";
  std::string TableName = "GAL";
  std::string DistListFile;
  // The follow-on jobs that ran in the run in progress (the jobs add to
  // it, the update run empties it when it starts).
  std::vector<FollowOnOutcome> FollowOnOutcomes;

  // Database state (set by the update run).
  std::unique_ptr<ado::Connection> ServiceConnection;
  // Chosen by the update run once its connection is open (see
  // service/export/database_dialect.h); empty before.
  std::shared_ptr<const DatabaseDialect> Dialect;
  // The refusals this run's fixed statements met that the database is known
  // to give (xSQL adds them; the run reports them in one line at its end).
  std::vector<std::string> ExpectedRefusals;

  // Controls.
  std::string lblversion;
  std::string lblstatus;
  std::string Label1;
  parameters::ColumnSelection chkDBFields{};  // values of the 44 column boxes

  // Helpers over the collaborators.
  void WriteLog(const std::string& message, LogPriority priority = LogPriority::Info) {
    runLog.WriteLog(message, priority);
  }
  std::string GetSetting(const std::string& key, const std::string& defaultValue) {
    return NTService1.GetSetting("Parameters", key, defaultValue);
  }
  void SaveSetting(const std::string& key, const std::string& value) { NTService1.SaveSetting("Parameters", key, value); }
  void LogEvent(int16_t type, int32_t id, const std::string& text) { NTService1.LogEvent(type, id, text); }
  // Takes the start-up values (switches, tables, schedule kind, follow-on
  // list, connection string) from the snapshot read at start-up.
  void UseStartupSettings(const parameters::StartupSettings& settings);
  // The parameters key as ReadStartupSettings reads it.
  parameters::SettingReader SettingReader() {
    return [this](const std::string& name, const std::string& defaultText) { return GetSetting(name, defaultText); };
  }
  // "now" in the system's default form, e.g. "12/7/2026 10:05:03 AM".
  std::string Now() const;
};

}  // namespace corvane::service
