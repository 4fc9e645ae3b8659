// An LDAP connection as the directory layer opens it: the server text
// parsed (ldap://, ldaps://, ldapi:// URL or a host name), connected, made
// secure as the settings say (their CA file; StartTLS on ldap://), and
// bound with the credentials the settings name (ldap_settings.h):
//   LdapSaslMech                 a SASL bind with that mechanism (GSSAPI
//                                takes its ticket from KRB5CCNAME);
//   LdapBindDN                   else a simple bind as that DN, with
//   LdapPasswordFile             a file holding the password (first line),
//                                readable by its owner only;
//   neither, but SASL_MECH set in ldap.conf/ldaprc: a SASL bind as the
//                                OpenLDAP client configuration says;
//   otherwise an anonymous bind.
// Credentials never come from a command line and are never logged. Every
// failure carries the server's own diagnostic text, on one line.
#pragma once

#include <ldap.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/mapi/directory.h"
#include "platform/mapi/ldap_settings.h"

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
// A simple bind whose password would go in clear (ClearTextBindWarning)
// fails with MAPI_E_LOGON_FAILED when the settings refuse it, else goes on
// after a warning on standard error. The first form reads the home's settings.
HRESULT ConnectLdap(const std::string& server, std::shared_ptr<LdapConnection>& conn, LdapTarget& target);
HRESULT ConnectLdap(const std::string& server, const LdapSettings& settings, std::shared_ptr<LdapConnection>& conn,
                    LdapTarget& target);

// The MAPI error for a libldap result code, with "<what> at <where>: <reason>"
// as the last error, followed by " (<diagnostic>)" when there is one.
HRESULT LdapFailure(int rc, const std::string& what, const std::string& where, const std::string& diagnostic = {});
// The same with the server's diagnostic text for the last operation on `ld`.
HRESULT LdapFailure(LDAP* ld, int rc, const std::string& what, const std::string& where);

// The server's diagnostic text (LDAP_OPT_DIAGNOSTIC_MESSAGE) for the last
// operation on `ld`, control characters and line breaks turned into blanks
// so it stays on one log line; empty when there is none.
std::string DiagnosticMessage(LDAP* ld);

// The values of one root DSE attribute; empty when the server has none.
std::vector<std::string> ReadRootDse(LDAP* ld, const char* attribute);

// A pass over the entries below target.base (its scope and filter), asking
// for `attributes`: paged, with ranged values fetched in full.
std::unique_ptr<EntryStream> OpenLdapStream(std::shared_ptr<LdapConnection> conn, const LdapTarget& target,
                                            const std::vector<std::string>& attributes);

// The directory source over a connection already open.
std::unique_ptr<DirectorySource> MakeLdapSource(std::shared_ptr<LdapConnection> conn, LdapTarget target);

}  // namespace corvane::mapi
