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

// The filter an Active Directory site puts in an ldap:// URL: mail-enabled
// entries that are neither disabled accounts nor system objects.
inline constexpr const char* kActiveDirectoryMailFilter =
    "(&(mail=*)(!(userAccountControl:1.2.840.113556.1.4.803:=2))(!(isCriticalSystemObject=TRUE)))";

// Why a directory named by host name shows no address list, with the way
// out (an ldap:// URL and a filter).
std::string NoAddressListText(const DirectorySource& source);

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
  // True where the address list is what showInAddressBook says (host-name form).
  bool by_address_book_attribute() const { return source_->RequiresAddressBookAttribute(); }
  const DirectorySource& source() const { return *source_; }
  const std::string& mailbox_dn() const { return mailbox_dn_; }
  HRESULT OpenReader(std::unique_ptr<GalReader>& out);

 private:
  std::unique_ptr<DirectorySource> source_;
  std::shared_ptr<const NameIndex> names_;
  ULONG count_ = 0;
  std::string mailbox_dn_;
};

}  // namespace corvane::mapi
