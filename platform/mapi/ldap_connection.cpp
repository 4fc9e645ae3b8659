// Connecting and binding to an LDAP server (see ldap_connection.h).
#include "platform/mapi/ldap_connection.h"

#include <sys/stat.h>

#include <fmt/format.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "platform/mapi/last_error.h"

namespace corvane::mapi {
namespace {

HRESULT ParseServer(const std::string& server, LdapTarget& t) {
  if (server.find("://") == std::string::npos) {
    t.uri = "ldap://" + server;
    t.by_host_name = true;
    t.filter = "(showInAddressBook=*)";
    return S_OK;
  }
  LDAPURLDesc* lud = nullptr;
  int rc = ldap_url_parse(server.c_str(), &lud);
  if (rc != LDAP_URL_SUCCESS)
    return Fail(MAPI_E_INVALID_PARAMETER, fmt::format("the server \"{}\" is not a valid LDAP URL", server));
  std::unique_ptr<LDAPURLDesc, void (*)(LDAPURLDesc*)> hold(lud, ldap_free_urldesc);
  t.uri = fmt::format("{}://{}", lud->lud_scheme, lud->lud_host ? lud->lud_host : "");
  if (lud->lud_port) t.uri += fmt::format(":{}", lud->lud_port);
  if (std::string(lud->lud_scheme) == "ldapi") t.uri = server.substr(0, server.find('/', 8));
  t.base = lud->lud_dn ? lud->lud_dn : "";
  // A URL without a scope reads the subtree below its base (a URL's own
  // default, the base entry alone, never holds an address list).
  size_t path = server.find('/', server.find("://") + 3);
  size_t scope_at = path == std::string::npos ? path : server.find('?', server.find('?', path) + 1);
  bool scope_given = scope_at != std::string::npos && scope_at + 1 < server.size() && server[scope_at + 1] != '?';
  t.scope = scope_given ? lud->lud_scope : LDAP_SCOPE_SUBTREE;
  t.filter = lud->lud_filter ? lud->lud_filter : "";
  return S_OK;
}

HRESULT ReadPasswordFile(const char* path, std::string& password) {
  struct stat st {};
  if (stat(path, &st) != 0)
    return Fail(MAPI_E_LOGON_FAILED, fmt::format("cannot read the LDAP password file {}: {}", path, std::strerror(errno)));
  if (!S_ISREG(st.st_mode))
    return Fail(MAPI_E_LOGON_FAILED, fmt::format("the LDAP password file {} is not a regular file", path));
  if (st.st_mode & (S_IRWXG | S_IRWXO))
    return Fail(MAPI_E_LOGON_FAILED,
                fmt::format("the LDAP password file {} can be read by other users; allow its owner only "
                            "(chmod 600)", path));
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return Fail(MAPI_E_LOGON_FAILED, fmt::format("cannot read the LDAP password file {}: {}", path, std::strerror(errno)));
  std::getline(in, password);
  if (!password.empty() && password.back() == '\r') password.pop_back();
  return S_OK;
}

int QuietSaslInteraction(LDAP*, unsigned, void*, void*) { return LDAP_SUCCESS; }

HRESULT Bind(LDAP* ld, const std::string& where) {
  const char* binddn = std::getenv("CORVANE_LDAP_BINDDN");
  const char* password_file = std::getenv("CORVANE_LDAP_PASSWORD_FILE");
  int rc;
  if (binddn && *binddn) {
    if (!password_file || !*password_file)
      return Fail(MAPI_E_LOGON_FAILED, "CORVANE_LDAP_BINDDN is set but CORVANE_LDAP_PASSWORD_FILE names no file");
    std::string password;
    if (HRESULT hr = ReadPasswordFile(password_file, password); FAILED(hr)) return hr;
    // A simple bind with a DN and no password is an unauthenticated bind
    // that many servers accept as anonymous: refuse it.
    if (password.empty())
      return Fail(MAPI_E_LOGON_FAILED, fmt::format("the LDAP password file {} holds no password", password_file));
    berval cred{static_cast<ber_len_t>(password.size()), password.data()};
    rc = ldap_sasl_bind_s(ld, binddn, LDAP_SASL_SIMPLE, &cred, nullptr, nullptr, nullptr);
    std::fill(password.begin(), password.end(), '\0');
    if (rc != LDAP_SUCCESS) return LdapFailure(rc, fmt::format("simple bind as \"{}\" failed", binddn), where);
    return S_OK;
  }
  char* mech = nullptr;
  if (ldap_get_option(ld, LDAP_OPT_X_SASL_MECH, &mech) == LDAP_OPT_SUCCESS && mech && *mech) {
    std::string m = mech;
    ldap_memfree(mech);
    rc = ldap_sasl_interactive_bind_s(ld, nullptr, m.c_str(), nullptr, nullptr, LDAP_SASL_QUIET,
                                      QuietSaslInteraction, nullptr);
    if (rc != LDAP_SUCCESS) return LdapFailure(rc, fmt::format("SASL bind ({}) failed", m), where);
    return S_OK;
  }
  berval none{0, nullptr};
  rc = ldap_sasl_bind_s(ld, nullptr, LDAP_SASL_SIMPLE, &none, nullptr, nullptr, nullptr);
  if (rc != LDAP_SUCCESS) return LdapFailure(rc, "anonymous bind failed", where);
  return S_OK;
}

}  // namespace

HRESULT LdapFailure(int rc, const std::string& what, const std::string& where) {
  HRESULT hr = MAPI_E_CALL_FAILED;
  switch (rc) {
    case LDAP_SERVER_DOWN:
    case LDAP_CONNECT_ERROR:
    case LDAP_TIMEOUT:
    case LDAP_TIMELIMIT_EXCEEDED:
      hr = MAPI_E_NETWORK_ERROR;
      break;
    case LDAP_INVALID_CREDENTIALS:
    case LDAP_INAPPROPRIATE_AUTH:
    case LDAP_STRONG_AUTH_REQUIRED:
    case LDAP_AUTH_UNKNOWN:
    case LDAP_INSUFFICIENT_ACCESS:
    case LDAP_UNWILLING_TO_PERFORM:
      hr = MAPI_E_LOGON_FAILED;
      break;
    case LDAP_NO_SUCH_OBJECT:
      hr = MAPI_E_NOT_FOUND;
      break;
    default:
      break;
  }
  return Fail(hr, fmt::format("{} at {}: {}", what, where, ldap_err2string(rc)));
}

std::vector<std::string> ReadRootDse(LDAP* ld, const char* attribute) {
  std::vector<std::string> out;
  char* attrs[] = {const_cast<char*>(attribute), nullptr};
  LDAPMessage* raw = nullptr;
  timeval tv{kLdapNetworkTimeoutSeconds, 0};
  int rc = ldap_search_ext_s(ld, "", LDAP_SCOPE_BASE, "(objectClass=*)", attrs, 0, nullptr, nullptr, &tv, 1, &raw);
  LdapMessage msg(raw);
  if (rc != LDAP_SUCCESS) return out;
  LDAPMessage* e = ldap_first_entry(ld, raw);
  if (!e) return out;
  berval** vals = ldap_get_values_len(ld, e, attribute);
  for (int i = 0; vals && vals[i]; ++i) out.emplace_back(vals[i]->bv_val, vals[i]->bv_len);
  ldap_value_free_len(vals);
  return out;
}

HRESULT ConnectLdap(const std::string& server, std::shared_ptr<LdapConnection>& conn, LdapTarget& t) {
  t = LdapTarget{};
  if (HRESULT hr = ParseServer(server, t); FAILED(hr)) return hr;
  LDAP* raw = nullptr;
  int rc = ldap_initialize(&raw, t.uri.c_str());
  if (rc != LDAP_SUCCESS) return LdapFailure(rc, "cannot use the LDAP server", t.uri);
  conn = std::make_shared<LdapConnection>(raw);
  int version = LDAP_VERSION3;
  ldap_set_option(raw, LDAP_OPT_PROTOCOL_VERSION, &version);
  ldap_set_option(raw, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
  timeval net{kLdapNetworkTimeoutSeconds, 0};
  ldap_set_option(raw, LDAP_OPT_NETWORK_TIMEOUT, &net);
  if (HRESULT hr = Bind(raw, t.uri); FAILED(hr)) return hr;
  if (t.base.empty()) {
    // Active Directory names its domain; other servers list their naming
    // contexts, of which one is taken when there is only one.
    auto base = ReadRootDse(raw, "defaultNamingContext");
    if (base.empty()) {
      auto contexts = ReadRootDse(raw, "namingContexts");
      if (contexts.size() == 1) base = contexts;
    }
    if (base.empty() || base.front().empty())
      return Fail(MAPI_E_NOT_FOUND,
                  fmt::format("the LDAP server {} names no default naming context; give the base in an ldap:// URL",
                              t.uri));
    t.base = base.front();
  }
  return S_OK;
}

}  // namespace corvane::mapi
