#include <unistd.h>

#include <cstdlib>
#include <ctime>

#include "platform/ntservice/systemd_service_control.h"
#include "platform/ntservice/unit_file.h"
#include "wizard/wizard_adapters.h"

namespace corvane::wizard {

namespace {

std::string ComputerName() {
  if (const char* name = std::getenv("COMPUTERNAME"); name != nullptr && *name != '\0') return name;
  char host[256] = {};
  return ::gethostname(host, sizeof host - 1) == 0 ? host : "";
}

// The service's user writes the import file at every run, so it lives in
// the Corvane home: the program's folder is writable to root only, also
// when the wizard itself runs as root.
std::string DistListFileDefault() { return (registry::CorvaneHome() / "dstemp.csv").string(); }

}  // namespace

WizardPorts MachinePorts(ParameterStore& store, std::function<void()> processPendingMessages) {
  WizardPorts ports;
  ports.store = &store;
  ports.createSvcUtil = [pump = std::move(processPendingMessages)](Failure& failure) {
    return CreateSvcUtil(failure, pump);
  };
  ports.listPublicFolders = ListPublicFolders;
  ports.now = [] { return parameters::ToDateTime(std::time(nullptr)); };
  const auto unitDir = ntservice::SystemdSettings::FromEnvironment().unitDir;
  const auto unitName = ntservice::UnitFileName("Corvane Service");
  ports.serviceAccount = ntservice::ServiceLogonAccount(unitDir / unitName);
  // Without a unit of its own (-install), the service runs from the package's.
  if (ports.serviceAccount.empty() && std::getenv("CORVANE_UNIT_DIR") == nullptr)
    ports.serviceAccount = ntservice::ServiceLogonAccount(std::filesystem::path(ntservice::kPackagedUnitDir) / unitName);
  ports.computerName = ComputerName();
  ports.serviceUnit = unitName;
  ports.distListFileDefault = DistListFileDefault();
  ports.versionMajor = CORVANE_VERSION_MAJOR;
  ports.versionMinor = CORVANE_VERSION_MINOR;
  return ports;
}

}  // namespace corvane::wizard
