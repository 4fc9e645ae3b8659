// The LDAP source: reads the directory with libldap, a page of at most
// 1000 entries at a time (the paged-results control), fetching the rest
// of a multi-valued attribute in ranges when the server hands out only
// part of it (Active Directory's range limit). Connecting and binding
// (with the credentials the environment names) is ldap_connection.cpp's.
#include <fmt/format.h>

#include <cstdlib>
#include <memory>

#include "platform/mapi/directory.h"
#include "platform/mapi/gal_entry.h"
#include "platform/mapi/last_error.h"
#include "platform/mapi/ldap_connection.h"

namespace corvane::mapi {
namespace {

constexpr int kPageSize = 1000;

// One pass over the directory, a page at a time.
class LdapStream : public EntryStream {
 public:
  LdapStream(std::shared_ptr<LdapConnection> conn, const LdapTarget& t, const std::vector<std::string>& attributes,
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
    if (rc != LDAP_SUCCESS) return LdapFailure(conn_->get(), rc, "cannot ask for paged results", where_);
    LDAPControl* controls[] = {page_control, nullptr};
    LDAPMessage* raw = nullptr;
    timeval tv{kLdapSearchTimeoutSeconds, 0};
    rc = ldap_search_ext_s(ld, target_.base.c_str(), target_.scope,
                           target_.filter.empty() ? "(objectClass=*)" : target_.filter.c_str(), attrs_.data(), 0,
                           controls, nullptr, &tv, LDAP_NO_LIMIT, &raw);
    ldap_control_free(page_control);
    page_.reset(raw);
    if (rc != LDAP_SUCCESS) {
      if (rc == LDAP_NO_SUCH_OBJECT)
        return LdapFailure(conn_->get(), rc, fmt::format("the search base \"{}\" does not exist", target_.base), where_);
      if (rc == LDAP_SIZELIMIT_EXCEEDED)
        return LdapFailure(conn_->get(), rc, "the server stopped the search at its size limit although results were paged", where_);
      return LdapFailure(conn_->get(), rc, fmt::format("searching \"{}\" failed", target_.base), where_);
    }
    LDAPControl** server_controls = nullptr;
    int result = LDAP_SUCCESS;
    rc = ldap_parse_result(ld, raw, &result, nullptr, nullptr, nullptr, &server_controls, 0);
    if (rc != LDAP_SUCCESS) return LdapFailure(conn_->get(), rc, "cannot read the search result", where_);
    std::unique_ptr<LDAPControl*, void (*)(LDAPControl**)> hold(server_controls, ldap_controls_free);
    if (result != LDAP_SUCCESS)
      return LdapFailure(conn_->get(), result, fmt::format("searching \"{}\" failed", target_.base), where_);
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
    if (rc != LDAP_SUCCESS) return LdapFailure(conn_->get(), rc, "cannot read an entry", where_);
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
    if (rc != LDAP_SUCCESS) return LdapFailure(conn_->get(), rc, fmt::format("cannot read entry \"{}\"", entry.dn), where_);
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
      timeval tv{kLdapSearchTimeoutSeconds, 0};
      int rc = ldap_search_ext_s(ld, entry.dn.c_str(), LDAP_SCOPE_BASE, "(objectClass=*)", attrs, 0, nullptr,
                                 nullptr, &tv, LDAP_NO_LIMIT, &raw);
      LdapMessage msg(raw);
      if (rc != LDAP_SUCCESS)
        return LdapFailure(conn_->get(), rc, fmt::format("reading the values of {} of \"{}\" failed", base_name, entry.dn), where_);
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

  std::shared_ptr<LdapConnection> conn_;
  LdapTarget target_;
  std::string where_;
  std::vector<std::string> names_;
  std::vector<char*> attrs_;
  berval* cookie_ = nullptr;
  LdapMessage page_;
  LDAPMessage* current_ = nullptr;
  bool last_page_ = false;
  std::vector<std::string> ranges_;
  AttributeNames names_cache_;
};

class LdapSource : public DirectorySource {
 public:
  LdapSource(std::shared_ptr<LdapConnection> conn, LdapTarget t) : conn_(std::move(conn)), target_(std::move(t)) {}

  HRESULT Open(Pass pass, std::unique_ptr<EntryStream>& out) override {
    out = std::make_unique<LdapStream>(conn_, target_, PassAttributes(pass), Describe());
    return S_OK;
  }
  bool RequiresAddressBookAttribute() const override { return target_.by_host_name; }
  std::string Describe() const override { return fmt::format("LDAP directory {} (base \"{}\")", target_.uri, target_.base); }

 private:
  std::shared_ptr<LdapConnection> conn_;
  LdapTarget target_;
};

}  // namespace

std::unique_ptr<EntryStream> OpenLdapStream(std::shared_ptr<LdapConnection> conn, const LdapTarget& target,
                                            const std::vector<std::string>& attributes) {
  std::string where = fmt::format("LDAP directory {} (base \"{}\")", target.uri, target.base);
  return std::make_unique<LdapStream>(std::move(conn), target, attributes, std::move(where));
}

std::unique_ptr<DirectorySource> MakeLdapSource(std::shared_ptr<LdapConnection> conn, LdapTarget target) {
  return std::make_unique<LdapSource>(std::move(conn), std::move(target));
}

HRESULT OpenLdapSource(const std::string& server, std::unique_ptr<DirectorySource>& out) {
  std::shared_ptr<LdapConnection> conn;
  LdapTarget t;
  if (HRESULT hr = ConnectLdap(server, conn, t); FAILED(hr)) return hr;
  out = MakeLdapSource(std::move(conn), std::move(t));
  return S_OK;
}

}  // namespace corvane::mapi
