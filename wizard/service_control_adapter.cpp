// Creates `SvcUtil` for the wizard. The service-control component is not
// part of this build yet, so creating it fails the way creating a
// component that is not registered fails (error 429). Replace this file's
// body with the creation through platform/com ("Tarnwick.SvcUtil") and an
// SvcUtil adapter over the created object; nothing else needs to change.
#include "wizard/wizard_adapters.h"

namespace corvane::wizard {

std::unique_ptr<SvcUtil> CreateSvcUtil(Failure& failure) {
  failure = Failure{429, "ActiveX component can't create object"};
  return nullptr;
}

}  // namespace corvane::wizard
