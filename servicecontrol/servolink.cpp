// libServolink.so: the in-process server of "Tarnwick.SvcUtil". It exports
// the four server functions and nothing else (see servolink.map).
#include <strings.h>

#include <atomic>
#include <cstdio>

#include "platform/com/server.h"
#include "platform/scm/scm.h"
#include "servicecontrol/svc_util_object.h"

namespace {

using namespace corvane;

std::atomic<int> liveObjects{0};

// A SvcUtil over systemd, counted while it lives (DllCanUnloadNow).
class CountedSvcUtil : public servicecontrol::SvcUtilObject {
 public:
  CountedSvcUtil() : SvcUtilObject(scm::CreateSystemdServiceControlManager()) { ++liveObjects; }
  ~CountedSvcUtil() override { --liveObjects; }
  CountedSvcUtil(const CountedSvcUtil&) = delete;
  CountedSvcUtil& operator=(const CountedSvcUtil&) = delete;
};

class SvcUtilFactory : public com::ClassFactory {
 public:
  std::unique_ptr<com::Object> CreateInstance() override { return std::make_unique<CountedSvcUtil>(); }
};

SvcUtilFactory factory;

void* OwnAddress() { return reinterpret_cast<void*>(&OwnAddress); }

}  // namespace

extern "C" {

int32_t DllRegisterServer() {
  try {
    auto hive = registry::Hive::Machine();
    com::RegisterServer(hive, servicecontrol::kSvcUtilProgId, com::LibraryContaining(OwnAddress()));
    return com::S_OK;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return com::SELFREG_E_CLASS;
  }
}

int32_t DllUnregisterServer() {
  try {
    auto hive = registry::Hive::Machine();
    com::UnregisterServer(hive, servicecontrol::kSvcUtilProgId);
    return com::S_OK;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return com::SELFREG_E_CLASS;
  }
}

int32_t DllGetClassObject(const char* progId, com::ClassFactory** classFactory) {
  if (classFactory == nullptr) return com::E_POINTER;
  *classFactory = nullptr;
  if (progId == nullptr || ::strcasecmp(progId, servicecontrol::kSvcUtilProgId) != 0) return com::CLASS_E_CLASSNOTAVAILABLE;
  *classFactory = &factory;
  return com::S_OK;
}

int32_t DllCanUnloadNow() { return liveObjects == 0 ? com::S_OK : com::S_FALSE; }

}  // extern "C"
