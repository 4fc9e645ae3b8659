#include "service/host/run_record.h"

#include <fmt/format.h>

#include "platform/registry/registry.h"
#include "service/host/schedule_forecast.h"

namespace corvane::service {

void RecordRun(ServiceMain& w, const std::string& program, std::time_t start, const RunOutcome& outcome,
               bool endsTheService) {
  LastRunRecord record;
  record.program = program;
  record.start = start;
  record.end = w.clock.Now();
  record.outcome = outcome;
  record.finalTable = w.TableName;
  record.temporaryTable = w.TempTableName;
  const auto file = registry::CorvaneHome() / kLastRunFileName;
  try {
    if (endsTheService) {
      record.nextDueText = fmt::format("none: the run ended the service (exit status {}); it runs again once the "
                                       "service is started",
                                       RunExitStatus(outcome));
    } else {
      const auto read = [&w](std::string_view name) { return w.GetSetting(std::string(name), ""); };
      const auto forecast = ForecastSchedule(w.ScheduleType, read, parameters::ToDateTime(record.end));
      if (forecast.nextDue) record.nextDue = parameters::ToTimeT(*forecast.nextDue);
      record.nextDueText = forecast.nextDueText;
    }
    WriteLastRun(file, record);
  } catch (const std::exception& e) {
    w.WriteLog(fmt::format("The record of this run could not be written to {}: {}", file.string(), e.what()),
               LogPriority::Warning);
  }
}

}  // namespace corvane::service
