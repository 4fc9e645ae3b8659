// The group-writing layer: one group kept in a directory of the kinds the
// GAL reader reads (an LDAP server named by URL or host name, or an LDIF
// file), reached and bound exactly as the directory layer does it. It
// finds the container a group lives in, reads the group, streams the
// addresses members are resolved by, and applies LDIF-shaped change
// records: on a server one request per record, in an LDIF file all at
// once by replacing the file.
#pragma once

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/mapi/directory.h"

namespace corvane::dirgroup {

// Every failure of the layer, in words that name what failed and where
// (never a password).
class DirectoryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Values of one attribute to add to an entry or to remove from it.
struct AttributeChange {
  enum class Op { Add, Delete };
  Op op = Op::Add;
  std::string attribute;
  std::vector<std::string> values;
};

// One LDIF change record (RFC 2849): a new entry with its attributes
// (every change an Add), or changes to an entry that exists.
struct ChangeRecord {
  enum class Type { Add, Modify };
  Type type = Type::Modify;
  std::string dn;
  std::vector<AttributeChange> changes;
};

// The records as LDIF change records, each followed by a blank line;
// values that LDIF cannot show as they are are base64-encoded.
std::string FormatChangeRecords(const std::vector<ChangeRecord>& records);

// An Active Directory group (objectClass group, with a groupType), or a
// groupOfNames (which must always hold at least one member).
enum class GroupKind { ActiveDirectory, GroupOfNames };

struct GroupEntry {
  bool exists = false;
  GroupKind kind = GroupKind::GroupOfNames;
  std::vector<std::string> members;  // DNs as the directory holds them
  std::string account_name;          // sAMAccountName (Active Directory), empty when it has none
  std::string display_name;          // displayName, empty when it has none
};

// "attribute=value,parent" with the value escaped for a DN (RFC 4514, by
// libldap). Throws DirectoryError when `parent` is not a valid DN.
std::string ChildDn(std::string_view attribute, std::string_view value, std::string_view parent);

// A form of a DN in which two spellings of the same name are equal: case
// of ASCII letters, blanks around separators, and escaping do not count.
std::string DnKey(std::string_view dn);

class GroupDirectory {
 public:
  virtual ~GroupDirectory() = default;

  // Opens the directory the server text names, as the GAL reader does: an
  // ldap://, ldaps:// or ldapi:// URL, a host name, or an LDIF file path.
  // Throws DirectoryError: unreachable server, refused bind, bad URL,
  // missing file.
  static std::unique_ptr<GroupDirectory> Open(const std::string& server);

  // Names the directory for messages.
  virtual std::string Describe() const = 0;

  // The DN of the entry directly below `base_point` named CN=<name> or
  // OU=<name> (CN where both exist); empty when neither exists. Throws
  // DirectoryError when the base point itself does not exist.
  virtual std::string FindContainer(const std::string& base_point, const std::string& name) = 0;

  // The entry `dn` as a group, with every member (in full, also where a
  // server hands them out in ranges). Throws DirectoryError when the
  // entry exists but is neither kind of group.
  virtual GroupEntry ReadGroup(const std::string& dn) = 0;

  // The kind a new group takes: ActiveDirectory on Active Directory (the
  // capability its root DSE names) and in a file that holds groups of that
  // class; else GroupOfNames.
  virtual GroupKind NewGroupKind() = 0;

  // The DN of the entry whose account name (sAMAccountName) is
  // `account_name`, compared without regard to case; empty when none has it.
  virtual std::string FindAccount(const std::string& account_name) = 0;

  // Calls `each` with every entry of the directory (below the server's
  // base), carrying objectClass, proxyAddresses and mail. A server named
  // by host name is scanned whole: the address-list attribute
  // (showInAddressBook) that limits its address list does not limit who
  // can be a member.
  virtual void ScanAddresses(const std::function<void(const mapi::DirEntry&)>& each) = 0;

  // Applies the records in order and calls `applied(i)` once record i has
  // taken effect. Throws DirectoryError at the first record that fails;
  // the records before it stay applied. An LDIF file takes records for one
  // entry per call and applies them all or none.
  virtual void Apply(const std::vector<ChangeRecord>& records, const std::function<void(size_t)>& applied) = 0;
};

}  // namespace corvane::dirgroup
