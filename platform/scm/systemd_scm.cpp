// The service manager over systemd's D-Bus interface (sd-bus): services are
// the ".service" units, a service's name is its unit name with the unit
// escaping undone, its display name the unit's Description.
#include <strings.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <set>

#include "platform/ntservice/unit_name.h"
#include "platform/scm/scm.h"
#include "platform/scm/unit_state.h"
#include "platform/scm/win32_error.h"

namespace corvane::scm {
namespace {

constexpr const char* kDestination = "org.freedesktop.systemd1";
constexpr const char* kManagerPath = "/org/freedesktop/systemd1";
constexpr const char* kManagerInterface = "org.freedesktop.systemd1.Manager";
constexpr const char* kUnitInterface = "org.freedesktop.systemd1.Unit";
constexpr const char* kJobInterface = "org.freedesktop.systemd1.Job";
constexpr std::string_view kServiceSuffix = ".service";
// A start or stop may wait for a person answering an authorisation prompt.
constexpr uint64_t kControlTimeoutMicroseconds = 120ULL * 1000 * 1000;

using Bus = std::shared_ptr<sd_bus>;

Bus MakeBus(sd_bus* bus) {
  return Bus(bus, [](sd_bus* b) { sd_bus_flush_close_unref(b); });
}

struct MessageUnref {
  void operator()(sd_bus_message* m) const { sd_bus_message_unref(m); }
};
using Message = std::unique_ptr<sd_bus_message, MessageUnref>;

class BusError {
 public:
  BusError() = default;
  ~BusError() { sd_bus_error_free(&error_); }
  BusError(const BusError&) = delete;
  BusError& operator=(const BusError&) = delete;
  sd_bus_error* get() { return &error_; }

 private:
  sd_bus_error error_ = SD_BUS_ERROR_NULL;
};

bool EndsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// Calls a method of systemd; the reply (when asked for) goes to *reply.
Win32Error Call(sd_bus* bus, const char* path, const char* interface, const char* member, Message* reply,
                const char* types, ...) {
  BusError error;
  sd_bus_message* raw = nullptr;
  va_list args;
  va_start(args, types);
  int r = sd_bus_call_methodv(bus, kDestination, path, interface, member, error.get(), &raw, types, args);
  va_end(args);
  Message message(raw);
  if (r < 0) return Win32ErrorOf(error.get(), r);
  if (reply != nullptr) *reply = std::move(message);
  return ERROR_SUCCESS;
}

Win32Error ParseError(int r) { return Win32ErrorOf(nullptr, r); }

// The properties of a unit that make up a service's name and state.
struct UnitProperties {
  std::string id;
  std::string description;
  std::string loadState;
  std::string activeState;
  std::string freezerState;  // empty where systemd has no freezer
  uint32_t jobId = 0;
  std::string jobPath;
};

// Reads one property entry's value when it is one we keep, else skips it.
int ReadProperty(sd_bus_message* m, std::string_view name, UnitProperties* unit) {
  std::string* text = name == "Id"             ? &unit->id
                      : name == "Description"  ? &unit->description
                      : name == "LoadState"    ? &unit->loadState
                      : name == "ActiveState"  ? &unit->activeState
                      : name == "FreezerState" ? &unit->freezerState
                                               : nullptr;
  if (text != nullptr) {
    const char* value = nullptr;
    int r = sd_bus_message_read(m, "v", "s", &value);
    if (r >= 0) *text = value;
    return r;
  }
  if (name == "Job") {
    const char* path = nullptr;
    int r = sd_bus_message_read(m, "v", "(uo)", &unit->jobId, &path);
    if (r >= 0) unit->jobPath = path;
    return r;
  }
  return sd_bus_message_skip(m, "v");
}

Win32Error ReadUnit(sd_bus* bus, const std::string& path, UnitProperties* unit) {
  Message reply;
  if (Win32Error e = Call(bus, path.c_str(), "org.freedesktop.DBus.Properties", "GetAll", &reply, "s", kUnitInterface))
    return e;
  sd_bus_message* m = reply.get();
  int r = sd_bus_message_enter_container(m, 'a', "{sv}");
  while (r >= 0 && (r = sd_bus_message_enter_container(m, 'e', "sv")) > 0) {
    const char* name = nullptr;
    r = sd_bus_message_read(m, "s", &name);
    if (r >= 0) r = ReadProperty(m, name, unit);
    if (r >= 0) r = sd_bus_message_exit_container(m);
  }
  if (r >= 0) r = sd_bus_message_exit_container(m);
  return r < 0 ? ParseError(r) : ERROR_SUCCESS;
}

// The type of a unit's waiting job; empty when it has none (or it has just ended).
std::string JobTypeOf(sd_bus* bus, const UnitProperties& unit) {
  if (unit.jobId == 0 || unit.jobPath.empty()) return {};
  BusError error;
  char* type = nullptr;
  if (sd_bus_get_property_string(bus, kDestination, unit.jobPath.c_str(), kJobInterface, "JobType", error.get(), &type) < 0)
    return {};
  std::string result = type;
  std::free(type);
  return result;
}

Win32Error QueryState(sd_bus* bus, const std::string& path, uint32_t* state) {
  UnitProperties unit;
  if (Win32Error e = ReadUnit(bus, path, &unit)) return e;
  *state = ServiceStateOfUnit(unit.activeState, unit.freezerState, JobTypeOf(bus, unit));
  return ERROR_SUCCESS;
}

// "Corvane\x20Service.service" -> "Corvane Service".
std::string ServiceNameOfUnit(std::string_view unit) {
  return ntservice::UnescapeUnitName(unit.substr(0, unit.size() - kServiceSuffix.size()));
}

class SystemdService : public ServiceHandle {
 public:
  SystemdService(Bus bus, std::string unit, std::string path)
      : bus_(std::move(bus)), unit_(std::move(unit)), path_(std::move(path)) {}

  Win32Error QueryServiceStatus(ServiceStatus* status) override {
    uint32_t state = 0;
    if (Win32Error e = QueryState(bus_.get(), path_, &state)) return e;
    status->currentState = state;
    return ERROR_SUCCESS;
  }
  Win32Error ControlStop() override { return Enqueue("StopUnit"); }
  Win32Error StartService() override { return Enqueue("StartUnit"); }

 private:
  // Asks systemd for a start or stop job, allowing an authentication agent
  // to ask the person at the desktop when polkit wants authorisation.
  Win32Error Enqueue(const char* member) {
    sd_bus_message* raw = nullptr;
    int r = sd_bus_message_new_method_call(bus_.get(), &raw, kDestination, kManagerPath, kManagerInterface, member);
    Message call(raw);
    if (r >= 0) r = sd_bus_message_set_allow_interactive_authorization(call.get(), 1);
    if (r >= 0) r = sd_bus_message_append(call.get(), "ss", unit_.c_str(), "replace");
    if (r < 0) return ParseError(r);
    BusError error;
    sd_bus_message* reply = nullptr;
    r = sd_bus_call(bus_.get(), call.get(), kControlTimeoutMicroseconds, error.get(), &reply);
    Message keep(reply);
    return r < 0 ? Win32ErrorOf(error.get(), r) : ERROR_SUCCESS;
  }

  Bus bus_;
  std::string unit_;
  std::string path_;
};

class SystemdManager : public ManagerHandle {
 public:
  explicit SystemdManager(Bus bus) : bus_(std::move(bus)) {}

  Win32Error EnumServicesStatus(size_t capacity, std::vector<ServiceEntry>* services, size_t* needed) override {
    std::vector<ServiceEntry> all;
    if (Win32Error e = ReadServices(&all)) return e;
    if (all.size() > capacity) {
      *needed = all.size();
      return ERROR_MORE_DATA;
    }
    *services = std::move(all);
    return ERROR_SUCCESS;
  }

  Win32Error OpenService(std::string_view serviceName, std::unique_ptr<ServiceHandle>* service) override {
    // The unit as the service's install names it; failing that, the name
    // itself as a unit name, so "systemd-journald" finds its unit too.
    const std::string escaped = ntservice::UnitFileName(serviceName);
    Win32Error e = Open(escaped, service);
    const std::string plain = std::string(serviceName) + std::string(kServiceSuffix);
    if (e == ERROR_SERVICE_DOES_NOT_EXIST && plain != escaped && Open(plain, service) == ERROR_SUCCESS)
      return ERROR_SUCCESS;
    return e;
  }

 private:
  Win32Error Open(const std::string& unit, std::unique_ptr<ServiceHandle>* service) {
    std::string path;
    if (Win32Error e = LoadUnit(unit, &path)) return e;
    UnitProperties properties;
    if (Win32Error e = ReadUnit(bus_.get(), path, &properties)) return e;
    if (properties.loadState == "not-found") return ERROR_SERVICE_DOES_NOT_EXIST;
    *service = std::make_unique<SystemdService>(bus_, unit, path);
    return ERROR_SUCCESS;
  }

  Win32Error LoadUnit(const std::string& unit, std::string* path) {
    Message reply;
    if (Win32Error e = Call(bus_.get(), kManagerPath, kManagerInterface, "LoadUnit", &reply, "s", unit.c_str())) return e;
    const char* object = nullptr;
    int r = sd_bus_message_read(reply.get(), "o", &object);
    if (r < 0) return ParseError(r);
    *path = object;
    return ERROR_SUCCESS;
  }

  // Every loaded service unit (ListUnits), then every installed one not
  // loaded yet (ListUnitFiles), sorted by name.
  Win32Error ReadServices(std::vector<ServiceEntry>* services) {
    std::set<std::string> seen;
    if (Win32Error e = ReadLoadedUnits(services, &seen)) return e;
    if (Win32Error e = ReadUnitFiles(services, &seen)) return e;
    std::sort(services->begin(), services->end(), [](const ServiceEntry& a, const ServiceEntry& b) {
      return ::strcasecmp(a.serviceName.c_str(), b.serviceName.c_str()) < 0;
    });
    return ERROR_SUCCESS;
  }

  Win32Error ReadLoadedUnits(std::vector<ServiceEntry>* services, std::set<std::string>* seen) {
    Message reply;
    if (Win32Error e = Call(bus_.get(), kManagerPath, kManagerInterface, "ListUnits", &reply, "")) return e;
    sd_bus_message* m = reply.get();
    int r = sd_bus_message_enter_container(m, 'a', "(ssssssouso)");
    const char *name = nullptr, *description = nullptr, *load = nullptr, *active = nullptr, *sub = nullptr,
               *following = nullptr, *path = nullptr, *jobType = nullptr, *jobPath = nullptr;
    uint32_t jobId = 0;
    while (r >= 0 && (r = sd_bus_message_read(m, "(ssssssouso)", &name, &description, &load, &active, &sub,
                                              &following, &path, &jobId, &jobType, &jobPath)) > 0) {
      std::string_view unit = name;
      uint32_t state = ServiceStateOfUnit(active, "", jobType);
      // A unit only referenced, with no file behind it, is no service.
      if (!EndsWith(unit, kServiceSuffix) || (std::string_view(load) == "not-found" && state == SERVICE_STOPPED))
        continue;
      seen->insert(name);
      if (state == SERVICE_RUNNING) {
        UnitProperties properties;  // the freezer's state is not in the list
        if (ReadUnit(bus_.get(), path, &properties) == ERROR_SUCCESS)
          state = ServiceStateOfUnit(active, properties.freezerState, jobType);
      }
      services->push_back({ServiceNameOfUnit(unit), description, {state}});
    }
    if (r >= 0) r = sd_bus_message_exit_container(m);
    return r < 0 ? ParseError(r) : ERROR_SUCCESS;
  }

  Win32Error ReadUnitFiles(std::vector<ServiceEntry>* services, std::set<std::string>* seen) {
    Message reply;
    if (Win32Error e = Call(bus_.get(), kManagerPath, kManagerInterface, "ListUnitFiles", &reply, "")) return e;
    std::vector<std::string> names;
    sd_bus_message* m = reply.get();
    int r = sd_bus_message_enter_container(m, 'a', "(ss)");
    const char *file = nullptr, *fileState = nullptr;
    while (r >= 0 && (r = sd_bus_message_read(m, "(ss)", &file, &fileState)) > 0) {
      std::string_view path = file;
      std::string_view unit = path.substr(path.rfind('/') + 1);
      // Templates ("getty@.service") only run as instances.
      if (EndsWith(unit, kServiceSuffix) && !EndsWith(unit, "@.service") && !seen->contains(std::string(unit)))
        names.emplace_back(unit);
    }
    if (r >= 0) r = sd_bus_message_exit_container(m);
    if (r < 0) return ParseError(r);
    // Not loaded: systemd loads each to tell its description. An alias
    // loads as the unit it names, which is listed once.
    for (const auto& name : names) {
      std::string path;
      UnitProperties unit;
      if (LoadUnit(name, &path) != ERROR_SUCCESS || ReadUnit(bus_.get(), path, &unit) != ERROR_SUCCESS) continue;
      if (unit.loadState == "not-found" || unit.id.empty() || !seen->insert(unit.id).second) continue;
      uint32_t state = ServiceStateOfUnit(unit.activeState, unit.freezerState, JobTypeOf(bus_.get(), unit));
      services->push_back({ServiceNameOfUnit(unit.id), unit.description, {state}});
    }
    return ERROR_SUCCESS;
  }

  Bus bus_;
};

class SystemdServiceControlManager : public ServiceControlManager {
 public:
  Win32Error OpenSCManager(std::string_view machineName, std::unique_ptr<ManagerHandle>* manager) override {
    sd_bus* raw = nullptr;
    const std::string host(machineName);
    int r = IsLocalMachine(host) ? sd_bus_open_system(&raw) : sd_bus_open_system_remote(&raw, host.c_str());
    if (r < 0) return Unreachable(Win32ErrorOf(nullptr, r));
    Bus bus = MakeBus(raw);
    // Opening a bus does not prove that systemd answers on it.
    if (Win32Error e = Call(bus.get(), kManagerPath, "org.freedesktop.DBus.Peer", "Ping", nullptr, ""))
      return Unreachable(e);
    *manager = std::make_unique<SystemdManager>(std::move(bus));
    return ERROR_SUCCESS;
  }

 private:
  // A manager that cannot be opened is out of reach, unless access was refused.
  static Win32Error Unreachable(Win32Error e) { return e == ERROR_ACCESS_DENIED ? e : RPC_S_SERVER_UNAVAILABLE; }
};

}  // namespace

bool IsLocalMachine(std::string_view machineName) {
  const std::string name(machineName);
  if (name == "." || ::strcasecmp(name.c_str(), "localhost") == 0) return true;
  if (const char* computer = std::getenv("COMPUTERNAME"); computer != nullptr && ::strcasecmp(name.c_str(), computer) == 0)
    return true;
  char host[256] = {};
  return ::gethostname(host, sizeof host - 1) == 0 && ::strcasecmp(name.c_str(), host) == 0;
}

std::unique_ptr<ServiceControlManager> CreateSystemdServiceControlManager() {
  return std::make_unique<SystemdServiceControlManager>();
}

}  // namespace corvane::scm
