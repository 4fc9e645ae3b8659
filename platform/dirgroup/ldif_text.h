// LDIF lines as this layer writes them (libldap's LDIF writer: base64
// where a value cannot stand as it is, lines folded at 78 columns).
#pragma once

#include <string>
#include <string_view>

namespace corvane::dirgroup {

// "name: value\n" (or "name:: base64\n"), folded with "\n ".
std::string LdifLine(std::string_view name, std::string_view value);

}  // namespace corvane::dirgroup
