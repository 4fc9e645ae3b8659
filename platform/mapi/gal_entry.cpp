#include "platform/mapi/gal_entry.h"

#include <algorithm>
#include <cstdlib>
#include <cerrno>
#include <cstring>
#include <functional>

#include <unistd.h>

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

// The index's key in memory: std::hash folded to 32 bits.
uint32_t ShortHash(std::string_view text) {
  const uint64_t h = std::hash<std::string_view>{}(text);
  return static_cast<uint32_t>(h ^ (h >> 32));
}

}  // namespace

NameIndex::NameIndex() : file_(std::tmpfile(), &std::fclose) {}

// A record: the DN's second hash (8 bytes), the name's length (4 bytes),
// the name, and padding to kRecordAlignment.
void NameIndex::Add(std::string_view canonicalDn, std::string_view name) {
  const uint64_t offset = fileBytes_ + tail_.size();
  if (offset / kRecordAlignment > UINT32_MAX) return;  // past 16 GB of names: the rest have none
  const uint64_t check = Fnv1a(canonicalDn);
  const auto length = static_cast<uint32_t>(name.size());
  tail_.append(reinterpret_cast<const char*>(&check), 8);
  tail_.append(reinterpret_cast<const char*>(&length), 4);
  tail_.append(name);
  tail_.resize((tail_.size() + kRecordAlignment - 1) / kRecordAlignment * kRecordAlignment, '\0');
  keys_.push_back(Key{ShortHash(canonicalDn), static_cast<uint32_t>(offset / kRecordAlignment)});
  if (tail_.size() >= 64 * 1024) WriteOut();
}

// Moves the records in memory to the end of the file. Where the file
// cannot take them (a full file system), they stay in memory, and so do
// all later ones.
void NameIndex::WriteOut() {
  if (!file_ || !writable_ || tail_.empty()) return;
  const int fd = fileno(file_.get());
  size_t done = 0;
  while (done < tail_.size()) {
    const ssize_t n = ::pwrite(fd, tail_.data() + done, tail_.size() - done, static_cast<off_t>(fileBytes_ + done));
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      writable_ = false;  // the records written before stay readable
      return;
    }
    done += static_cast<size_t>(n);
  }
  fileBytes_ += tail_.size();
  tail_.clear();
}

void NameIndex::Seal() {
  WriteOut();
  // Records are written in the order added: of two entries with one DN,
  // the first added comes first.
  std::sort(keys_.begin(), keys_.end(),
            [](const Key& a, const Key& b) { return a.hash != b.hash ? a.hash < b.hash : a.record < b.record; });
  keys_.shrink_to_fit();
  tail_.shrink_to_fit();
}

bool NameIndex::ReadRecord(uint64_t offset, uint64_t& check, std::string& name) const {
  uint32_t length = 0;
  if (offset < fileBytes_) {
    // One read takes the head and a name of usual length.
    char buffer[256];
    const int fd = fileno(file_.get());
    const ssize_t got = ::pread(fd, buffer, sizeof buffer, static_cast<off_t>(offset));
    if (got < 12) return false;
    std::memcpy(&check, buffer, 8);
    std::memcpy(&length, buffer + 8, 4);
    const size_t inBuffer = std::min<size_t>(length, static_cast<size_t>(got) - 12);
    name.assign(buffer + 12, inBuffer);
    if (inBuffer < length) {
      name.resize(length);
      const auto rest = static_cast<ssize_t>(length - inBuffer);
      if (::pread(fd, name.data() + inBuffer, rest, static_cast<off_t>(offset + 12 + inBuffer)) != rest) return false;
    }
    return true;
  }
  offset -= fileBytes_;
  if (offset + 12 > tail_.size()) return false;
  std::memcpy(&check, tail_.data() + offset, 8);
  std::memcpy(&length, tail_.data() + offset + 8, 4);
  name.assign(tail_, offset + 12, length);
  return true;
}

std::optional<std::string> NameIndex::Find(std::string_view canonicalDn) const {
  const uint32_t hash = ShortHash(canonicalDn);
  const uint64_t check = Fnv1a(canonicalDn);
  // Many DNs share a 32-bit hash in a large list: the record's own hash
  // tells them apart.
  auto it = std::lower_bound(keys_.begin(), keys_.end(), hash, [](const Key& k, uint32_t h) { return k.hash < h; });
  std::string name;
  for (; it != keys_.end() && it->hash == hash; ++it) {
    uint64_t stored = 0;
    if (ReadRecord(uint64_t{it->record} * kRecordAlignment, stored, name) && stored == check) return name;
  }
  return std::nullopt;
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
      row.push_back(Prop::String(PR_MANAGER_NAME, *name));
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
