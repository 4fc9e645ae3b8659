#include "service/parameters/startup_settings.h"

#include <exception>

#include "service/parameters/parameters.h"

namespace corvane::parameters {
namespace {

// A value that cannot be read keeps the default held in `field`.
template <typename Read>
void Keep(Read&& read) {
  try {
    read();
  } catch (const std::exception&) {
  }
}

}  // namespace

StartupSettings ReadStartupSettings(const SettingReader& read) {
  StartupSettings s;
  const auto number = [&](const char* name, int16_t& field) {
    Keep([&] {
      if (auto n = ToInt16(read(name, "0"))) field = *n;
    });
  };
  number("ToDoCount", s.toDoCount);
  number("NoExtraEvents", s.noExtraEvents);
  number("NoParse", s.noParse);
  number("NoSMTP", s.noSmtp);
  s.connectionString = read("connectionstring", "");
  Keep([&] { s.tempTableName = read("TempTableName", "TEMP_GAL"); });
  Keep([&] { s.tableName = read("TableName", "GAL"); });
  Keep([&] {
    if (auto n = ToInt16(read("ScheduleType", "9"))) s.scheduleType = *n;
  });
  Keep([&] {
    if (auto on = ToBoolean(read("DistList", "False"))) s.distList = *on;
  });
  if (s.distList) Keep([&] { s.distListFile = read("DistListFile", ""); });
  Keep([&] {
    if (auto on = ToBoolean(read("DOS", "0"))) s.dos = *on;
  });
  if (s.dos) {
    s.tableName = kSmallGalTable;
    s.tempTableName = kSmallGalTempTable;
  }
  return s;
}

}  // namespace corvane::parameters
