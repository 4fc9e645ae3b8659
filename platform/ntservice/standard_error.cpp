#include "platform/ntservice/standard_error.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include <fmt/format.h>

namespace corvane::ntservice {

bool IsJournalStream(int fd) {
  const char* stream = std::getenv("JOURNAL_STREAM");
  if (stream == nullptr || *stream == '\0') return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0) return false;
  return fmt::format("{}:{}", static_cast<unsigned long long>(st.st_dev), static_cast<unsigned long long>(st.st_ino)) ==
         stream;
}

std::string PrioritizedLines(int priority, std::string_view text, bool journal) {
  const std::string prefix = journal ? fmt::format("<{}>", priority) : std::string();
  std::string out = prefix;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      out += '\n';
      if (i + 1 < text.size()) out += prefix;
    } else {
      out += c;
    }
  }
  if (out.empty() || out.back() != '\n') out += '\n';
  return out;
}

void WriteStandardError(int priority, std::string_view text) {
  const std::string lines = PrioritizedLines(priority, text, IsJournalStream(STDERR_FILENO));
  std::fwrite(lines.data(), 1, lines.size(), stderr);
  std::fflush(stderr);
}

}  // namespace corvane::ntservice
