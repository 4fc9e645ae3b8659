// What the wizard's logic is handed from outside: the parameters key, the
// service-control component, the public-folder listing and the machine's
// facts. The program passes the real ones (hive_parameter_store.h,
// service_control_adapter.cpp, public_folders_adapter.cpp,
// wizard_environment.cpp); tests pass fakes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry/registry.h"
#include "service/parameters/parameters.h"

namespace corvane::wizard {

// Why something outside could not be reached: a number and its text, as a
// component error reports them (e.g. 429 "ActiveX component can't create object").
struct Failure {
  int32_t number = 0;
  std::string text;
};

// The parameters key as the wizard reads and writes it.
class ParameterStore {
 public:
  virtual ~ParameterStore() = default;
  // Whether the key can be read and written; the failure says why not.
  virtual std::optional<Failure> CheckAccess() = 0;
  // The value's text; nullopt when the value (or the key) is missing or
  // cannot be read.
  virtual std::optional<std::string> Read(std::string_view name) = 0;
  // Stores one value with its registry type; the failure when it was not
  // stored.
  virtual std::optional<Failure> Write(std::string_view name, std::string_view text, registry::ValueType type) = 0;
};

// The service-control component `SvcUtil`, as the wizard uses it.
class SvcUtil {
 public:
  virtual ~SvcUtil() = default;
  virtual void SetTargetService(const std::string& name) = 0;
  virtual void SetHostname(const std::string& name) = 0;
  // "SERVICE_STOPPED", "SERVICE_RUNNING" or another status text.
  virtual std::string GetTargetServiceStatus() = 0;
  // True when the status could be read after the start.
  virtual bool StartTargetService() = 0;
  // Stops and starts the service again.
  virtual void BounceTargetService() = 0;
  // Called between the status polls while a start or restart waits for
  // the service, with the status text the last poll read; may be empty.
  virtual void SetWaitObserver(std::function<void(const std::string& status)> observer) = 0;
  // Ends the running wait at its next poll, leaving the service to systemd
  // (call it from the observer, or from what the observer lets run).
  virtual void CancelWait() = 0;
  // Why the last start or restart request did not reach the service (the
  // request refused, or the service not found); nullopt when it was
  // accepted.
  virtual std::optional<Failure> RequestFailure() = 0;
};

// Folders directly under the public folder tree, in the store's order;
// `failure` is set when listing stopped early (the names found up to then
// are kept).
struct PublicFolderListing {
  std::vector<std::string> names;
  std::optional<Failure> failure;
};

struct WizardPorts {
  ParameterStore* store = nullptr;
  // Creates SvcUtil by "Tarnwick.SvcUtil"; null with `failure` filled
  // when it cannot be created.
  std::function<std::unique_ptr<SvcUtil>(Failure& failure)> createSvcUtil;
  std::function<PublicFolderListing()> listPublicFolders;
  std::function<parameters::DateTime()> now;
  // "ObjectName" of the service: the account it logs on with ("LocalSystem",
  // a user, or "domain\user"); empty when unknown.
  std::string serviceAccount;
  std::string computerName;      // COMPUTERNAME
  std::string serviceUnit;       // the service's systemd unit, for the commands the wizard names
  std::string distListFileDefault;  // the default path of the distribution-list import file
  int versionMajor = 0;
  int versionMinor = 0;
};

}  // namespace corvane::wizard
