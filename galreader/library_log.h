// The library's own log: every text goes to standard output and is appended
// to "CorvaneDLL.log" in the process's current directory, one open, append
// and close per text, so the file is complete up to the last text even when
// the process dies and can be read while a run goes on. At 10 MiB the file
// becomes "CorvaneDLL.log.1" (replacing an older one) and a new one starts.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/ado/ado.h"

namespace corvane::galreader {

inline constexpr const char* kLibraryLogName = "CorvaneDLL.log";

// Only the exact text "TRUE" is quiet; anything else (and no text at all)
// selects debug-log mode.
bool IsQuiet(const char* quiet);

// Writes `text` unchanged; texts carry their own line ends. When the log
// file cannot be opened the text still reaches standard output.
void WriteLibraryLog(std::string_view text);

// Writes `text` only in debug-log mode.
inline void DebugLog(bool debugLog, std::string_view text) {
  if (debugLog) WriteLibraryLog(text);
}

// The system's text for an HRESULT, or an empty text when it has none.
std::string SystemMessageText(uint32_t hr);

// "Code meaning" of an HRESULT: the system's text, else the IDispatch
// number for interface errors, else the unknown-error text.
std::string ComErrorMessage(uint32_t hr);

// The five texts of a database error; written whatever the quiet flag says.
void DumpComError(const ado::AdoError& e);

}  // namespace corvane::galreader
