// ModifyStruct: copies every GAL entry into the table through the library's
// own database connection, 50 rows at a time (each batch with one insert
// where the database takes several rows in one, else one entry after
// another, committed together), and leaves its report in the export's
// control file (export_control.h).
#include <fmt/format.h>

#include <cstdint>
#include <map>
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

// The batch's records, built without the debug log's lines: the caller
// uses them as they are only when that log is off.
std::vector<BuiltRecord> BuildRecords(const SRowSet& rowSet, ULONG rows) {
  std::vector<BuiltRecord> built(rows);
  for (ULONG i = 0; i < rows; ++i)
    built[i].record = BuildGalRecord(rowSet.aRow[i], false, &built[i].addressesLeftOut);
  return built;
}

// The combined inserts of the records that are not left out as too long.
std::vector<std::string> CombinedInserts(const std::string& tableName, const std::vector<BuiltRecord>& built) {
  std::vector<std::string> inserts;
  inserts.reserve(built.size());
  for (const auto& b : built)
    if (auto insert = CombinedInsertOf(tableName, b.record)) inserts.push_back(std::move(*insert));
  return inserts;
}

// Whether the database takes several rows in one insert. One statement
// for a batch costs far less than one per entry (each is parsed, and on a
// server answered, on its own).
bool TakesRowsTogether(ado::Connection& connection) {
  const ado::Dialect dialect = ado::DialectOf(connection.DbmsName());
  return dialect == ado::Dialect::SQLite || dialect == ado::Dialect::PostgreSQL || dialect == ado::Dialect::MySQL;
}

enum class Together { Written, Refused, ConnectionLost };

// The batches' inserts prepared once per number of rows, for a database
// whose parsing and planning of a statement cost far more than running it
// (PostgreSQL): each batch then sends only its values.
class PreparedRowsInserts {
 public:
  // The prepared insert of `rows` rows; throws AdoError as Prepare does.
  ado::Command& For(ado::Connection& connection, const std::string& tableName, size_t rows) {
    auto& command = commands_[rows];
    if (!command) command = connection.Prepare(ParameterizedRowsInsert(tableName, rows));
    return *command;
  }

 private:
  std::map<size_t, std::unique_ptr<ado::Command>> commands_;
};

// Writes the batch's rows with one insert. A statement is written whole or
// not at all: when the database refuses it, nothing is written and the
// caller writes the entries one by one, each as it would alone (the same
// rows, the same lines in the log). Counts the entries only when written.
// With `prepared` the insert is a prepared one with the values bound.
Together WriteTogether(ado::Connection& connection, const std::string& tableName, const std::vector<BuiltRecord>& built,
                       int32_t ToDoCount, PreparedRowsInserts* prepared, BatchCounts& counts) {
  std::vector<std::string> inserts;
  std::vector<ado::FieldValue> values;  // the prepared insert's parameters
  for (const auto& b : built) {
    auto insert = CombinedInsertOf(tableName, b.record);
    if (!insert) continue;  // left out as too long
    inserts.push_back(std::move(*insert));
    if (prepared != nullptr)
      for (auto& value : StoredValuesOf(b.record)) values.push_back(std::move(value));
  }
  if (!inserts.empty()) {
    try {
      if (prepared != nullptr) {
        prepared->For(connection, tableName, inserts.size()).Execute(values);
      } else {
        connection.Execute(JoinCombinedInserts(tableName, inserts));
      }
    } catch (const ado::AdoError& e) {
      if (!ado::IsConnectionLost(e)) return Together::Refused;
      DumpComError(e);
      return Together::ConnectionLost;
    }
  }
  for (const auto& b : built) {
    if (ToDoCount > 0 && ToDoCount < 50) WriteLibraryLog("ToDoCount is being Used.\n");
    ++counts.read;
    if (b.addressesLeftOut > 0) ++counts.shortened;
  }
  counts.written += static_cast<long>(inserts.size());
  counts.leftOut += static_cast<long>(built.size() - inserts.size());
  return Together::Written;
}

// Writes the batch's entries one by one, committed together (a refused
// statement makes the batch commit its rows one by one, so every entry
// ends as it would alone); false when the connection was lost. `ahead`
// holds the entries' records when they were built before, or nothing.
bool WriteOneByOne(ado::Connection& connection, const SRowSet& rowSet, ULONG rows, std::vector<BuiltRecord> ahead,
                   const std::string& tableName, bool debugLog, int32_t ToDoCount, ExportReport& report) {
  BatchCounts counts;
  try {
    ado::Batch batch(connection);
    if (rows > 1 && !debugLog && connection.RunsStatementsAhead()) {
      // Run the batch's inserts in one exchange with the database.
      if (ahead.empty()) ahead = BuildRecords(rowSet, rows);
      connection.ExpectStatements(CombinedInserts(tableName, ahead));
    }
    for (ULONG i = 0; i < rows; ++i) {
      if (ToDoCount > 0 && ToDoCount < 50) WriteLibraryLog("ToDoCount is being Used.\n");
      BuiltRecord built;
      if (!ahead.empty() && !debugLog)
        built = std::move(ahead[i]);
      else
        built.record = BuildGalRecord(rowSet.aRow[i], debugLog, &built.addressesLeftOut);
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
        return false;
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
    return false;
  }
  return true;
}

// Reads the GAL in batches of 50 and writes each batch's entries, with one
// insert where the database takes it, else one by one. The number of
// batches is fixed by the count taken when the table was opened.
void ExportGalRows(GalSession& s, ado::Connection& connection, const std::string& tableName, bool debugLog,
                   int32_t ToDoCount, const std::filesystem::path& control, ExportReport& report) {
  // The debug log has lines for each entry's values as they are written.
  const bool together = !debugLog && TakesRowsTogether(connection);
  PreparedRowsInserts prepared;
  const bool prepare = together && ado::DialectOf(connection.DbmsName()) == ado::Dialect::PostgreSQL;
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
    Together outcome = Together::Refused;
    std::vector<BuiltRecord> built;
    if (together && rows > 1) {
      built = BuildRecords(*s.pRows, rows);
      BatchCounts counts;
      outcome = WriteTogether(connection, tableName, built, ToDoCount, prepare ? &prepared : nullptr, counts);
      counts.AddTo(report);
    }
    if (outcome == Together::ConnectionLost) {
      ConnectionLost(connection, report);
      return;
    }
    if (outcome == Together::Refused &&
        !WriteOneByOne(connection, *s.pRows, rows, std::move(built), tableName, debugLog, ToDoCount, report))
      return;
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
