// ModifyStruct: copies every GAL entry into the table through the library's
// own database connection, 50 rows at a time, one entry after another.
#include <fmt/format.h>

#include <cstdint>
#include <memory>
#include <string>

#include "galreader/corvane_exports.h"
#include "galreader/gal_record.h"
#include "galreader/gal_session.h"
#include "galreader/library_log.h"
#include "galreader/literal_safety.h"
#include "galreader/row_statements.h"
#include "platform/ado/ado.h"

namespace corvane::galreader {

namespace {

constexpr LONG kBatchSize = 50;

// Opens the library's connection; nullptr (after the error lines) when the
// database cannot be reached.
std::unique_ptr<ado::Connection> ConnectDatabase(const char* connectionString, bool debugLog) {
  try {
    auto connection = ado::CreateConnection();
    DebugLog(debugLog, "Attempting Database Connect\n");
    connection->Open(connectionString != nullptr ? connectionString : "", "", "", -1);
    DebugLog(debugLog, "Database Connect End\n");
    UseStandardStringLiterals(*connection);
    return connection;
  } catch (const ado::AdoError& e) {
    DumpComError(e);
    DebugLog(debugLog, "Unrecoverable DB Error Encountered. Function Exit!\n");
    return nullptr;
  }
}

// Reads the GAL in batches of 50 and writes each entry. The number of
// batches is fixed by the count taken when the table was opened.
void ExportGalRows(GalSession& s, ado::Connection& connection, const std::string& tableName, bool debugLog,
                   int32_t ToDoCount) {
  for (ULONG offset = 0; offset < s.ulRowCount; offset += kBatchSize) {
    const HRESULT hr = s.lpContents->QueryRows(kBatchSize, 0, &s.pRows);
    if (FAILED(hr)) {
      // Going on would skip a batch silently: end the export here.
      WriteLibraryLog(fmt::format("ERROR: {} call failed with hRes = 0x{:x}\n", "lpContents->QueryRows",
                                  static_cast<uint32_t>(hr)));
      WriteLibraryLog("Exiting...\n");
      s.pRows = nullptr;
      return;
    }
    const ULONG rows = s.pRows != nullptr ? s.pRows->cRows : 0;
    for (ULONG i = 0; i < rows; ++i) {
      if (ToDoCount > 0 && ToDoCount < 50) WriteLibraryLog("ToDoCount is being Used.\n");
      const GalRecord record = BuildGalRecord(s.pRows->aRow[i], debugLog);
      WriteGalRow(connection, tableName, record, debugLog);
    }
    DebugLog(debugLog, "Z\n");
    if (s.pRows != nullptr) {
      FreeProws(s.pRows);
      s.pRows = nullptr;
    }
  }
}

void ModifyStructImpl(const char* connectionString, const char* tableName, const char* quiet, int32_t ToDoCount) {
  const bool debugLog = !IsQuiet(quiet);
  DebugLog(debugLog, "\n*********************Main DLL entry**********************************\n");
  DebugLog(debugLog, "Debug-Log Mode - Logging\n");

  const std::unique_ptr<ado::Connection> connection = ConnectDatabase(connectionString, debugLog);
  if (connection == nullptr) return;

  {
    GalSession session;
    if (OpenGalContents(session, debugLog, GalCaller::ModifyStruct, nullptr)) {
      DebugLog(debugLog, "Evaluating GAL:\n");
      ExportGalRows(session, *connection, tableName != nullptr ? tableName : "", debugLog, ToDoCount);
      DebugLog(debugLog, "Start DLL cleanup\n");
    }
    CloseGalSession(session);
  }

  try {
    connection->Close();
  } catch (...) {
    // The rows are written; a failing close changes nothing for the caller.
  }
  DebugLog(debugLog, "DLL Finished. EOL\n");
}

}  // namespace

}  // namespace corvane::galreader

extern "C" void ModifyStruct(const char* connectionString, const char* profileName, const char* tableName,
                             const char* quiet, int32_t ToDoCount) {
  (void)profileName;  // the logon always uses "TWCorvane"
  try {
    corvane::galreader::ModifyStructImpl(connectionString, tableName, quiet, ToDoCount);
  } catch (...) {
    // Nothing may leave the library; what was written stays written.
  }
}
