// The systemd unit that "-install" writes for the service.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "platform/ntservice/unit_name.h"

namespace corvane::ntservice {

struct UnitSettings {
  std::string displayName;          // Description=
  std::filesystem::path program;    // ExecStart=, no arguments: a normal service start
  std::filesystem::path home;       // WorkingDirectory= and CORVANE_HOME
};

// The unit file text. The service ends its own process on a missing
// setting (exit status 78) or after too many failures (status 1): the
// first is not restarted at all, the second after a pause and only a few
// times an hour, so a broken configuration never restarts in a tight loop.
std::string UnitFileText(const UnitSettings& settings);

}  // namespace corvane::ntservice
