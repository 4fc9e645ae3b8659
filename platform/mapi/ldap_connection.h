// An LDAP connection as the directory layer opens it: the server text
// parsed (ldap://, ldaps://, ldapi:// URL or a host name), connected, and
// bound with the credentials the environment names:
//   CORVANE_LDAP_BINDDN          bind DN for a simple bind, with
//   CORVANE_LDAP_PASSWORD_FILE   a file holding the password (first line),
//                                readable by its owner only;
//   neither, but SASL_MECH set in ldap.conf/ldaprc: a SASL bind as the
//                                OpenLDAP client configuration says;
//   otherwise an anonymous bind.
// Credentials never come from a command line and are never logged.
#pragma once

#include <ldap.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/mapi/directory.h"

namespace corvane::mapi {

inline constexpr int kLdapNetworkTimeoutSeconds = 15;
inline constexpr int kLdapSearchTimeoutSeconds = 300;

// Where a server text points.
struct LdapTarget {
  std::string uri;     // scheme://host[:port]
  std::string base;    // after ConnectLdap never empty
  int scope = LDAP_SCOPE_SUBTREE;
  std::string filter;  // empty: every entry (or, by host name, the address-book ones)
  bool by_host_name = false;
};

// One bound connection, unbound when the last holder lets go. Not copyable.
class LdapConnection {
 public:
  explicit LdapConnection(LDAP* ld) : ld_(ld) {}
  ~LdapConnection() { ldap_unbind_ext_s(ld_, nullptr, nullptr); }
  LdapConnection(const LdapConnection&) = delete;
  LdapConnection& operator=(const LdapConnection&) = delete;
  LDAP* get() const { return ld_; }

 private:
  LDAP* ld_;
};

struct LdapMessageFree {
  void operator()(LDAPMessage* m) const { ldap_msgfree(m); }
};
using LdapMessage = std::unique_ptr<LDAPMessage, LdapMessageFree>;

// Connects to the server the text names and binds. Where the text names
// no base, takes the root DSE's defaultNamingContext (else its only
// namingContexts value). Failures: MAPI_E_NETWORK_ERROR (unreachable),
// MAPI_E_LOGON_FAILED (credentials), MAPI_E_NOT_FOUND (no base),
// MAPI_E_INVALID_PARAMETER (not a valid URL), details in the last error.
HRESULT ConnectLdap(const std::string& server, std::shared_ptr<LdapConnection>& conn, LdapTarget& target);

// The MAPI error for a libldap result code, with "<what> at <where>: <reason>"
// as the last error.
HRESULT LdapFailure(int rc, const std::string& what, const std::string& where);

// The values of one root DSE attribute; empty when the server has none.
std::vector<std::string> ReadRootDse(LDAP* ld, const char* attribute);

// A pass over the entries below target.base (its scope and filter), asking
// for `attributes`: paged, with ranged values fetched in full.
std::unique_ptr<EntryStream> OpenLdapStream(std::shared_ptr<LdapConnection> conn, const LdapTarget& target,
                                            const std::vector<std::string>& attributes);

// The directory source over a connection already open.
std::unique_ptr<DirectorySource> MakeLdapSource(std::shared_ptr<LdapConnection> conn, LdapTarget target);

}  // namespace corvane::mapi
