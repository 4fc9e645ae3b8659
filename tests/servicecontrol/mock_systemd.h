// A systemd for tests: a private D-Bus daemon of its own (never the
// machine's bus) with python3-dbusmock's systemd template on it, extended
// with what the template lacks (ListUnits, ListUnitFiles, LoadUnit, the
// units' Description, FreezerState and Job, start and stop that leave a
// pending state). While it lives, DBUS_SYSTEM_BUS_ADDRESS points at it and
// COMPUTERNAME is "TESTHOST", so the service manager layer reaches it as
// the local system bus.
//
// In GoogleTest, CORVANE_START_MOCK_SYSTEMD(var) starts one, or skips the
// test when dbus-daemon or python3-dbusmock is missing (fails under CI=true).
#pragma once

#include <sys/types.h>
#include <systemd/sd-bus.h>

#include <memory>
#include <optional>
#include <string>

namespace corvane::testing {

class MockSystemd {
 public:
  // nullptr with *error set when it cannot start.
  static std::unique_ptr<MockSystemd> Start(std::string* error);
  MockSystemd() = default;  // use Start
  ~MockSystemd();
  MockSystemd(const MockSystemd&) = delete;
  MockSystemd& operator=(const MockSystemd&) = delete;

  // A loaded unit ("Corvane\\x20Service.service"), with its Description,
  // ActiveState, FreezerState and LoadState.
  void AddUnit(const std::string& unit, const std::string& description, const std::string& activeState,
               const std::string& freezerState = "running", const std::string& loadState = "loaded");
  // An installed unit file that systemd has not loaded yet.
  void AddUnitFile(const std::string& unit, const std::string& description);
  // The ActiveState that StartUnit and StopUnit leave (default "active", "inactive").
  void SetJobOutcome(const std::string& unit, const std::string& afterStart, const std::string& afterStop);
  void SetActiveState(const std::string& unit, const std::string& activeState);

  // True when a missing dbus-daemon or dbusmock must fail the test.
  static bool Required();

 private:
  void CallMock(const char* member, const char* types, ...);
  void AddMethod(const char* interface, const char* name, const char* in, const char* out, const std::string& code);

  pid_t daemon_ = -1;
  pid_t mock_ = -1;
  sd_bus* bus_ = nullptr;
  std::optional<std::string> previousSystemBus_;
  std::optional<std::string> previousComputerName_;
};

}  // namespace corvane::testing

#define CORVANE_START_MOCK_SYSTEMD(var)                                        \
  std::string var##_error;                                                     \
  auto var = ::corvane::testing::MockSystemd::Start(&var##_error);             \
  if (!var) {                                                                  \
    if (::corvane::testing::MockSystemd::Required()) FAIL() << var##_error;    \
    GTEST_SKIP() << var##_error;                                               \
  }
