#include "service/parameters/startup_settings.h"

#include <gtest/gtest.h>

#include <map>
#include <stdexcept>

namespace corvane::parameters {
namespace {

using Stored = std::map<std::string, std::string>;

StartupSettings Read(const Stored& stored) {
  return ReadStartupSettings([&](const std::string& name, const std::string& defaultText) {
    const auto it = stored.find(name);
    return it != stored.end() ? it->second : defaultText;
  });
}

TEST(StartupSettings, MissingAndUnreadableValuesKeepTheirDefaults) {
  for (const Stored& stored : {Stored{}, Stored{{"ToDoCount", "many"}, {"ScheduleType", "x"}, {"DistList", "maybe"},
                                                {"DOS", "?"}, {"DistListFile", "/tmp/l.csv"}}}) {
    const StartupSettings s = Read(stored);
    EXPECT_EQ(s.toDoCount, 0);
    EXPECT_EQ(s.scheduleType, 9);
    EXPECT_EQ(s.tableName, "GAL");
    EXPECT_EQ(s.tempTableName, "TEMP_GAL");
    EXPECT_FALSE(s.distList);
    EXPECT_EQ(s.distListFile, "");  // read only while DistList is on
    EXPECT_FALSE(s.dos);
  }
}

TEST(StartupSettings, SmallGalModeNamesItsOwnTables) {
  const StartupSettings s = Read({{"connectionstring", "DSN=gal"}, {"TableName", "People"}, {"TempTableName", "P_T"},
                                  {"DOS", "True"}, {"NoSMTP", " 1 "}, {"DistList", "1"}, {"DistListFile", "l.csv"}});
  EXPECT_EQ(s.connectionString, "DSN=gal");
  EXPECT_EQ(s.tableName, "small_gal");
  EXPECT_EQ(s.tempTableName, "temp_small_gal");
  EXPECT_EQ(s.noSmtp, 1);
  EXPECT_EQ(s.distListFile, "l.csv");
  EXPECT_EQ(Read({{"TableName", "People"}, {"DOS", "0"}}).tableName, "People");
}

TEST(StartupSettings, OnlyAnUnreadableConnectionStringEndsTheRead) {
  const auto failing = [](const char* which) {
    return [which](const std::string& name, const std::string& defaultText) -> std::string {
      if (name == which) throw std::runtime_error("damaged store");
      return name == "connectionstring" ? "DSN=gal" : defaultText;
    };
  };
  EXPECT_EQ(ReadStartupSettings(failing("TableName")).tableName, "GAL");
  EXPECT_THROW(ReadStartupSettings(failing("connectionstring")), std::runtime_error);
}

}  // namespace
}  // namespace corvane::parameters
