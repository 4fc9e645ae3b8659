#include "tests/servicecontrol/mock_systemd.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdarg>
#include <cstring>
#include <cstdlib>
#include <stdexcept>
#include <thread>
#include <vector>

extern char** environ;

namespace corvane::testing {
namespace {

constexpr const char* kSystemd = "org.freedesktop.systemd1";
constexpr const char* kManagerPath = "/org/freedesktop/systemd1";
constexpr const char* kManager = "org.freedesktop.systemd1.Manager";
constexpr const char* kMock = "org.freedesktop.DBus.Mock";

// Python run by the mock's methods ("args" in, "ret" out, "self" the
// manager object, "objects" every object by path).
constexpr const char* kAddUnitObject =
    "path = '/org/freedesktop/systemd1/unit/' + ''.join(c if c.isascii() and c.isalnum() else '_%02x' % ord(c) for c in name)\n"
    "self.units[name] = path\n"
    "self.AddObject(path, 'org.freedesktop.systemd1.Unit', {'Id': name, 'Names': [name], 'Description': description,\n"
    "    'LoadState': load, 'ActiveState': active, 'SubState': '', 'FreezerState': freezer,\n"
    "    'Job': dbus.Struct((dbus.UInt32(0), dbus.ObjectPath('/')), signature='uo')}, [])\n";

constexpr const char* kListUnits =
    "ret = []\n"
    "for name, path in self.units.items():\n"
    "    p = objects[path].props['org.freedesktop.systemd1.Unit']\n"
    "    job = p.get('Job', (0, '/'))\n"
    "    ret.append((name, p.get('Description', ''), p['LoadState'], p['ActiveState'], '', '', path, job[0], '', job[1]))\n";

constexpr const char* kListUnitFiles =
    "ret = [('/usr/lib/systemd/system/' + name, 'disabled') for name in getattr(self, 'unit_files', {})]\n";

// Enqueues a start or stop: the unit goes to the state the test asked for.
std::string JobCode(const char* outcomes, const char* otherwise) {
  return std::string(
             "name = args[0]\n"
             "if name not in self.units or objects[self.units[name]].props['org.freedesktop.systemd1.Unit']['LoadState'] == 'not-found':\n"
             "    raise dbus.exceptions.DBusException('Unit %s not found.' % name, name='org.freedesktop.systemd1.NoSuchUnit')\n"
             "objects[self.units[name]].props['org.freedesktop.systemd1.Unit']['ActiveState'] = getattr(self, '") +
         outcomes + "', {}).get(name, '" + otherwise +
         "')\n"
         "self.next_job_id += 1\n"
         "ret = '/org/freedesktop/systemd1/job/%d' % self.next_job_id\n";
}

// LoadUnit: an installed file loads as an inactive unit, any other name as
// a "not-found" one, as systemd does.
std::string LoadUnitCode() {
  std::string add;
  for (const char* line = kAddUnitObject; *line != '\0';) {
    const char* end = std::strchr(line, '\n');
    add += "    " + std::string(line, end + 1);
    line = end + 1;
  }
  return "name = args[0]\n"
         "if name not in self.units:\n"
         "    files = getattr(self, 'unit_files', {})\n"
         "    description, active, freezer = files.get(name, ''), 'inactive', 'running'\n"
         "    load = 'loaded' if name in files else 'not-found'\n" +
         add + "ret = self.units[name]\n";
}

bool FileExists(const char* path) { return ::access(path, X_OK) == 0; }

std::optional<std::string> GetEnv(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::optional<std::string>(value) : std::nullopt;
}

void RestoreEnv(const char* name, const std::optional<std::string>& value) {
  if (value) ::setenv(name, value->c_str(), 1);
  else ::unsetenv(name);
}

void Stop(pid_t pid) {
  if (pid <= 0) return;
  ::kill(pid, SIGTERM);
  ::waitpid(pid, nullptr, 0);
}

}  // namespace

bool MockSystemd::Required() {
  const char* ci = std::getenv("CI");
  return ci != nullptr && std::string(ci) == "true";
}

std::unique_ptr<MockSystemd> MockSystemd::Start(std::string* error) {
  if (!FileExists("/usr/bin/dbus-daemon")) {
    *error = "dbus-daemon is not installed (scripts/install-deps.sh installs it)";
    return nullptr;
  }
  auto mock = std::make_unique<MockSystemd>();
  mock->previousSystemBus_ = GetEnv("DBUS_SYSTEM_BUS_ADDRESS");
  mock->previousComputerName_ = GetEnv("COMPUTERNAME");

  // The private bus: its address comes on the daemon's standard output.
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) {
    *error = "pipe failed";
    return nullptr;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  const char* daemonArgs[] = {"dbus-daemon", "--session", "--nofork", "--print-address", nullptr};
  int spawned = posix_spawn(&mock->daemon_, "/usr/bin/dbus-daemon", &actions, nullptr,
                            const_cast<char**>(daemonArgs), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  std::string address;
  char c = 0;
  while (spawned == 0 && ::read(out[0], &c, 1) == 1 && c != '\n') address += c;
  ::close(out[0]);
  if (address.empty()) {
    *error = "dbus-daemon did not start";
    return nullptr;
  }

  // python3-dbusmock's systemd template on it (Debian's python, which has the module).
  std::vector<std::string> environment{"DBUS_SESSION_BUS_ADDRESS=" + address};
  for (char** e = environ; *e != nullptr; ++e)
    if (std::string_view(*e).substr(0, 25) != "DBUS_SESSION_BUS_ADDRESS=") environment.emplace_back(*e);
  std::vector<char*> envp;
  for (auto& e : environment) envp.push_back(e.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  const char* mockArgs[] = {"python3", "-m", "dbusmock", "--session", "--template", "systemd", nullptr};
  spawned = posix_spawn(&mock->mock_, "/usr/bin/python3", &actions, nullptr, const_cast<char**>(mockArgs), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    mock->mock_ = -1;
    *error = "cannot run /usr/bin/python3";
    return nullptr;
  }

  if (sd_bus_new(&mock->bus_) < 0 || sd_bus_set_address(mock->bus_, address.c_str()) < 0 ||
      sd_bus_set_bus_client(mock->bus_, 1) < 0 || sd_bus_start(mock->bus_) < 0) {
    *error = "cannot connect to the private bus " + address;
    return nullptr;
  }
  for (int tries = 0;; ++tries) {
    int hasOwner = 0;
    sd_bus_error busError = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    if (sd_bus_call_method(mock->bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                           "NameHasOwner", &busError, &reply, "s", kSystemd) >= 0)
      sd_bus_message_read(reply, "b", &hasOwner);
    sd_bus_message_unref(reply);
    sd_bus_error_free(&busError);
    if (hasOwner) break;
    if (::waitpid(mock->mock_, nullptr, WNOHANG) == mock->mock_ || tries == 3000) {
      mock->mock_ = -1;
      *error = "python3-dbusmock did not start (scripts/install-deps.sh installs it)";
      return nullptr;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }

  mock->AddMethod(kManager, "ListUnits", "", "a(ssssssouso)", kListUnits);
  mock->AddMethod(kManager, "ListUnitFiles", "", "a(ss)", kListUnitFiles);
  mock->AddMethod(kManager, "LoadUnit", "s", "o", LoadUnitCode());
  mock->AddMethod(kManager, "StartUnit", "ss", "o", JobCode("after_start", "active"));
  mock->AddMethod(kManager, "StopUnit", "ss", "o", JobCode("after_stop", "inactive"));
  mock->AddMethod(kMock, "AddServiceUnit", "sssss", "",
                  std::string("name, description, active, freezer, load = args\n") + kAddUnitObject);
  mock->AddMethod(kMock, "AddServiceUnitFile", "ss", "",
                  "self.unit_files = getattr(self, 'unit_files', {})\nself.unit_files[args[0]] = args[1]\n");
  mock->AddMethod(kMock, "SetJobOutcome", "sss", "",
                  "self.after_start = getattr(self, 'after_start', {})\nself.after_start[args[0]] = args[1]\n"
                  "self.after_stop = getattr(self, 'after_stop', {})\nself.after_stop[args[0]] = args[2]\n");
  mock->AddMethod(kMock, "SetActiveState", "ss", "",
                  "objects[self.units[args[0]]].props['org.freedesktop.systemd1.Unit']['ActiveState'] = args[1]\n");

  ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
  ::setenv("COMPUTERNAME", "TESTHOST", 1);
  return mock;
}

MockSystemd::~MockSystemd() {
  RestoreEnv("DBUS_SYSTEM_BUS_ADDRESS", previousSystemBus_);
  RestoreEnv("COMPUTERNAME", previousComputerName_);
  sd_bus_flush_close_unref(bus_);
  Stop(mock_);
  Stop(daemon_);
}

void MockSystemd::CallMock(const char* member, const char* types, ...) {
  sd_bus_error busError = SD_BUS_ERROR_NULL;
  va_list args;
  va_start(args, types);
  int r = sd_bus_call_methodv(bus_, kSystemd, kManagerPath, kMock, member, &busError, nullptr, types, args);
  va_end(args);
  std::string why = r < 0 ? std::string(member) + ": " + (busError.message ? busError.message : "failed") : "";
  sd_bus_error_free(&busError);
  if (r < 0) throw std::runtime_error("mock systemd " + why);
}

void MockSystemd::AddMethod(const char* interface, const char* name, const char* in, const char* out,
                            const std::string& code) {
  CallMock("AddMethod", "sssss", interface, name, in, out, code.c_str());
}

void MockSystemd::AddUnit(const std::string& unit, const std::string& description, const std::string& activeState,
                          const std::string& freezerState, const std::string& loadState) {
  CallMock("AddServiceUnit", "sssss", unit.c_str(), description.c_str(), activeState.c_str(), freezerState.c_str(),
           loadState.c_str());
}

void MockSystemd::AddUnitFile(const std::string& unit, const std::string& description) {
  CallMock("AddServiceUnitFile", "ss", unit.c_str(), description.c_str());
}

void MockSystemd::SetJobOutcome(const std::string& unit, const std::string& afterStart, const std::string& afterStop) {
  CallMock("SetJobOutcome", "sss", unit.c_str(), afterStart.c_str(), afterStop.c_str());
}

void MockSystemd::SetActiveState(const std::string& unit, const std::string& activeState) {
  CallMock("SetActiveState", "ss", unit.c_str(), activeState.c_str());
}

}  // namespace corvane::testing
