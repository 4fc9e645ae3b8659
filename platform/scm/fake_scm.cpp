#include "platform/scm/fake_scm.h"

namespace corvane::scm {
namespace {

using Fake = FakeServiceControlManager;

class FakeService : public ServiceHandle {
 public:
  FakeService(Fake& fake, std::string name) : fake_(fake), name_(std::move(name)) {}

  Win32Error QueryServiceStatus(ServiceStatus* status) override {
    fake_.calls.push_back("QueryServiceStatus " + name_);
    status->currentState = fake_.services.at(name_).state;
    return ERROR_SUCCESS;
  }
  Win32Error ControlStop() override {
    fake_.calls.push_back("ControlStop " + name_);
    auto& service = fake_.services.at(name_);
    service.state = service.stateAfterStop;
    return ERROR_SUCCESS;
  }
  Win32Error StartService() override {
    fake_.calls.push_back("StartService " + name_);
    auto& service = fake_.services.at(name_);
    service.state = service.stateAfterStart;
    return ERROR_SUCCESS;
  }

 private:
  Fake& fake_;
  std::string name_;
};

class FakeManager : public ManagerHandle {
 public:
  explicit FakeManager(Fake& fake) : fake_(fake) {}

  Win32Error EnumServicesStatus(size_t capacity, std::vector<ServiceEntry>* services, size_t* needed) override {
    size_t call = enumCalls_++;
    fake_.calls.push_back("EnumServicesStatus");
    if (call < fake_.enumErrors.size() && fake_.enumErrors[call] != ERROR_SUCCESS) return fake_.enumErrors[call];
    if (fake_.services.size() > capacity) {
      *needed = fake_.services.size();
      return ERROR_MORE_DATA;
    }
    services->clear();
    for (const auto& [name, service] : fake_.services) services->push_back({name, service.displayName, {service.state}});
    return ERROR_SUCCESS;
  }
  Win32Error OpenService(std::string_view serviceName, std::unique_ptr<ServiceHandle>* service) override {
    std::string name(serviceName);
    fake_.calls.push_back("OpenService " + name);
    if (!fake_.services.contains(name)) return ERROR_SERVICE_DOES_NOT_EXIST;
    *service = std::make_unique<FakeService>(fake_, name);
    return ERROR_SUCCESS;
  }

 private:
  Fake& fake_;
  size_t enumCalls_ = 0;
};

}  // namespace

Win32Error FakeServiceControlManager::OpenSCManager(std::string_view machineName,
                                                    std::unique_ptr<ManagerHandle>* manager) {
  calls.push_back("OpenSCManager " + std::string(machineName));
  if (openError != ERROR_SUCCESS) return openError;
  *manager = std::make_unique<FakeManager>(*this);
  return ERROR_SUCCESS;
}

}  // namespace corvane::scm
