// The service control: what the service program needs from the service
// manager (systemd here). It installs and removes the service, writes
// application events, reads and saves the service's settings, shows
// message boxes, and delivers start, pause, continue and stop requests to
// the handlers the program sets.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace corvane::ntservice {

enum EventType : int16_t {
  EVENTLOG_ERROR_TYPE = 1,
  EVENTLOG_WARNING_TYPE = 2,
  EVENTLOG_INFORMATION_TYPE = 4,
};

class ServiceControl {
 public:
  virtual ~ServiceControl() = default;

  virtual std::string ServiceName() const = 0;  // "Corvane Service"
  virtual std::string DisplayName() const = 0;  // "Tarnwick Corvane Service"
  virtual void SetInteractive(bool interactive) = 0;
  virtual bool Install() = 0;
  virtual bool Uninstall() = 0;
  // Why the last Install or Uninstall failed, in words (empty when unknown).
  virtual std::string LastError() const { return {}; }
  // What the last successful Install or Uninstall did and where, in words
  // for the person who ran it (empty when there is nothing to say).
  virtual std::string LastReport() const { return {}; }
  virtual void SetDebug(bool debug) = 0;
  virtual void SetControlsAccepted(int controls) = 0;
  // Connects to the service manager: from here on requests reach the handlers.
  virtual void StartService() = 0;
  // Asks the service manager to stop this service.
  virtual void StopService() = 0;
  // Writes an application event; false when it could not be written.
  virtual bool LogEvent(int16_t type, int32_t id, const std::string& text) = 0;
  // Settings of the service: section "Parameters" is the parameters key.
  virtual std::string GetSetting(const std::string& section, const std::string& key, const std::string& defaultValue) = 0;
  virtual void SaveSetting(const std::string& section, const std::string& key, const std::string& value) = 0;
  // A message box: standard error on a terminal, else an event.
  virtual void MsgBox(const std::string& text, const std::string& title) = 0;

  // Request handlers, set by the program.
  std::function<void(bool& success)> OnStart;
  std::function<void(bool& success)> OnPause;
  std::function<void(bool& success)> OnContinue;
  std::function<void()> OnStop;
};

}  // namespace corvane::ntservice
