#include "service/export/last_run.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "platform/atomicfile/atomic_file.h"

namespace corvane::service {
namespace {

using Json = nlohmann::ordered_json;
using Kind = RunOutcome::Kind;

constexpr Kind kKinds[] = {Kind::Completed, Kind::Failed, Kind::Stopped, Kind::Ended};
constexpr FollowOnOutcome::Kind kJobKinds[] = {FollowOnOutcome::Kind::Completed, FollowOnOutcome::Kind::Partial,
                                               FollowOnOutcome::Kind::Failed};

Json Rows(long rows) { return rows < 0 ? Json(nullptr) : Json(rows); }
long RowsOf(const Json& value) { return value.is_null() ? -1 : value.get<long>(); }

}  // namespace

int RunExitStatus(const RunOutcome& outcome) {
  switch (outcome.kind) {
    case Kind::Completed: return 0;
    case Kind::Failed:
    case Kind::Stopped: return 2;
    case Kind::Ended: return outcome.exitCode;
  }
  return 2;
}

const char* FollowOnOutcomeName(FollowOnOutcome::Kind kind) {
  switch (kind) {
    case FollowOnOutcome::Kind::Completed: return "completed";
    case FollowOnOutcome::Kind::Partial: return "partly completed";
    case FollowOnOutcome::Kind::Failed: return "failed";
  }
  return "failed";
}

const char* OutcomeName(Kind kind) {
  switch (kind) {
    case Kind::Completed: return "completed";
    case Kind::Failed: return "failed";
    case Kind::Stopped: return "stopped";
    case Kind::Ended: return "ended";
  }
  return "failed";
}

std::string LastRunJson(const LastRunRecord& r) {
  Json j;
  j["program"] = r.program;
  j["start"] = IsoTime(r.start);
  j["end"] = IsoTime(r.end);
  j["outcome"] = OutcomeName(r.outcome.kind);
  j["exit_status"] = RunExitStatus(r.outcome);
  j["final_table"] = r.finalTable;
  j["final_rows"] = Rows(r.outcome.finalRows);
  j["temporary_table"] = r.temporaryTable;
  j["temporary_rows"] = Rows(r.outcome.temporaryRows);
  j["failures"] = r.outcome.failures;
  j["cause"] = r.outcome.cause.empty() ? Json(nullptr) : Json(r.outcome.cause);
  j["next_due"] = r.nextDue ? Json(IsoTime(*r.nextDue)) : Json(nullptr);
  j["next_due_text"] = r.nextDueText;
  j["follow_on_jobs"] = Json::array();
  for (const auto& job : r.outcome.followOn)
    j["follow_on_jobs"].push_back(
        {{"job", job.job}, {"outcome", FollowOnOutcomeName(job.kind)}, {"detail", job.detail}});
  return j.dump(2) + "\n";
}

std::optional<LastRunRecord> ParseLastRun(const std::string& text, std::string& error) {
  try {
    const Json j = Json::parse(text);
    LastRunRecord r;
    r.program = j.at("program").get<std::string>();
    auto start = ParseIsoTime(j.at("start").get<std::string>());
    auto end = ParseIsoTime(j.at("end").get<std::string>());
    if (!start || !end) throw std::runtime_error("start or end is not a date and time");
    r.start = *start;
    r.end = *end;
    const std::string outcome = j.at("outcome").get<std::string>();
    bool known = false;
    for (Kind kind : kKinds) {
      if (outcome == OutcomeName(kind)) {
        r.outcome.kind = kind;
        known = true;
      }
    }
    if (!known) throw std::runtime_error("unknown outcome \"" + outcome + "\"");
    r.outcome.exitCode = j.at("exit_status").get<int>();
    r.finalTable = j.at("final_table").get<std::string>();
    r.outcome.finalRows = RowsOf(j.at("final_rows"));
    r.temporaryTable = j.at("temporary_table").get<std::string>();
    r.outcome.temporaryRows = RowsOf(j.at("temporary_rows"));
    r.outcome.failures = j.at("failures").get<int>();
    if (!j.at("cause").is_null()) r.outcome.cause = j.at("cause").get<std::string>();
    if (!j.at("next_due").is_null()) r.nextDue = ParseIsoTime(j.at("next_due").get<std::string>());
    r.nextDueText = j.at("next_due_text").get<std::string>();
    // Records written before the contact jobs were recorded have none.
    for (const auto& job : j.value("follow_on_jobs", Json::array())) {
      FollowOnOutcome o{job.at("job").get<std::string>(), FollowOnOutcome::Kind::Failed,
                        job.at("detail").get<std::string>()};
      const std::string name = job.at("outcome").get<std::string>();
      for (auto kind : kJobKinds)
        if (name == FollowOnOutcomeName(kind)) o.kind = kind;
      r.outcome.followOn.push_back(o);
    }
    return r;
  } catch (const std::exception& e) {
    error = e.what();
    return std::nullopt;
  }
}

void WriteLastRun(const std::filesystem::path& file, const LastRunRecord& record) {
  // For monitoring: the home's owner writes it, the home's group may read it
  // (a root run leaves it to the home's owner and group as well).
  files::WriteFileAtomically(file, LastRunJson(record), {.mode = 0640, .keepOwner = true});
}

std::optional<LastRunRecord> ReadLastRun(const std::filesystem::path& file, std::string& error) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    error = fmt::format("{} cannot be read (no run has written it yet?)", file.string());
    return std::nullopt;
  }
  std::ostringstream text;
  text << in.rdbuf();
  auto record = ParseLastRun(text.str(), error);
  if (!record) error = fmt::format("{} is damaged: {}", file.string(), error);
  return record;
}

}  // namespace corvane::service
