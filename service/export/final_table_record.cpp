#include "service/export/final_table_record.h"

#include <fstream>
#include <sstream>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "platform/atomicfile/atomic_file.h"
#include "service/export/last_run.h"

namespace corvane::service {
namespace {

using Json = nlohmann::ordered_json;
using State = FinalTableRecord::State;

constexpr State kStates[] = {State::Complete, State::Building, State::Incomplete};

std::time_t TimeOf(const Json& value) {
  const auto t = ParseIsoTime(value.get<std::string>());
  if (!t) throw std::runtime_error("\"" + value.get<std::string>() + "\" is not a date and time");
  return *t;
}

}  // namespace

const char* StateName(State state) {
  switch (state) {
    case State::Complete: return "complete";
    case State::Building: return "building";
    case State::Incomplete: return "incomplete";
  }
  return "incomplete";
}

std::string FinalTableRecordJson(const FinalTableRecord& r) {
  Json j;
  j["table"] = r.table;
  j["state"] = StateName(r.state);
  j["since"] = IsoTime(r.since);
  j["process"] = r.process;
  j["cause"] = r.cause.empty() ? Json(nullptr) : Json(r.cause);
  j["completed_rows"] = r.completedRows ? Json(*r.completedRows) : Json(nullptr);
  j["completed"] = r.completedAt ? Json(IsoTime(*r.completedAt)) : Json(nullptr);
  return j.dump(2) + "\n";
}

std::optional<FinalTableRecord> ParseFinalTableRecord(const std::string& text, std::string& error) {
  try {
    const Json j = Json::parse(text);
    FinalTableRecord r;
    r.table = j.at("table").get<std::string>();
    const std::string state = j.at("state").get<std::string>();
    bool known = false;
    for (State s : kStates) {
      if (state == StateName(s)) {
        r.state = s;
        known = true;
      }
    }
    if (!known) throw std::runtime_error("unknown state \"" + state + "\"");
    r.since = TimeOf(j.at("since"));
    r.process = j.at("process").get<long>();
    if (!j.at("cause").is_null()) r.cause = j.at("cause").get<std::string>();
    if (!j.at("completed_rows").is_null()) r.completedRows = j.at("completed_rows").get<long>();
    if (!j.at("completed").is_null()) r.completedAt = TimeOf(j.at("completed"));
    return r;
  } catch (const std::exception& e) {
    error = e.what();
    return std::nullopt;
  }
}

void WriteFinalTableRecord(const std::filesystem::path& file, const FinalTableRecord& record) {
  files::WriteFileAtomically(file, FinalTableRecordJson(record), {.mode = 0640, .keepOwner = true});
}

std::optional<FinalTableRecord> ReadFinalTableRecord(const std::filesystem::path& file, std::string& error) {
  error.clear();
  std::error_code ec;
  if (!std::filesystem::exists(file, ec) && !ec) return std::nullopt;
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    error = fmt::format("{} cannot be read", file.string());
    return std::nullopt;
  }
  std::ostringstream text;
  text << in.rdbuf();
  auto record = ParseFinalTableRecord(text.str(), error);
  if (!record) error = fmt::format("{} is damaged: {}", file.string(), error);
  return record;
}

}  // namespace corvane::service
