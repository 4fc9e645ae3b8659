// Test doubles of the service control and the Timer: they record what the
// program asks of them and keep settings in memory.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/ntservice/service_control.h"
#include "platform/ntservice/timer.h"

namespace corvane::ntservice {

struct RecordedEvent {
  int16_t type;
  int32_t id;
  std::string text;
  bool operator==(const RecordedEvent&) const = default;
};

class FakeServiceControl : public ServiceControl {
 public:
  std::string ServiceName() const override { return "Corvane Service"; }
  std::string DisplayName() const override { return "Tarnwick Corvane Service"; }
  void SetInteractive(bool interactive) override { interactive_ = interactive; }
  bool Install() override;
  bool Uninstall() override;
  void SetDebug(bool debug) override { debug_ = debug; }
  void SetControlsAccepted(int controls) override { controlsAccepted_ = controls; }
  void StartService() override { ++startServiceCalls_; }
  void StopService() override { ++stopServiceCalls_; }
  bool LogEvent(int16_t type, int32_t id, const std::string& text) override;
  // Names compare without regard to case, as in the registry.
  std::string GetSetting(const std::string& section, const std::string& key, const std::string& defaultValue) override;
  void SaveSetting(const std::string& section, const std::string& key, const std::string& value) override;
  void MsgBox(const std::string& text, const std::string& /*title*/) override { messages_.push_back(text); }

  // Setting a value directly (as the wizard or an administrator would).
  void Set(const std::string& key, const std::string& value) { SaveSetting("Parameters", key, value); }
  bool Has(const std::string& key) const;
  void Remove(const std::string& key);

  bool installResult = true;
  bool uninstallResult = true;
  std::string lastError;  // the reason a failing Install/Uninstall gives
  std::string LastError() const override { return lastError; }

  bool interactive() const { return interactive_; }
  bool debug() const { return debug_; }
  int controlsAccepted() const { return controlsAccepted_; }
  int installCalls() const { return installCalls_; }
  int uninstallCalls() const { return uninstallCalls_; }
  int startServiceCalls() const { return startServiceCalls_; }
  int stopServiceCalls() const { return stopServiceCalls_; }
  const std::vector<RecordedEvent>& events() const { return events_; }
  const std::vector<std::string>& messages() const { return messages_; }
  // Every SaveSetting in order, as "name=value".
  const std::vector<std::string>& saves() const { return saves_; }

 private:
  static std::string Fold(const std::string& section, const std::string& key);

  std::map<std::string, std::string> settings_;  // folded "section\name" -> value
  std::vector<RecordedEvent> events_;
  std::vector<std::string> messages_;
  std::vector<std::string> saves_;
  bool interactive_ = false;
  bool debug_ = false;
  int controlsAccepted_ = 0;
  int installCalls_ = 0;
  int uninstallCalls_ = 0;
  int startServiceCalls_ = 0;
  int stopServiceCalls_ = 0;
};

// A timer that ticks only when the test calls Fire().
class ManualTimer : public Timer {
 public:
  explicit ManualTimer(int interval = 10000) : interval_(interval) {}
  void SetInterval(int milliseconds) override { interval_ = milliseconds; }
  int Interval() const override { return interval_; }
  void SetEnabled(bool enabled) override { enabled_ = enabled; }
  bool Enabled() const override { return enabled_; }
  // Delivers one tick (whether enabled or not: the test decides).
  void Fire() {
    if (OnTick) OnTick();
  }

 private:
  int interval_;
  bool enabled_ = false;
};

}  // namespace corvane::ntservice
