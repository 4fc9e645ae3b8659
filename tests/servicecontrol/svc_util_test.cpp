// SvcUtil over an in-memory service manager: what needs no bus.
#include <gtest/gtest.h>

#include "platform/scm/fake_scm.h"
#include "servicecontrol/svc_util_object.h"

namespace corvane::servicecontrol {
namespace {

using scm::FakeServiceControlManager;

TEST(SvcUtil, EmptyPropertiesGiveEmptyVariantsWithoutAskingTheManager) {
  auto manager = std::make_shared<FakeServiceControlManager>();
  manager->services["Corvane Service"] = {"Tarnwick Corvane Service", scm::SERVICE_RUNNING};
  SvcUtilObject svc(manager);
  svc.TargetService = "Corvane Service";
  for (auto method : {&SvcUtil::ListAllServices, &SvcUtil::GetTargetServiceStatus, &SvcUtil::StartTargetService,
                      &SvcUtil::StopTargetService, &SvcUtil::BounceTargetService})
    EXPECT_TRUE((svc.*method)().IsEmpty());
  EXPECT_TRUE(manager->calls.empty());

  svc.hostname = "TESTHOST";
  svc.TargetService.clear();
  for (auto method : {&SvcUtil::GetTargetServiceStatus, &SvcUtil::StartTargetService, &SvcUtil::StopTargetService,
                      &SvcUtil::BounceTargetService})
    EXPECT_TRUE((svc.*method)().IsEmpty());
  EXPECT_TRUE(manager->calls.empty());
  EXPECT_EQ(svc.ListAllServices().Text(),
            "All registered services:\rCorvane Service , Tarnwick Corvane Service , started\r");
}

TEST(SvcUtil, ListingFailuresNameTheFailedStepAndItsErrorNumber) {
  struct Case {
    scm::Win32Error openError;
    std::vector<scm::Win32Error> enumErrors;
    std::string text;
  } cases[] = {
      {1722, {}, "OpenSCManager failed. LastDllError = 1722"},
      {0, {5}, "LastDLLError = 5"},                                   // learning the size
      {0, {0, 234}, "EnumServicesStatus failed. LastDllError = 234"},  // reading the list
  };
  for (const auto& c : cases) {
    auto manager = std::make_shared<FakeServiceControlManager>();
    manager->services["a"] = {"A"};
    manager->openError = c.openError;
    manager->enumErrors = c.enumErrors;
    SvcUtilObject svc(manager);
    svc.hostname = "TESTHOST";
    EXPECT_EQ(svc.ListAllServices().Text(), c.text);
  }
}

TEST(SvcUtil, APendingStartIsLeftAfterTheDefaultTwoMinutes) {
  auto manager = std::make_shared<FakeServiceControlManager>();
  manager->services["Corvane Service"] = {"Tarnwick Corvane Service", scm::SERVICE_STOPPED, scm::SERVICE_START_PENDING};
  std::chrono::steady_clock::time_point now{};
  SvcUtilObject svc(manager, {[&] { return now; }, [&](std::chrono::milliseconds pause) { now += pause; }});
  svc.hostname = "TESTHOST";
  svc.TargetService = "Corvane Service";
  int rounds = 0;
  svc.ProcessPendingMessages = [&] { ++rounds; };

  EXPECT_EQ(svc.StartTargetService(), com::Variant(true));
  EXPECT_EQ(now.time_since_epoch(), std::chrono::seconds(120));
  EXPECT_EQ(rounds, 120 * 1000 / kPollPause.count());
  EXPECT_EQ(svc.GetTargetServiceStatus().Text(), "SERVICE_START_PENDING");
}

TEST(SvcUtil, ARequestThatCannotReachTheServiceSaysWhyAndACancelledWaitEndsAtOnce) {
  auto manager = std::make_shared<FakeServiceControlManager>();
  manager->services["Corvane Service"] = {"Tarnwick Corvane Service", scm::SERVICE_STOPPED, scm::SERVICE_START_PENDING};
  std::chrono::steady_clock::time_point now{};
  SvcUtilObject svc(manager, {[&] { return now; }, [&](std::chrono::milliseconds pause) { now += pause; }});
  svc.hostname = "TESTHOST";
  svc.TargetService = "Nowhere";
  EXPECT_EQ(svc.StartTargetService(), com::Variant(false));
  EXPECT_EQ(svc.LastRequestError, scm::ERROR_SERVICE_DOES_NOT_EXIST);

  svc.TargetService = "Corvane Service";
  std::vector<std::string> seen;
  svc.ProcessPendingMessages = [&] {
    seen.push_back(svc.WaitStatus);
    svc.TimeLimit = std::chrono::milliseconds(0);
  };
  EXPECT_EQ(svc.StartTargetService(), com::Variant(true));
  EXPECT_EQ(svc.LastRequestError, 0u);
  EXPECT_EQ(seen, std::vector<std::string>{"SERVICE_START_PENDING"});
  EXPECT_EQ(svc.WaitStatus, "");
}

}  // namespace
}  // namespace corvane::servicecontrol
