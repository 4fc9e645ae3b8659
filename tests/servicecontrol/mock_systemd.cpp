#include "tests/servicecontrol/mock_systemd.h"

#include <signal.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <thread>

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

// Runs a shell command; its standard output.
std::string Output(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
  ::pclose(pipe);
  return out;
}

std::optional<std::string> GetEnv(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::optional<std::string>(value) : std::nullopt;
}

void RestoreEnv(const char* name, const std::optional<std::string>& value) {
  if (value) ::setenv(name, value->c_str(), 1);
  else ::unsetenv(name);
}

}  // namespace

bool MockSystemd::Required() {
  const char* ci = std::getenv("CI");
  return ci != nullptr && std::string(ci) == "true";
}

std::unique_ptr<MockSystemd> MockSystemd::Start(std::string* error) {
  auto mock = std::make_unique<MockSystemd>();
  mock->previousSystemBus_ = GetEnv("DBUS_SYSTEM_BUS_ADDRESS");
  mock->previousComputerName_ = GetEnv("COMPUTERNAME");

  // The private bus (its address and pid), then python3-dbusmock's systemd
  // template on it, with Debian's python, which has the module.
  std::istringstream daemon(Output("dbus-daemon --session --fork --print-address=1 --print-pid=1 2>/dev/null"));
  std::string address;
  if (!std::getline(daemon, address) || !(daemon >> mock->daemon_)) {
    *error = "dbus-daemon did not start (scripts/install-deps.sh installs it)";
    return nullptr;
  }
  std::istringstream(Output("DBUS_SESSION_BUS_ADDRESS='" + address +
                            "' /usr/bin/python3 -m dbusmock --session --template systemd >/dev/null & echo $!")) >>
      mock->mock_;
  if (sd_bus_new(&mock->bus_) < 0 || sd_bus_set_address(mock->bus_, address.c_str()) < 0 ||
      sd_bus_set_bus_client(mock->bus_, 1) < 0 || sd_bus_start(mock->bus_) < 0) {
    *error = "cannot connect to the private bus " + address;
    return nullptr;
  }
  for (int hasOwner = 0, tries = 0; !hasOwner; ++tries) {
    if (mock->mock_ <= 0 || ::kill(mock->mock_, 0) != 0 || tries == 1500) {
      *error = "python3-dbusmock did not start (scripts/install-deps.sh installs it)";
      return nullptr;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    sd_bus_message* reply = nullptr;
    if (sd_bus_call_method(mock->bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                           "NameHasOwner", nullptr, &reply, "s", kSystemd) >= 0)
      sd_bus_message_read(reply, "b", &hasOwner);
    sd_bus_message_unref(reply);
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
  for (pid_t pid : {mock_, daemon_})
    if (pid > 0) ::kill(pid, SIGTERM);
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
