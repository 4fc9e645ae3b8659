// ModifyStruct: copies every GAL entry into the table through the library's
// own database connection, 50 rows at a time (each batch committed
// together), one entry after another, and leaves its report in the
// export's control file (export_control.h).
#include <fmt/format.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "galreader/corvane_exports.h"
#include "galreader/export_control.h"
#include "galreader/gal_record.h"
#include "galreader/gal_session.h"
#include "galreader/library_log.h"
#include "galreader/row_statements.h"
#include "platform/ado/ado.h"

namespace corvane::galreader {

namespace {

constexpr LONG kBatchSize = 50;
using State = ExportReport::State;

// Ends the report as cut short by `cause`, with the directory's own words
// for the failure where it left some.
void CutShort(ExportReport& report, std::string cause) {
  const std::string detail = MAPIGetLastErrorText();
  report.state = State::CutShort;
  report.cause = detail.empty() ? std::move(cause) : cause + ": " + detail;
}

// Opens the library's connection; nullptr (after the error lines) when the
// database cannot be reached.
std::unique_ptr<ado::Connection> ConnectDatabase(const char* connectionString, bool debugLog, ExportReport& report) {
  try {
    auto connection = ado::CreateConnection();
    DebugLog(debugLog, "Attempting Database Connect\n");
    // The database layer's open also makes a backslash in a literal a plain character.
    connection->Open(connectionString != nullptr ? connectionString : "", "", "", -1);
    DebugLog(debugLog, "Database Connect End\n");
    return connection;
  } catch (const ado::AdoError& e) {
    DumpComError(e);
    DebugLog(debugLog, "Unrecoverable DB Error Encountered. Function Exit!\n");
    report.state = State::CutShort;
    report.cause = "the database could not be reached: " + e.Description;
    return nullptr;
  }
}

// Ends the export on a stop request found in the control file.
bool Stopped(const std::filesystem::path& control, ExportReport& report) {
  if (!ExportStopRequested(control)) return false;
  WriteLibraryLog(fmt::format("Stop requested: export ended after {} entries\n", report.read));
  report.state = State::Stopped;
  return true;
}

// Ends the export on a lost database connection: every later statement
// would fail the same way.
void ConnectionLost(ado::Connection& connection, ExportReport& report) {
  const auto& errors = connection.Errors();
  WriteLibraryLog("ERROR: the database connection was lost\n");
  WriteLibraryLog("Exiting...\n");
  report.state = State::CutShort;
  report.cause = "the database connection was lost";
  if (!errors.empty()) report.cause += ": " + errors.front().Description;
}

// Counts of a batch's entries, added to the report once their rows are
// committed: the report counts only rows that stay in the table.
struct BatchCounts {
  long read = 0, written = 0, leftOut = 0, shortened = 0;
  void AddTo(ExportReport& report) {
    report.read += read;
    report.written += written;
    report.leftOut += leftOut;
    report.shortened += shortened;
    *this = {};
  }
};

// One entry's record and how many of its proxy addresses were left out.
struct BuiltRecord {
  GalRecord record;
  size_t addressesLeftOut = 0;
};

// Builds the batch's records ahead and tells the connection the inserts
// they are about to run, so that it may run them in one exchange with the
// database. The records are built without the debug log's lines: the
// caller uses them as they are only when that log is off.
std::vector<BuiltRecord> AnnounceInserts(ado::Connection& connection, const std::string& tableName,
                                         const SRowSet& rowSet, ULONG rows) {
  std::vector<BuiltRecord> built(rows);
  std::vector<std::string> inserts;
  inserts.reserve(rows);
  for (ULONG i = 0; i < rows; ++i) {
    built[i].record = BuildGalRecord(rowSet.aRow[i], false, &built[i].addressesLeftOut);
    if (auto insert = CombinedInsertOf(tableName, built[i].record)) inserts.push_back(std::move(*insert));
  }
  connection.ExpectStatements(std::move(inserts));
  return built;
}

// Reads the GAL in batches of 50 and writes each entry; each batch's rows
// are committed together (a refused statement makes the batch commit its
// rows one by one, so every entry ends as it would alone). The number of
// batches is fixed by the count taken when the table was opened.
void ExportGalRows(GalSession& s, ado::Connection& connection, const std::string& tableName, bool debugLog,
                   int32_t ToDoCount, const std::filesystem::path& control, ExportReport& report) {
  for (ULONG offset = 0; offset < s.ulRowCount; offset += kBatchSize) {
    if (Stopped(control, report)) return;
    const HRESULT hr = s.lpContents->QueryRows(kBatchSize, 0, &s.pRows);
    if (FAILED(hr)) {
      // Going on would skip a batch silently: end the export here.
      const std::string failure =
          fmt::format("lpContents->QueryRows call failed with hRes = 0x{:x}", static_cast<uint32_t>(hr));
      WriteLibraryLog("ERROR: " + failure + "\n");
      WriteLibraryLog("Exiting...\n");
      s.pRows = nullptr;
      CutShort(report, failure);
      return;
    }
    const ULONG rows = s.pRows != nullptr ? s.pRows->cRows : 0;
    BatchCounts counts;
    try {
      ado::Batch batch(connection);
      std::vector<BuiltRecord> ahead;
      if (rows > 1 && connection.RunsStatementsAhead()) ahead = AnnounceInserts(connection, tableName, *s.pRows, rows);
      for (ULONG i = 0; i < rows; ++i) {
        if (ToDoCount > 0 && ToDoCount < 50) WriteLibraryLog("ToDoCount is being Used.\n");
        BuiltRecord built;
        if (!ahead.empty() && !debugLog)
          built = std::move(ahead[i]);
        else
          built.record = BuildGalRecord(s.pRows->aRow[i], debugLog, &built.addressesLeftOut);
        const GalRecord& record = built.record;
        const size_t addressesLeftOut = built.addressesLeftOut;
        if (addressesLeftOut > 0) {
          ++counts.shortened;
          DebugLog(debugLog, fmt::format("\nProxy addresses of \"{}\" ({}) cut at {} characters: {} left out\n",
                                         record[kDisplayNameValue], record[kDefSmtpValue], kProxyAddressListLimit,
                                         addressesLeftOut));
        }
        const RowResult result = WriteGalRow(connection, tableName, record, debugLog);
        if (result == RowResult::ConnectionLost) {
          // The batch's uncommitted rows are gone with the connection.
          ConnectionLost(connection, report);
          return;
        }
        ++counts.read;
        ++(result == RowResult::Written ? counts.written : counts.leftOut);
        if (!batch.Pending()) counts.AddTo(report);  // committed as it ran
      }
      batch.End();
      counts.AddTo(report);
    } catch (const ado::AdoError& e) {
      // Beginning or committing the batch found the connection gone.
      DumpComError(e);
      ConnectionLost(connection, report);
      return;
    }
    DebugLog(debugLog, "Z\n");
    if (s.pRows != nullptr) {
      FreeProws(s.pRows);
      s.pRows = nullptr;
    }
  }
}

ExportReport Export(const char* connectionString, const char* tableName, bool debugLog, int32_t ToDoCount,
                    const std::filesystem::path& control) {
  ExportReport report;
  if (Stopped(control, report)) return report;
  const std::unique_ptr<ado::Connection> connection = ConnectDatabase(connectionString, debugLog, report);
  if (connection == nullptr) return report;

  {
    GalSession session;
    if (OpenGalContents(session, debugLog, GalCaller::ModifyStruct, nullptr)) {
      report.count = static_cast<long>(session.ulRowCount);
      DebugLog(debugLog, "Evaluating GAL:\n");
      ExportGalRows(session, *connection, tableName != nullptr ? tableName : "", debugLog, ToDoCount, control,
                    report);
      DebugLog(debugLog, "Start DLL cleanup\n");
    } else {
      CutShort(report, "the global address list could not be opened: " + session.failure);
    }
    CloseGalSession(session);
  }

  try {
    connection->Close();
  } catch (...) {
    // The rows are written; a failing close changes nothing for the caller.
  }
  DebugLog(debugLog, "DLL Finished. EOL\n");
  return report;
}

void ModifyStructImpl(const char* connectionString, const char* tableName, const char* quiet, int32_t ToDoCount) {
  const bool debugLog = !IsQuiet(quiet);
  DebugLog(debugLog, "\n*********************Main DLL entry**********************************\n");
  DebugLog(debugLog, "Debug-Log Mode - Logging\n");
  const std::filesystem::path control = ExportControlFile();
  const ExportReport report = Export(connectionString, tableName, debugLog, ToDoCount, control);
  if (!WriteExportReport(control, report))
    WriteLibraryLog(fmt::format("ERROR: the export's report could not be written to {}\n", control.string()));
}

}  // namespace

}  // namespace corvane::galreader

extern "C" void ModifyStruct(const char* connectionString, const char* profileName, const char* tableName,
                             const char* quiet, int32_t ToDoCount) {
  (void)profileName;  // the logon always uses "TWCorvane"
  try {
    corvane::galreader::ModifyStructImpl(connectionString, tableName, quiet, ToDoCount);
  } catch (...) {
    // Nothing may leave the library; what was written stays written. The
    // report is missing, which the service takes for a cut-short export.
  }
}
