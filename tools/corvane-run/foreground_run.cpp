#include "tools/corvane-run/foreground_run.h"

#include <fmt/format.h>

#include <chrono>

#include "galreader/export_control.h"
#include "platform/ado/ado.h"
#include "platform/ntservice/standard_error.h"
#include "service/export/address_parse.h"
#include "service/parameters/startup_settings.h"
#include "service/host/run_record.h"
#include "tools/corvane-run/table_count_poller.h"

namespace corvane::runtool {

using service::ServiceMain;

void ReadStartupValues(ServiceMain& w) { w.UseStartupSettings(parameters::ReadStartupSettings(w.SettingReader())); }

std::string PrintableEntry(const std::string& entry) {
  std::string out;
  for (size_t i = 0; i < entry.size(); ++i) {
    if (entry[i] == '\r') {
      if (i + 1 < entry.size() && entry[i + 1] == '\n') ++i;
      out += "\n      ";
    } else {
      out += entry[i];
    }
  }
  return out;
}

bool IsStatementEntry(const std::string& entry) {
  size_t blank = entry.find(' ');
  return blank != std::string::npos && entry.compare(blank + 1, 5, "Xsql:") == 0;
}

namespace {

// "<n> rows" of the final table, counted on a connection of its own.
std::string FinalTableRows(const ServiceMain& w) {
  try {
    auto connection = ado::CreateConnection();
    connection->Open(w.connectionstring);
    if (auto rows = CountRows(*connection, w.TableName)) return fmt::format("{} rows", *rows);
  } catch (const std::exception&) {
  }
  return "its rows could not be counted";
}

}  // namespace

int RunOnce(ServiceMain& w, service::UpdateRunHooks& hooks, std::FILE* out, const RunOptions& options) {
  using Clock = std::chrono::steady_clock;
  auto started = Clock::now();
  auto lastProgress = Clock::now();
  TableCountPoller poller;

  w.runLog.OnEntry = [out, options](const std::string& entry, service::LogPriority priority) {
    if (!options.statements && IsStatementEntry(entry)) return;
    const bool prefixed = options.journal && priority != service::LogPriority::Info;
    std::fputs(ntservice::PrioritizedLines(static_cast<int>(priority), PrintableEntry(entry), prefixed).c_str(), out);
    std::fflush(out);
  };
  hooks.OnPhase = [&](const std::string& phase) {
    poller.Stop();
    std::fprintf(out, "== %s (%.1f s)\n", phase.c_str(),
                 std::chrono::duration<double>(Clock::now() - started).count());
    std::fflush(out);
    // The library fills the temporary table on its own connection: count
    // its rows from here while it works.
    if (phase == "GAL read") {
      poller.Start(w.connectionstring, w.TempTableName, [out](long rows) {
        std::fprintf(out, "   GAL read: %ld entries in the temporary table\n", rows);
        std::fflush(out);
      });
    }
  };
  // Rows done, at most once a second, and always the last count of a phase.
  long lastShown = -1;
  hooks.OnProgress = [&](const std::string& phase, long rows, bool final) {
    if (final) {
      const bool shown = rows == lastShown;
      lastShown = -1;  // the next phase starts afresh
      if (shown) return;
    } else if (Clock::now() - lastProgress < std::chrono::seconds(1)) {
      return;
    } else {
      lastShown = rows;
    }
    lastProgress = Clock::now();
    std::fprintf(out, "   %s: %ld rows\n", phase.c_str(), rows);
    std::fflush(out);
  };

  service::RunOutcome outcome;
  bool ended = false;  // the run reported how it ended
  hooks.OnOutcome = [&outcome, &ended](const service::RunOutcome& o) {
    outcome = o;
    ended = true;
  };
  const std::time_t startedAt = w.clock.Now();

  bool result = true;
  int status = kRunCompleted;
  std::string reason;
  try {
    service::UpdateGAL(w, w.run, result, hooks);
    if (!result) {
      status = kRunRecovered;
      reason = outcome.cause.empty() ? "a database failure ended the run" : outcome.cause;
      reason += " (see the run log and events)";
    }
  } catch (const service::EndServiceProcess& e) {
    status = e.exitCode != 0 ? e.exitCode : kRunEndedEarly;
    reason = e.reason;
  }
  poller.Stop();
  if (ended) service::RecordRun(w, "corvane-run", startedAt, outcome, false);
  double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  if (ended && outcome.shortenedProxyLists > 0) {
    const long n = outcome.shortenedProxyLists;
    std::fprintf(out, "%s\n",
                 fmt::format("corvane-run: {} {} cut at {} characters; the addresses past it are not in the table "
                             "(see the run log)",
                             n, n == 1 ? "entry's proxy-address list was" : "entries' proxy-address lists were",
                             galreader::kProxyAddressListLimit)
                     .c_str());
  }
  if (status == kRunCompleted)
    std::fprintf(out, "corvane-run: the run reached its end in %.1f s; final table %s: %s\n", seconds,
                 w.TableName.c_str(), FinalTableRows(w).c_str());
  else
    std::fprintf(out, "corvane-run: the run ended early after %.1f s: %s\n", seconds, reason.c_str());
  std::fflush(out);
  return status;
}

}  // namespace corvane::runtool
