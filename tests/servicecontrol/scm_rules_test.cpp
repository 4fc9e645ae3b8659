// The service manager layer's rules that need no bus: Win32 error numbers,
// unit states, unit names, the local machine.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>

#include "platform/ntservice/unit_name.h"
#include "platform/scm/unit_state.h"
#include "platform/scm/win32_error.h"

namespace corvane::scm {
namespace {

TEST(ScmRules, BusErrorsReadAsTheWin32ErrorsOfTheDocumentedTable) {
  struct Case {
    const char* name;  // D-Bus error name, or nullptr for a bare errno
    int result;
    Win32Error code;
  } cases[] = {
      {"org.freedesktop.DBus.Error.AccessDenied", -EACCES, 5},
      {"org.freedesktop.DBus.Error.InteractiveAuthorizationRequired", -EIO, 5},
      {"org.freedesktop.PolicyKit1.Error.NotAuthorized", -EIO, 5},
      {nullptr, -EPERM, 5},
      {nullptr, -ENOMEM, 8},
      {"org.freedesktop.DBus.Error.InvalidArgs", -EINVAL, 123},
      {"org.freedesktop.systemd1.OnlyByDependency", -EIO, 1052},
      {"org.freedesktop.systemd1.UnitMasked", -EIO, 1058},
      {"org.freedesktop.systemd1.NoSuchUnit", -EIO, 1060},
      {"org.freedesktop.DBus.Error.ServiceUnknown", -EHOSTUNREACH, 1722},
      {"org.freedesktop.DBus.Error.NoReply", -ETIMEDOUT, 1722},
      {"System.Error.ECONNRESET", -ECONNRESET, 1722},
      {nullptr, -ECONNREFUSED, 1722},
      {nullptr, -ENOENT, 1722},
      {"org.freedesktop.DBus.Python.KeyError", -EIO, 1359},
      {nullptr, -EBADMSG, 1359},
  };
  for (const auto& c : cases) {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    if (c.name != nullptr) sd_bus_error_set(&error, c.name, "words");
    EXPECT_EQ(Win32ErrorOf(&error, c.result), c.code) << (c.name ? c.name : "errno") << " " << c.result;
    sd_bus_error_free(&error);
  }
}

TEST(ScmRules, UnitStatesReadAsServiceStates) {
  struct Case {
    const char* active;
    const char* freezer;
    const char* job;
    uint32_t state;
  } cases[] = {
      {"inactive", "", "", SERVICE_STOPPED},          {"failed", "", "", SERVICE_STOPPED},
      {"activating", "", "start", SERVICE_START_PENDING}, {"inactive", "", "start", SERVICE_START_PENDING},
      {"deactivating", "", "stop", SERVICE_STOP_PENDING}, {"active", "running", "stop", SERVICE_STOP_PENDING},
      {"active", "running", "restart", SERVICE_STOP_PENDING}, {"active", "running", "", SERVICE_RUNNING},
      {"reloading", "", "", SERVICE_RUNNING},          {"active", "frozen", "", SERVICE_PAUSED},
      {"active", "freezing", "", SERVICE_PAUSE_PENDING}, {"active", "thawing", "", SERVICE_CONTINUE_PENDING},
      {"maintenance", "", "", 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ServiceStateOfUnit(c.active, c.freezer, c.job), c.state) << c.active << " " << c.freezer << " " << c.job;
}

TEST(ScmRules, ServiceNamesComeBackFromTheirUnitNames) {
  for (const char* name : {"Corvane Service", "Tarnwick\tZ\xc3\xa9ro", "a.b:c_d"})
    EXPECT_EQ(ntservice::UnescapeUnitName(ntservice::SystemdEscape(name)), name);
  EXPECT_EQ(ntservice::UnescapeUnitName("systemd-journald"), "systemd-journald");
  EXPECT_EQ(ntservice::UnescapeUnitName("odd\\x2"), "odd\\x2");
}

TEST(ScmRules, TheLocalMachineGoesByItsNames) {
  ::setenv("COMPUTERNAME", "TESTHOST", 1);
  char host[256] = {};
  ASSERT_EQ(::gethostname(host, sizeof host - 1), 0);
  for (const char* name : {".", "localhost", "LocalHost", "testhost", static_cast<const char*>(host)})
    EXPECT_TRUE(IsLocalMachine(name)) << name;
  EXPECT_FALSE(IsLocalMachine("dc1.example.org"));
  ::unsetenv("COMPUTERNAME");
}

}  // namespace
}  // namespace corvane::scm
