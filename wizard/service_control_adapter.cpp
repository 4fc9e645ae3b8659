// Creates `SvcUtil` for the wizard: the component registered as
// "Tarnwick.SvcUtil" (libServolink.so, registered with corvane-regsvr),
// created through platform/com and seen through the wizard's own small
// SvcUtil interface.
#include <utility>

#include "platform/com/com.h"
#include "servicecontrol/svc_util.h"
#include "wizard/wizard_adapters.h"

namespace corvane::wizard {

namespace {

// What a Win32 error of the service manager means for someone starting
// the service from the wizard.
std::string RequestErrorText(uint32_t error) {
  switch (error) {
    case 5:
      return "access denied: systemd (polkit) refused the request, because no authentication agent asked for a "
             "password or the answer was no";
    case 8:
      return "not enough memory";
    case 123:
      return "the service name is not valid";
    case 1052:
      return "the unit refuses to be started or stopped by hand";
    case 1058:
      return "the service is disabled (its unit is masked)";
    case 1060:
      return "the service is not installed (no unit for it)";
    case 1722:
      return "systemd cannot be reached";
    default:
      return "systemd gave an unexpected answer";
  }
}

class ComponentSvcUtil : public SvcUtil {
 public:
  ComponentSvcUtil(std::shared_ptr<servicecontrol::SvcUtil> object, std::function<void()> processPendingMessages)
      : object_(std::move(object)) {
    // The waits for a starting or stopping service keep the window alive
    // and tell it the status they read.
    object_->ProcessPendingMessages = [this, pump = std::move(processPendingMessages)] {
      if (observer_) observer_(object_->WaitStatus);
      if (pump) pump();
    };
  }
  ComponentSvcUtil(const ComponentSvcUtil&) = delete;
  ComponentSvcUtil& operator=(const ComponentSvcUtil&) = delete;

  void SetTargetService(const std::string& name) override { object_->TargetService = name; }
  void SetHostname(const std::string& name) override { object_->hostname = name; }
  std::string GetTargetServiceStatus() override { return object_->GetTargetServiceStatus().Text(); }
  bool StartTargetService() override { return object_->StartTargetService().Bool(); }
  void BounceTargetService() override { object_->BounceTargetService(); }
  void SetWaitObserver(std::function<void(const std::string&)> observer) override { observer_ = std::move(observer); }
  // The component reads its time limit at every poll.
  void CancelWait() override { object_->TimeLimit = std::chrono::milliseconds(0); }
  std::optional<Failure> RequestFailure() override {
    const uint32_t error = object_->LastRequestError;
    if (error == 0) return std::nullopt;
    return Failure{static_cast<int32_t>(error), RequestErrorText(error)};
  }

 private:
  std::shared_ptr<servicecontrol::SvcUtil> object_;
  std::function<void(const std::string&)> observer_;
};

}  // namespace

std::unique_ptr<SvcUtil> CreateSvcUtil(Failure& failure, std::function<void()> processPendingMessages) {
  try {
    auto object = com::CreateObject<servicecontrol::SvcUtil>(servicecontrol::kSvcUtilProgId);
    return std::make_unique<ComponentSvcUtil>(std::move(object), std::move(processPendingMessages));
  } catch (const com::ComError& e) {
    failure = Failure{e.Number, e.Description};
    return nullptr;
  }
}

}  // namespace corvane::wizard
