#include "platform/scm/win32_error.h"

#include <systemd/sd-bus.h>

#include <cerrno>
#include <string_view>

namespace corvane::scm {
namespace {

struct NamedError {
  std::string_view name;
  Win32Error code;
};

constexpr NamedError kByName[] = {
    {"org.freedesktop.DBus.Error.AccessDenied", ERROR_ACCESS_DENIED},
    {"org.freedesktop.DBus.Error.InteractiveAuthorizationRequired", ERROR_ACCESS_DENIED},
    {"org.freedesktop.PolicyKit1.Error.NotAuthorized", ERROR_ACCESS_DENIED},
    {"org.freedesktop.DBus.Error.NoMemory", ERROR_NOT_ENOUGH_MEMORY},
    {"org.freedesktop.DBus.Error.InvalidArgs", ERROR_INVALID_NAME},
    {"org.freedesktop.systemd1.OnlyByDependency", ERROR_INVALID_SERVICE_CONTROL},
    {"org.freedesktop.systemd1.UnitMasked", ERROR_SERVICE_DISABLED},
    {"org.freedesktop.systemd1.NoSuchUnit", ERROR_SERVICE_DOES_NOT_EXIST},
    {"org.freedesktop.DBus.Error.ServiceUnknown", RPC_S_SERVER_UNAVAILABLE},
    {"org.freedesktop.DBus.Error.NameHasNoOwner", RPC_S_SERVER_UNAVAILABLE},
    {"org.freedesktop.DBus.Error.NoServer", RPC_S_SERVER_UNAVAILABLE},
    {"org.freedesktop.DBus.Error.NoReply", RPC_S_SERVER_UNAVAILABLE},
    {"org.freedesktop.DBus.Error.Disconnected", RPC_S_SERVER_UNAVAILABLE},
    {"org.freedesktop.DBus.Error.Timeout", RPC_S_SERVER_UNAVAILABLE},
    {"org.freedesktop.DBus.Error.TimedOut", RPC_S_SERVER_UNAVAILABLE},
};

Win32Error ByErrno(int error) {
  switch (error) {
    case EACCES:
    case EPERM: return ERROR_ACCESS_DENIED;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EINVAL: return ERROR_INVALID_NAME;
    case ECONNREFUSED:
    case ECONNRESET:
    case ECONNABORTED:
    case ENOTCONN:
    case EPIPE:
    case ENOENT:
    case EHOSTUNREACH:
    case EHOSTDOWN:
    case ENETUNREACH:
    case ETIMEDOUT:
    case ESHUTDOWN: return RPC_S_SERVER_UNAVAILABLE;
    default: return ERROR_INTERNAL_ERROR;
  }
}

}  // namespace

Win32Error Win32ErrorOf(const sd_bus_error* error, int result) {
  if (error != nullptr && sd_bus_error_is_set(error)) {
    for (const auto& known : kByName)
      if (error->name == known.name) return known.code;
    // Local failures carry "System.Error.<errno>"; other names read as EIO.
    return ByErrno(sd_bus_error_get_errno(error));
  }
  return ByErrno(result < 0 ? -result : result);
}

}  // namespace corvane::scm
