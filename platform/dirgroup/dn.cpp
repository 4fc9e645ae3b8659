// DN text through libldap's DN parser and writer, so escaping follows
// RFC 4514 exactly.
#include <ldap.h>

#include <fmt/format.h>

#include <memory>

#include "platform/dirgroup/group_directory.h"
#include "platform/mapi/gal_entry.h"

namespace corvane::dirgroup {
namespace {

struct DnFree {
  void operator()(LDAPDN dn) const { ldap_dnfree(dn); }
};
using ParsedDn = std::unique_ptr<LDAPRDN, DnFree>;

ParsedDn Parse(std::string_view text) {
  berval bv{static_cast<ber_len_t>(text.size()), const_cast<char*>(text.data())};
  LDAPDN dn = nullptr;
  if (ldap_bv2dn(&bv, &dn, LDAP_DN_FORMAT_LDAPV3) != LDAP_SUCCESS) return nullptr;
  return ParsedDn(dn);
}

std::string Take(char* text) {
  std::string out = text ? text : "";
  ldap_memfree(text);
  return out;
}

}  // namespace

std::string ChildDn(std::string_view attribute, std::string_view value, std::string_view parent) {
  if (parent.empty() || !Parse(parent))
    throw DirectoryError(fmt::format("\"{}\" is not a valid distinguished name", parent));
  LDAPAVA ava{};
  ava.la_attr = {static_cast<ber_len_t>(attribute.size()), const_cast<char*>(attribute.data())};
  ava.la_value = {static_cast<ber_len_t>(value.size()), const_cast<char*>(value.data())};
  ava.la_flags = LDAP_AVA_STRING;
  LDAPAVA* rdn[] = {&ava, nullptr};
  char* text = nullptr;
  // Pretty: UTF-8 stays readable; every special character is escaped.
  if (ldap_rdn2str(rdn, &text, LDAP_DN_FORMAT_LDAPV3 | LDAP_DN_PRETTY) != LDAP_SUCCESS)
    throw DirectoryError(fmt::format("\"{}\" cannot be written as a name in a DN", value));
  return Take(text) + "," + std::string(parent);
}

std::string DnKey(std::string_view dn) {
  ParsedDn parsed = Parse(dn);
  char* text = nullptr;
  if (!parsed || ldap_dn2str(parsed.get(), &text, LDAP_DN_FORMAT_LDAPV3) != LDAP_SUCCESS)
    return mapi::CanonicalDn(dn);
  std::string key = Take(text);
  for (char& c : key)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return key;
}

}  // namespace corvane::dirgroup
