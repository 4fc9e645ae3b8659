// Connecting and binding to an LDAP server (see ldap_connection.h).
#include "platform/mapi/ldap_connection.h"

#include <sys/stat.h>
#include <unistd.h>

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

HRESULT Bind(LDAP* ld, const LdapSettings& s, const std::string& where) {
  int rc;
  if (IsSimpleBind(s)) {
    if (s.password_file.empty())
      return Fail(MAPI_E_LOGON_FAILED, fmt::format("{} is set ({}) but {} names no password file", s.bind_dn_from,
                                                   s.bind_dn, kLdapPasswordFileValue));
    std::string password;
    if (HRESULT hr = ReadPasswordFile(s.password_file.c_str(), password); FAILED(hr)) return hr;
    // A simple bind with a DN and no password is an unauthenticated bind
    // that many servers accept as anonymous: refuse it.
    if (password.empty())
      return Fail(MAPI_E_LOGON_FAILED, fmt::format("the LDAP password file {} holds no password", s.password_file));
    berval cred{static_cast<ber_len_t>(password.size()), password.data()};
    rc = ldap_sasl_bind_s(ld, s.bind_dn.c_str(), LDAP_SASL_SIMPLE, &cred, nullptr, nullptr, nullptr);
    std::fill(password.begin(), password.end(), '\0');
    if (rc != LDAP_SUCCESS) return LdapFailure(ld, rc, fmt::format("simple bind as \"{}\" failed", s.bind_dn), where);
    return S_OK;
  }
  std::string mech = s.sasl_mech;
  char* configured = nullptr;
  if (mech.empty() && ldap_get_option(ld, LDAP_OPT_X_SASL_MECH, &configured) == LDAP_OPT_SUCCESS && configured) {
    mech = configured;
    ldap_memfree(configured);
  }
  if (!mech.empty()) {
    rc = ldap_sasl_interactive_bind_s(ld, nullptr, mech.c_str(), nullptr, nullptr, LDAP_SASL_QUIET,
                                      QuietSaslInteraction, nullptr);
    if (rc != LDAP_SUCCESS) return LdapFailure(ld, rc, fmt::format("SASL bind ({}) failed", mech), where);
    return S_OK;
  }
  berval none{0, nullptr};
  rc = ldap_sasl_bind_s(ld, nullptr, LDAP_SASL_SIMPLE, &none, nullptr, nullptr, nullptr);
  if (rc != LDAP_SUCCESS) return LdapFailure(ld, rc, "anonymous bind failed", where);
  return S_OK;
}

// TLS as the settings ask: their CA file for this connection, and StartTLS
// on an ldap:// connection.
HRESULT SecureTransport(LDAP* ld, const LdapSettings& s, const std::string& uri) {
  if (!s.ca_file.empty()) {
    if (::access(s.ca_file.c_str(), R_OK) != 0)
      return Fail(MAPI_E_LOGON_FAILED, fmt::format("cannot read the CA file {} ({}): {}", s.ca_file, kLdapCaFileValue,
                                                   std::strerror(errno)));
    int demand = LDAP_OPT_X_TLS_DEMAND;
    ldap_set_option(ld, LDAP_OPT_X_TLS_REQUIRE_CERT, &demand);
    ldap_set_option(ld, LDAP_OPT_X_TLS_CACERTFILE, s.ca_file.c_str());
    int server_side = 0;  // a context of this connection's own, with the CA file
    if (int rc = ldap_set_option(ld, LDAP_OPT_X_TLS_NEWCTX, &server_side); rc != LDAP_OPT_SUCCESS)
      return LdapFailure(ld, rc, fmt::format("cannot use the CA file {}", s.ca_file), uri);
  }
  if (s.start_tls && uri.starts_with("ldap://")) {
    if (int rc = ldap_start_tls_s(ld, nullptr, nullptr); rc != LDAP_SUCCESS)
      return LdapFailure(ld, rc, "StartTLS failed", uri);
  }
  return S_OK;
}

}  // namespace

std::string DiagnosticMessage(LDAP* ld) {
  char* text = nullptr;
  if (ld == nullptr || ldap_get_option(ld, LDAP_OPT_DIAGNOSTIC_MESSAGE, &text) != LDAP_OPT_SUCCESS || text == nullptr)
    return {};
  std::string one_line;
  for (const char* c = text; *c; ++c) {
    const unsigned char u = static_cast<unsigned char>(*c);
    if (u < 0x20 || u == 0x7f) {
      if (!one_line.empty() && one_line.back() != ' ') one_line += ' ';
    } else {
      one_line += *c;
    }
  }
  ldap_memfree(text);
  while (!one_line.empty() && one_line.back() == ' ') one_line.pop_back();
  return one_line;
}

HRESULT LdapFailure(LDAP* ld, int rc, const std::string& what, const std::string& where) {
  const std::string diagnostic = DiagnosticMessage(ld);
  return LdapFailure(rc, what, where, diagnostic);
}

HRESULT LdapFailure(int rc, const std::string& what, const std::string& where, const std::string& diagnostic) {
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
  return Fail(hr, fmt::format("{} at {}: {}{}", what, where, ldap_err2string(rc),
                              diagnostic.empty() ? "" : fmt::format(" ({})", diagnostic)));
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

HRESULT ConnectLdap(const std::string& server, std::shared_ptr<LdapConnection>& conn, LdapTarget& target) {
  return ConnectLdap(server, ReadLdapSettings(), conn, target);
}

HRESULT ConnectLdap(const std::string& server, const LdapSettings& settings, std::shared_ptr<LdapConnection>& conn,
                    LdapTarget& t) {
  t = LdapTarget{};
  if (HRESULT hr = ParseServer(server, t); FAILED(hr)) return hr;
  // Decided before anything is sent, so a refused bind never reaches the network.
  if (const std::string clear = ClearTextBindWarning(server, settings); !clear.empty()) {
    if (settings.refuse_clear_bind)
      return Fail(MAPI_E_LOGON_FAILED, fmt::format("refused to bind at {}: {}", t.uri, clear));
    Warn(clear);
  }
  LDAP* raw = nullptr;
  int rc = ldap_initialize(&raw, t.uri.c_str());
  if (rc != LDAP_SUCCESS) return LdapFailure(rc, "cannot use the LDAP server", t.uri);
  conn = std::make_shared<LdapConnection>(raw);
  int version = LDAP_VERSION3;
  ldap_set_option(raw, LDAP_OPT_PROTOCOL_VERSION, &version);
  ldap_set_option(raw, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
  timeval net{kLdapNetworkTimeoutSeconds, 0};
  ldap_set_option(raw, LDAP_OPT_NETWORK_TIMEOUT, &net);
  if (HRESULT hr = SecureTransport(raw, settings, t.uri); FAILED(hr)) return hr;
  if (HRESULT hr = Bind(raw, settings, t.uri); FAILED(hr)) return hr;
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
