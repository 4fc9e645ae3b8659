// Service names and systemd unit names: the escaping that turns a service
// name such as "Corvane Service" into its unit name, and back. Shared by the
// service's own install and by the service control component.
#pragma once

#include <string>
#include <string_view>

namespace corvane::ntservice {

// systemd's escaping of a name into a unit name (as `systemd-escape`
// does): "Corvane Service" -> "Corvane\x20Service".
std::string SystemdEscape(std::string_view name);

// "<escaped service name>.service".
std::string UnitFileName(std::string_view serviceName);

// Undoes the "\xNN" escapes of a unit name: "Corvane\x20Service" ->
// "Corvane Service". Everything else, '-' included, stays as it is: most
// unit names are plain names ("systemd-journald"), not escaped paths.
std::string UnescapeUnitName(std::string_view unitName);

}  // namespace corvane::ntservice
