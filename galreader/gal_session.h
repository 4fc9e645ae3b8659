// The MAPI session of one call, down to the GAL's contents table: opened by
// OpenGalContents, released by CloseGalSession in reverse order of what was
// obtained. GetGALCount and ModifyStruct share it.
#pragma once

#include <string>

#include "platform/mapi/mapi.h"

namespace corvane::galreader {

// The mail profile the library creates and always logs on with, whatever
// profile name a caller passes. (MAPI takes names as non-const strings.)
inline char kProfileName[] = "TWCorvane";

// The export that opens the session; a few of the log texts differ.
enum class GalCaller { GetGALCount, ModifyStruct };

// What one call holds, in the order obtained. Not copyable; the destructor
// closes whatever is still open, so no path can leak a MAPI object.
struct GalSession {
  GalSession() = default;
  GalSession(const GalSession&) = delete;
  GalSession& operator=(const GalSession&) = delete;
  ~GalSession();

  bool mapiInitialized = false;
  LPMAPISESSION lpMapiSession = nullptr;
  LPADRBOOK lpAddrBook = nullptr;
  ULONG cbGalEid = 0;
  LPENTRYID lpGalEid = nullptr;
  LPABCONT lpGAL = nullptr;
  LPMAPITABLE lpContents = nullptr;
  LPSRowSet pRows = nullptr;  // the current row batch of the export loop
  ULONG ulRowCount = 0;
  std::string failure;  // after a failed step: "<step> call failed with hRes = 0x..."
};

// The logon flags for the quiet flag: a service logon in quiet mode, an
// explicit, extended logon in debug-log mode.
ULONG GalLogonFlags(bool debugLog);

// Initialises MAPI, logs on with "TWCorvane", opens the address book, finds
// and opens the GAL, gets its contents table with the export's column set
// and its row count. On a failing step writes the error lines, notes the
// step in s.failure and returns false; the caller then closes the session.
bool OpenGalContents(GalSession& s, bool debugLog, GalCaller caller, const char* profileName);

// Releases, in this order and only what was obtained: the row batch, the
// contents table, the GAL container, the address book, the GAL entry
// identifier, the session (after logging off); then uninitialises MAPI.
void CloseGalSession(GalSession& s);

// Finds the GAL container among the address book's containers: the one
// Exchange container with container identifier 0. On success *lpcbeid and
// *lppeid hold a copy of its entry identifier allocated with
// MAPIAllocateBuffer; on failure 0 and nullptr.
HRESULT HrFindExchangeGlobalAddressList(LPADRBOOK lpAdrBook, ULONG* lpcbeid, LPENTRYID* lppeid);

}  // namespace corvane::galreader
