#include "service/export/update_run.h"

#include <fmt/format.h>
#include <unistd.h>

#include <charconv>
#include <optional>

#include "platform/mapi/ldap_settings.h"
#include "platform/registry/registry.h"
#include "platform/shell/shell.h"
#include "service/export/address_parse.h"
#include "service/export/connection_string.h"
#include "service/export/database.h"
#include "service/export/database_dialect.h"
#include "service/export/final_table.h"
#include "service/export/final_table_record.h"
#include "service/export/final_table_swap.h"
#include "service/export/gal_library.h"
#include "service/export/import_dl.h"
#include "service/export/profile_check.h"
#include "service/export/shrink_threshold.h"
#include "service/export/run_recovery.h"
#include "service/export/schema.h"
#include "service/parameters/parameters.h"

namespace corvane::service {
namespace {

using ntservice::EVENTLOG_ERROR_TYPE;
using ntservice::EVENTLOG_INFORMATION_TYPE;

constexpr int32_t kEventInfo = 110;
constexpr int32_t kEventError = 109;
constexpr int32_t kErrTypeMismatch = 13;
constexpr int kFailureLimit = 1000;

// The run's on/off parameters: "1" or a Boolean true ("True", "-1").
bool On(const std::string& text) { return text == "1" || parameters::ToBoolean(text).value_or(false); }
// "chkcontacts0"/"chkcontacts1": on when the text is the number 1.
bool IsOne(const std::string& text) { return parameters::ToInt32(text) == 1; }

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(' ');
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

bool LaterDay(std::time_t now, std::time_t first) {
  auto a = parameters::ToDateTime(now), b = parameters::ToDateTime(first);
  return std::tie(a.year, a.month, a.day) > std::tie(b.year, b.month, b.day);
}

class Run : public Recovery {
 public:
  Run(ExportContext& w, RunState& run, bool& result, UpdateRunHooks& hooks, GalLibrary& library, shell::Shell& shell)
      : w_(w), run_(run), result_(result), hooks_(hooks), library_(library), shell_(shell) {}

  void Execute() {
    try {
      Steps();
    } catch (const RunOver& over) {
      if (outcome_.cause.empty()) outcome_.cause = over.failure.Description;
      AnnounceIncompleteFinalTable("the run failed while the table was being built: " + outcome_.cause);
      EndAfterDatabaseFailure();
      Report(RunOutcome::Kind::Failed);
      return;
    } catch (const EndServiceProcess& end) {
      const bool stopped = run_.StopRequested;
      outcome_.exitCode = end.exitCode;
      if (outcome_.cause.empty()) outcome_.cause = stopped ? "the run was stopped" : end.reason;
      AnnounceIncompleteFinalTable(stopped ? "the run was stopped while the table was being built"
                                           : "the run ended while the table was being built: " + outcome_.cause);
      Report(stopped ? RunOutcome::Kind::Stopped : RunOutcome::Kind::Ended);
      throw;
    }
    if (started_) Report(RunOutcome::Kind::Completed);
  }

  bool RunRecovery(const RunFailure& failure) override {
    ++outcome_.failures;
    w_.DoEvents();
    StopInDebugMode();
    w_.WriteLog(fmt::format("{}  {}", failure.Number, failure.Description), LogPriority::Error);
    // The database branch is finished by EndAfterDatabaseFailure once the
    // passes' recordsets are closed, so the temporary table can be dropped.
    if (failure.Number == ado::adErrGeneric) return false;

    w_.LogEvent(EVENTLOG_ERROR_TYPE, kEventError, fmt::format("[{}] {}", failure.Number, failure.Description));
    if (++FailureCount == kFailureLimit) {
      w_.LogEvent(EVENTLOG_ERROR_TYPE, kEventError,
                  "Quiting... To many errors. Check configuration. " + failure.Description);
      run_.RunInProgress = false;
      throw EndServiceProcess{"too many failures in one run", kExitEndedByDesign};
    }
    std::time_t now = w_.clock.Now();
    if (!FirstFailureTime) {
      FirstFailureTime = now;
      FailureCount = 0;
    }
    if (LaterDay(now, *FirstFailureTime)) {
      FailureCount = 0;
      FirstFailureTime = now;
    }
    return true;
  }

 private:
  void Phase(const std::string& name) {
    if (hooks_.OnPhase) hooks_.OnPhase(name);
  }
  RowProgress Progress(const std::string& phase) {
    return [this, phase](long rows, bool final) {
      if (hooks_.OnProgress) hooks_.OnProgress(phase, rows, final);
    };
  }

  void StopInDebugMode() {
    if (w_.DebugMode) throw EndServiceProcess{"stopped at the first trapped error (debug mode)", 1};
  }

  void Steps() {
    // The start: a call that finds a run active is turned away.
    run_.RunInProgress = true;
    w_.WriteLog("Update GAL Started:" + w_.Now());
    if (run_.isrunning) {
      Finish();
      return;
    }
    run_.isrunning = true;
    started_ = true;
    w_.FollowOnOutcomes.clear();
    w_.ExpectedRefusals.clear();
    w_.WriteLog("isrunning = true");

    // The column boxes.
    for (int i = 0; i < parameters::kColumnBoxCount; ++i) {
      Try([&] {
        std::string name(parameters::kColumnBoxes[i].ParameterName());
        auto value = parameters::ToInt16(Setting(name, "0"));
        if (!value) throw RunError(kErrTypeMismatch, "Type mismatch");
        w_.chkDBFields[i] = *value;
      });
    }

    // The start event and the command to run before.
    if (w_.NoExtraEvents != 1)
      w_.LogEvent(EVENTLOG_INFORMATION_TYPE, kEventInfo,
                  "UpdateGAL process initiated.\rUpdateGAL has started to run at: " + w_.Now());
    if (On(Setting("RunBefore", ""))) Try([&] { OpenCommand("RunBeforeCommand"); });

    // Settings and the connection.
    w_.WriteLog("About to open ADO Objects");
    Try([&] { w_.ServiceConnection = w_.NewConnection(); });
    w_.WriteLog("Opened ADO Objects");
    std::string cs = Setting("connectionstring", "");
    if (cs.empty()) cs = "Need Connection String";
    w_.connectionstring = cs;
    std::string profile = Setting("MailProfile", "");
    // The password never reaches a log.
    w_.WriteLog("connstr:" + PasswordFreeConnectionString(cs) + "\r" + "  Mailprofile:" + profile);
    if (profile.empty()) profile = "TWCorvane";
    Save("ConnectionString", cs);
    Save("MailProfile", profile);
    w_.WriteLog("Saved Service Parameters");
    Try([&] { Connection().Open(cs, "", ""); });
    w_.WriteLog("Database Connect attempt finished");
    if (On(Setting("RunSQLBefore", ""))) LoggedSQL(w_, Setting("RunSQLBeforeCmd", ""));

    // Without a connection string, profile or temporary table the service ends.
    if (cs.empty() || profile.empty() || w_.TempTableName.empty()) {
      std::string text =
          "UpdateGAL quit, because it was missing a connectstring, a mailprofilename or a temp tablename. " + w_.Now();
      w_.LogEvent(EVENTLOG_INFORMATION_TYPE, kEventInfo, text);
      w_.WriteLog(text, LogPriority::Error);
      run_.RunInProgress = false;
      throw EndServiceProcess{"missing connection string, mail profile or temporary table name", kExitMissingSetting};
    }
    w_.DoEvents();

    // The temporary table.
    Phase("temporary table");
    w_.Dialect = std::make_shared<const DatabaseDialect>(DatabaseDialect::Probe(w_));
    const DatabaseDialect& dialect = *w_.Dialect;
    w_.WriteLog("DBtype:" + dialect.Kind());
    const OtherKindTypes types = dialect.Types();
    const auto dropFailure = droptable(w_, w_.TempTableName);
    dropconstraint(w_);
    const auto createFailure =
        xSQL(w_, "CREATE TABLE " + w_.TempTableName + dialect.TempTableColumns(w_.TableName, types));
    // The library adds rows to whatever table it finds: without a fresh one
    // the export would land on the last run's rows.
    if (createFailure) {
      FailRun("The temporary table " + w_.TempTableName + " could not be created afresh: " +
              createFailure->description + (dropFailure ? " (its drop failed: " + dropFailure->description + ")" : ""));
    }

    // The profile and the GAL count.
    w_.WriteLog("Start: " + w_.Now());
    std::string mailbox = Setting("Mailbox", "");
    std::string server = Setting("Server", "");
    if (mailbox.empty() || server.empty()) {
      w_.WriteLog("Mailbox and Server not specified.  Application Shutting Down.", LogPriority::Error);
      run_.RunInProgress = false;
      throw EndServiceProcess{"mailbox or server not specified", kExitMissingSetting};
    }
    Phase("GAL read");
    if (const std::string clear = mapi::ClearTextBindWarning(server, mapi::ReadLdapSettings()); !clear.empty())
      w_.WriteLog("Warning: " + clear, LogPriority::Warning);
    const std::string quiet = w_.FileLogging ? "FALSE" : "TRUE";
    int32_t profileResult = 0;
    int32_t galCount = 0;
    Try([&] { profileResult = library_.CreateProfileWithIProfAdmin(mailbox, server, quiet); });
    Try([&] { galCount = library_.GetGALCount(profile, quiet); });
    w_.WriteLog("Profile: " + std::to_string(profileResult));
    if (profileResult != 0) {
      if (const std::string warning = ProfileMismatchWarning(mailbox, server); !warning.empty())
        w_.WriteLog(warning, LogPriority::Warning);
    }
    w_.WriteLog("Total GAL entries: " + std::to_string(galCount));
    if (galCount == 0) EndOnEmptyGal(profileResult, mailbox, server);

    // The export: the library fills the temporary table through its own connection.
    Try([&] { Connection().Close(); });
    if (w_.FileLogging) w_.WriteLog("Review corvaneDLL.Log");
    w_.DoEvents();  // a stop that came during the count ends the run before the export
    std::optional<galreader::ExportReport> report;
    Try([&] { report = library_.ModifyStruct(cs, profile, w_.TempTableName, quiet, w_.ToDoCount); });
    w_.DoEvents();  // a stop that ended the export early ends the run here
    w_.WriteLog("DllEnd: " + w_.Now());
    Try([&] { Connection().Open(cs, "", ""); });
    CheckExport(report);

    // The passes: address parse and final table.
    if (On(Setting("RunSQLPreParse", ""))) LoggedSQL(w_, Setting("RunSQLPreParseCmd", ""));
    if (w_.NoParse != 1) {
      Phase("address parse");
      AddressParse(w_, *this, Progress("address parse"));
    }
    Phase("final table");
    const parameters::ShrinkThreshold threshold = ReadShrinkThreshold();
    ReadRecord();
    if (ReadPublishMode() == parameters::PublishMode::Swap) {
      PublishBySwap(types, threshold);
    } else {
      auto beforeDrop = [&](const std::string& expectedRowsQuery) {
        const LastComplete last = LastCompleteRows(threshold.percent.has_value());
        if (threshold.percent) CheckShrink(threshold, CountOf(expectedRowsQuery, w_.TempTableName), last, "");
        MarkBuildBegun(last);
        buildingFinalTable_ = true;  // from the drop on, the table is missing or short until checked
      };
      CheckFinalTable(BuildFinalTable(w_, *this, types, Progress("final table"), beforeDrop));
      buildingFinalTable_ = false;
    }
    RecordCompletedBuild();

    // The statements to run after.
    if (On(Setting("RunSQLAfter", ""))) {
      std::string after = Setting("RunSQLAfterCmd", "");
      if (after.find(';') != std::string::npos) {
        size_t start = 0;
        for (;;) {
          size_t end = after.find(';', start);
          LoggedSQL(w_, Trim(after.substr(start, end == std::string::npos ? std::string::npos : end - start)));
          if (end == std::string::npos) break;
          start = end + 1;
        }
      } else {
        LoggedSQL(w_, after);
      }
    }

    // The follow-on jobs: from here a failing step is skipped.
    Phase("follow-on jobs");
    Ignore([&] {
      if (w_.ServiceConnection && w_.ServiceConnection->State() == ado::adStateOpen) w_.ServiceConnection->Close();
    });
    w_.ServiceConnection.reset();
    Ignore([&] {
      if (w_.NoExtraEvents != 1)
        w_.LogEvent(EVENTLOG_INFORMATION_TYPE, kEventInfo, "UpdateGAL process finished.\rUpdateGAL has ended at: " + w_.Now());
    });
    Ignore([&] {
      w_.SaveSetting("LastSuccessfulRun", parameters::FormatStoredDateTime(parameters::ToDateTime(w_.clock.Now())));
    });
    Ignore([&] {
      if (!w_.DistList) return;
      w_.WriteLog("createdistlist");
      FollowOn("ImportDL", hooks_.ImportDL);
    });
    std::string contacts0, contacts1;
    Ignore([&] {
      contacts0 = w_.GetSetting("chkcontacts0", "");
      contacts1 = w_.GetSetting("chkcontacts1", "");
    });
    Ignore([&] {
      if (!IsOne(contacts0)) return;
      w_.WriteLog("Creating Local Contacts: " + w_.Now());
      if (hooks_.ExportLocalContacts) hooks_.ExportLocalContacts(w_);
      w_.WriteLog("Local Contacts Done: " + w_.Now());
    });
    Ignore([&] {
      if (!IsOne(contacts1)) return;
      w_.WriteLog("Creating PF Contacts: " + w_.Now());
      if (hooks_.SyncPublicFolderContacts) hooks_.SyncPublicFolderContacts(w_);
      w_.WriteLog("PF Contacts Done: " + w_.Now());
    });
    Ignore([&] {
      if (On(w_.GetSetting("RunAfter", ""))) OpenCommand("RunAfterCommand");
    });
    run_.isrunning = false;
    run_.StartupRunDone = true;
    Finish();
  }

  // A follow-on job that fails is skipped with the rest of its step, as
  // every step from here is; the run log says which job failed and why
  // (the contact jobs write their own failure lines).
  void FollowOn(const char* job, const std::function<void(ExportContext&)>& hook) {
    if (!hook) return;
    try {
      hook(w_);
    } catch (const std::exception& e) {
      w_.WriteLog(fmt::format("{} failed: {}", job, e.what()), LogPriority::Warning);
      throw;
    }
  }

  // The end of a run that did not fail.
  void Finish() {
    run_.RunInProgress = false;
    result_ = true;
  }

  // Parameters read and written through the recovery: an unreadable
  // store is a failure of the step, and the run goes on with the default.
  std::string Setting(const std::string& name, const std::string& defaultValue) {
    std::string value = defaultValue;
    Try([&] { value = w_.GetSetting(name, defaultValue); });
    return value;
  }
  void Save(const std::string& name, const std::string& value) {
    Try([&] { w_.SaveSetting(name, value); });
  }

  void OpenCommand(const std::string& parameter) {
    std::string command = w_.GetSetting(parameter, "");
    w_.WriteLog(parameter + ": " + command);
    shell_.ShellOpen(command);  // not waited for; its outcome is not ours
  }

  void EndOnEmptyGal(int32_t profileResult, const std::string& mailbox, const std::string& server) {
    // A count of 0 is also what a directory that cannot be read gives: the
    // ending names the directory layer's reason where it gave one.
    std::string reason = "the global address list has no entries";
    if (const std::string cause = library_.LastFailure(); !cause.empty()) {
      w_.WriteLog("The directory could not be read: " + cause, LogPriority::Error);
      reason = "the directory could not be read: " + cause;
    }
    if (w_.FileLogging && profileResult != 0) {
      w_.NTService1.MsgBox("No entries read from the Global Address List.\r\rMail profile 'TWCorvane' already exists or "
                           "could not be created using " +
                               mailbox + " " + server +
                               ".\r\rCheck the mail profile named TWCorvane and ensure that Exchange Server, Username "
                               "and Password are correct and can access exchange. Exiting",
                           "Global Address List entry count is zero");
      run_.RunInProgress = false;
      w_.NTService1.StopService();
      throw EndServiceProcess{reason, kExitEndedByDesign};
    }
    if (w_.FileLogging) {
      w_.NTService1.MsgBox("# of entries read from GAL is 0.  Ending.", "Corvane");
      run_.RunInProgress = false;
      throw EndServiceProcess{reason, kExitEndedByDesign};
    }
    std::string text = "Unable to use the specified server (" + server + ") and mailbox (" + mailbox +
                       ") to read the global address list or no GAL entries found.\r\r Check that a MAPI Client (like "
                       "Microsoft Outlook) is installed and that the Corvane service account has permission to the "
                       "server and mailbox. \r The Service will now be stopped:" +
                       w_.Now();
    w_.LogEvent(EVENTLOG_INFORMATION_TYPE, kEventInfo, text);
    w_.WriteLog(text, LogPriority::Error);
    w_.NTService1.StopService();
    run_.RunInProgress = false;
    throw EndServiceProcess{reason, kExitEndedByDesign};
  }

  // A failed run: an error event and a log line name the cause, and the
  // run ends as after a database failure ("LastSuccessfulRun" not saved).
  [[noreturn]] void FailRun(const std::string& cause) {
    w_.LogEvent(EVENTLOG_ERROR_TYPE, kEventError, cause);
    w_.WriteLog(cause);
    outcome_.cause = cause;
    throw RunOver{{ado::adErrGeneric, cause}};
  }

  // The number a count query answers; the run fails when it cannot be read.
  long CountOf(const std::string& query, const std::string& table) {
    std::string why = "no result";
    try {
      auto rs = Connection().Execute(query);
      if (rs->State() == ado::adStateOpen && !rs->IsEOF()) {
        const std::string value = rs->GetValue(0).value_or("");
        rs->Close();
        long n = 0;
        const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), n);
        if (error == std::errc() && end == value.data() + value.size()) return n;
        why = "not a number: " + value;
      }
    } catch (const ado::AdoError& e) {
      why = e.Description;
    }
    FailRun("The rows of " + table + " could not be counted: " + why);
  }

  // The export must have read the whole address list, and the temporary
  // table must hold exactly the rows the library wrote: a read that broke
  // off, or rows of an earlier run, would otherwise be published.
  void CheckExport(const std::optional<galreader::ExportReport>& report) {
    using State = galreader::ExportReport::State;
    const std::string& temp = w_.TempTableName;
    if (!report)
      FailRun(fmt::format("The GAL export left no report in {}: the temporary table {} cannot be trusted",
                          galreader::kExportControlName, temp));
    if (report->state == State::Stopped)
      FailRun(fmt::format("The GAL export was stopped after {} of {} entries", report->read, report->count));
    if (report->state == State::CutShort)
      FailRun(fmt::format("The GAL export was cut short after {} of {} entries: {}", report->read, report->count,
                          report->cause));
    outcome_.temporaryRows = CountOf("select count(*) from " + temp, temp);
    if (outcome_.temporaryRows != report->written)
      FailRun(fmt::format("The temporary table {} holds {} rows where the GAL export wrote {}", temp,
                          outcome_.temporaryRows, report->written));
    w_.WriteLog(fmt::format("GAL export: {} of {} entries read, {} rows written, {} left out by the row rules",
                            report->read, report->count, report->written, report->leftOut));
    outcome_.shortenedProxyLists = report->shortened;
    if (report->shortened > 0)
      w_.WriteLog(fmt::format("GAL export: {} {} more proxy addresses than fit in {} characters; the addresses past "
                              "the bound are not in EMS_AB_PROXY_ADDRESSES nor the distribution list (the library's "
                              "debug log names the entries)",
                              report->shortened, report->shortened == 1 ? "entry has" : "entries have",
                              galreader::kProxyAddressListLimit));
  }

  // "PublishMode": an unknown text keeps the table's rebuild in place, and says so.
  parameters::PublishMode ReadPublishMode() {
    const std::string text = Setting("PublishMode", "");
    if (auto mode = parameters::ToPublishMode(text)) return *mode;
    w_.WriteLog("PublishMode \"" + text + "\" is not known (empty or swap): the final table is rebuilt in place",
                LogPriority::Warning);
    return parameters::PublishMode::Rebuild;
  }

  // "MaxShrinkPercent": a threshold that cannot be read publishes nothing,
  // as a threshold that is exceeded.
  parameters::ShrinkThreshold ReadShrinkThreshold() {
    const std::string text = Setting("MaxShrinkPercent", "");
    const parameters::ShrinkThreshold threshold = parameters::ToShrinkThreshold(text);
    if (!threshold.valid)
      FailRun("MaxShrinkPercent \"" + text + "\" is not a percentage from 0 to 100: the final table " + w_.TableName +
              " was not published");
    return threshold;
  }

  // The rows the final table held when it was last complete: the record's
  // count (none when no build of this table completed yet); without a
  // record of this table, what the published table holds, counted where
  // the threshold or a new record needs it.
  struct LastComplete {
    std::optional<long> rows;
    ShrinkBase base = ShrinkBase::PublishedTable;
  };
  LastComplete LastCompleteRows(bool forThreshold) {
    if (record_ && record_->table == w_.TableName) return {record_->completedRows, ShrinkBase::LastCompletedRun};
    if (!forThreshold && hooks_.finalTableRecord.empty()) return {};
    if (!TableExists(w_, *this, w_.TableName)) return {};  // nothing published yet
    return {CountOf("select count(*) from " + w_.TableName, w_.TableName), ShrinkBase::PublishedTable};
  }

  // The deletion threshold: `fresh` rows do not replace the final table
  // when that would lose more than the threshold's share of the rows it
  // held when last complete (a table left short by a crash is no measure).
  void CheckShrink(const parameters::ShrinkThreshold& threshold, long fresh, const LastComplete& last,
                   const std::string& kept) {
    if (!last.rows) return;
    const std::string refusal = ShrinkRefusal(w_.TableName, *last.rows, fresh, *threshold.percent, last.base);
    if (!refusal.empty()) FailRun(refusal + kept);
    w_.WriteLog(fmt::format("MaxShrinkPercent {}: {} rows replace the {} {}", *threshold.percent, fresh, *last.rows,
                            last.base == ShrinkBase::LastCompletedRun ? "of the last completed run" : "published"));
  }

  // The final table's record, as the last run left it; a damaged one is
  // said and left out (the next build replaces it).
  void ReadRecord() {
    record_.reset();
    if (hooks_.finalTableRecord.empty()) return;
    std::string error;
    record_ = ReadFinalTableRecord(hooks_.finalTableRecord, error);
    if (!error.empty())
      w_.WriteLog(error + ": the deletion threshold measures against the published table", LogPriority::Warning);
  }

  // Before the rebuild in place drops the table: the record marks the build
  // as begun (a run that cannot record it does not drop the table), and
  // "FinalTableIncomplete" is set, so that an ending the run cannot
  // announce (a killed process) still leaves both saying so.
  void MarkBuildBegun(const LastComplete& last) {
    if (!hooks_.finalTableRecord.empty()) {
      FinalTableRecord building;
      if (record_ && record_->table == w_.TableName) building = *record_;
      building.table = w_.TableName;
      building.state = FinalTableRecord::State::Building;
      building.since = w_.clock.Now();
      building.process = static_cast<long>(::getpid());
      building.cause.clear();
      if (last.base == ShrinkBase::PublishedTable) building.completedRows = last.rows;
      try {
        WriteFinalTableRecord(hooks_.finalTableRecord, building);
      } catch (const std::exception& e) {
        FailRun("The final table " + w_.TableName + " was not rebuilt: its build could not be recorded: " + e.what());
      }
      record_ = building;
    }
    Ignore([&] { w_.SaveSetting(parameters::kFinalTableIncomplete, "1"); });
  }

  // The final table is complete and checked: the record keeps its rows,
  // and "FinalTableIncomplete" is cleared.
  void RecordCompletedBuild() {
    Ignore([&] {
      const char* incomplete = parameters::kFinalTableIncomplete;
      if (w_.GetSetting(incomplete, "0") != "0") w_.SaveSetting(incomplete, "0");
    });
    if (hooks_.finalTableRecord.empty()) return;
    FinalTableRecord complete;
    complete.table = w_.TableName;
    complete.since = w_.clock.Now();
    complete.process = static_cast<long>(::getpid());
    complete.completedRows = outcome_.finalRows;
    complete.completedAt = complete.since;
    try {
      WriteFinalTableRecord(hooks_.finalTableRecord, complete);
    } catch (const std::exception& e) {
      w_.WriteLog(fmt::format("The final table's record could not be written to {}: {}",
                              hooks_.finalTableRecord.string(), e.what()),
                  LogPriority::Warning);
    }
    record_ = complete;
  }

  // "PublishMode" swap: the new rows are built and checked under the work
  // name; the published table changes only at the swap, all at once.
  void PublishBySwap(const OtherKindTypes& types, const parameters::ShrinkThreshold& threshold) {
    const std::string work = WorkTableName(w_.TableName);
    CheckFinalTable(BuildWorkTable(w_, *this, types));
    Progress("final table")(outcome_.finalRows, true);
    w_.DoEvents();  // a stop ends the run here, with the published table as it was
    const std::string kept = ". The new rows stay in " + work + " until the next run.";
    if (threshold.percent) CheckShrink(threshold, outcome_.finalRows, LastCompleteRows(true), kept);
    if (auto failure = PublishWorkTable(w_, *this))
      FailRun("The final table " + w_.TableName + " was not published: " + failure->description + kept);
    w_.WriteLog(fmt::format("Published {} as {}: {} rows", work, w_.TableName, outcome_.finalRows));
  }

  // The final table (or the work table) must exist and hold what the
  // temporary table gave it. Refused statements that leave the data whole
  // (an index or a grant the database does not know) stay log lines.
  void CheckFinalTable(const FinalTableBuild& build) {
    const std::string& table = build.table;
    if (!build.created) FailRun("Exclude Settings invalid: the final table " + table + " was not built");
    if (build.createFailure)
      FailRun("The final table " + table + " could not be created: " + build.createFailure->description);
    const long expected = CountOf(build.expectedRowsQuery, w_.TempTableName);
    outcome_.finalRows = CountOf(build.finalRowsQuery, table);
    if (outcome_.finalRows != expected)
      FailRun(fmt::format("The final table {} holds {} rows where {} were expected from the temporary table {}",
                          table, outcome_.finalRows, expected, w_.TempTableName));
    w_.WriteLog(fmt::format("Final table {}: {} rows", table, outcome_.finalRows));
  }

  // A run that ends after the final table was dropped and before it was
  // checked leaves it missing or short: an error event says so, and the
  // parameters remember it, so the service runs the export at its next
  // start whatever the schedule.
  void AnnounceIncompleteFinalTable(const std::string& why) {
    if (!buildingFinalTable_) return;
    buildingFinalTable_ = false;
    Ignore([&] {
      w_.LogEvent(EVENTLOG_ERROR_TYPE, kEventError,
                  "The final table " + w_.TableName + " is incomplete: " + why + ". The next run rebuilds it.");
    });
    Ignore([&] { w_.SaveSetting(parameters::kFinalTableIncomplete, "1"); });
    if (record_ && !hooks_.finalTableRecord.empty()) {
      record_->state = FinalTableRecord::State::Incomplete;
      record_->since = w_.clock.Now();
      record_->cause = why;
      Ignore([&] { WriteFinalTableRecord(hooks_.finalTableRecord, *record_); });
    }
  }

  void Report(RunOutcome::Kind kind) {
    outcome_.kind = kind;
    if (kind == RunOutcome::Kind::Completed) outcome_.cause.clear();
    outcome_.followOn = w_.FollowOnOutcomes;
    ReportExpectedRefusals();
    if (hooks_.OnOutcome) hooks_.OnOutcome(outcome_);
  }

  // The refusals the database is known to give for the run's fixed
  // statements stay lines of the run log at information priority; where
  // alerts go (the journal, corvane-run's standard error) they make one
  // information line, so that they do not hide the errors that matter.
  void ReportExpectedRefusals() {
    if (w_.ExpectedRefusals.empty()) return;
    const DatabaseDialect& dialect = RunDialect(w_);
    const std::string database = dialect.DbmsName().empty() ? dialect.Kind() : dialect.DbmsName();
    std::string line = "refused as expected on " + database + ": ";
    for (size_t i = 0; i < w_.ExpectedRefusals.size(); ++i) line += (i ? "; " : "") + w_.ExpectedRefusals[i];
    w_.runLog.Alert(LogPriority::Info, line);
    w_.ExpectedRefusals.clear();
  }

  // The recovery's database branch: the run is over.
  void EndAfterDatabaseFailure() {
    w_.LogEvent(EVENTLOG_INFORMATION_TYPE, kEventInfo,
                "An Error occured within the program that most likely was caused by a previous incomplete run.  This "
                "problem should correct itself upon the next run. If the problem continues, you may want to check "
                "that the database is up, the Service User Exists and can login into mail, and that all the "
                "parameters under HKLM\\System\\Services\\Corvane Service\\Parameters are set correctly!");
    if (w_.ServiceConnection) {
      droptable(w_, w_.TempTableName);
      try {
        if (w_.ServiceConnection->State() == ado::adStateOpen) w_.ServiceConnection->Close();
      } catch (const std::exception&) {
        // A lost connection may refuse even its close; it is released below.
      }
      w_.ServiceConnection.reset();
    }
    run_.isrunning = false;
    result_ = false;
    run_.RunInProgress = false;
  }

  template <class Op>
  void Ignore(Op&& op) {
    try {
      op();
    } catch (const std::exception&) {
    } catch (const RunOver&) {
    }
  }

  ado::Connection& Connection() {
    if (!w_.ServiceConnection) throw ado::AdoError(kErrUnexpected, "Corvane", "No database connection object");
    return *w_.ServiceConnection;
  }


  ExportContext& w_;
  RunState& run_;
  bool& result_;
  UpdateRunHooks& hooks_;
  GalLibrary& library_;
  shell::Shell& shell_;
  int FailureCount = 0;
  std::optional<std::time_t> FirstFailureTime;
  bool started_ = false;             // not turned away by isrunning
  bool buildingFinalTable_ = false;  // between the final table's drop and its check
  std::optional<FinalTableRecord> record_;  // the final table's record, from the final-table phase on
  RunOutcome outcome_;
};

}  // namespace

UpdateRunHooks StandardUpdateRunHooks() {
  UpdateRunHooks hooks;
  hooks.ImportDL = [](ExportContext& w) { ImportDL(w); };
  hooks.finalTableRecord = registry::CorvaneHome() / kFinalTableRecordName;
  return hooks;
}

void UpdateGAL(ExportContext& w, RunState& run, bool& result, UpdateRunHooks& hooks) {
  static DynamicGalLibrary defaultLibrary;
  static std::unique_ptr<shell::Shell> defaultShell = shell::CreateShell();
  Run execution(w, run, result, hooks, hooks.library ? *hooks.library : defaultLibrary, hooks.shell ? *hooks.shell : *defaultShell);
  execution.Execute();
}

}  // namespace corvane::service
