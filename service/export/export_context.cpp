#include "service/export/export_context.h"

#include "service/parameters/parameters.h"

namespace corvane::service {

std::string ExportContext::Now() const {
  return parameters::FormatDefaultDateTime(parameters::ToDateTime(clock.Now()));
}

void ExportContext::UseStartupSettings(const parameters::StartupSettings& s) {
  ToDoCount = s.toDoCount;
  NoExtraEvents = s.noExtraEvents;
  NoParse = s.noParse;
  NoSMTP = s.noSmtp;
  connectionstring = s.connectionString;
  TableName = s.tableName;
  TempTableName = s.tempTableName;
  DistList = s.distList;
  DistListFile = s.distListFile;
  DOS = s.dos;
}

}  // namespace corvane::service
