// A service manager in memory, for tests: services with scripted states,
// failures on demand, and a log of every call made.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/scm/scm.h"

namespace corvane::scm {

class FakeServiceControlManager : public ServiceControlManager {
 public:
  struct Service {
    std::string displayName;
    uint32_t state = SERVICE_STOPPED;
    uint32_t stateAfterStart = SERVICE_RUNNING;  // what StartService leaves
    uint32_t stateAfterStop = SERVICE_STOPPED;   // what ControlStop leaves
  };

  // The host's services by name, listed in this order.
  std::map<std::string, Service> services;
  // OpenSCManager fails with this error when it is not 0.
  Win32Error openError = ERROR_SUCCESS;
  // The n-th EnumServicesStatus call fails with enumErrors[n] when that is not 0.
  std::vector<Win32Error> enumErrors;
  // Every call, in order: "OpenSCManager <host>", "EnumServicesStatus",
  // "OpenService <name>", "QueryServiceStatus <name>", "ControlStop <name>",
  // "StartService <name>".
  std::vector<std::string> calls;

  Win32Error OpenSCManager(std::string_view machineName, std::unique_ptr<ManagerHandle>* manager) override;
};

}  // namespace corvane::scm
