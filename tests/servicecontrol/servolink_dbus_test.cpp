// SvcUtil as the wizard gets it: created by its identifier from the library
// the build registered in the test home, talking to a systemd on a private
// bus (python3-dbusmock).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "servicecontrol/svc_util.h"
#include "tests/servicecontrol/mock_systemd.h"

namespace corvane::servicecontrol {
namespace {

constexpr const char* kCorvaneUnit = "Corvane\\x20Service.service";

std::shared_ptr<SvcUtil> CreateSvcUtil(const std::string& target = "Corvane Service") {
  ::setenv("CORVANE_HOME", CORVANE_TEST_HOME, 1);
  auto svc = com::CreateObject<SvcUtil>(kSvcUtilProgId);
  svc->hostname = "TESTHOST";
  svc->TargetService = target;
  return svc;
}

class ServolinkBus : public ::testing::Test {
 protected:
  void SetUp() override {
    CORVANE_START_MOCK_SYSTEMD(mock);
    systemd = std::move(mock);
  }
  std::unique_ptr<testing::MockSystemd> systemd;
};

TEST_F(ServolinkBus, ListsEveryServiceWithItsStateNameAndDisplayName) {
  const std::string longName(260, 'z');
  const std::string longDescription(300, 'd');
  systemd->AddUnit(kCorvaneUnit, "Tarnwick Corvane Service", "active");
  systemd->AddUnit("bravo.service", "Bravo", "failed");
  systemd->AddUnit("alpha.service", "Alpha", "inactive");
  systemd->AddUnit("charlie.service", "Charlie", "activating");
  systemd->AddUnit("delta.service", "Delta", "active", "frozen");
  systemd->AddUnit("echo-two.service", "Echo", "deactivating");
  systemd->AddUnit(longName + ".service", longDescription, "active");
  systemd->AddUnit("gone.service", "", "inactive", "running", "not-found");  // referenced, no file
  systemd->AddUnit("dbus.socket", "D-Bus Socket", "active");
  systemd->AddUnitFile("foxtrot.service", "Installed only");
  systemd->AddUnitFile("getty@.service", "A template");

  auto svc = CreateSvcUtil();
  EXPECT_EQ(svc->ListAllServices().Text(),
            "All registered services:\r"
            "alpha , Alpha , stopped\r"
            "bravo , Bravo , stopped\r"
            "charlie , Charlie , unknown\r"
            "Corvane Service , Tarnwick Corvane Service , started\r"
            "delta , Delta , paused\r"
            "echo-two , Echo , unknown\r"
            "foxtrot , Installed only , stopped\r" +
                std::string(250, 'z') + " , " + std::string(250, 'd') + " , started\r");

  svc->TargetService = "delta";  // paused: listed as such, no status text for it
  EXPECT_EQ(svc->GetTargetServiceStatus().Text(), "SERVICE_STATUS_UNKNOWN");
}

TEST_F(ServolinkBus, HostWithoutServicesListsOnlyTheHeading) {
  EXPECT_EQ(CreateSvcUtil()->ListAllServices(), com::Variant("All registered services:\r"));
}

TEST_F(ServolinkBus, StopOfAStoppedServiceReturnsTrue) {
  systemd->AddUnit(kCorvaneUnit, "Tarnwick Corvane Service", "inactive");
  auto svc = CreateSvcUtil();
  EXPECT_EQ(svc->StopTargetService(), com::Variant(true));
  EXPECT_EQ(svc->GetTargetServiceStatus().Text(), "SERVICE_STOPPED");
}

TEST_F(ServolinkBus, StartOfAMissingServiceReturnsFalse) {
  auto svc = CreateSvcUtil("Nowhere");
  EXPECT_EQ(svc->StartTargetService(), com::Variant(false));
  EXPECT_EQ(svc->GetTargetServiceStatus().Text(), "SERVICE_STATUS_UNKNOWN");
}

TEST_F(ServolinkBus, StartWaitsWhileStartingAndLetsMessagesRunBetweenPolls) {
  systemd->AddUnit(kCorvaneUnit, "Tarnwick Corvane Service", "inactive");
  systemd->SetJobOutcome(kCorvaneUnit, "activating", "inactive");
  auto svc = CreateSvcUtil();
  int rounds = 0;
  svc->ProcessPendingMessages = [&] {
    if (++rounds == 3) systemd->SetActiveState(kCorvaneUnit, "active");
  };
  EXPECT_EQ(svc->StartTargetService(), com::Variant(true));
  EXPECT_EQ(rounds, 3);
  EXPECT_EQ(svc->GetTargetServiceStatus().Text(), "SERVICE_RUNNING");
}

TEST_F(ServolinkBus, RestartWaitsThroughStoppingThenStarting) {
  systemd->AddUnit(kCorvaneUnit, "Tarnwick Corvane Service", "active");
  systemd->SetJobOutcome(kCorvaneUnit, "activating", "deactivating");
  auto svc = CreateSvcUtil();
  std::vector<std::string> seen;
  svc->ProcessPendingMessages = [&] {
    seen.push_back(svc->GetTargetServiceStatus().Text());
    if (seen.size() == 2) systemd->SetActiveState(kCorvaneUnit, "inactive");
    if (seen.size() == 4) systemd->SetActiveState(kCorvaneUnit, "active");
  };
  EXPECT_TRUE(svc->BounceTargetService().IsEmpty());
  EXPECT_EQ(seen, (std::vector<std::string>{"SERVICE_STOP_PENDING", "SERVICE_STOP_PENDING", "SERVICE_START_PENDING",
                                            "SERVICE_START_PENDING"}));
  EXPECT_EQ(svc->GetTargetServiceStatus().Text(), "SERVICE_RUNNING");
}

TEST_F(ServolinkBus, AServiceThatStaysPendingIsLeftAfterTheTimeLimit) {
  systemd->AddUnit(kCorvaneUnit, "Tarnwick Corvane Service", "inactive");
  systemd->SetJobOutcome(kCorvaneUnit, "activating", "inactive");
  auto svc = CreateSvcUtil();
  svc->TimeLimit = std::chrono::milliseconds(300);
  int rounds = 0;
  svc->ProcessPendingMessages = [&] { ++rounds; };
  EXPECT_EQ(svc->StartTargetService(), com::Variant(true));  // its status could be read
  EXPECT_GT(rounds, 0);
  EXPECT_EQ(svc->GetTargetServiceStatus().Text(), "SERVICE_START_PENDING");
}

TEST(ServolinkNoBus, AManagerOutOfReachIsError1722) {
  ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/corvane-test-bus", 1);
  auto svc = CreateSvcUtil();
  svc->hostname = "localhost";
  EXPECT_EQ(svc->ListAllServices().Text(), "OpenSCManager failed. LastDllError = 1722");
  EXPECT_EQ(svc->GetTargetServiceStatus().Text(), "SERVICE_STATUS_UNKNOWN");
  ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}

}  // namespace
}  // namespace corvane::servicecontrol
