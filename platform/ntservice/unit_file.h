// The systemd unit that "-install" writes for the service.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "platform/ntservice/unit_name.h"

namespace corvane::ntservice {

// Where the Debian package installs the service's unit; a unit that
// `-install` writes (in /etc/systemd/system) takes precedence over it.
inline constexpr const char* kPackagedUnitDir = "/usr/lib/systemd/system";

struct UnitSettings {
  std::string displayName;          // Description=
  std::filesystem::path program;    // ExecStart=, no arguments: a normal service start
  std::filesystem::path home;       // WorkingDirectory=, CORVANE_HOME and the one writable place
  std::string user;                 // User=; empty: root
  bool packaged = false;            // installed by the package rather than written by -install
};

// The unit file text: the one definition of the service's unit, which
// `CorvaneService -install` writes and the package installs. Where the
// service ends its own process by design (a missing setting: exit status
// 78; an empty address list or too many failures: 69) it is not restarted;
// other failures (a crash) are, after a pause and only a few times an
// hour, so a broken configuration never restarts in a tight loop. The
// service runs hardened: no new privileges, the file system read-only but
// for the home, a private /tmp, the users' homes out of reach (read-only
// where the program or the home lies in one, or the service could not
// start; no private /tmp where the home lies in /tmp).
std::string UnitFileText(const UnitSettings& settings);

// The account a unit file runs its service as: the value of the last
// "User=" line of its [Service] section, or empty when it has none (systemd
// then runs the service as root).
std::string UnitFileUser(std::string_view unitText);

// The account the installed service runs as, named the way the service
// manager names a logon account: the unit's "User=" value, "LocalSystem"
// for a unit without one (root), empty when `unitFile` cannot be read (the
// service is not installed).
std::string ServiceLogonAccount(const std::filesystem::path& unitFile);

}  // namespace corvane::ntservice
