// Start-up of the service program: settings, command line, log file, and
// the first start of the scheduler.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <system_error>

#include <fmt/format.h>

#include "service/parameters/startup_settings.h"
#include "service/host/service_host.h"

namespace corvane::service {
namespace {

// A statement of start-up that fails is skipped and start-up goes on.
template <typename F>
void Skip(F&& statement) {
  try {
    statement();
  } catch (...) {
  }
}

// The message boxes of install and uninstall keep their fixed text; the
// reason goes to standard error on a line of its own before them.
void SayWhy(const std::string& why) {
  if (!why.empty()) std::fprintf(stderr, "%s\n", why.c_str());
}

// What install or uninstall did, on standard output (no message box).
void SayDone(const std::string& report) {
  if (!report.empty()) std::printf("%s\n", report.c_str());
}

}  // namespace

std::string CommandLine(int argc, char** argv) {
  std::string line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line += ' ';
    line += argv[i];
  }
  return line;
}

bool StartsTheService(const std::string& commandLine) {
  return commandLine.empty() || commandLine == "-debug" || commandLine == "-log" || commandLine == "-dlog";
}

std::string ComputerName() {
  if (const char* name = std::getenv("COMPUTERNAME"); name != nullptr && *name != '\0') return name;
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) != 0) return {};
  return host;
}

ServiceHost::ServiceHost(ServiceMain& w, ntservice::Timer& timer, UpdateRun run)
    : w_(w), timer_(timer), run_(std::move(run)) {
  timer_.OnTick = [this] { Tick(); };
  w_.DoEvents = GuardedDoEvents(std::move(w_.DoEvents));
}

std::optional<int> ServiceHost::Startup(const StartupOptions& options) {
  auto& control = w_.NTService1;
  w_.run.RunInProgress = false;
  w_.run.StartupRunDone = false;
  w_.FileLogging = false;
  const std::string displayName = control.DisplayName();

  parameters::StartupSettings settings;
  try {
    settings = parameters::ReadStartupSettings(w_.SettingReader());
  } catch (const std::exception& e) {
    // A damaged settings store is not an unconfigured service: say what is wrong.
    control.MsgBox(fmt::format("The service's settings cannot be read: {}", e.what()), displayName);
    return kExitFailure;
  }
  w_.UseStartupSettings(settings);

  // Checked before the command line: every option needs a configured service.
  if (w_.connectionstring.empty()) {
    Skip([&] { w_.LogEvent(ntservice::EVENTLOG_INFORMATION_TYPE, 110, kNoConnectString); });
    std::fprintf(stderr, "%s\n", kNoConnectString);
    std::fprintf(stderr, "(no ConnectionString in %s, the registry of the Corvane home CORVANE_HOME=%s)\n",
                 (options.home / "registry.hive").c_str(), options.home.c_str());
    return kExitNotConfigured;
  }

  const std::string& option = options.commandLine;
  if (option == "-install") {
    control.SetInteractive(true);
    if (!control.Install()) {
      SayWhy(control.LastError());
      control.MsgBox(displayName + " failed to install", displayName);
      return kExitFailure;
    }
    try {
      w_.SaveSetting("TimerInterval", "1000");
      w_.SaveSetting("ConnectionString", w_.connectionstring);
      w_.SaveSetting("MailProfile", "Microsoft Outlook");
    } catch (const std::exception& e) {
      control.Uninstall();  // leave no half-installed service behind
      SayWhy(e.what());
      control.MsgBox(displayName + " failed to install", displayName);
      return kExitFailure;
    }
    SayDone(control.LastReport());
    return 0;
  }
  if (option == "-uninstall") {
    if (!control.Uninstall()) {
      SayWhy(control.LastError());
      control.MsgBox(displayName + " failed to uninstall", displayName);
      return kExitFailure;
    }
    SayDone(control.LastReport());
    return 0;
  }
  if (option == "-debug") {
    control.SetDebug(true);
    w_.DebugMode = true;
  } else if (option == "-dlog") {
    control.SetDebug(true);
    StartLogging(options, "-dlog");
  } else if (option == "-log") {
    StartLogging(options, "-log");
  } else if (!option.empty()) {
    control.MsgBox(kInvalidOption, displayName);
    return kExitUsage;
  }

  w_.WriteLog(fmt::format("Corvane Version:{}.{} running on {}", kVersionMajor, kVersionMinor, options.computerName));

  control.SetControlsAccepted(4);
  control.OnStart = [this](bool& success) { OnStart(success); };
  control.OnPause = [this](bool& success) { OnPause(success); };
  control.OnContinue = [this](bool& success) { OnContinue(success); };
  control.OnStop = [this] { OnStop(); };
  Skip([&] { control.StartService(); });

  bool success = false;
  OnStart(success);
  return std::nullopt;
}

void ServiceHost::StartLogging(const StartupOptions& options, const char* option) {
  w_.FileLogging = true;
  OpenLogFile(options);
  w_.WriteLog(fmt::format("{} command line parameter used.  Starting to log events.{}", option, w_.Now()));
}

// "corvane.log" beside the program, replaced at each start; where the
// program's folder cannot be written (an installed program), in the
// Corvane home instead.
void ServiceHost::OpenLogFile(const StartupOptions& options) {
  const std::filesystem::path first = options.programFolder / "corvane.log";
  if (w_.runLog.OpenFile(first)) {
    logFilePath_ = first;
    return;
  }
  std::error_code ec;
  std::filesystem::create_directories(options.home, ec);
  const std::filesystem::path second = options.home / "corvane.log";
  if (w_.runLog.OpenFile(second)) {
    logFilePath_ = second;
    return;
  }
  std::fprintf(stderr, "The log file can be created neither as %s nor as %s\n", first.c_str(), second.c_str());
}

}  // namespace corvane::service
