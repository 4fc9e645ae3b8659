// The service host's state: the export context it hands to each update run
// (export_context.h), the run state it owns, and the schedule's own counters.
#pragma once

#include <cstdint>

#include "service/core/service_ending.h"
#include "service/export/export_context.h"
#include "service/parameters/startup_settings.h"

namespace corvane::service {

struct ServiceMain : ExportContext {
  using ExportContext::ExportContext;

  RunState run;
  int16_t ScheduleType = 9;
  int16_t TickCount = 0;  // ticks of the warm-up before the first schedule check

  // Takes the start-up values from the snapshot read at start-up: the
  // run's (ExportContext::UseStartupSettings) and the schedule kind.
  void UseStartupSettings(const parameters::StartupSettings& settings) {
    ExportContext::UseStartupSettings(settings);
    ScheduleType = settings.scheduleType;
  }
};

}  // namespace corvane::service
