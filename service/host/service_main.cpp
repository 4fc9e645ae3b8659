#include "service/host/service_main.h"

#include "service/host/parameters/parameters.h"

namespace corvane::service {

std::string ServiceMain::Now() const { return parameters::FormatDefaultDateTime(parameters::ToDateTime(clock.Now())); }

void ServiceMain::UseStartupSettings(const parameters::StartupSettings& s) {
  ToDoCount = s.toDoCount;
  NoExtraEvents = s.noExtraEvents;
  NoParse = s.noParse;
  NoSMTP = s.noSmtp;
  connectionstring = s.connectionString;
  TableName = s.tableName;
  TempTableName = s.tempTableName;
  ScheduleType = s.scheduleType;
  DistList = s.distList;
  DistListFile = s.distListFile;
  DOS = s.dos;
}

}  // namespace corvane::service
