#include "platform/mapi/gal_entry.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>

#include <fmt/format.h>

#include "platform/mapi/last_error.h"
#include "platform/utf8/utf8.h"

namespace corvane::mapi {
namespace {

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }

bool IEquals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}

bool IStartsWith(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && IEquals(s.substr(0, prefix.size()), prefix);
}

bool HasClass(const DirEntry& e, std::string_view cls) {
  const auto* v = e.Get("objectclass");
  return v && std::any_of(v->begin(), v->end(), [cls](const std::string& c) { return IEquals(c, cls); });
}

bool IsGroup(const DirEntry& e) {
  return HasClass(e, "group") || HasClass(e, "groupOfNames") || HasClass(e, "groupOfUniqueNames");
}

// Single-valued mapping: a property and the attributes that can fill it,
// the first present one winning.
struct TextMapping {
  ULONG tag;
  std::initializer_list<std::string_view> attributes;
};

const TextMapping kTextMappings[] = {
    {PR_LOCALITY, {"l"}},
    {PR_COUNTRY, {"co", "c"}},
    {PR_POST_OFFICE_BOX, {"postofficebox"}},
    {PR_POSTAL_CODE, {"postalcode"}},
    {PR_STATE_OR_PROVINCE, {"st"}},
    {PR_STREET_ADDRESS, {"streetaddress"}},
    {PR_PRIMARY_FAX_NUMBER, {"facsimiletelephonenumber"}},
    {PR_BUSINESS_HOME_PAGE, {"wwwhomepage"}},
    {PR_BUSINESS_TELEPHONE_NUMBER, {"telephonenumber"}},
    {PR_BUSINESS2_TELEPHONE_NUMBER, {"othertelephone"}},
    {PR_DEPARTMENT_NAME, {"department", "departmentnumber"}},
    {PR_GIVEN_NAME, {"givenname"}},
    {PR_INITIALS, {"initials"}},
    {PR_SURNAME, {"sn"}},
    {PR_EMS_AB_DISPLAY_NAME_PRINTABLE, {"displaynameprintable"}},
    {PR_TITLE, {"title"}},
    {PR_COMPANY_NAME, {"company", "o"}},
    {PR_OFFICE_LOCATION, {"physicaldeliveryofficename", "roomnumber"}},
    {PR_HOME_TELEPHONE_NUMBER, {"homephone"}},
    {PR_HOME2_TELEPHONE_NUMBER, {"otherhomephone"}},
    {PR_HOME_ADDRESS_STREET, {"homepostaladdress"}},
    {PR_ASSISTANT, {"msexchassistantname"}},
    {PR_ASSISTANT_TELEPHONE_NUMBER, {"telephoneassistant"}},
    {PR_MOBILE_TELEPHONE_NUMBER, {"mobile"}},
    {PR_PAGER_TELEPHONE_NUMBER, {"pager"}},
    {PR_ACCOUNT, {"mailnickname", "samaccountname", "uid"}},
    {PR_EMS_AB_EXTENSION_ATTRIBUTE_1, {"extensionattribute1"}},
    {PR_EMS_AB_EXTENSION_ATTRIBUTE_2, {"extensionattribute2"}},
    {PR_EMS_AB_EXTENSION_ATTRIBUTE_3, {"extensionattribute3"}},
    {PR_EMS_AB_EXTENSION_ATTRIBUTE_4, {"extensionattribute4"}},
    {PR_COMMENT, {"info", "description"}},
    {PR_PERSONAL_HOME_PAGE, {"url", "labeleduri"}},
};

// Splits a DN into RDNs at unescaped commas.
std::vector<std::string_view> SplitDn(std::string_view dn) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (size_t i = 0; i < dn.size(); ++i) {
    if (dn[i] == '\\') {
      ++i;
    } else if (dn[i] == ',' || dn[i] == ';') {
      parts.push_back(dn.substr(start, i - start));
      start = i + 1;
    }
  }
  if (start < dn.size() || !parts.empty()) parts.push_back(dn.substr(start));
  return parts;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ' && !(s.size() > 1 && s[s.size() - 2] == '\\')) s.remove_suffix(1);
  return s;
}

// "Type=value" with blanks around '=' removed and the type in lower case.
std::string CanonicalRdn(std::string_view rdn, bool lower_value) {
  rdn = Trim(rdn);
  size_t eq = rdn.find('=');
  std::string out;
  if (eq == std::string_view::npos) {
    out.assign(rdn);
  } else {
    std::string_view type = Trim(rdn.substr(0, eq));
    std::string_view value = Trim(rdn.substr(eq + 1));
    out.reserve(rdn.size());
    for (char c : type) out.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    out.push_back('=');
    out.append(value);
    if (!lower_value) return out;
  }
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

}  // namespace

bool IsRecipient(const DirEntry& e) {
  if (HasClass(e, "computer")) return false;
  for (std::string_view cls : {"person", "organizationalPerson", "inetOrgPerson", "user", "contact", "publicFolder"})
    if (HasClass(e, cls)) return true;
  return IsGroup(e);
}

bool IsAddressBookEntry(const DirEntry& e, bool require_address_book_attribute) {
  if (!IsRecipient(e)) return false;
  if (const auto* hidden = e.First("msexchhidefromaddresslists"); hidden && IEquals(*hidden, "TRUE")) return false;
  const auto* lists = e.Get("showinaddressbook");
  if (!lists) return !require_address_book_attribute;
  return std::any_of(lists->begin(), lists->end(), [](const std::string& dn) {
    // The first RDN, up to the first unescaped comma.
    size_t end = 0;
    while (end < dn.size() && dn[end] != ',' && dn[end] != ';') end += dn[end] == '\\' ? 2 : 1;
    std::string_view first(dn.data(), std::min(end, dn.size()));
    return IEquals(first, "cn=Default Global Address List") ||
           CanonicalRdn(first, true) == "cn=default global address list";  // blanks around '='
  });
}

bool MatchesAccount(const DirEntry& e, std::string_view mailbox) {
  if (mailbox.empty()) return false;
  for (std::string_view attr : {"samaccountname", "uid", "mailnickname", "mail"}) {
    if (const auto* v = e.Get(attr))
      for (const auto& value : *v)
        if (IEquals(value, mailbox)) return true;
  }
  return false;
}

bool MatchesProxyAddress(const DirEntry& e, std::string_view mailbox) {
  if (mailbox.empty()) return false;
  if (const auto* v = e.Get("proxyaddresses")) {
    for (const auto& value : *v) {
      if (IEquals(value, mailbox)) return true;
      if (IStartsWith(value, "smtp:") && IEquals(std::string_view(value).substr(5), mailbox)) return true;
    }
  }
  return false;
}

LONG DisplayTypeOf(const DirEntry& e) {
  if (const auto* v = e.First("msexchrecipientdisplaytype")) {
    char* end = nullptr;
    long long n = std::strtoll(v->c_str(), &end, 10);
    if (end && *end == '\0' && !v->empty()) return static_cast<LONG>(static_cast<unsigned long long>(n) & 0xFF);
  }
  if (IsGroup(e)) return DT_DISTLIST;
  if (HasClass(e, "publicFolder")) return DT_FORUM;
  if (HasClass(e, "contact")) return DT_REMOTE_MAILUSER;
  bool has_mailbox = e.Get("homemdb") || e.Get("msexchhomeservername");
  if (e.Get("targetaddress") && !has_mailbox) return DT_REMOTE_MAILUSER;
  return DT_MAILUSER;
}

std::string CanonicalDn(std::string_view dn) {
  // One pass: lower case, and no blanks around the separators ',' and '='
  // (escaped characters are copied as they are).
  std::string out;
  out.reserve(dn.size());
  for (size_t i = 0; i < dn.size(); ++i) {
    char c = dn[i];
    if (c == '\\' && i + 1 < dn.size()) {
      out.push_back(c);
      out.push_back(AsciiLower(dn[++i]));
      continue;
    }
    if (c == ';') c = ',';
    if (c == ',' || c == '=') {
      while (!out.empty() && out.back() == ' ' && !(out.size() > 1 && out[out.size() - 2] == '\\')) out.pop_back();
      out.push_back(c);
      while (i + 1 < dn.size() && dn[i + 1] == ' ') ++i;
      continue;
    }
    if (c == ' ' && out.empty()) continue;
    out.push_back(AsciiLower(c));
  }
  while (!out.empty() && out.back() == ' ' && !(out.size() > 1 && out[out.size() - 2] == '\\')) out.pop_back();
  return out;
}

namespace {

// The identifier's layout around an X.500-style path.
std::string EntryIdAround(std::string_view x500, LONG display_type) {
  std::string id(4, '\0');
  id.append(reinterpret_cast<const char*>(kExchangeProviderUid), 16);
  auto put32 = [&id](uint32_t v) {
    for (int i = 0; i < 4; ++i) id.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  };
  put32(1);
  put32(static_cast<uint32_t>(display_type));
  id.append(x500);
  id.push_back('\0');
  return id;
}

// "/dc=example/ou=staff/cn=jsmith" for "CN=jsmith,OU=Staff,DC=example".
std::string X500Path(std::string_view dn) {
  auto rdns = SplitDn(dn);
  if (rdns.empty()) return "/";
  std::string path;
  for (auto it = rdns.rbegin(); it != rdns.rend(); ++it) {
    path.push_back('/');
    path += CanonicalRdn(*it, false);
  }
  return path;
}

// Active Directory's GUID text: the first three fields are stored little-endian.
std::string GuidText(const std::string& b) {
  const auto u = [&b](size_t i) { return static_cast<unsigned>(static_cast<unsigned char>(b[i])); };
  return fmt::format("{:02x}{:02x}{:02x}{:02x}-{:02x}{:02x}-{:02x}{:02x}-{:02x}{:02x}-{:02x}{:02x}{:02x}{:02x}{:02x}{:02x}",
                     u(3), u(2), u(1), u(0), u(5), u(4), u(7), u(6), u(8), u(9), u(10), u(11), u(12), u(13), u(14),
                     u(15));
}

std::string StableIdentity(const DirEntry& e) {
  if (const auto* legacy = e.First("legacyexchangedn"); legacy && !legacy->empty()) return *legacy;
  if (const auto* guid = e.First("objectguid"); guid && guid->size() == 16) return "/guid=" + GuidText(*guid);
  if (const auto* uuid = e.First("entryuuid"); uuid && !uuid->empty()) {
    std::string text = *uuid;
    for (char& c : text) c = AsciiLower(c);
    return "/guid=" + text;
  }
  return X500Path(e.dn);
}

}  // namespace

std::string PermanentEntryId(std::string_view dn, LONG display_type) {
  return EntryIdAround(X500Path(dn), display_type);
}

std::string EntryIdOf(const DirEntry& e, LONG display_type) {
  return EntryIdAround(StableIdentity(e), display_type);
}

const std::string* DisplayNameOf(const DirEntry& e) {
  if (const auto* v = e.First("displayname")) return v;
  return e.First("cn");
}

void RepairTextAttributes(DirEntry& e, bool report) {
  for (size_t i = 0; i < e.size(); ++i) {
    if (e.attrs[i].name == "objectguid") continue;  // 16 bytes, never shown as text
    bool repaired = false;
    for (auto& v : e.attrs[i].values) {
      if (utf8::FirstInvalidByte(v) < v.size()) {
        v = utf8::ToValidUtf8(v);
        repaired = true;
      }
    }
    if (repaired && report)
      Warn(fmt::format("entry \"{}\": attribute {} holds binary data or text that is not UTF-8; "
                       "each such byte reads as U+FFFD",
                       utf8::ToValidUtf8(e.dn), e.attrs[i].name));
  }
}

namespace {

// FNV-1a: independent of std::hash, so two DNs share a key only when both
// hashes collide.
uint64_t Fnv1a(std::string_view text) {
  uint64_t h = 14695981039346656037ULL;
  for (const char c : text) {
    h ^= static_cast<unsigned char>(c);
    h *= 1099511628211ULL;
  }
  return h;
}

}  // namespace

namespace {

constexpr size_t kNameChunk = 1 << 20;  // bytes

template <class Key>
bool KeyBefore(const Key& a, const Key& b) {
  return a.hash != b.hash ? a.hash < b.hash : a.check < b.check;
}

}  // namespace

void NameIndex::Add(std::string_view canonicalDn, std::string_view name) {
  const size_t needed = name.size() + 5;
  if (chunks_.empty() || chunks_.back().size() + needed > chunks_.back().capacity()) {
    chunks_.emplace_back();
    chunks_.back().reserve(std::max(kNameChunk, needed));  // a longer name has a chunk of its own
  }
  std::string& chunk = chunks_.back();
  keys_.push_back(Key{std::hash<std::string_view>{}(canonicalDn), static_cast<uint16_t>(Fnv1a(canonicalDn)),
                      static_cast<uint16_t>(chunks_.size() - 1), static_cast<uint32_t>(chunk.size())});
  const auto length = static_cast<uint32_t>(name.size());
  if (length < 0xFF) {
    chunk += static_cast<char>(length);
  } else {
    chunk += static_cast<char>(0xFF);
    for (int shift = 0; shift < 32; shift += 8) chunk += static_cast<char>((length >> shift) & 0xFF);
  }
  chunk.append(name);
}

void NameIndex::Seal() {
  // Of two entries with one DN the first added stays first: chunk and
  // position grow in the order of Add, and sorting by them too needs no
  // buffer, as a stable sort would.
  std::sort(keys_.begin(), keys_.end(), [](const Key& a, const Key& b) {
    if (KeyBefore(a, b) || KeyBefore(b, a)) return KeyBefore(a, b);
    return a.chunk != b.chunk ? a.chunk < b.chunk : a.position < b.position;
  });
  keys_.shrink_to_fit();
  if (!chunks_.empty()) chunks_.back().shrink_to_fit();
}

std::optional<std::string_view> NameIndex::Find(std::string_view canonicalDn) const {
  const Key wanted{std::hash<std::string_view>{}(canonicalDn), static_cast<uint16_t>(Fnv1a(canonicalDn)), 0, 0};
  const auto it = std::lower_bound(keys_.begin(), keys_.end(), wanted, KeyBefore<Key>);
  if (it == keys_.end() || it->hash != wanted.hash || it->check != wanted.check) return std::nullopt;
  const std::string& chunk = chunks_[it->chunk];
  size_t at = it->position;
  uint32_t length = static_cast<unsigned char>(chunk[at++]);
  if (length == 0xFF) {
    length = 0;
    for (int shift = 0; shift < 32; shift += 8)
      length |= static_cast<uint32_t>(static_cast<unsigned char>(chunk[at++])) << shift;
  }
  return std::string_view(chunk).substr(at, length);
}

HRESULT BuildGalRow(const DirEntry& e, const NameIndex& names, Row& row) {
  row.clear();
  LONG display_type = DisplayTypeOf(e);
  row.push_back(Prop::Binary(PR_ENTRYID, EntryIdOf(e, display_type)));
  row.push_back(Prop::Long(PR_OBJECT_TYPE, display_type == DT_DISTLIST ? MAPI_DISTLIST : MAPI_MAILUSER));
  row.push_back(Prop::Long(PR_DISPLAY_TYPE, display_type));
  if (const auto* name = DisplayNameOf(e)) row.push_back(Prop::String(PR_DISPLAY_NAME, *name));
  for (const auto& m : kTextMappings) {
    for (std::string_view a : m.attributes) {
      if (const auto* v = e.First(a)) {
        row.push_back(Prop::String(m.tag, *v));
        break;
      }
    }
  }
  if (const auto* manager = e.First("manager")) {
    if (const auto name = names.Find(CanonicalDn(*manager)))
      row.push_back(Prop::String(PR_MANAGER_NAME, std::string(*name)));
  }
  if (const auto* proxies = e.Get("proxyaddresses")) {
    row.push_back(Prop::MvString(PR_EMS_AB_PROXY_ADDRESSES, *proxies));
  } else if (const auto* mail = e.First("mail")) {
    row.push_back(Prop::MvString(PR_EMS_AB_PROXY_ADDRESSES, {"SMTP:" + *mail}));
  }
  return S_OK;
}

const std::vector<std::string>& PassAttributes(Pass pass) {
  static const std::vector<std::string> kScan = {"objectClass",    "displayName", "cn",
                                                 "msExchHideFromAddressLists", "showInAddressBook",
                                                 "sAMAccountName", "uid",         "mailNickname", "mail"};
  static const std::vector<std::string> kProxies = {"objectClass", "proxyAddresses"};
  static const std::vector<std::string> kAddresses = {"objectClass", "proxyAddresses", "mail"};
  static const std::vector<std::string> kRead = [] {
    std::vector<std::string> list = {"objectClass",  "displayName", "cn",         "manager",
                                     "proxyAddresses", "mail",      "msExchRecipientDisplayType",
                                     "msExchHideFromAddressLists",  "showInAddressBook",
                                     "homeMDB",      "msExchHomeServerName",      "targetAddress",
                                     // the entry identifier's stable identity (entryUUID is operational:
                                     // a server returns it only when asked by name)
                                     "legacyExchangeDN", "objectGUID", "entryUUID"};
    for (const auto& m : kTextMappings)
      for (std::string_view a : m.attributes)
        if (std::none_of(list.begin(), list.end(), [a](const std::string& have) { return IEquals(have, a); }))
          list.emplace_back(a);
    return list;
  }();
  switch (pass) {
    case Pass::Scan: return kScan;
    case Pass::Proxies: return kProxies;
    case Pass::Addresses: return kAddresses;
    default: return kRead;
  }
}

}  // namespace corvane::mapi
