#include "servicecontrol/svc_util_object.h"

#include <fmt/format.h>

#include <string_view>
#include <thread>

namespace corvane::servicecontrol {
namespace {

using namespace corvane::scm;

// Names pass through a fixed buffer of 250 characters: cut at the first
// NUL, and after 250 characters.
constexpr size_t kNameBufferCharacters = 250;

std::string FromNameBuffer(std::string_view name) {
  name = name.substr(0, name.find('\0'));
  size_t characters = 0;
  for (size_t i = 0; i < name.size(); ++i) {
    const bool startsCharacter = (static_cast<unsigned char>(name[i]) & 0xC0) != 0x80;
    if (startsCharacter && characters++ == kNameBufferCharacters) return std::string(name.substr(0, i));
  }
  return std::string(name);
}

const char* ListStateText(uint32_t state) {
  switch (state) {
    case SERVICE_STOPPED: return "stopped";
    case SERVICE_RUNNING: return "started";
    case SERVICE_PAUSED: return "paused";
    default: return "unknown";
  }
}

const char* StatusText(uint32_t state) {
  switch (state) {
    case SERVICE_STOPPED: return "SERVICE_STOPPED";
    case SERVICE_START_PENDING: return "SERVICE_START_PENDING";
    case SERVICE_STOP_PENDING: return "SERVICE_STOP_PENDING";
    case SERVICE_RUNNING: return "SERVICE_RUNNING";
    default: return "SERVICE_STATUS_UNKNOWN";
  }
}

}  // namespace

WaitClock WaitClock::Real() {
  return {[] { return std::chrono::steady_clock::now(); }, [](std::chrono::milliseconds pause) { std::this_thread::sleep_for(pause); }};
}

SvcUtilObject::SvcUtilObject(std::shared_ptr<ServiceControlManager> manager, WaitClock clock)
    : manager_(std::move(manager)), clock_(std::move(clock)) {}

com::Variant SvcUtilObject::ListAllServices() {
  if (hostname.empty()) return {};
  std::unique_ptr<ManagerHandle> manager;
  if (Win32Error e = manager_->OpenSCManager(hostname, &manager))
    return fmt::format("OpenSCManager failed. LastDllError = {}", e);
  // Ask for the size first, then for the list with room for one more.
  std::vector<ServiceEntry> services;
  size_t needed = 0;
  Win32Error e = manager->EnumServicesStatus(0, &services, &needed);
  if (e == ERROR_MORE_DATA) {
    e = manager->EnumServicesStatus(needed + 1, &services, &needed);
    if (e != ERROR_SUCCESS) return fmt::format("EnumServicesStatus failed. LastDllError = {}", e);
  } else if (e != ERROR_SUCCESS) {
    return fmt::format("LastDLLError = {}", e);
  }
  std::string text = "All registered services:\r";
  for (const auto& service : services) {
    text += fmt::format("{} , {} , {}\r", FromNameBuffer(service.serviceName), FromNameBuffer(service.displayName),
                        ListStateText(service.status.currentState));
  }
  return text;
}

com::Variant SvcUtilObject::GetTargetServiceStatus() {
  if (hostname.empty() || TargetService.empty()) return {};
  Target target = OpenTarget();
  ServiceStatus status;
  Query(target, &status);
  return StatusText(status.currentState);
}

com::Variant SvcUtilObject::StartTargetService() {
  return ControlTarget(&ServiceHandle::StartService, SERVICE_START_PENDING);
}

com::Variant SvcUtilObject::StopTargetService() {
  return ControlTarget(&ServiceHandle::ControlStop, SERVICE_STOP_PENDING);
}

com::Variant SvcUtilObject::BounceTargetService() {
  if (hostname.empty() || TargetService.empty()) return {};
  LastRequestError = ERROR_SUCCESS;
  Target target = OpenTarget();
  ServiceStatus status;
  RequestAndWait(target, &ServiceHandle::ControlStop, SERVICE_STOP_PENDING, &status);
  RequestAndWait(target, &ServiceHandle::StartService, SERVICE_START_PENDING, &status);
  return {};
}

com::Variant SvcUtilObject::ControlTarget(Win32Error (ServiceHandle::*request)(), uint32_t pendingState) {
  if (hostname.empty() || TargetService.empty()) return {};
  LastRequestError = ERROR_SUCCESS;
  Target target = OpenTarget();
  ServiceStatus status;
  RequestAndWait(target, request, pendingState, &status);
  return Query(target, &status);
}

SvcUtilObject::Target SvcUtilObject::OpenTarget() {
  Target target;
  target.openError = manager_->OpenSCManager(hostname, &target.manager);
  if (target.openError == ERROR_SUCCESS) target.openError = target.manager->OpenService(TargetService, &target.service);
  return target;
}

bool SvcUtilObject::Query(Target& target, ServiceStatus* status) {
  return target.service && target.service->QueryServiceStatus(status) == ERROR_SUCCESS;
}

void SvcUtilObject::RequestAndWait(Target& target, Win32Error (ServiceHandle::*request)(), uint32_t pendingState,
                                   ServiceStatus* status) {
  // A refused request changes no result: it shows in the status that
  // follows, and its reason in LastRequestError.
  const Win32Error e = target.service ? (target.service.get()->*request)() : target.openError;
  if (e != ERROR_SUCCESS) LastRequestError = e;
  Query(target, status);
  WaitWhile(target, pendingState, status);
}

void SvcUtilObject::WaitWhile(Target& target, uint32_t pendingState, ServiceStatus* status) {
  const auto started = clock_.now();
  // TimeLimit is read at every poll: a caller cancels by setting it to zero.
  while (status->currentState == pendingState && clock_.now() - started < TimeLimit) {
    WaitStatus = StatusText(status->currentState);
    if (ProcessPendingMessages) ProcessPendingMessages();
    clock_.sleep(kPollPause);
    if (!Query(target, status)) break;
  }
  WaitStatus.clear();
}

}  // namespace corvane::servicecontrol
