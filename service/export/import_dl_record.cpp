#include "service/export/import_dl_record.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <system_error>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "platform/atomicfile/dead_leftovers.h"
#include "service/export/iso_time.h"
#include "service/parameters/parameters.h"

namespace corvane::service {
namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kTemporaryTag = ".dsimport.";

// The time a record's text names; a text that names none makes the record unreadable.
std::time_t TimeOf(const std::string& text) {
  if (const auto t = ParseIsoTime(text)) return *t;
  throw std::runtime_error("\"" + text + "\" is not a date and time with its offset from UTC");
}

Json Count(long n) { return n < 0 ? Json(nullptr) : Json(n); }
long CountOf(const Json& j, const char* name) { return j.at(name).is_null() ? -1 : j.at(name).get<long>(); }
Json Text(const std::string& s) { return s.empty() ? Json(nullptr) : Json(s); }
std::string TextOf(const Json& j, const char* name) { return j.at(name).is_null() ? "" : j.at(name).get<std::string>(); }

}  // namespace

std::string ImportRecordJson(const ImportRecord& r) {
  Json j;
  j["program"] = "dsimport";
  j["start"] = IsoTime(r.start);
  j["end"] = IsoTime(r.end);
  j["result"] = r.failed ? "failed" : "completed";
  j["outcome"] = Text(r.outcome);
  j["list"] = Text(r.list);
  j["file"] = Text(r.file);
  j["directory"] = Text(r.directory);
  j["group"] = Text(r.group);
  j["members"] = Count(r.members);
  j["added"] = Count(r.added);
  j["removed"] = Count(r.removed);
  j["unchanged"] = Count(r.unchanged);
  j["unresolved"] = Count(r.unresolved);
  j["kept_ambiguous"] = Count(r.kept);
  j["cause"] = Text(r.cause);
  j["margin_minutes"] = Count(r.marginMinutes);
  return j.dump(2) + "\n";
}

std::optional<ImportRecord> ParseImportRecord(const std::string& text, std::string& error) {
  try {
    const Json j = Json::parse(text);
    ImportRecord r;
    r.start = TimeOf(j.at("start").get<std::string>());
    r.end = TimeOf(j.at("end").get<std::string>());
    const std::string result = j.at("result").get<std::string>();
    if (result != "failed" && result != "completed") throw std::runtime_error("unknown result \"" + result + "\"");
    r.failed = result == "failed";
    r.outcome = TextOf(j, "outcome");
    r.list = TextOf(j, "list");
    r.file = TextOf(j, "file");
    r.directory = TextOf(j, "directory");
    r.group = TextOf(j, "group");
    r.members = CountOf(j, "members");
    r.added = CountOf(j, "added");
    r.removed = CountOf(j, "removed");
    r.unchanged = CountOf(j, "unchanged");
    r.unresolved = CountOf(j, "unresolved");
    r.kept = CountOf(j, "kept_ambiguous");
    r.cause = TextOf(j, "cause");
    r.marginMinutes = CountOf(j, "margin_minutes");
    return r;
  } catch (const std::exception& e) {
    error = e.what();
    return std::nullopt;
  }
}

void WriteImportRecord(const std::filesystem::path& file, const ImportRecord& record) {
  files::RemoveDeadLeftovers(file, kTemporaryTag);
  const std::filesystem::path temp = files::OwnTemporaryName(file, kTemporaryTag);
  const std::string text = ImportRecordJson(record);
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0640);
  if (fd < 0) throw std::system_error(errno, std::generic_category(), "cannot create " + temp.string());
  int error = 0;
  for (size_t done = 0; done < text.size() && error == 0;) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno != EINTR) error = errno;
    if (n > 0) done += static_cast<size_t>(n);
  }
  // 0640 whatever the umask took away.
  if (error == 0 && ::fchmod(fd, 0640) != 0) error = errno;
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && ::rename(temp.c_str(), file.c_str()) != 0) error = errno;
  if (error != 0) {
    ::unlink(temp.c_str());
    throw std::system_error(error, std::generic_category(), "cannot write " + file.string());
  }
}

std::optional<ImportRecord> ReadImportRecord(const std::filesystem::path& file, std::string& error, bool& missing) {
  std::ifstream in(file, std::ios::binary);
  missing = false;
  if (!in) {
    std::error_code ec;
    missing = !std::filesystem::exists(file, ec) && !ec;
    error = missing ? fmt::format("{} does not exist (no dsimport has finished in this home)", file.string())
                    : fmt::format("{} cannot be read", file.string());
    return std::nullopt;
  }
  std::ostringstream text;
  text << in.rdbuf();
  auto record = ParseImportRecord(text.str(), error);
  if (!record) error = fmt::format("{} is damaged: {}", file.string(), error);
  return record;
}

std::string DescribeImport(const ImportRecord& r) {
  const std::string when = parameters::FormatDefaultDateTime(parameters::ToDateTime(r.end));
  if (r.failed)
    return fmt::format("failed {}{}: {}", when, r.list.empty() ? "" : fmt::format(" (list \"{}\")", r.list),
                       r.cause.empty() ? "see dsimport.log" : r.cause);
  if (r.members < 0) return fmt::format("completed {}: {}", when, r.outcome);
  std::string text = fmt::format("completed {}: {} {}: {} members; added {}, removed {}, unchanged {}, unresolved {}",
                                 when, r.outcome, r.group, r.members, r.added, r.removed, r.unchanged, r.unresolved);
  if (r.kept > 0) text += fmt::format(" ({} ambiguous kept as members)", r.kept);
  return text;
}

}  // namespace corvane::service
