// The LDAP source: reads the directory with libldap, a page of at most
// 1000 entries at a time (the paged-results control), fetching the rest
// of a multi-valued attribute in ranges when the server hands out only
// part of it (Active Directory's range limit).
//
// Credentials never come from the command line and are never logged:
//   CORVANE_LDAP_BINDDN          bind DN for a simple bind, with
//   CORVANE_LDAP_PASSWORD_FILE   a file holding the password (first line),
//                                readable by the service's user only;
//   neither, but SASL_MECH set in ldap.conf/ldaprc: a SASL bind as the
//                                OpenLDAP client configuration says;
//   otherwise an anonymous bind.
#include <ldap.h>
#include <sys/stat.h>

#include <fmt/format.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>

#include "platform/mapi/directory.h"
#include "platform/mapi/gal_entry.h"
#include "platform/mapi/last_error.h"

namespace corvane::mapi {
namespace {

constexpr int kPageSize = 1000;
constexpr int kNetworkTimeoutSeconds = 15;
constexpr int kSearchTimeoutSeconds = 300;

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

struct MessageFree {
  void operator()(LDAPMessage* m) const { ldap_msgfree(m); }
};
using Message = std::unique_ptr<LDAPMessage, MessageFree>;

// One connection, unbound when the source goes away.
class Connection {
 public:
  explicit Connection(LDAP* ld) : ld_(ld) {}
  ~Connection() { ldap_unbind_ext_s(ld_, nullptr, nullptr); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  LDAP* get() const { return ld_; }

 private:
  LDAP* ld_;
};

struct Target {
  std::string uri;     // scheme://host[:port]
  std::string base;    // empty: ask the root DSE
  int scope = LDAP_SCOPE_SUBTREE;
  std::string filter;  // empty: every entry (or, by host name, the address-book ones)
  bool by_host_name = false;
};

HRESULT ParseServer(const std::string& server, Target& t) {
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

// Reads one attribute of the root DSE; empty when the server has none.
std::vector<std::string> RootDse(LDAP* ld, const char* attribute) {
  std::vector<std::string> out;
  char* attrs[] = {const_cast<char*>(attribute), nullptr};
  LDAPMessage* raw = nullptr;
  timeval tv{kNetworkTimeoutSeconds, 0};
  int rc = ldap_search_ext_s(ld, "", LDAP_SCOPE_BASE, "(objectClass=*)", attrs, 0, nullptr, nullptr, &tv, 1, &raw);
  Message msg(raw);
  if (rc != LDAP_SUCCESS) return out;
  LDAPMessage* e = ldap_first_entry(ld, raw);
  if (!e) return out;
  berval** vals = ldap_get_values_len(ld, e, attribute);
  for (int i = 0; vals && vals[i]; ++i) out.emplace_back(vals[i]->bv_val, vals[i]->bv_len);
  ldap_value_free_len(vals);
  return out;
}

// One pass over the directory, a page at a time.
class LdapStream : public EntryStream {
 public:
  LdapStream(std::shared_ptr<Connection> conn, const Target& t, const std::vector<std::string>& attributes,
             std::string where)
      : conn_(std::move(conn)), target_(t), where_(std::move(where)) {
    names_ = attributes;
    for (auto& n : names_) attrs_.push_back(n.data());
    attrs_.push_back(nullptr);
  }
  ~LdapStream() override {
    if (cookie_) ber_bvfree(cookie_);
  }

  HRESULT Next(DirEntry& entry, bool& end) override {
    end = false;
    for (;;) {
      if (current_) {
        LDAPMessage* e = current_;
        current_ = ldap_next_entry(conn_->get(), current_);
        return Convert(e, entry);
      }
      if (last_page_) {
        end = true;
        return S_OK;
      }
      if (HRESULT hr = FetchPage(); FAILED(hr)) return hr;
    }
  }

 private:
  HRESULT FetchPage() {
    LDAP* ld = conn_->get();
    page_.reset();
    current_ = nullptr;
    LDAPControl* page_control = nullptr;
    int rc = ldap_create_page_control(ld, kPageSize, cookie_, 0, &page_control);
    if (rc != LDAP_SUCCESS) return LdapFailure(rc, "cannot ask for paged results", where_);
    LDAPControl* controls[] = {page_control, nullptr};
    LDAPMessage* raw = nullptr;
    timeval tv{kSearchTimeoutSeconds, 0};
    rc = ldap_search_ext_s(ld, target_.base.c_str(), target_.scope,
                           target_.filter.empty() ? "(objectClass=*)" : target_.filter.c_str(), attrs_.data(), 0,
                           controls, nullptr, &tv, LDAP_NO_LIMIT, &raw);
    ldap_control_free(page_control);
    page_.reset(raw);
    if (rc != LDAP_SUCCESS) {
      if (rc == LDAP_NO_SUCH_OBJECT)
        return LdapFailure(rc, fmt::format("the search base \"{}\" does not exist", target_.base), where_);
      if (rc == LDAP_SIZELIMIT_EXCEEDED)
        return LdapFailure(rc, "the server stopped the search at its size limit although results were paged", where_);
      return LdapFailure(rc, fmt::format("searching \"{}\" failed", target_.base), where_);
    }
    LDAPControl** server_controls = nullptr;
    int result = LDAP_SUCCESS;
    rc = ldap_parse_result(ld, raw, &result, nullptr, nullptr, nullptr, &server_controls, 0);
    if (rc != LDAP_SUCCESS) return LdapFailure(rc, "cannot read the search result", where_);
    std::unique_ptr<LDAPControl*, void (*)(LDAPControl**)> hold(server_controls, ldap_controls_free);
    if (result != LDAP_SUCCESS)
      return LdapFailure(result, fmt::format("searching \"{}\" failed", target_.base), where_);
    if (cookie_) {
      ber_bvfree(cookie_);
      cookie_ = nullptr;
    }
    LDAPControl* response = ldap_control_find(LDAP_CONTROL_PAGEDRESULTS, server_controls, nullptr);
    if (response) {
      ber_int_t estimate = 0;
      berval cookie{0, nullptr};
      if (ldap_parse_pageresponse_control(ld, response, &estimate, &cookie) != LDAP_SUCCESS)
        return Fail(MAPI_E_CALL_FAILED, fmt::format("the paged-results answer of {} cannot be read", where_));
      if (cookie.bv_len > 0) {
        cookie_ = ber_bvdup(&cookie);
      }
      ber_memfree(cookie.bv_val);
    }
    last_page_ = cookie_ == nullptr;  // no control (server without paging) or an empty cookie: done
    current_ = ldap_first_entry(ld, raw);
    return S_OK;
  }

  HRESULT Convert(LDAPMessage* e, DirEntry& entry) {
    LDAP* ld = conn_->get();
    entry.Clear();
    BerElement* ber = nullptr;
    berval dn{0, nullptr};
    int rc = ldap_get_dn_ber(ld, e, &ber, &dn);
    if (rc != LDAP_SUCCESS) return LdapFailure(rc, "cannot read an entry", where_);
    entry.dn.assign(dn.bv_val, dn.bv_len);
    berval attr{0, nullptr};
    berval* vals = nullptr;
    HRESULT hr = S_OK;
    while ((rc = ldap_get_attribute_ber(ld, e, ber, &attr, &vals)) == LDAP_SUCCESS && attr.bv_val) {
      std::string_view description(attr.bv_val, attr.bv_len);
      const std::string& name = names_cache_.Canonical(description);
      const bool tagged = IsLanguageTagged(description);
      for (int i = 0; vals && vals[i].bv_val; ++i)
        entry.Add(name, std::string_view(vals[i].bv_val, vals[i].bv_len), tagged);
      if (vals) ber_memfree(vals);
      vals = nullptr;
      size_t range = description.find(';') == std::string_view::npos ? std::string_view::npos
                                                                      : LowerFind(description, ";range=");
      if (range != std::string_view::npos) {
        hr = FetchRanges(entry, std::string(description.substr(0, range)), description.substr(range + 7), name);
        if (FAILED(hr)) break;
      }
    }
    ber_free(ber, 0);
    if (FAILED(hr)) return hr;
    if (rc != LDAP_SUCCESS) return LdapFailure(rc, fmt::format("cannot read entry \"{}\"", entry.dn), where_);
    return S_OK;
  }

  static size_t LowerFind(std::string_view s, std::string_view needle) {
    std::string lower(s);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower.find(needle);
  }

  // "low-high" where high is "*" on the last range: asks for the values
  // after `high` until the server says it gave the last of them.
  HRESULT FetchRanges(DirEntry& entry, const std::string& base_name, std::string_view range, const std::string& name) {
    LDAP* ld = conn_->get();
    for (int guard = 0; guard < 100000; ++guard) {
      size_t dash = range.find('-');
      if (dash == std::string_view::npos) break;
      std::string_view high = range.substr(dash + 1);
      if (high == "*") return S_OK;
      long next = std::strtol(std::string(high).c_str(), nullptr, 10) + 1;
      std::string wanted = fmt::format("{};range={}-*", base_name, next);
      char* attrs[] = {wanted.data(), nullptr};
      LDAPMessage* raw = nullptr;
      timeval tv{kSearchTimeoutSeconds, 0};
      int rc = ldap_search_ext_s(ld, entry.dn.c_str(), LDAP_SCOPE_BASE, "(objectClass=*)", attrs, 0, nullptr,
                                 nullptr, &tv, LDAP_NO_LIMIT, &raw);
      Message msg(raw);
      if (rc != LDAP_SUCCESS)
        return LdapFailure(rc, fmt::format("reading the values of {} of \"{}\" failed", base_name, entry.dn), where_);
      LDAPMessage* e = ldap_first_entry(ld, raw);
      if (!e) break;
      BerElement* ber = nullptr;
      std::string next_range;
      for (char* a = ldap_first_attribute(ld, e, &ber); a; a = ldap_next_attribute(ld, e, ber)) {
        std::string_view d(a);
        size_t r = LowerFind(d, ";range=");
        if (r != std::string_view::npos && CanonicalAttributeName(d) == name) {
          next_range = std::string(d.substr(r + 7));
          berval** vals = ldap_get_values_len(ld, e, a);
          for (int i = 0; vals && vals[i]; ++i) entry.Add(name, std::string_view(vals[i]->bv_val, vals[i]->bv_len));
          ldap_value_free_len(vals);
        }
        ldap_memfree(a);
      }
      if (ber) ber_free(ber, 0);
      if (next_range.empty()) break;
      range = next_range;
      if (range.substr(range.find('-') + 1) == "*") return S_OK;
      ranges_.push_back(std::move(next_range));  // keeps `range` valid
      range = ranges_.back();
    }
    return Fail(MAPI_E_CORRUPT_DATA,
                fmt::format("the server did not hand out all values of {} of \"{}\" ({})", base_name, entry.dn, where_));
  }

  std::shared_ptr<Connection> conn_;
  Target target_;
  std::string where_;
  std::vector<std::string> names_;
  std::vector<char*> attrs_;
  berval* cookie_ = nullptr;
  Message page_;
  LDAPMessage* current_ = nullptr;
  bool last_page_ = false;
  std::vector<std::string> ranges_;
  AttributeNames names_cache_;
};

class LdapSource : public DirectorySource {
 public:
  LdapSource(std::shared_ptr<Connection> conn, Target t) : conn_(std::move(conn)), target_(std::move(t)) {}

  HRESULT Open(Pass pass, std::unique_ptr<EntryStream>& out) override {
    out = std::make_unique<LdapStream>(conn_, target_, PassAttributes(pass),
                                       Describe());
    return S_OK;
  }
  bool RequiresAddressBookAttribute() const override { return target_.by_host_name; }
  std::string Describe() const override { return fmt::format("LDAP directory {} (base \"{}\")", target_.uri, target_.base); }

 private:
  std::shared_ptr<Connection> conn_;
  Target target_;
};

}  // namespace

HRESULT OpenLdapSource(const std::string& server, std::unique_ptr<DirectorySource>& out) {
  Target t;
  if (HRESULT hr = ParseServer(server, t); FAILED(hr)) return hr;
  LDAP* raw = nullptr;
  int rc = ldap_initialize(&raw, t.uri.c_str());
  if (rc != LDAP_SUCCESS) return LdapFailure(rc, "cannot use the LDAP server", t.uri);
  auto conn = std::make_shared<Connection>(raw);
  int version = LDAP_VERSION3;
  ldap_set_option(raw, LDAP_OPT_PROTOCOL_VERSION, &version);
  ldap_set_option(raw, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
  timeval net{kNetworkTimeoutSeconds, 0};
  ldap_set_option(raw, LDAP_OPT_NETWORK_TIMEOUT, &net);
  if (HRESULT hr = Bind(raw, t.uri); FAILED(hr)) return hr;
  if (t.base.empty()) {
    // Active Directory names its domain; other servers list their naming
    // contexts, of which one is taken when there is only one.
    auto base = RootDse(raw, "defaultNamingContext");
    if (base.empty()) {
      auto contexts = RootDse(raw, "namingContexts");
      if (contexts.size() == 1) base = contexts;
    }
    if (base.empty() || base.front().empty())
      return Fail(MAPI_E_NOT_FOUND,
                  fmt::format("the LDAP server {} names no default naming context; give the base in an ldap:// URL",
                              t.uri));
    t.base = base.front();
  }
  out = std::make_unique<LdapSource>(std::move(conn), std::move(t));
  return S_OK;
}

}  // namespace corvane::mapi
