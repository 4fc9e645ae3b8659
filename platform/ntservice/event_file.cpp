#include "platform/ntservice/event_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include <fmt/format.h>

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
  int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0640);
  if (fd < 0) return false;
  size_t done = 0;
  bool ok = true;
  while (done < line.size()) {
    ssize_t n = ::write(fd, line.data() + done, line.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (::close(fd) != 0) ok = false;
  return ok;
}

}  // namespace corvane::ntservice
