// How the directory layer binds to an LDAP server, and over what: values of
// the home's parameters key, so the service, corvane-run, its check and
// dsimport all bind alike. Two environment variables stay as overrides
// (each wins over its parameter when set and not empty):
//   CORVANE_LDAP_BINDDN          over "LdapBindDN"
//   CORVANE_LDAP_PASSWORD_FILE   over "LdapPasswordFile"
// The password itself is only ever in the file the settings name.
#pragma once

#include <string>

namespace corvane::registry {
class Hive;
}

namespace corvane::mapi {

// Value names in the parameters key.
inline constexpr const char* kLdapBindDnValue = "LdapBindDN";
inline constexpr const char* kLdapPasswordFileValue = "LdapPasswordFile";
inline constexpr const char* kLdapSaslMechValue = "LdapSaslMech";
inline constexpr const char* kLdapStartTlsValue = "LdapStartTLS";
inline constexpr const char* kLdapCaFileValue = "LdapCAFile";
inline constexpr const char* kLdapRefuseClearBindValue = "LdapRefuseClearBind";

struct LdapSettings {
  std::string bind_dn;        // a simple bind as this DN (unless sasl_mech is set)
  std::string password_file;  // its password: the file's first line; owner-only file
  std::string sasl_mech;      // e.g. GSSAPI, EXTERNAL; empty: ldap.conf's SASL_MECH
  bool start_tls = false;     // ldap:// (and the host-name form): StartTLS before the bind
  std::string ca_file;        // PEM file of CAs to trust; empty: the system's (ldap.conf)
  bool refuse_clear_bind = false;  // refuse a simple bind whose password would travel in clear
  // Where bind_dn and password_file came from: the value name or the
  // environment variable ("" when unset).
  std::string bind_dn_from, password_file_from;
};

// The settings from `hive`'s parameters key, with the environment's
// overrides. A key or hive that cannot be read counts as empty.
LdapSettings ReadLdapSettings(const registry::Hive& hive);
// The same from the home's hive (registry::Hive::Machine()).
LdapSettings ReadLdapSettings();

// Whether the bind is a simple bind with a password.
bool IsSimpleBind(const LdapSettings& settings);

// The bind in words for people, never the password, e.g.
// "simple bind as \"CN=svc,DC=example,DC=org\" (LdapBindDN), password from
// /var/lib/corvane/ldap-password (LdapPasswordFile), StartTLS".
std::string DescribeBind(const LdapSettings& settings);

// Non-empty when a simple bind to the directory `server` names (URL or host
// name) would send its password in clear: ldap:// without StartTLS to a
// host other than the loopback. Says so and how to avoid it.
std::string ClearTextBindWarning(const std::string& server, const LdapSettings& settings);

}  // namespace corvane::mapi
