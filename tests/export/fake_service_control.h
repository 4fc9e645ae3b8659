// A service control for tests: settings in memory (names without regard to
// case), events, message boxes and stop requests recorded.
#pragma once

#include <strings.h>

#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/ntservice/service_control.h"

namespace corvane::testing {

struct CaseInsensitiveLess {
  bool operator()(const std::string& a, const std::string& b) const { return strcasecmp(a.c_str(), b.c_str()) < 0; }
};

struct RecordedEvent {
  int16_t type;
  int32_t id;
  std::string text;
};

class FakeServiceControl : public ntservice::ServiceControl {
 public:
  std::string ServiceName() const override { return "Corvane Service"; }
  std::string DisplayName() const override { return "Tarnwick Corvane Service"; }
  void SetInteractive(bool) override {}
  bool Install() override { return true; }
  bool Uninstall() override { return true; }
  void SetDebug(bool) override {}
  void SetControlsAccepted(int) override {}
  void StartService() override {}
  void StopService() override { stopRequested = true; }
  bool LogEvent(int16_t type, int32_t id, const std::string& text) override {
    events.push_back({type, id, text});
    return true;
  }
  std::string GetSetting(const std::string& section, const std::string& key, const std::string& defaultValue) override {
    if (section != "Parameters") return defaultValue;
    if (unreadable.count(key)) throw std::runtime_error("registry hive unreadable at " + key);
    auto it = settings.find(key);
    return it == settings.end() ? defaultValue : it->second;
  }
  void SaveSetting(const std::string& section, const std::string& key, const std::string& value) override {
    if (section == "Parameters") settings[key] = value;
  }
  void MsgBox(const std::string& text, const std::string& title) override { msgBoxes.push_back(title + "|" + text); }

  std::map<std::string, std::string, CaseInsensitiveLess> settings;
  std::set<std::string, CaseInsensitiveLess> unreadable;  // reads of these names fail
  std::vector<RecordedEvent> events;
  std::vector<std::string> msgBoxes;
  bool stopRequested = false;
};

}  // namespace corvane::testing
