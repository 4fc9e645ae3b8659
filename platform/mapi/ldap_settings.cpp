#include "platform/mapi/ldap_settings.h"

#include <sys/stat.h>

#include <fmt/format.h>

#include <cstdlib>
#include <exception>

#include "platform/registry/registry.h"

namespace corvane::mapi {
namespace {

std::string Trimmed(std::string text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && blank(text.back())) text.pop_back();
  size_t start = 0;
  while (start < text.size() && blank(text[start])) ++start;
  return text.substr(start);
}

// "1" (any number but 0) or "True" (any case) is on.
bool On(const std::string& text) {
  if (text.empty()) return false;
  if (text == "0") return false;
  std::string lower;
  for (char c : text) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  if (lower == "true") return true;
  if (lower == "false") return false;
  char* end = nullptr;
  const long n = std::strtol(text.c_str(), &end, 10);
  return end != text.c_str() && *end == '\0' && n != 0;
}

// The host of an LDAP URL or a host-name server text, without port.
struct Endpoint {
  std::string scheme, host;
};

Endpoint EndpointOf(const std::string& server) {
  Endpoint e;
  std::string rest = server;
  if (size_t at = server.find("://"); at != std::string::npos) {
    e.scheme = server.substr(0, at);
    for (char& c : e.scheme) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    rest = server.substr(at + 3);
  } else {
    e.scheme = "ldap";
  }
  rest = rest.substr(0, rest.find_first_of("/?"));
  if (!rest.empty() && rest.front() == '[') {
    e.host = rest.substr(1, rest.find(']') - 1);
  } else {
    e.host = rest.substr(0, rest.find(':'));
  }
  return e;
}

bool Loopback(const std::string& host) {
  return host.empty() || host == "localhost" || host.starts_with("127.") || host == "::1";
}

}  // namespace

LdapSettings ReadLdapSettings(const registry::Hive& hive) {
  LdapSettings s;
  const auto value = [&hive](const char* name) -> std::string {
    try {
      if (auto v = hive.Get(registry::kParametersKeyPath, name)) return Trimmed(v->AsText());
    } catch (const std::exception&) {
      // An unreadable hive binds as if nothing were set; the run and the
      // check report the hive itself.
    }
    return {};
  };
  const auto take = [](std::string& field, std::string& from, std::string parameter, const char* name,
                       const char* variable) {
    field = std::move(parameter);
    from = field.empty() ? "" : name;
    if (const char* env = std::getenv(variable); env && *env) {
      field = env;
      from = variable;
    }
  };
  take(s.bind_dn, s.bind_dn_from, value(kLdapBindDnValue), kLdapBindDnValue, "CORVANE_LDAP_BINDDN");
  take(s.password_file, s.password_file_from, value(kLdapPasswordFileValue), kLdapPasswordFileValue,
       "CORVANE_LDAP_PASSWORD_FILE");
  s.sasl_mech = value(kLdapSaslMechValue);
  s.start_tls = On(value(kLdapStartTlsValue));
  s.ca_file = value(kLdapCaFileValue);
  s.refuse_clear_bind = On(value(kLdapRefuseClearBindValue));
  return s;
}

LdapSettings ReadLdapSettings() {
  try {
    return ReadLdapSettings(registry::Hive::Machine());
  } catch (const std::exception&) {
    return ReadLdapSettings(registry::Hive(std::string()));
  }
}

bool IsSimpleBind(const LdapSettings& s) { return s.sasl_mech.empty() && !s.bind_dn.empty(); }

std::string DescribeBind(const LdapSettings& s) {
  std::string text;
  if (!s.sasl_mech.empty()) {
    text = fmt::format("SASL bind ({}, LdapSaslMech)", s.sasl_mech);
  } else if (!s.bind_dn.empty()) {
    text = fmt::format("simple bind as \"{}\" ({}), password from {}", s.bind_dn, s.bind_dn_from,
                       s.password_file.empty() ? std::string("no file")
                                               : fmt::format("{} ({})", s.password_file, s.password_file_from));
  } else {
    text = "anonymous bind, or a SASL bind where ldap.conf names SASL_MECH";
  }
  if (s.start_tls) text += ", StartTLS";
  if (!s.ca_file.empty()) text += fmt::format(", CAs from {}", s.ca_file);
  return text;
}

std::string ClearTextBindWarning(const std::string& server, const LdapSettings& s) {
  if (!IsSimpleBind(s) || s.start_tls) return {};
  // A path names an LDIF file (as the directory layer decides it): no bind.
  struct stat st {};
  if (server.find("://") == std::string::npos && (server.find('/') != std::string::npos || stat(server.c_str(), &st) == 0))
    return {};
  const Endpoint e = EndpointOf(server);
  if (e.scheme != "ldap" || Loopback(e.host)) return {};
  return fmt::format("the simple bind as \"{}\" sends its password in clear over ldap:// to {}; set {} to 1, use "
                     "an ldaps:// URL, or a Kerberos bind ({} GSSAPI); {} 1 refuses such a bind",
                     s.bind_dn, e.host, kLdapStartTlsValue, kLdapSaslMechValue, kLdapRefuseClearBindValue);
}

}  // namespace corvane::mapi
