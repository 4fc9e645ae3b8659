// The service control on systemd.
//
// - Settings: section "Parameters" is the parameters key of the machine
//   hive; any other section is a key of that name under the service's key.
// - Events: to the journal when it runs here, and always one line each in
//   <Corvane home>/events.log (see event_file.h).
// - Install/uninstall: writes/removes the service's unit file in the unit
//   directory ($CORVANE_UNIT_DIR, default /etc/systemd/system) and reloads
//   systemd where it runs. The unit runs the service as the owner of the
//   home (root's home: as root). Install fails when the unit file exists.
//   Uninstall keeps the parameters key, so the configuration survives a
//   reinstall.
// - Requests: after StartService, SIGTERM/SIGINT call OnStop and end the
//   event loop (and record the stop for a StopRelay), SIGUSR1 calls
//   OnPause and SIGUSR2 OnContinue.
// - Message boxes: standard error, and an error event as well when no
//   terminal is attached (nobody would see the text otherwise).
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "platform/ntservice/service_control.h"
#include "platform/registry/registry.h"

namespace corvane::ntservice {

class SignalBridge;

// The account the service runs as: the owner of its home, whose files
// (the settings, readable by their owner only) it must read and write;
// its user name (else its uid), empty for root or a home that cannot be read.
std::string HomeOwner(const std::filesystem::path& home);

struct SystemdSettings {
  std::filesystem::path home;     // Corvane home: events.log, unit's working directory
  std::filesystem::path unitDir;  // where the unit file goes
  std::filesystem::path program;  // the service program the unit starts
  bool journal = false;           // write events to the journal too
  bool systemdRunning = false;    // reload systemd after install/uninstall

  // From $CORVANE_HOME, $CORVANE_UNIT_DIR, /proc/self/exe, /run/systemd/journal
  // and /run/systemd/system.
  static SystemdSettings FromEnvironment();
};

class SystemdServiceControl : public ServiceControl {
 public:
  explicit SystemdServiceControl(SystemdSettings settings);
  ~SystemdServiceControl() override;

  std::string ServiceName() const override { return "Corvane Service"; }
  std::string DisplayName() const override { return "Tarnwick Corvane Service"; }
  void SetInteractive(bool interactive) override { interactive_ = interactive; }
  bool Install() override;
  bool Uninstall() override;
  std::string LastError() const override { return lastError_; }
  std::string LastReport() const override { return lastReport_; }
  void SetDebug(bool debug) override { debug_ = debug; }
  void SetControlsAccepted(int controls) override { controlsAccepted_ = controls; }
  void StartService() override;
  void StopService() override;
  bool LogEvent(int16_t type, int32_t id, const std::string& text) override;
  std::string GetSetting(const std::string& section, const std::string& key, const std::string& defaultValue) override;
  void SaveSetting(const std::string& section, const std::string& key, const std::string& value) override;
  void MsgBox(const std::string& text, const std::string& title) override;

  std::filesystem::path UnitFile() const;
  std::filesystem::path EventsFile() const { return settings_.home / "events.log"; }

 private:
  std::string KeyOf(const std::string& section) const;
  void OnSignal(int signal);
  void ReloadSystemd();

  SystemdSettings settings_;
  registry::Hive hive_;
  std::unique_ptr<SignalBridge> signals_;
  std::string lastError_;
  std::string lastReport_;
  bool interactive_ = false;
  bool debug_ = false;
  int controlsAccepted_ = 0;
};

}  // namespace corvane::ntservice
