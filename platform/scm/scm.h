// The service manager layer: the few Service Control Manager functions the
// service control component uses (open a host's manager, list its
// services, open one service, query its state, stop it, start it), over
// systemd. Every failure is a Win32 error number, the one a Windows
// administrator would read in "LastDllError" (see win32_error.h for how
// systemd's errors map to them). Handles close when they are destroyed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::scm {

// Current states of a service (the current-state field of a status record).
inline constexpr uint32_t SERVICE_STOPPED = 1;
inline constexpr uint32_t SERVICE_START_PENDING = 2;
inline constexpr uint32_t SERVICE_STOP_PENDING = 3;
inline constexpr uint32_t SERVICE_RUNNING = 4;
inline constexpr uint32_t SERVICE_CONTINUE_PENDING = 5;
inline constexpr uint32_t SERVICE_PAUSE_PENDING = 6;
inline constexpr uint32_t SERVICE_PAUSED = 7;

// A failed call's result: 0 is success, anything else a Win32 error number.
using Win32Error = uint32_t;
inline constexpr Win32Error ERROR_SUCCESS = 0;
inline constexpr Win32Error ERROR_ACCESS_DENIED = 5;
inline constexpr Win32Error ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr Win32Error ERROR_INVALID_NAME = 123;
inline constexpr Win32Error ERROR_MORE_DATA = 234;  // the list does not fit: see EnumServicesStatus
inline constexpr Win32Error ERROR_INVALID_SERVICE_CONTROL = 1052;
inline constexpr Win32Error ERROR_SERVICE_DISABLED = 1058;
inline constexpr Win32Error ERROR_SERVICE_DOES_NOT_EXIST = 1060;
inline constexpr Win32Error ERROR_INTERNAL_ERROR = 1359;
inline constexpr Win32Error RPC_S_SERVER_UNAVAILABLE = 1722;  // the host cannot be reached

struct ServiceStatus {
  uint32_t currentState = 0;  // one of the states above; 0 when nothing was read
};

// One service of a listing.
struct ServiceEntry {
  std::string serviceName;  // the name OpenService takes
  std::string displayName;
  ServiceStatus status;
};

// An open service. Destroying it closes it (CloseServiceHandle).
class ServiceHandle {
 public:
  virtual ~ServiceHandle() = default;
  ServiceHandle(const ServiceHandle&) = delete;
  ServiceHandle& operator=(const ServiceHandle&) = delete;

  // Reads the service's current state into *status (left as it was on failure).
  virtual Win32Error QueryServiceStatus(ServiceStatus* status) = 0;
  // Asks the service to stop (ControlService with the stop control) and
  // returns once the request is accepted, not when the service has stopped.
  virtual Win32Error ControlStop() = 0;
  // Asks the service to start, with no arguments; returns once the request
  // is accepted. Where the request needs an administrator's authorisation,
  // a desktop's authentication agent asks for it; without one the result
  // is access denied (5).
  virtual Win32Error StartService() = 0;

 protected:
  ServiceHandle() = default;
};

// An open manager of one host. Destroying it closes it; services opened
// through it stay usable.
class ManagerHandle {
 public:
  virtual ~ManagerHandle() = default;
  ManagerHandle(const ManagerHandle&) = delete;
  ManagerHandle& operator=(const ManagerHandle&) = delete;

  // Every service of the host, active or not, sorted by name without regard
  // to case. When they fit in `capacity` entries, fills *services and
  // returns 0; otherwise sets *needed to the number of entries and returns
  // ERROR_MORE_DATA, so a caller asks with capacity 0 first to learn the
  // size, then again with room for it (each call reads the list afresh).
  virtual Win32Error EnumServicesStatus(size_t capacity, std::vector<ServiceEntry>* services, size_t* needed) = 0;
  // Opens the service of that name (not its display name) into *service.
  // 1060 when the host has no such service.
  virtual Win32Error OpenService(std::string_view serviceName, std::unique_ptr<ServiceHandle>* service) = 0;

 protected:
  ManagerHandle() = default;
};

// Opens the manager of a host. One object may open any number of handles.
class ServiceControlManager {
 public:
  virtual ~ServiceControlManager() = default;

  // OpenSCManager: the manager of `machineName` into *manager. 1722 when
  // the host cannot be reached.
  virtual Win32Error OpenSCManager(std::string_view machineName, std::unique_ptr<ManagerHandle>* manager) = 0;
};

// The manager over systemd's D-Bus interface. The local host (the name in
// $COMPUTERNAME, the machine's host name, "localhost" or ".", without
// regard to case) is the system bus; any other name is reached the way
// `systemctl -H` reaches it, through ssh ("user@host" works too).
std::unique_ptr<ServiceControlManager> CreateSystemdServiceControlManager();

// True when `machineName` names this machine (see above).
bool IsLocalMachine(std::string_view machineName);

}  // namespace corvane::scm
