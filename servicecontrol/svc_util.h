// SvcUtil: lists the services of a host and queries, starts, stops and
// restarts one of them. The configuration wizard creates it by its
// identifier and offers a start or restart of the Corvane service with it:
//
//   #include "servicecontrol/svc_util.h"
//
//   auto svc = corvane::com::CreateObject<corvane::servicecontrol::SvcUtil>("Tarnwick.SvcUtil");
//   svc->TargetService = "Corvane Service";
//   svc->hostname = computerName;                  // $COMPUTERNAME, else the host name
//   svc->ProcessPendingMessages = [&] { app.processEvents(); };
//   if (svc->GetTargetServiceStatus().Text() == "SERVICE_RUNNING") svc->BounceTargetService();
//
// CreateObject throws com::ComError 429 when the component is not
// registered (see README.md: corvane-regsvr).
//
// Every method runs on the caller's thread and returns when the service
// has left its pending state, or when TimeLimit has passed. A method that
// needs an empty property does nothing and returns an empty variant.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "platform/com/com.h"

namespace corvane::servicecontrol {

inline constexpr const char* kSvcUtilProgId = "Tarnwick.SvcUtil";

class SvcUtil : public com::Object {
 public:
  // Name of the machine whose services are listed and controlled: this
  // machine by $COMPUTERNAME, its host name, "localhost" or "."; any other
  // host through ssh. Empty when created.
  std::string hostname;
  // Service name (not display name) that the status, start, stop and
  // restart act on: "Corvane Service". Empty when created.
  std::string TargetService;
  // Longest wait for one pending state (starting, stopping) to end. Read
  // at every poll, so setting it to zero during a wait (from
  // ProcessPendingMessages) ends that wait at once: how a window cancels.
  std::chrono::milliseconds TimeLimit = std::chrono::seconds(120);
  // Called between two status polls of a wait (about ten times a second),
  // so a window can process its pending messages. May be empty.
  std::function<void()> ProcessPendingMessages;
  // While a wait runs: the status text its last poll read
  // ("SERVICE_START_PENDING", ...), for a window to show. Empty otherwise.
  std::string WaitStatus;
  // Why the last StartTargetService, StopTargetService or
  // BounceTargetService did not get its request to the service: the Win32
  // error of opening the manager or the service, or of the request itself
  // (5 when polkit refused it, 1060 when there is no such service); 0 when
  // every request was accepted. The methods' results do not change with it.
  uint32_t LastRequestError = 0;

  // "All registered services:" and CR, then one line per service of the
  // host, each "<name> , <display name> , <stopped|started|paused|unknown>"
  // and CR; or an error text ending in the error number. Needs hostname.
  virtual com::Variant ListAllServices() = 0;
  // "SERVICE_STOPPED", "SERVICE_START_PENDING", "SERVICE_STOP_PENDING",
  // "SERVICE_RUNNING", or "SERVICE_STATUS_UNKNOWN" (also when the service
  // cannot be opened, and for a paused one).
  virtual com::Variant GetTargetServiceStatus() = 0;
  // Starts TargetService and waits while it is starting. True when the
  // status could be read afterwards (not: when it runs).
  virtual com::Variant StartTargetService() = 0;
  // Stops TargetService and waits while it is stopping. True when the
  // status could be read afterwards (not: when it stopped).
  virtual com::Variant StopTargetService() = 0;
  // Stops TargetService, waits while it is stopping, starts it, waits while
  // it is starting. Returns an empty variant.
  virtual com::Variant BounceTargetService() = 0;
};

}  // namespace corvane::servicecontrol
