// How systemd's and D-Bus's failures read as the Win32 error numbers of the
// Service Control Manager functions. The table (also in README.md):
//
//   5     access denied      D-Bus AccessDenied, InteractiveAuthorizationRequired,
//                            polkit NotAuthorized; EACCES, EPERM
//   8     not enough memory  D-Bus NoMemory; ENOMEM
//   123   invalid name       D-Bus InvalidArgs (the only arguments sent are names); EINVAL
//   1052  invalid control    systemd OnlyByDependency (the unit refuses a manual start or stop)
//   1058  service disabled   systemd UnitMasked
//   1060  no such service    systemd NoSuchUnit, or a unit systemd cannot find
//   1722  host unreachable   D-Bus ServiceUnknown, NameHasNoOwner, NoServer, NoReply,
//                            Disconnected, Timeout, TimedOut; ECONNREFUSED,
//                            ECONNRESET, ECONNABORTED, ENOTCONN, EPIPE, ENOENT,
//                            EHOSTUNREACH, EHOSTDOWN, ENETUNREACH, ETIMEDOUT, ESHUTDOWN
//   1359  internal error     anything else (a malformed reply, an unknown error)
#pragma once

#include <systemd/sd-bus.h>

#include <cstdint>

#include "platform/scm/scm.h"

namespace corvane::scm {

// The Win32 error of a failed sd-bus call: `error` (its D-Bus error name,
// when set) decides first, then `result` (a negative errno, as sd-bus
// returns). Never 0.
Win32Error Win32ErrorOf(const sd_bus_error* error, int result);

}  // namespace corvane::scm
