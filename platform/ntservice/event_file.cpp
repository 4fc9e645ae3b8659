#include "platform/ntservice/event_file.h"

#include <fmt/format.h>

#include "platform/logfile/log_file.h"

namespace corvane::ntservice {

std::string EventLine(std::time_t when, int16_t type, int32_t id, const std::string& text) {
  std::tm tm{};
  localtime_r(&when, &tm);
  std::string escaped;
  escaped.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '\\': escaped += "\\\\"; break;
      case '\r': escaped += "\\r"; break;
      case '\n': escaped += "\\n"; break;
      default: escaped += c;
    }
  }
  return fmt::format("{:04}-{:02}-{:02} {:02}:{:02}:{:02}\t{}\t{}\t{}\n", tm.tm_year + 1900, tm.tm_mon + 1,
                     tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, type, id, escaped);
}

bool AppendLine(const std::filesystem::path& file, const std::string& line) {
  return logfile::AppendToLog(file, line, 0640);
}

}  // namespace corvane::ntservice
