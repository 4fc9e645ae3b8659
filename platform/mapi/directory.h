// Directory entries as the address book reads them, and the sources that
// deliver them one at a time: an LDIF file or an LDAP server. A source is
// read in passes; each pass streams the whole directory from the start, so
// memory stays bounded whatever the directory's size.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/mapi/mapi.h"

namespace corvane::mapi {

struct DirAttribute {
  std::string name;  // canonical: lower case, options and aliases resolved
  std::vector<std::string> values;
  bool tagged = false;  // the values came from language-tagged descriptions only
};

// An entry's attributes are attrs[0] to attrs[size() - 1]; the vector may
// hold spare room beyond, kept to spare allocations from entry to entry.
struct DirEntry {
  std::string dn;
  std::vector<DirAttribute> attrs;

  // Values of an attribute by canonical name; nullptr when absent.
  const std::vector<std::string>* Get(std::string_view name) const;
  // First value, or nullptr.
  const std::string* First(std::string_view name) const;
  // Adds a value, creating the attribute when needed. Values of a
  // language-tagged description ("displayName;lang-fr", `tagged`) stand in
  // only while the attribute has no plain value: a plain value replaces
  // them, and tagged values that follow a plain one are dropped.
  void Add(std::string_view name, std::string_view value, bool tagged = false);
  void Clear();  // keeps the allocated room for the next entry
  size_t size() const { return used_; }

 private:
  size_t used_ = 0;
};

// Lower-cases an attribute description, drops its options ("cn;lang-en"
// is "cn") and maps the standard aliases onto the names the address book
// uses ("street" is "streetaddress", "friendlycountryname" is "co", ...).
std::string CanonicalAttributeName(std::string_view description);

// Remembers the canonical names of the attribute descriptions a source
// has met. Entries tend to list attributes in the same order, so each
// search starts after the name found last.
// Whether an attribute description carries a language tag option
// ("cn;lang-fr"); other options (";binary", ";range=0-1499") do not count.
bool IsLanguageTagged(std::string_view description);

class AttributeNames {
 public:
  const std::string& Canonical(std::string_view written);

 private:
  std::vector<std::pair<std::string, std::string>> names_;
  size_t last_ = 0;
};

class EntryStream {
 public:
  virtual ~EntryStream() = default;
  // Reads the next entry into `entry`; sets `end` when none is left. On a
  // failure the details are in MAPIGetLastErrorText().
  virtual HRESULT Next(DirEntry& entry, bool& end) = 0;
};

// Which attributes a pass needs: a scan (counting, names of managers,
// finding the mailbox by account or mail address), a look at the proxy
// addresses (only when the scan found no such mailbox), a full read of
// every mapped attribute, or the addresses a recipient is known by (its
// proxy addresses and mail address, for resolving list members).
enum class Pass { Scan, Proxies, Read, Addresses };

// The attribute names a pass asks for.
const std::vector<std::string>& PassAttributes(Pass pass);

class DirectorySource {
 public:
  virtual ~DirectorySource() = default;
  virtual HRESULT Open(Pass pass, std::unique_ptr<EntryStream>& out) = 0;
  // True where the address book is what the server's own address-book
  // attribute says (a server named by host name, as Active Directory).
  virtual bool RequiresAddressBookAttribute() const { return false; }
  // Names the directory for messages (never carries a password).
  virtual std::string Describe() const = 0;
};

// True when the server text names an LDIF file (a path: anything with a
// '/', or the name of an existing file) rather than an LDAP server.
bool NamesLdifFile(const std::string& server);

// Chooses the source from the configured server text: an ldap://,
// ldaps:// or ldapi:// URL, the path of an LDIF file, or a host name.
// Connects and binds for LDAP, so connection and credential failures
// surface here.
HRESULT OpenDirectorySource(const std::string& server, std::unique_ptr<DirectorySource>& out);

// The two kinds, for callers (tests, tools) that want one directly.
HRESULT OpenLdifSource(const std::string& path, std::unique_ptr<DirectorySource>& out);
HRESULT OpenLdapSource(const std::string& server, std::unique_ptr<DirectorySource>& out);

}  // namespace corvane::mapi
