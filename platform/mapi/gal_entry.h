// How a directory entry appears in the global address list: which entries
// belong to it, the properties of its row (attribute mapping of Active
// Directory with fallbacks for plain inetOrgPerson directories), its
// display type and its permanent entry identifier.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/mapi/directory.h"
#include "platform/mapi/prop_row.h"

namespace corvane::mapi {

// The Exchange address-book provider identifier.
inline constexpr BYTE kExchangeProviderUid[16] = {0xDC, 0xA7, 0x40, 0xC8, 0xC0, 0x42, 0x10, 0x1A,
                                                  0xB4, 0xB9, 0x08, 0x00, 0x2B, 0x2F, 0xE1, 0x82};

// A recipient (user, contact, group, public folder) that is not hidden
// from address lists; where `require_address_book_attribute`, it must also
// name the global address list in showInAddressBook (an entry that has
// that attribute must name it in any case).
bool IsAddressBookEntry(const DirEntry& e, bool require_address_book_attribute);
bool IsRecipient(const DirEntry& e);

// The mailbox text names the entry by account name (sAMAccountName, uid,
// mailNickname) or mail address; or by a proxy address, with or without
// its "smtp:" prefix. Compared without regard to case.
bool MatchesAccount(const DirEntry& e, std::string_view mailbox);
bool MatchesProxyAddress(const DirEntry& e, std::string_view mailbox);

LONG DisplayTypeOf(const DirEntry& e);

// Lower-cases attribute types and values and drops blanks around the
// separators, so that two spellings of one name compare equal.
std::string CanonicalDn(std::string_view dn);

// Exchange permanent entry identifier: four zero flag bytes, the provider
// identifier, version 1, the display type, then the X.500 form of the
// distinguished name ("/dc=example/ou=staff/cn=jsmith") and a NUL.
std::string PermanentEntryId(std::string_view dn, LONG display_type);

// The same layout for a directory entry, carrying the identity the entry
// keeps when it is moved or renamed: its legacyExchangeDN (what an Exchange
// entry identifier carries); else the directory's own immutable identifier,
// objectGUID (Active Directory) or entryUUID (OpenLDAP), as "/guid=<uuid>";
// else the X.500 form of its distinguished name.
std::string EntryIdOf(const DirEntry& e, LONG display_type);

// Display names by canonical DN, for the manager's name. Every entry of
// the address list is in it for the whole read, so it is kept compact: a
// DN is held as two independent hashes (16 bytes with the name's place,
// instead of the DN's text in a hash map), the names in pieces of 1 MB.
class NameIndex {
 public:
  // Adds the name of `canonicalDn`; the first name added for a DN wins.
  void Add(std::string_view canonicalDn, std::string_view name);
  // Makes the index ready for Find; call once after the last Add.
  void Seal();
  // The name of `canonicalDn`, or nullopt.
  std::optional<std::string_view> Find(std::string_view canonicalDn) const;

 private:
  // 16 bytes per entry: the DN itself is not kept, only two hashes of it
  // (80 bits in all), so two DNs share a key only when both collide.
  struct Key {
    uint64_t hash;
    uint16_t check;
    uint16_t chunk;     // of the name in chunks_
    uint32_t position;  // of the name's length prefix in its chunk
  };
  // Both grow by pieces, never by copying all they hold to a buffer twice
  // the size (which would double the peak for a large directory).
  std::deque<Key> keys_;
  std::vector<std::string> chunks_;  // names, each after its length (one byte, or 0xFF and four)
};

// Every attribute read is text, except objectGUID (16 bytes, kept as
// they are). A value holding bytes that are not well-formed UTF-8 (another
// code page, binary data, NUL) has each such byte replaced by U+FFFD
// (utf8::ToValidUtf8), so
// one damaged value costs its bad bytes, not the entry or the whole
// address list; where `report`, each repaired attribute is named (entry
// and attribute) on standard error.
void RepairTextAttributes(DirEntry& e, bool report);

// The entry's row: every property the address book serves; the ones the
// entry lacks are left out (they read back as MAPI_E_NOT_FOUND). Text
// values are taken as they are: repair them first.
HRESULT BuildGalRow(const DirEntry& e, const NameIndex& names, Row& row);

// The display name: displayName, else cn.
const std::string* DisplayNameOf(const DirEntry& e);
}  // namespace corvane::mapi
