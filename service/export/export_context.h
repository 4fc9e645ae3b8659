// What an update run and its follow-on jobs work with: the collaborators
// (run log, the service's control channel, clock, yield, connection
// factory), the settings the run was started with, and the database state
// of the run in progress. The service host and corvane-run each build one
// and hand it to UpdateGAL; the run state (running, stop requested) stays
// theirs (RunState).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ado/ado.h"
#include "platform/ntservice/service_control.h"
#include "service/core/clock.h"
#include "service/core/run_log.h"
#include "service/core/service_ending.h"
#include "service/parameters/column_switches.h"
#include "service/parameters/startup_settings.h"

namespace corvane::service {

class DatabaseDialect;

// How a follow-on job of the run in progress ended, for the record of the
// run (last-run.json) and `corvane-run --status`.
struct FollowOnOutcome {
  enum class Kind { Completed, Partial, Failed };
  std::string job;  // "local contacts export", "public-folder contact sync"
  Kind kind = Kind::Completed;
  std::string detail;  // what went wrong; empty when it completed
};

// Whether a run is under way, owned by whoever starts runs (the service
// host, corvane-run). A schedule check that comes while a run yields
// (RunInProgress) starts none; a call of UpdateGAL during a run
// (isrunning) is turned away; StopRequested makes the next yield end the
// run (the owner's DoEvents throws EndServiceProcess).
struct RunState {
  bool RunInProgress = false;
  bool isrunning = false;
  bool StartupRunDone = false;  // a run has completed since the start (the "on start-up" schedule)
  bool StopRequested = false;
};

struct ExportContext {
  ExportContext(RunLog& log, ntservice::ServiceControl& control, const Clock& clk, std::function<void()> doEvents)
      : runLog(log), NTService1(control), clock(clk), DoEvents(std::move(doEvents)) {}
  ExportContext(const ExportContext&) = delete;
  ExportContext& operator=(const ExportContext&) = delete;

  // Collaborators.
  RunLog& runLog;
  ntservice::ServiceControl& NTService1;  // the settings, events and service requests
  const Clock& clock;
  // Lets the owner's event loop process pending requests once; throws
  // EndServiceProcess once a stop is requested (see service_ending.h).
  std::function<void()> DoEvents;
  // Creates the database connections of the run (tests swap it).
  std::function<std::unique_ptr<ado::Connection>()> NewConnection = [] { return ado::CreateConnection(); };

  // The settings of the process (UseStartupSettings, and the command line).
  bool DebugMode = false;    // the run stops at its first trapped error
  bool FileLogging = false;  // a log file is written ("-log", "-dlog")
  bool DOS = false;
  bool DistList = false;
  int16_t ToDoCount = 0;
  int16_t NoExtraEvents = 0;
  int16_t NoParse = 0;
  int16_t NoSMTP = 0;
  std::string connectionstring;
  std::string TempTableName = "TEMP_GAL";
  std::string TableName = "GAL";
  std::string DistListFile;
  parameters::ColumnSelection chkDBFields{};  // the 44 column switches, read at each run

  // The run in progress.
  // The follow-on jobs that ran (the jobs add to it, the update run
  // empties it when it starts).
  std::vector<FollowOnOutcome> FollowOnOutcomes;
  std::unique_ptr<ado::Connection> ServiceConnection;
  // Chosen by the update run once its connection is open (see
  // database_dialect.h); empty before.
  std::shared_ptr<const DatabaseDialect> Dialect;
  // The refusals this run's fixed statements met that the database is known
  // to give (xSQL adds them; the run reports them in one line at its end).
  std::vector<std::string> ExpectedRefusals;

  void WriteLog(const std::string& message, LogPriority priority = LogPriority::Info) {
    runLog.WriteLog(message, priority);
  }
  std::string GetSetting(const std::string& key, const std::string& defaultValue) {
    return NTService1.GetSetting("Parameters", key, defaultValue);
  }
  void SaveSetting(const std::string& key, const std::string& value) { NTService1.SaveSetting("Parameters", key, value); }
  void LogEvent(int16_t type, int32_t id, const std::string& text) { NTService1.LogEvent(type, id, text); }
  // Takes the run's settings (switches, tables, follow-on list, connection
  // string) from the snapshot read at start-up.
  void UseStartupSettings(const parameters::StartupSettings& settings);
  // The parameters key as ReadStartupSettings reads it.
  parameters::SettingReader SettingReader() {
    return [this](const std::string& name, const std::string& defaultText) { return GetSetting(name, defaultText); };
  }
  // "now" in the system's default form, e.g. "12/7/2026 10:05:03 AM".
  std::string Now() const;
};

}  // namespace corvane::service
