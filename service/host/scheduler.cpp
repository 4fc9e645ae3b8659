// The Timer's schedule check: after a short warm-up, every tick reads the
// schedule afresh and starts an update run when it is due. The run executes
// inside the tick; it lets pending messages through once per row, so a
// tick can arrive while a run is still going (the run's own guard and
// RunInProgress turn such a tick's run away).
#include "service/parameters/parameters.h"
#include "service/host/schedule_rules.h"
#include "service/host/service_host.h"

namespace corvane::service {
namespace {

constexpr int kWarmUpTicks = 6;

const char* KindLine(int16_t kind) {
  switch (kind) {
    case kDaily: return "Daily Schedule";
    case kWeekly: return "Weekly Schedule";
    case kMonthly: return "Monthly Schedule";
    case kOneTime: return "One Time Schedule";
    case kOnStartup: return "On Startup Schedule";
    case kNever: return "Never";
    case kContinuous: return "Continous Schedule: ";
    case kNoSchedule: return "NoScheduletype";
    default: return nullptr;
  }
}

}  // namespace

void ServiceHost::Tick() {
  ++tickDepth_;
  try {
    CheckSchedule();
  } catch (const EndServiceProcess& end) {
    EndProcess(end);
  } catch (const std::exception& e) {
    CheckFailed(e.what());
  } catch (...) {
    CheckFailed("unknown error");
  }
  --tickDepth_;
}

void ServiceHost::CheckFailed(const std::string& what) {
  w_.WriteLog("Schedule check failed: " + what, LogPriority::Error);
  // Nothing runs outside the outermost tick: its run is over.
  if (tickDepth_ == 1) {
    w_.run.isrunning = false;
    w_.run.RunInProgress = false;
  }
}

void ServiceHost::CheckSchedule() {
  if (exitCode_) return;  // the process is ending
  if (w_.FileLogging) {
    // Logging runs check at once and every 10 seconds.
    w_.TickCount = kWarmUpTicks;
    timer_.SetInterval(kBuiltTimerInterval);
  }
  if (w_.TickCount < kWarmUpTicks) {
    ++w_.TickCount;
    w_.run.isrunning = false;
    return;
  }

  std::string lastText = w_.GetSetting("LastSuccessfulRun", "");
  if (lastText.empty()) lastText = kNoLastRun;
  w_.WriteLog("LastSuccessfulRun:" + lastText);
  const std::string startText = w_.GetSetting("StartTime", kDefaultStartTime);
  const auto start = parameters::ParseDateTime(startText);
  w_.WriteLog("StartTime:" + (start ? parameters::FormatFixedDateTime(*start) : startText));

  const ScheduleMoments at = MomentsOf(parameters::ToDateTime(w_.clock.Now()), startText, lastText);

  const int16_t kind = w_.ScheduleType;
  if (const char* line = KindLine(kind)) w_.WriteLog(kind == kContinuous ? line + w_.Now() : line);

  // A final table that a run left incomplete (stopped or failed while it
  // was built) is rebuilt at the first check of the process, whatever the
  // schedule; only once, so a fault that persists cannot start runs back
  // to back.
  const bool rebuild = !firstCheckDone_ && !w_.run.RunInProgress &&
                       w_.GetSetting(parameters::kFinalTableIncomplete, "0") == "1";
  if (rebuild) w_.WriteLog("The last run left the final table incomplete: the export runs now");
  if (!rebuild && (kind == kDaily) && !at.lastRun) {
    w_.WriteLog("LastSuccessfulRun is not a date-time: no daily run until it is corrected", LogPriority::Warning);
  }

  const auto read = [this](std::string_view name) { return w_.GetSetting(std::string(name), ""); };
  const int runs = rebuild ? 1 : RunsDue(kind, read, at, w_.run.StartupRunDone, w_.run.RunInProgress);
  // One run at a time per home: while another process's run holds the
  // lock, this check starts nothing and the kind's bookkeeping waits too.
  // (A tick during this process's own run goes on: the run turns it away.)
  std::shared_ptr<void> lock;
  if (runs > 0 && !w_.run.isrunning && TryRunLock) {
    std::string why;
    lock = TryRunLock(why);
    if (!lock) {
      w_.WriteLog(why);
      return;
    }
  }
  firstCheckDone_ = true;
  for (int i = 0; i < runs; ++i) StartRun();
  // After a rebuild the kind's own runs are still to come.
  if (!rebuild && kind == kOneTime) {
    if (runs > 0) {
      w_.SaveSetting("OneTime", "0");
    } else {
      w_.WriteLog("NOT: onetime = 1 And DateDiff('s', startDT, Now()) >= 0");
    }
  }
  if (!rebuild && kind == kOnStartup && runs > 0) w_.run.StartupRunDone = true;
  if (runs > 0 && AfterRuns) AfterRuns();
}

void ServiceHost::StartRun() {
  bool result = true;
  run_(w_, result);
}

void ServiceHost::EndProcess(const EndServiceProcess& end) {
  if (AfterRuns) AfterRuns();
  if (!exitCode_) exitCode_ = end.exitCode;
  if (!end.reason.empty()) w_.runLog.Alert(LogPriority::Error, end.reason);
  timer_.SetEnabled(false);
  if (RequestExit) RequestExit(*exitCode_);
}

std::function<void()> ServiceHost::GuardedDoEvents(std::function<void()> processPendingOnce) {
  return [this, pump = std::move(processPendingOnce)] {
    if (pump) pump();
    if (w_.run.StopRequested || exitCode_) {
      throw EndServiceProcess{w_.run.StopRequested ? "" : "The service process is ending.", exitCode_.value_or(0)};
    }
  };
}

}  // namespace corvane::service
