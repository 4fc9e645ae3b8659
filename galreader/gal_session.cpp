#include <fmt/format.h>

#include "galreader/gal_record.h"
#include "galreader/gal_session.h"
#include "galreader/library_log.h"

namespace corvane::galreader {

namespace {

// The error lines of a failing step; ModifyStruct names the step first.
bool FailStep(GalSession& s, bool debugLog, GalCaller caller, const char* name, HRESULT hr) {
  if (caller == GalCaller::ModifyStruct) DebugLog(debugLog, name);
  s.failure = fmt::format("{} call failed with hRes = 0x{:x}", name, static_cast<uint32_t>(hr));
  WriteLibraryLog("ERROR: " + s.failure + "\n");
  WriteLibraryLog("Exiting...\n");
  return false;
}

}  // namespace

GalSession::~GalSession() { CloseGalSession(*this); }

ULONG GalLogonFlags(bool debugLog) {
  return debugLog ? (MAPI_NO_MAIL | MAPI_EXTENDED | MAPI_EXPLICIT_PROFILE | MAPI_NEW_SESSION)
                  : (MAPI_NT_SERVICE | MAPI_NO_MAIL | MAPI_NEW_SESSION);
}

bool OpenGalContents(GalSession& s, bool debugLog, GalCaller caller, const char* profileName) {
  const bool forExport = caller == GalCaller::ModifyStruct;

  HRESULT hr = MAPIInitialize(nullptr);
  if (FAILED(hr)) return FailStep(s, debugLog, caller, "MAPIInitialize", hr);
  s.mapiInitialized = true;
  if (forExport) {
    DebugLog(debugLog, "Mapi Init Complete\n");
  } else {
    DebugLog(debugLog, "Mapi Init\n");
    DebugLog(debugLog, profileName != nullptr ? profileName : "");
    DebugLog(debugLog, "\n");
  }

  hr = MAPILogonEx(0, kProfileName, nullptr, GalLogonFlags(debugLog), &s.lpMapiSession);
  if (FAILED(hr)) return FailStep(s, debugLog, caller, "MAPILogonEx", hr);
  DebugLog(debugLog, forExport ? "Mapi Logon Complete\n" : "Mapi Logon\n");

  hr = s.lpMapiSession->OpenAddressBook(0, nullptr, AB_NO_DIALOG, &s.lpAddrBook);
  if (FAILED(hr)) return FailStep(s, debugLog, caller, "lpMapiSession->OpenAddressBook", hr);
  if (forExport) DebugLog(debugLog, "Address Book Open\n");

  hr = HrFindExchangeGlobalAddressList(s.lpAddrBook, &s.cbGalEid, &s.lpGalEid);
  if (FAILED(hr)) return FailStep(s, debugLog, caller, "HrFindExchangeGlobalAddressList", hr);
  if (forExport) DebugLog(debugLog, "GAL Found\n");

  ULONG ulObjType = 0;
  LPUNKNOWN lpUnknown = nullptr;
  hr = s.lpAddrBook->OpenEntry(s.cbGalEid, s.lpGalEid, nullptr, MAPI_BEST_ACCESS | MAPI_NO_CACHE, &ulObjType,
                               &lpUnknown);
  if (FAILED(hr)) return FailStep(s, debugLog, caller, "lpAddrBook->OpenEntry", hr);
  if (ulObjType != MAPI_ABCONT) {
    // Anything but a container cannot give a contents table.
    lpUnknown->Release();
    return FailStep(s, debugLog, caller, "lpAddrBook->OpenEntry", MAPI_E_INVALID_ENTRYID);
  }
  s.lpGAL = static_cast<LPABCONT>(lpUnknown);

  hr = s.lpGAL->GetContentsTable(0, &s.lpContents);
  if (FAILED(hr)) return FailStep(s, debugLog, caller, "lpGAL->GetContentsTable", hr);

  // Without the column set the rows would not carry the 44 columns in
  // their order, so a refusal ends the sequence like a failed step.
  hr = s.lpContents->SetColumns(GalColumnSet(), TBL_BATCH);
  if (FAILED(hr)) return FailStep(s, debugLog, caller, "lpContents->SetColumns", hr);

  hr = s.lpContents->GetRowCount(0, &s.ulRowCount);
  if (FAILED(hr)) return FailStep(s, debugLog, caller, "lpContents->GetRowCount", hr);
  DebugLog(debugLog, fmt::format("Number of entries reported by contents table in the GAL: {}\n",
                                 static_cast<int32_t>(s.ulRowCount)));
  return true;
}

void CloseGalSession(GalSession& s) {
  if (s.pRows != nullptr) {
    FreeProws(s.pRows);
    s.pRows = nullptr;
  }
  if (s.lpContents != nullptr) {
    s.lpContents->Release();
    s.lpContents = nullptr;
  }
  if (s.lpGAL != nullptr) {
    s.lpGAL->Release();
    s.lpGAL = nullptr;
  }
  if (s.lpAddrBook != nullptr) {
    s.lpAddrBook->Release();
    s.lpAddrBook = nullptr;
  }
  if (s.lpGalEid != nullptr) {
    MAPIFreeBuffer(s.lpGalEid);
    s.lpGalEid = nullptr;
    s.cbGalEid = 0;
  }
  if (s.lpMapiSession != nullptr) {
    s.lpMapiSession->Logoff(0, 0, 0);
    s.lpMapiSession->Release();
    s.lpMapiSession = nullptr;
  }
  if (s.mapiInitialized) {
    MAPIUninitialize();
    s.mapiInitialized = false;
  }
}

}  // namespace corvane::galreader
