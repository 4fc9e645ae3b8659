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

class ComponentSvcUtil : public SvcUtil {
 public:
  explicit ComponentSvcUtil(std::shared_ptr<servicecontrol::SvcUtil> object) : object_(std::move(object)) {}
  void SetTargetService(const std::string& name) override { object_->TargetService = name; }
  void SetHostname(const std::string& name) override { object_->hostname = name; }
  std::string GetTargetServiceStatus() override { return object_->GetTargetServiceStatus().Text(); }
  bool StartTargetService() override { return object_->StartTargetService().Bool(); }
  void BounceTargetService() override { object_->BounceTargetService(); }

 private:
  std::shared_ptr<servicecontrol::SvcUtil> object_;
};

}  // namespace

std::unique_ptr<SvcUtil> CreateSvcUtil(Failure& failure, std::function<void()> processPendingMessages) {
  try {
    auto object = com::CreateObject<servicecontrol::SvcUtil>(servicecontrol::kSvcUtilProgId);
    // The waits for a starting or stopping service keep the window alive.
    object->ProcessPendingMessages = std::move(processPendingMessages);
    return std::make_unique<ComponentSvcUtil>(std::move(object));
  } catch (const com::ComError& e) {
    failure = Failure{e.Number, e.Description};
    return nullptr;
  }
}

}  // namespace corvane::wizard
