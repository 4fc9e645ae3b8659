#include "galreader/export_control.h"

#include <charconv>
#include <fstream>
#include <sstream>
#include <system_error>

#include <fmt/format.h>

#include "platform/atomicfile/atomic_file.h"
#include "platform/registry/registry.h"

namespace corvane::galreader {

namespace {

constexpr std::string_view kStates[] = {"complete", "cut-short", "stopped"};

std::string ReadAll(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The number after "name=" in `fields`; nullopt when missing or not a number.
std::optional<long> Field(std::string_view fields, std::string_view name) {
  const std::string key = " " + std::string(name) + "=";
  const size_t at = fields.find(key);
  if (at == std::string_view::npos) return std::nullopt;
  const char* first = fields.data() + at + key.size();
  long value = 0;
  const auto [end, error] = std::from_chars(first, fields.data() + fields.size(), value);
  if (error != std::errc() || (end != fields.data() + fields.size() && *end != ' ')) return std::nullopt;
  return value;
}

}  // namespace

std::filesystem::path ExportControlFile() { return registry::CorvaneHome() / kExportControlName; }

std::string FormatExportReport(const ExportReport& r) {
  std::string line = fmt::format("{} count={} read={} written={} left-out={}", kStates[static_cast<int>(r.state)],
                                 r.count, r.read, r.written, r.leftOut);
  if (r.shortened != 0) line += fmt::format(" shortened={}", r.shortened);
  if (!r.cause.empty()) {
    line += " cause=";
    for (char c : r.cause) line += c == '\n' || c == '\r' ? ' ' : c;  // one line
  }
  return line + "\n";
}

std::optional<ExportReport> ParseExportReport(std::string_view text) {
  if (text.empty() || text.back() != '\n') return std::nullopt;  // a report always ends its line
  text.remove_suffix(1);
  ExportReport r;
  const size_t causeAt = text.find(" cause=");
  if (causeAt != std::string_view::npos) r.cause = std::string(text.substr(causeAt + 7));
  const std::string_view head = text.substr(0, causeAt);
  const std::string_view state = head.substr(0, head.find(' '));
  int index = 0;
  while (index < 3 && kStates[index] != state) ++index;
  if (index == 3) return std::nullopt;
  r.state = static_cast<ExportReport::State>(index);
  const std::string_view fields = head.substr(state.size());
  const auto count = Field(fields, "count"), read = Field(fields, "read"), written = Field(fields, "written"),
             leftOut = Field(fields, "left-out");
  if (!count || !read || !written || !leftOut) return std::nullopt;
  r.count = *count;
  r.read = *read;
  r.written = *written;
  r.leftOut = *leftOut;
  if (fields.find(" shortened=") != std::string_view::npos) {
    const auto shortened = Field(fields, "shortened");
    if (!shortened) return std::nullopt;
    r.shortened = *shortened;
  }
  return r;
}

void ClearExportControl(const std::filesystem::path& file) {
  std::error_code ignored;
  std::filesystem::remove(file, ignored);
}

bool ExportStopRequested(const std::filesystem::path& file) {
  return ReadAll(file).starts_with(kExportStopRequest);
}

bool WriteExportReport(const std::filesystem::path& file, const ExportReport& report) {
  // Read back by the same process at once: no flush to disk is needed.
  files::AtomicWrite how;
  how.syncFile = how.syncFolder = false;
  try {
    files::WriteFileAtomically(file, FormatExportReport(report), how);
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

std::optional<ExportReport> ReadExportReport(const std::filesystem::path& file) {
  return ParseExportReport(ReadAll(file));
}

}  // namespace corvane::galreader
