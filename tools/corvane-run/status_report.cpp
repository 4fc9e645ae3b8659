#include "tools/corvane-run/status_report.h"

#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <string>

#include <fmt/format.h>

#include "platform/registry/hive_format.h"
#include "platform/registry/registry.h"
#include "service/export/import_dl_record.h"
#include "service/export/final_table_record.h"
#include "service/export/last_run.h"
#include "service/parameters/parameters.h"

namespace corvane::runtool {
namespace {

using service::RunOutcome;

std::string When(std::time_t t) { return parameters::FormatDefaultDateTime(parameters::ToDateTime(t)); }

// "3 h 5 min", "2 d 4 h", "45 s".
std::string Age(int64_t seconds) {
  if (seconds < 0) seconds = 0;
  if (seconds < 60) return fmt::format("{} s", seconds);
  if (seconds < 3600) return fmt::format("{} min", seconds / 60);
  if (seconds < 86400) return fmt::format("{} h {} min", seconds / 3600, seconds % 3600 / 60);
  return fmt::format("{} d {} h", seconds / 86400, seconds % 86400 / 3600);
}

std::string Rows(const std::string& table, long rows) {
  return rows < 0 ? table + ": not counted" : fmt::format("{}: {} rows", table, rows);
}

// What --status says of the distribution-list import: a detail line, and
// a warning when the last import failed or none followed the last
// completed run within the margin.
struct ImportFindings {
  std::string detail;   // empty: nothing to show
  std::string warning;  // empty: nothing to warn of
};

ImportFindings JudgeLastImport(const std::filesystem::path& home, const service::LastRunRecord& run, std::time_t now) {
  std::string error;
  bool missing = false;
  const auto record = service::ReadImportRecord(home / service::kImportRecordFileName, error, missing);
  // The settings, where this user may read them (the hive is the service
  // user's alone); else an import record tells that the list is kept, and
  // carries the margin dsimport read.
  std::optional<bool> distList;
  long margin = -1;
  try {
    for (const auto& v : registry::Hive(home / "registry.hive").List(registry::kParametersKeyPath)) {
      if (registry::EqualsNoCase(v.name, "DistList")) distList = parameters::BooleanOn(v.value.AsText());
      if (registry::EqualsNoCase(v.name, "DistListImportMargin"))
        margin = parameters::ToInt32(v.value.AsText()).value_or(-1);
    }
    if (!distList) distList = false;
  } catch (const std::exception&) {
    if (record) margin = record->marginMinutes;
  }
  if (margin < 0) margin = service::kDefaultImportMarginMinutes;
  const bool kept = distList.value_or(!missing);

  ImportFindings f;
  if (record) {
    f.detail = service::DescribeImport(*record);
  } else if (!missing || kept) {
    f.detail = error;
  }
  if (!kept) return f;
  if (record && record->failed) {
    f.warning = "the last distribution-list import " + service::DescribeImport(*record);
  } else if (!record && !missing) {
    f.warning = "the record of the last distribution-list import cannot be read: " + error;
  } else if (run.outcome.kind == service::RunOutcome::Kind::Completed && (!record || record->start < run.start) &&
             now - run.end > margin * 60) {
    f.warning = fmt::format("no distribution-list import followed the run that completed {} within {} min "
                            "(DistListImportMargin); see dsimport.log",
                            When(run.end), margin);
  }
  return f;
}

// Whether process `pid` still runs (it may be another user's).
bool Running(long pid) { return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM); }

using Build = service::FinalTableRecord;

// Why the final table may be incomplete by its record: a build that a run
// ended without completing, or one whose process is gone (killed during
// it); empty when its last build completed or one is under way.
std::string UnfinishedBuild(const Build& b) {
  if (b.state == Build::State::Incomplete)
    return fmt::format("the final table {} is incomplete: its build of {} did not complete: {}", b.table,
                       When(b.since), b.cause);
  if (b.state == Build::State::Building && !Running(b.process))
    return fmt::format("the final table {} may be incomplete: its build that began {} did not complete (process {} "
                       "ended during it)",
                       b.table, When(b.since), b.process);
  return {};
}

// The record's state in a detail line.
std::string BuildLine(const Build& b) {
  std::string line = b.table;
  if (b.state == Build::State::Building && Running(b.process))
    line += fmt::format(" being rebuilt by process {} since {}", b.process, When(b.since));
  else if (b.state != Build::State::Complete)
    line += fmt::format(" {} since {}", service::StateName(b.state), When(b.since));
  if (b.completedRows && b.completedAt)
    line += fmt::format("{} last build completed {}, {} rows", b.state == Build::State::Complete ? ":" : ";",
                        When(*b.completedAt), *b.completedRows);
  return line;
}

}  // namespace

std::optional<int64_t> ParseDuration(std::string_view text) {
  int64_t unit = 1;
  if (!text.empty()) {
    switch (text.back()) {
      case 's': unit = 1; break;
      case 'm': unit = 60; break;
      case 'h': unit = 3600; break;
      case 'd': unit = 86400; break;
      default: unit = 0; break;
    }
    if (unit != 0) text.remove_suffix(1);
  }
  int64_t n = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || n < 0) return std::nullopt;
  return n * (unit == 0 ? 1 : unit);
}

int ReportLastRun(const std::filesystem::path& file, std::optional<int64_t> maxAgeSeconds, std::time_t now,
                  std::FILE* out) {
  std::string error, buildError;
  const auto record = service::ReadLastRun(file, error);
  const auto build = service::ReadFinalTableRecord(file.parent_path() / service::kFinalTableRecordName, buildError);
  const std::string unfinished = build ? UnfinishedBuild(*build) : "";
  if (!record) {
    if (unfinished.empty()) {
      fmt::print(out, "CORVANE UNKNOWN: {}\n", error);
      return kStatusUnknown;
    }
    fmt::print(out, "CORVANE CRITICAL: {}\n  build        {}\n  last run     {}\n", unfinished, BuildLine(*build),
               error);
    return kStatusCritical;
  }
  const RunOutcome& o = record->outcome;
  const int64_t age = now - record->end;
  const bool stale = maxAgeSeconds && age > *maxAgeSeconds;
  int status = kStatusOk;
  std::string summary;
  switch (o.kind) {
    case RunOutcome::Kind::Completed:
      summary = fmt::format("the last run completed {} ({} ago); final table {}", When(record->end), Age(age),
                            Rows(record->finalTable, o.finalRows));
      break;
    case RunOutcome::Kind::Stopped:
      status = kStatusWarning;
      summary = fmt::format("the last run was stopped {} ({} ago)", When(record->end), Age(age));
      break;
    case RunOutcome::Kind::Failed:
    case RunOutcome::Kind::Ended:
      status = kStatusCritical;
      summary = fmt::format("the last run {} {} ({} ago): {}", service::OutcomeName(o.kind), When(record->end),
                            Age(age), o.cause.empty() ? "see the run log and events" : o.cause);
      break;
  }
  // A contact job that failed or did only part of its work leaves the
  // address books behind the table: a warning that names the job.
  for (const auto& job : o.followOn) {
    if (job.kind == service::FollowOnOutcome::Kind::Completed) continue;
    status = std::max(status, kStatusWarning);
    summary += fmt::format("; the {} {}", job.job,
                           job.kind == service::FollowOnOutcome::Kind::Failed ? "failed" : "completed only in part");
  }
  if (stale) {
    status = kStatusCritical;
    summary += fmt::format("; that is more than {} ago", Age(*maxAgeSeconds));
  }
  const ImportFindings import = JudgeLastImport(file.parent_path(), *record, now);
  if (!import.warning.empty()) {
    status = std::max(status, kStatusWarning);
    summary += "; " + import.warning;
  }
  // The final table's record knows of a build that did not complete even
  // where no run could record its end (a killed process).
  if (!unfinished.empty()) {
    status = kStatusCritical;
    summary = fmt::format("{}; the last run recorded {} {} ({} ago)", unfinished, service::OutcomeName(o.kind),
                          When(record->end), Age(age));
  }
  constexpr const char* kNames[] = {"OK", "WARNING", "CRITICAL"};
  fmt::print(out, "CORVANE {}: {}\n", kNames[status], summary);
  fmt::print(out, "  started      {}\n", When(record->start));
  fmt::print(out, "  ended        {}\n", When(record->end));
  fmt::print(out, "  outcome      {} (exit status {}), run by {}\n", service::OutcomeName(o.kind),
             service::RunExitStatus(o), record->program);
  fmt::print(out, "  final table  {}\n", Rows(record->finalTable, o.finalRows));
  fmt::print(out, "  temporary    {}\n", Rows(record->temporaryTable, o.temporaryRows));
  fmt::print(out, "  failures     {}\n", o.failures);
  if (!o.cause.empty()) fmt::print(out, "  cause        {}\n", o.cause);
  for (const auto& job : o.followOn)
    fmt::print(out, "  follow-on    {}: {}{}\n", job.job, service::FollowOnOutcomeName(job.kind),
               job.detail.empty() ? "" : ": " + job.detail);
  if (build) fmt::print(out, "  build        {}\n", BuildLine(*build));
  if (!buildError.empty()) fmt::print(out, "  build        {}\n", buildError);
  fmt::print(out, "  next run     {}\n", record->nextDueText);
  if (!import.detail.empty()) fmt::print(out, "  dsimport     {}\n", import.detail);
  return status;
}

}  // namespace corvane::runtool
