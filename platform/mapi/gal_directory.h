// The directory behind one logon: its source, the number of entries in
// the global address list, the display names that manager references
// resolve to, and the mailbox the logon resolved to. Opening it scans the
// directory once; reading the list streams it a second time.
#pragma once

#include <memory>
#include <string>

#include "platform/mapi/directory.h"
#include "platform/mapi/gal_entry.h"

namespace corvane::mapi {

class GalReader {
 public:
  GalReader(std::unique_ptr<EntryStream> stream, std::shared_ptr<const NameIndex> names, bool require_attribute)
      : stream_(std::move(stream)), names_(std::move(names)), require_attribute_(require_attribute) {}
  // The next row of the global address list; `end` when none is left.
  HRESULT Next(Row& row, bool& end);

 private:
  std::unique_ptr<EntryStream> stream_;
  std::shared_ptr<const NameIndex> names_;
  bool require_attribute_;
  DirEntry entry_;
};

class GalDirectory {
 public:
  // Scans the directory named by `server`; the mailbox must name exactly
  // one recipient, else MAPI_E_LOGON_FAILED.
  static HRESULT Open(const std::string& server, const std::string& mailbox, std::shared_ptr<GalDirectory>& out);
  // The same over a source already opened (tests and tools).
  static HRESULT Open(std::unique_ptr<DirectorySource> source, const std::string& mailbox,
                      std::shared_ptr<GalDirectory>& out);

  ULONG count() const { return count_; }
  const std::string& mailbox_dn() const { return mailbox_dn_; }
  HRESULT OpenReader(std::unique_ptr<GalReader>& out);

 private:
  std::unique_ptr<DirectorySource> source_;
  std::shared_ptr<const NameIndex> names_;
  ULONG count_ = 0;
  std::string mailbox_dn_;
};

}  // namespace corvane::mapi
