// A service window with a recording service control, a manual timer and a
// fixed clock, for the start-up, scheduler and handler tests. The Corvane
// home is a fresh temporary folder.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/ntservice/fake_service_control.h"
#include "service/parameters/parameters.h"
#include "service/host/service_host.h"

namespace corvane::service::testing {

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "corvane-host-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Points CORVANE_HOME at a temporary folder for the life of the object.
class TempHome : public TempDir {
 public:
  TempHome() { ::setenv("CORVANE_HOME", path().c_str(), 1); }
  ~TempHome() { ::unsetenv("CORVANE_HOME"); }
};

inline std::string ReadFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline std::time_t LocalTime(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  return parameters::ToTimeT({y, mo, d, h, mi, s});
}

struct Harness {
  TempHome home;
  FixedClock clock{LocalTime(2026, 12, 7, 10, 5, 3)};
  RunLog runLog{clock};
  ntservice::FakeServiceControl control;
  ntservice::ManualTimer timer{kBuiltTimerInterval};
  ServiceMain w{runLog, control, clock, [] {}};
  int runs = 0;
  // What each run does; by default it only counts.
  std::function<void(ServiceMain&, bool&)> runBody;
  ServiceHost host{w, timer, [this](ServiceMain& m, bool& result) {
                     ++runs;
                     if (runBody) runBody(m, result);
                   }};
  std::vector<int> exits;

  Harness() {
    host.RequestExit = [this](int code) { exits.push_back(code); };
    runLog.OnEntry = [this](const std::string& entry, LogPriority) { entries.push_back(entry.substr(6)); };
    control.Set("ConnectionString", "Driver=SQLite3;Database=/tmp/gal.db");
  }

  StartupOptions Options(std::string commandLine) const {
    return {std::move(commandLine), home.path() / "bin", home.path(), "HOSTX"};
  }

  // Log entries, oldest first, without the time.
  std::vector<std::string> Entries() const { return entries; }
  std::vector<std::string> entries;
};

}  // namespace corvane::service::testing
