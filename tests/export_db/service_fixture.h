// A service window for the database procedures' tests: a fixed clock, the
// recording service control, and the run log's lines collected in order.
#pragma once

#include <string>
#include <vector>

#include "platform/ntservice/fake_service_control.h"
#include "service/core/clock.h"
#include "service/core/run_log.h"
#include "service/export/export_context.h"

namespace corvane::testing {

struct ServiceWindow {
  ServiceWindow() {
    log.OnEntry = [this](const std::string& entry, service::LogPriority) {
      // "HH:MM message": keep the message.
      lines.push_back(entry.size() > 6 ? entry.substr(6) : std::string());
    };
  }
  service::FixedClock clock{1796637600};  // 12/7/2026 10:40 UTC
  service::RunLog log{clock};
  ntservice::FakeServiceControl control;
  service::ExportContext w{log, control, clock, [] {}};
  std::vector<std::string> lines;
};

}  // namespace corvane::testing
