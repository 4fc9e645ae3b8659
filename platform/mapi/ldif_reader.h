// An LDIF file read entry by entry for callers that rewrite the file: with
// each entry, the place where it stands in the file, so the rest of the
// file can be kept byte for byte.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/mapi/directory.h"

namespace corvane::mapi {

class LdifReader : public EntryStream {
 public:
  // File offsets of the entry Next returned last: where its "dn:" line
  // begins, and just past the line end of its last line.
  virtual uint64_t EntryBegin() const = 0;
  virtual uint64_t EntryEnd() const = 0;
};

// Opens the file; entries keep only the attributes named in `keep` (any
// spelling), or every attribute when `keep` is empty. MAPI_E_NOT_FOUND
// when the file cannot be opened; syntax errors surface from Next as
// MAPI_E_CORRUPT_DATA with the file and line.
HRESULT OpenLdifReader(const std::string& path, const std::vector<std::string>& keep, std::unique_ptr<LdifReader>& out);

}  // namespace corvane::mapi
