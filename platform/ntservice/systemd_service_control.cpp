#include "platform/ntservice/systemd_service_control.h"

#include <fcntl.h>
#include <pwd.h>
#include <strings.h>
#include <signal.h>
#include <sys/stat.h>
#include <syslog.h>
#include <systemd/sd-bus.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <system_error>

#include <QCoreApplication>
#include <fmt/format.h>

#include "platform/atomicfile/atomic_file.h"
#include "platform/ntservice/event_file.h"
#include "platform/ntservice/signal_bridge.h"
#include "platform/ntservice/unit_file.h"

namespace corvane::ntservice {
namespace fs = std::filesystem;
namespace {

int JournalPriority(int16_t type) {
  switch (type) {
    case EVENTLOG_ERROR_TYPE: return LOG_ERR;
    case EVENTLOG_WARNING_TYPE: return LOG_WARNING;
    default: return LOG_INFO;
  }
}

}  // namespace

std::string HomeOwner(const fs::path& home) {
  struct stat st {};
  if (::stat(home.c_str(), &st) != 0 || st.st_uid == 0) return {};
  const struct passwd* pw = ::getpwuid(st.st_uid);
  return pw != nullptr ? pw->pw_name : std::to_string(st.st_uid);
}

SystemdSettings SystemdSettings::FromEnvironment() {
  SystemdSettings s;
  std::error_code ec;
  s.home = fs::absolute(registry::CorvaneHome(), ec);  // the unit needs absolute paths
  const char* unitDir = std::getenv("CORVANE_UNIT_DIR");
  s.unitDir = unitDir != nullptr && *unitDir != '\0' ? fs::path(unitDir) : fs::path("/etc/systemd/system");
  s.program = fs::read_symlink("/proc/self/exe", ec);
  s.journal = fs::exists("/run/systemd/journal", ec);
  s.systemdRunning = fs::exists("/run/systemd/system", ec);
  return s;
}

SystemdServiceControl::SystemdServiceControl(SystemdSettings settings)
    : settings_(std::move(settings)), hive_(registry::Hive::Machine()) {}

SystemdServiceControl::~SystemdServiceControl() = default;

fs::path SystemdServiceControl::UnitFile() const { return settings_.unitDir / UnitFileName(ServiceName()); }

bool SystemdServiceControl::Install() {
  lastError_.clear();
  lastReport_.clear();
  fs::path unit = UnitFile();
  // As with the service manager it stands for, installing a service that
  // exists fails and changes nothing.
  std::error_code exists;
  if (fs::exists(fs::symlink_status(unit, exists))) {
    lastError_ = fmt::format("{} is already installed ({} exists); uninstall it first", ServiceName(), unit.string());
    return false;
  }
  const std::string user = HomeOwner(settings_.home);
  try {
    std::error_code ec;
    fs::create_directories(settings_.home, ec);
    files::WriteFileAtomically(unit, UnitFileText({DisplayName(), settings_.program, settings_.home, user}),
                               {.mode = 0644});  // systemd and administrators read it
  } catch (const std::exception& e) {
    lastError_ = e.what();
    return false;
  }
  try {
    hive_.CreateKey(registry::kParametersKeyPath);
  } catch (const std::exception& e) {
    // Without its parameters key the service cannot be configured: take
    // the unit back so no half-installed service is left.
    lastError_ = e.what();
    ::unlink(unit.c_str());
    return false;
  }
  ReloadSystemd();
  lastReport_ = fmt::format(
      "Installed {} as {}: it runs {} as {} with CORVANE_HOME={}.\n"
      "Start it now and at every boot with: systemctl enable --now '{}'",
      DisplayName(), unit.string(), settings_.program.string(), user.empty() ? "root" : user,
      settings_.home.string(), unit.filename().string());
  return true;
}

bool SystemdServiceControl::Uninstall() {
  lastError_.clear();
  lastReport_.clear();
  fs::path unit = UnitFile();
  if (::unlink(unit.c_str()) != 0) {
    lastError_ = errno == ENOENT ? fmt::format("{} is not installed ({} does not exist)", ServiceName(), unit.string())
                                 : fmt::format("cannot remove {}: {}", unit.string(), std::strerror(errno));
    return false;
  }
  // Links left by `systemctl enable` (<dir>/<target>.wants/<unit>) go with the unit.
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(settings_.unitDir, ec)) {
    const fs::path link = entry.path() / unit.filename();
    if (entry.path().extension() == ".wants" && fs::is_symlink(fs::symlink_status(link, ec))) fs::remove(link, ec);
  }
  ReloadSystemd();
  lastReport_ = fmt::format("Removed {} ({}); its settings stay in {}.", DisplayName(), unit.string(),
                            hive_.file().string());
  return true;
}

void SystemdServiceControl::ReloadSystemd() {
  if (!settings_.systemdRunning) return;
  sd_bus* bus = nullptr;
  sd_bus_error error = SD_BUS_ERROR_NULL;
  int r = sd_bus_open_system(&bus);
  if (r >= 0) {
    r = sd_bus_call_method(bus, "org.freedesktop.systemd1", "/org/freedesktop/systemd1",
                           "org.freedesktop.systemd1.Manager", "Reload", &error, nullptr, nullptr);
  }
  if (r < 0) {
    std::fprintf(stderr, "systemd was not reloaded (%s); run: systemctl daemon-reload\n",
                 error.message != nullptr ? error.message : std::strerror(-r));
  }
  sd_bus_error_free(&error);
  sd_bus_unref(bus);
}

void SystemdServiceControl::StartService() {
  if (signals_ || QCoreApplication::instance() == nullptr) return;
  signals_ = std::make_unique<SignalBridge>([this](int signal) { OnSignal(signal); });
}

void SystemdServiceControl::OnSignal(int signal) {
  bool success = false;
  switch (signal) {
    case SIGTERM:
    case SIGINT:
      if (OnStop) OnStop();
      QCoreApplication::exit(0);
      break;
    case SIGUSR1:
      if (OnPause) OnPause(success);
      break;
    case SIGUSR2:
      if (OnContinue) OnContinue(success);
      break;
    default: break;
  }
}

void SystemdServiceControl::StopService() { ::kill(::getpid(), SIGTERM); }

bool SystemdServiceControl::LogEvent(int16_t type, int32_t id, const std::string& text) {
  if (settings_.journal) {
    sd_journal_send("MESSAGE=%s", text.c_str(), "PRIORITY=%d", JournalPriority(type), "CORVANE_EVENT_TYPE=%d",
                    static_cast<int>(type), "CORVANE_EVENT_ID=%d", static_cast<int>(id), "SYSLOG_IDENTIFIER=%s",
                    "CorvaneService", nullptr);
  }
  if (debug_) std::fprintf(stderr, "event %d %d: %s\n", static_cast<int>(type), static_cast<int>(id), text.c_str());
  const std::string line = EventLine(std::time(nullptr), type, id, text);
  if (AppendLine(EventsFile(), line)) return true;
  // The first event of a machine where the home does not exist yet.
  std::error_code ec;
  fs::create_directories(settings_.home, ec);
  return AppendLine(EventsFile(), line);
}

std::string SystemdServiceControl::KeyOf(const std::string& section) const {
  if (strcasecmp(section.c_str(), "Parameters") == 0) return std::string(registry::kParametersKeyPath);
  return std::string(registry::kServiceKeyPath) + "\\" + section;
}

std::string SystemdServiceControl::GetSetting(const std::string& section, const std::string& key,
                                              const std::string& defaultValue) {
  auto value = hive_.Get(KeyOf(section), key);
  return value ? value->AsText() : defaultValue;
}

void SystemdServiceControl::SaveSetting(const std::string& section, const std::string& key, const std::string& value) {
  std::string path = KeyOf(section);
  auto existing = hive_.Get(path, key);
  bool expand = existing && existing->type == registry::ValueType::ExpandString;
  hive_.Set(path, key, expand ? registry::Value::ExpandSz(value) : registry::Value::Sz(value));
}

void SystemdServiceControl::MsgBox(const std::string& text, const std::string& /*title*/) {
  std::fprintf(stderr, "%s\n", text.c_str());
  if (!::isatty(STDERR_FILENO)) LogEvent(EVENTLOG_ERROR_TYPE, 109, text);
}

}  // namespace corvane::ntservice
