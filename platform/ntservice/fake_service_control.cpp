#include "platform/ntservice/fake_service_control.h"

#include <algorithm>
#include <cctype>

namespace corvane::ntservice {

bool FakeServiceControl::Install() {
  ++installCalls_;
  return installResult;
}

bool FakeServiceControl::Uninstall() {
  ++uninstallCalls_;
  return uninstallResult;
}

bool FakeServiceControl::LogEvent(int16_t type, int32_t id, const std::string& text) {
  events_.push_back({type, id, text});
  return true;
}

std::string FakeServiceControl::Fold(const std::string& section, const std::string& key) {
  std::string folded = section + "\\" + key;
  std::transform(folded.begin(), folded.end(), folded.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return folded;
}

std::string FakeServiceControl::GetSetting(const std::string& section, const std::string& key,
                                           const std::string& defaultValue) {
  auto it = settings_.find(Fold(section, key));
  return it == settings_.end() ? defaultValue : it->second;
}

void FakeServiceControl::SaveSetting(const std::string& section, const std::string& key, const std::string& value) {
  settings_[Fold(section, key)] = value;
  saves_.push_back(key + "=" + value);
}

bool FakeServiceControl::Has(const std::string& key) const { return settings_.count(Fold("Parameters", key)) != 0; }

void FakeServiceControl::Remove(const std::string& key) { settings_.erase(Fold("Parameters", key)); }

}  // namespace corvane::ntservice
