// CreateProfileWithIProfAdmin: creates the mail profile "TWCorvane" and
// configures its Exchange service with the mailbox and the server (on this
// platform the server names the directory). An existing profile is never
// changed: the call then fails at the profile creation and returns 1.
#include <cstdint>
#include <exception>

#include "galreader/corvane_exports.h"
#include "galreader/gal_session.h"
#include "galreader/library_log.h"
#include "platform/mapi/mapi.h"

namespace corvane::galreader {

namespace {

char kExchangeService[] = "MSEMS";

// What the profile creation holds, released in reverse order.
struct ProfileSetup {
  ProfileSetup() = default;
  ProfileSetup(const ProfileSetup&) = delete;
  ProfileSetup& operator=(const ProfileSetup&) = delete;
  ~ProfileSetup() {
    if (lpRows != nullptr) FreeProws(lpRows);
    if (lpServiceTable != nullptr) lpServiceTable->Release();
    if (lpServiceAdmin != nullptr) lpServiceAdmin->Release();
    if (lpProfAdmin != nullptr) lpProfAdmin->Release();
    if (mapiInitialized) MAPIUninitialize();
  }

  bool mapiInitialized = false;
  LPPROFADMIN lpProfAdmin = nullptr;
  LPSERVICEADMIN lpServiceAdmin = nullptr;
  LPMAPITABLE lpServiceTable = nullptr;
  LPSRowSet lpRows = nullptr;
};

// The message-service table's rows for "MSEMS", with its name and its
// unique identifier.
HRESULT QueryExchangeService(LPMAPITABLE lpServiceTable, LPSRowSet* lppRows) {
  SizedSPropTagArray(2, columns) = {2, {PR_SERVICE_NAME, PR_SERVICE_UID}};
  SPropValue serviceName{};
  serviceName.ulPropTag = PR_SERVICE_NAME;
  serviceName.Value.lpszA = kExchangeService;
  SRestriction restriction{};
  restriction.rt = RES_CONTENT;
  restriction.res.resContent = {FL_FULLSTRING, PR_SERVICE_NAME, &serviceName};
  return HrQueryAllRows(lpServiceTable, reinterpret_cast<LPSPropTagArray>(&columns), &restriction, nullptr, 0,
                        lppRows);
}

// The service's unique identifier from the second column of the first row,
// or nullptr when the rows do not carry one.
LPMAPIUID FirstServiceUid(LPSRowSet lpRows) {
  if (lpRows == nullptr || lpRows->cRows == 0 || lpRows->aRow[0].cValues < 2) return nullptr;
  const SPropValue& uid = lpRows->aRow[0].lpProps[1];
  if (uid.ulPropTag != PR_SERVICE_UID || uid.Value.bin.cb != sizeof(MAPIUID)) return nullptr;
  return reinterpret_cast<LPMAPIUID>(uid.Value.bin.lpb);
}

// Runs the steps; returns the failure message of the first failing step,
// or nullptr when the profile was created and configured.
const char* CreateProfile(ProfileSetup& p, const char* mailbox, const char* server) {
  if (FAILED(MAPIInitialize(nullptr))) return "Error initializing MAPI.";
  p.mapiInitialized = true;
  if (FAILED(MAPIAdminProfiles(0, &p.lpProfAdmin))) return "Error getting IProfAdmin interface.";
  if (FAILED(p.lpProfAdmin->CreateProfile(kProfileName, nullptr, 0, 0))) return "Error creating profile.\n";
  if (FAILED(p.lpProfAdmin->AdminServices(kProfileName, nullptr, 0, 0, &p.lpServiceAdmin))) {
    return "Error getting IMsgServiceAdmin interface.\n";
  }
  if (FAILED(p.lpServiceAdmin->CreateMsgService(kExchangeService, nullptr, 0, 0))) {
    return "Error creating Exchange message service.\n";
  }
  if (FAILED(p.lpServiceAdmin->GetMsgServiceTable(0, &p.lpServiceTable))) {
    return "Error getting Message Service Table.\n";
  }
  // A table without the new service's row counts as a failed query: there
  // is no identifier to configure.
  if (FAILED(QueryExchangeService(p.lpServiceTable, &p.lpRows)) || FirstServiceUid(p.lpRows) == nullptr) {
    return "Error querying table for new message service.\n";
  }
  SPropValue props[2]{};
  props[0].ulPropTag = PR_PROFILE_UNRESOLVED_NAME;
  props[0].Value.lpszA = const_cast<LPSTR>(mailbox);
  props[1].ulPropTag = PR_PROFILE_UNRESOLVED_SERVER;
  props[1].Value.lpszA = const_cast<LPSTR>(server);
  if (FAILED(p.lpServiceAdmin->ConfigureMsgService(FirstServiceUid(p.lpRows), 0, 0, 2, props))) {
    return "Error configuring message service.\n";
  }
  return nullptr;
}

int32_t CreateProfileWithIProfAdminImpl(const char* mailbox, const char* server, const char* quiet) {
  const bool debugLog = !IsQuiet(quiet);
  if (mailbox == nullptr) mailbox = "";
  if (server == nullptr) server = "";
  DebugLog(debugLog, "*********************Create Profile Entry**********************************\n");
  DebugLog(debugLog, "Debug-Log Mode - Logging\n");
  DebugLog(debugLog, "Creating Profile\n");
  DebugLog(debugLog, server);
  DebugLog(debugLog, mailbox);

  const char* failure = nullptr;
  {
    ProfileSetup setup;
    failure = CreateProfile(setup, mailbox, server);
    if (failure != nullptr) {
      DebugLog(debugLog, failure);
      DebugLog(debugLog, "Possible profile creation error, or it could be that it already exists.\n");
    }
  }
  return failure == nullptr ? 0 : 1;
}

}  // namespace

}  // namespace corvane::galreader

extern "C" int32_t CreateProfileWithIProfAdmin(const char* mailbox, const char* server, const char* quiet) {
  try {
    return corvane::galreader::CreateProfileWithIProfAdminImpl(mailbox, server, quiet);
  } catch (...) {
    // Nothing may leave the library; the caller sees a failed creation.
    return 1;
  }
}
