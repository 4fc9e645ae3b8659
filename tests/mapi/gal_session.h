// Test helpers: a profile and logon over a directory, and the global
// address list read exactly as the GAL reader reads it (root container,
// hierarchy table restricted to the Exchange GAL, contents table with the
// 44 export columns, GetRowCount, then QueryRows in batches of 50).
#pragma once

#include <string>
#include <vector>

#include "platform/mapi/mapi.h"

namespace corvane::mapi::testing {

// $CORVANE_SOURCE_DIR, else the source folder this was built from.
std::string SourceDir();

// The 44 columns of the export, in their order.
const std::vector<ULONG>& GalColumns();

// Points the registry layer at a fresh temporary folder ($CORVANE_HOME)
// and initialises MAPI; undone by the destructor.
class MapiEnvironment {
 public:
  MapiEnvironment();
  ~MapiEnvironment();
  const std::string& home() const { return home_; }

 private:
  std::string home_;
};

// Creates profile `profile` with an MSEMS service for mailbox and server.
HRESULT CreateExchangeProfile(const std::string& profile, const std::string& mailbox, const std::string& server);

// Logs on with a fresh profile; the session is released by the caller.
HRESULT LogonTo(const std::string& server, const std::string& mailbox, LPMAPISESSION* session);

// One row as text, one cell per column: "S:text", "L:123", "B:hex",
// "M:a|b|c", "E:8004010F".
using TextRow = std::vector<std::string>;
std::string CellText(const SPropValue& v);

// The identity an entry identifier cell ("B:hex") carries: the text after
// its 28-byte head (flags, provider, version, display type), without the NUL.
std::string EntryIdIdentity(const std::string& cell);

struct GalRead {
  HRESULT hr = S_OK;          // first failure
  std::string step;           // the call that failed
  ULONG count = 0;            // GetRowCount
  std::vector<TextRow> rows;  // every row read
  std::vector<ULONG> batch_sizes;
  size_t rows_read = 0;
  double open_seconds = 0;  // logon to row count (profile creation not counted)
  double read_seconds = 0;  // the QueryRows loop
};

// Logs on and reads the whole GAL; with keep_rows false only counts the
// rows (for large directories).
GalRead ReadGal(const std::string& server, const std::string& mailbox, bool keep_rows = true);

}  // namespace corvane::mapi::testing
