#include "platform/mapi/directory.h"

#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <array>
#include <utility>

namespace corvane::mapi {

const std::vector<std::string>* DirEntry::Get(std::string_view name) const {
  for (size_t i = 0; i < used_; ++i)
    if (attrs[i].name == name) return &attrs[i].values;
  return nullptr;
}

const std::string* DirEntry::First(std::string_view name) const {
  const auto* v = Get(name);
  return v && !v->empty() ? &v->front() : nullptr;
}

void DirEntry::Add(std::string_view name, std::string_view value, bool tagged) {
  for (size_t i = 0; i < used_; ++i) {
    DirAttribute& a = attrs[i];
    if (a.name != name) continue;
    if (tagged && !a.tagged) return;  // the plain values win
    if (!tagged && a.tagged) {
      a.values.clear();
      a.tagged = false;
    }
    a.values.emplace_back(value);
    return;
  }
  if (used_ == attrs.size()) attrs.emplace_back();
  DirAttribute& a = attrs[used_++];
  a.name.assign(name);
  a.tagged = tagged;
  // Reuse the value strings' room from earlier entries.
  a.values.resize(1);
  a.values[0].assign(value);
}

void DirEntry::Clear() {
  dn.clear();
  used_ = 0;
}

std::string CanonicalAttributeName(std::string_view description) {
  std::string name(description.substr(0, description.find(';')));
  bool plain = true;  // letters only: could be an alias
  for (char& c : name) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c < 'a' || c > 'z') plain = false;
  }
  if (!plain || name.size() < 2) return name;
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 15> kAliases{{
      {"countryname", "c"},
      {"street", "streetaddress"},
      {"friendlycountryname", "co"},
      {"localityname", "l"},
      {"stateorprovincename", "st"},
      {"fax", "facsimiletelephonenumber"},
      {"mobiletelephonenumber", "mobile"},
      {"pagertelephonenumber", "pager"},
      {"hometelephonenumber", "homephone"},
      {"surname", "sn"},
      {"gn", "givenname"},
      {"commonname", "cn"},
      {"rfc822mailbox", "mail"},
      {"userid", "uid"},
      {"organizationname", "o"},
  }};
  for (const auto& [alias, canonical] : kAliases)
    if (name == alias) return std::string(canonical);
  return name;
}

bool IsLanguageTagged(std::string_view description) {
  for (size_t at = description.find(';'); at != std::string_view::npos; at = description.find(';', at + 1)) {
    if (description.size() - at > 5 && strncasecmp(description.data() + at + 1, "lang-", 5) == 0) return true;
  }
  return false;
}

const std::string& AttributeNames::Canonical(std::string_view written) {
  size_t n = names_.size();
  for (size_t k = 0; k < n; ++k) {
    size_t i = (last_ + 1 + k) % n;
    if (names_[i].first == written) {
      last_ = i;
      return names_[i].second;
    }
  }
  names_.emplace_back(std::string(written), CanonicalAttributeName(written));
  last_ = names_.size() - 1;
  return names_.back().second;
}

bool NamesLdifFile(const std::string& server) {
  auto starts = [&server](std::string_view p) {
    return server.size() >= p.size() &&
           std::equal(p.begin(), p.end(), server.begin(),
                      [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
  };
  if (starts("ldap://") || starts("ldaps://") || starts("ldapi://")) return false;
  // A path: anything with a slash, or a name that exists as a file.
  struct stat st {};
  return server.find('/') != std::string::npos || stat(server.c_str(), &st) == 0;
}

HRESULT OpenDirectorySource(const std::string& server, std::unique_ptr<DirectorySource>& out) {
  return NamesLdifFile(server) ? OpenLdifSource(server, out) : OpenLdapSource(server, out);
}

}  // namespace corvane::mapi
