// The systemd unit that "-install" writes for the service.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace corvane::ntservice {

// systemd's escaping of a name into a unit name (as `systemd-escape`
// does): "Corvane Service" -> "Corvane\x20Service".
std::string SystemdEscape(std::string_view name);

// "<escaped service name>.service".
std::string UnitFileName(std::string_view serviceName);

struct UnitSettings {
  std::string displayName;          // Description=
  std::filesystem::path program;    // ExecStart=, no arguments: a normal service start
  std::filesystem::path home;       // WorkingDirectory= and CORVANE_HOME
};

// The unit file text. Where the service ends its own process by design (a
// missing setting: exit status 78; an empty address list or too many
// failures: 69) it is not restarted; other failures (a crash) are, after a
// pause and only a few times an hour, so a broken configuration never
// restarts in a tight loop.
std::string UnitFileText(const UnitSettings& settings);

}  // namespace corvane::ntservice
