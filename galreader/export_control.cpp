#include "galreader/export_control.h"

#include <unistd.h>

#include <charconv>
#include <fstream>
#include <sstream>

#include <fmt/format.h>

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
  std::filesystem::path temp = file;
  temp += ".tmp." + std::to_string(::getpid());
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << FormatExportReport(report);
    if (!out.flush()) {
      out.close();
      ClearExportControl(temp);
      return false;
    }
  }
  std::error_code error;
  std::filesystem::rename(temp, file, error);
  if (error) ClearExportControl(temp);
  return !error;
}

std::optional<ExportReport> ReadExportReport(const std::filesystem::path& file) {
  return ParseExportReport(ReadAll(file));
}

}  // namespace corvane::galreader
