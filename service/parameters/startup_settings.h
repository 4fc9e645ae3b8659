// The values the service takes from the parameters when it starts, read
// once into one typed snapshot: the service, a foreground run
// (corvane-run) and the configuration check (corvane-run --check) all read
// them through ReadStartupSettings, so a value means the same to each.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace corvane::parameters {

// The final and temporary tables of the special site mode ("DOS" on),
// whatever TableName and TempTableName say.
inline constexpr const char* kSmallGalTable = "small_gal";
inline constexpr const char* kSmallGalTempTable = "temp_small_gal";

struct StartupSettings {
  int16_t toDoCount = 0;
  int16_t noExtraEvents = 0;
  int16_t noParse = 0;
  int16_t noSmtp = 0;
  std::string connectionString;
  // The tables a run builds: TableName and TempTableName, or the small-GAL
  // tables while `dos` is on.
  std::string tableName = "GAL";
  std::string tempTableName = "TEMP_GAL";
  int16_t scheduleType = 9;
  bool distList = false;
  std::string distListFile;  // read only while `distList` is on
  bool dos = false;
};

// One value of the parameters key: its stored text, or `defaultText` when
// it is missing. May throw (std::exception) when the store cannot be read.
using SettingReader = std::function<std::string(const std::string& name, const std::string& defaultText)>;

// Reads the snapshot through `read`. A number or Boolean that is no such
// text, and a value whose read throws, keep their default; a connection
// string that cannot be read rethrows, for without it nothing can run.
StartupSettings ReadStartupSettings(const SettingReader& read);

}  // namespace corvane::parameters
