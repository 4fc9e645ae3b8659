// The group directory on an LDAP server: connection, bind and reading
// through the directory layer; adds and modifies with libldap, one request
// per change record, with the permissive-modify control so a value that
// another writer added or removed meanwhile does not fail the request.
#include <ldap.h>

#include <fmt/format.h>

#include "platform/dirgroup/backends.h"
#include "platform/mapi/last_error.h"
#include "platform/mapi/ldap_connection.h"

namespace corvane::dirgroup {
namespace {

// Active Directory and OpenLDAP: adding a value that is there, or removing
// one that is not, succeeds.
constexpr const char* kPermissiveModifyOid = "1.2.840.113556.1.4.1413";
// Root DSE capabilities of Active Directory and of its lightweight edition.
constexpr const char* kActiveDirectoryCapability = "1.2.840.113556.1.4.800";
constexpr const char* kLightweightDirectoryCapability = "1.2.840.113556.1.4.1851";

[[noreturn]] void ThrowLastError() { throw DirectoryError(MAPIGetLastErrorText()); }

class LdapGroupDirectory : public GroupDirectory {
 public:
  LdapGroupDirectory(std::shared_ptr<mapi::LdapConnection> conn, mapi::LdapTarget target)
      : conn_(std::move(conn)), target_(std::move(target)) {}

  std::string Describe() const override {
    return fmt::format("LDAP directory {} (base \"{}\")", target_.uri, target_.base);
  }

  std::string FindContainer(const std::string& base_point, const std::string& name) override {
    std::string cn = ChildDn("CN", name, base_point), ou = ChildDn("OU", name, base_point);
    if (!Exists(base_point))
      throw DirectoryError(fmt::format("the base point \"{}\" does not exist in the {}", base_point, Describe()));
    for (const std::string& dn : {cn, ou})
      if (Exists(dn)) return dn;
    return {};
  }

  GroupEntry ReadGroup(const std::string& dn) override {
    GroupEntry group;
    if (!Exists(dn)) return group;
    mapi::LdapTarget entry = target_;
    entry.base = dn;
    entry.scope = LDAP_SCOPE_BASE;
    entry.filter.clear();
    auto stream = mapi::OpenLdapStream(conn_, entry, {"objectClass", "member", "sAMAccountName", "displayName"});
    mapi::DirEntry e;
    bool end = false;
    if (FAILED(stream->Next(e, end))) ThrowLastError();
    return end ? group : AsGroup(e);  // `end`: gone since the look above
  }

  // Active Directory fills in the system attributes of a new group
  // itself; a server that only carries its schema would not, so it gets a
  // groupOfNames.
  GroupKind NewGroupKind() override {
    for (const auto& capability : mapi::ReadRootDse(conn_->get(), "supportedCapabilities"))
      if (capability == kActiveDirectoryCapability || capability == kLightweightDirectoryCapability)
        return GroupKind::ActiveDirectory;
    return GroupKind::GroupOfNames;
  }

  std::string FindAccount(const std::string& account_name) override {
    berval value{static_cast<ber_len_t>(account_name.size()), const_cast<char*>(account_name.data())};
    berval escaped{0, nullptr};
    if (ldap_bv2escaped_filter_value(&value, &escaped) != 0) throw DirectoryError("out of memory");
    const std::string filter = fmt::format("(sAMAccountName={})", std::string_view(escaped.bv_val, escaped.bv_len));
    ber_memfree(escaped.bv_val);
    char* attrs[] = {const_cast<char*>(LDAP_NO_ATTRS), nullptr};
    LDAPMessage* raw = nullptr;
    timeval tv{mapi::kLdapSearchTimeoutSeconds, 0};
    int rc = ldap_search_ext_s(conn_->get(), target_.base.c_str(), LDAP_SCOPE_SUBTREE, filter.c_str(), attrs, 0,
                               nullptr, nullptr, &tv, 2, &raw);
    mapi::LdapMessage hold(raw);
    if (rc != LDAP_SUCCESS && rc != LDAP_SIZELIMIT_EXCEEDED) {
      mapi::LdapFailure(conn_->get(), rc, fmt::format("looking for the account name \"{}\" failed", account_name),
                        target_.uri);
      ThrowLastError();
    }
    LDAPMessage* e = ldap_first_entry(conn_->get(), raw);
    if (e == nullptr) return {};
    char* dn = ldap_get_dn(conn_->get(), e);
    std::string found = dn ? dn : "";
    ldap_memfree(dn);
    return found;
  }

  void ScanAddresses(const std::function<void(const mapi::DirEntry&)>& each) override {
    // Members are found anywhere below the base, whatever the address
    // list's own filter (showInAddressBook for the host-name form).
    mapi::LdapTarget everyone = target_;
    if (everyone.by_host_name) everyone.filter.clear();
    auto stream = mapi::OpenLdapStream(conn_, everyone, mapi::PassAttributes(mapi::Pass::Addresses));
    mapi::DirEntry e;
    for (;;) {
      bool end = false;
      if (FAILED(stream->Next(e, end))) ThrowLastError();
      if (end) return;
      each(e);
    }
  }

  void Apply(const std::vector<ChangeRecord>& records, const std::function<void(size_t)>& applied) override {
    for (size_t i = 0; i < records.size(); ++i) {
      Send(records[i]);
      applied(i);
    }
  }

 private:
  // A base search for the entry: true when it exists.
  bool Exists(const std::string& dn) {
    char* attrs[] = {const_cast<char*>(LDAP_NO_ATTRS), nullptr};
    LDAPMessage* raw = nullptr;
    timeval tv{mapi::kLdapSearchTimeoutSeconds, 0};
    int rc = ldap_search_ext_s(conn_->get(), dn.c_str(), LDAP_SCOPE_BASE, "(objectClass=*)", attrs, 0, nullptr,
                               nullptr, &tv, 1, &raw);
    mapi::LdapMessage hold(raw);
    if (rc == LDAP_SUCCESS) return ldap_first_entry(conn_->get(), raw) != nullptr;
    if (rc == LDAP_NO_SUCH_OBJECT) return false;
    mapi::LdapFailure(conn_->get(), rc, fmt::format("looking up \"{}\" failed", dn), target_.uri);
    ThrowLastError();
  }

  void Send(const ChangeRecord& r) {
    std::vector<std::vector<berval>> values(r.changes.size());
    std::vector<std::vector<berval*>> pointers(r.changes.size());
    std::vector<LDAPMod> mods(r.changes.size());
    std::vector<LDAPMod*> list;
    for (size_t k = 0; k < r.changes.size(); ++k) {
      const AttributeChange& c = r.changes[k];
      for (const auto& v : c.values)
        values[k].push_back({static_cast<ber_len_t>(v.size()), const_cast<char*>(v.data())});
      for (auto& v : values[k]) pointers[k].push_back(&v);
      pointers[k].push_back(nullptr);
      mods[k].mod_op = (c.op == AttributeChange::Op::Add ? LDAP_MOD_ADD : LDAP_MOD_DELETE) | LDAP_MOD_BVALUES;
      mods[k].mod_type = const_cast<char*>(c.attribute.c_str());
      mods[k].mod_bvalues = pointers[k].data();
      list.push_back(&mods[k]);
    }
    list.push_back(nullptr);
    int rc;
    if (r.type == ChangeRecord::Type::Add) {
      rc = ldap_add_ext_s(conn_->get(), r.dn.c_str(), list.data(), nullptr, nullptr);
    } else {
      LDAPControl permissive{const_cast<char*>(kPermissiveModifyOid), {0, nullptr}, 0};
      LDAPControl* controls[] = {&permissive, nullptr};
      rc = ldap_modify_ext_s(conn_->get(), r.dn.c_str(), list.data(), controls, nullptr);
    }
    if (rc == LDAP_SUCCESS) return;
    const std::string diagnostic = mapi::DiagnosticMessage(conn_->get());
    std::string detail = diagnostic.empty() ? "" : fmt::format(" ({})", diagnostic);
    throw DirectoryError(fmt::format("{} \"{}\" was refused by {}: {}{}",
                                     r.type == ChangeRecord::Type::Add ? "adding" : "changing", r.dn, target_.uri,
                                     ldap_err2string(rc), detail));
  }

  std::shared_ptr<mapi::LdapConnection> conn_;
  mapi::LdapTarget target_;
};

}  // namespace

std::unique_ptr<GroupDirectory> OpenLdapGroupDirectory(const std::string& server) {
  std::shared_ptr<mapi::LdapConnection> conn;
  mapi::LdapTarget target;
  if (FAILED(mapi::ConnectLdap(server, conn, target))) ThrowLastError();
  // A server that stops answering ends the import instead of holding it.
  timeval requests{mapi::kLdapSearchTimeoutSeconds, 0};
  ldap_set_option(conn->get(), LDAP_OPT_TIMEOUT, &requests);
  return std::make_unique<LdapGroupDirectory>(std::move(conn), std::move(target));
}

}  // namespace corvane::dirgroup
