// GetGALCount: the number of entries of the global address list, read
// through a session that logs on with "TWCorvane" whatever profile name the
// caller passes; 0 on any failure.
#include <cstdint>

#include "galreader/corvane_exports.h"
#include "galreader/gal_session.h"
#include "galreader/library_log.h"

namespace corvane::galreader {

namespace {

int32_t GetGALCountImpl(const char* profileName, const char* quiet) {
  const bool debugLog = !IsQuiet(quiet);
  DebugLog(debugLog, "*********************Gal Count entry**********************************\n");
  DebugLog(debugLog, "Debug-Log Mode - Logging\n");
  DebugLog(debugLog, "prof. create");

  GalSession session;
  const bool opened = OpenGalContents(session, debugLog, GalCaller::GetGALCount, profileName);
  CloseGalSession(session);
  return opened ? static_cast<int32_t>(session.ulRowCount) : 0;
}

}  // namespace

}  // namespace corvane::galreader

extern "C" int32_t GetGALCount(const char* profileName, const char* quiet) {
  try {
    return corvane::galreader::GetGALCountImpl(profileName, quiet);
  } catch (...) {
    return 0;
  }
}
