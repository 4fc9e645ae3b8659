#include "service/core/run_log.h"

#include <fmt/format.h>

#include "platform/atomicfile/atomic_file.h"
#include "service/parameters/parameters.h"

namespace corvane::service {

RunLog::RunLog(const Clock& clock) : clock_(clock) {}

RunLog::~RunLog() { CloseFile(); }

void RunLog::WriteLog(const std::string& message, LogPriority priority) {
  try {
    const auto now = parameters::ToDateTime(clock_.Now());
    const std::string entry = fmt::format("{:02}:{:02} {}", now.hour, now.minute, message);
    if (file_ != nullptr) {
      // The entry ends in CR LF and is written as a line, which adds
      // another CR LF: each entry in the file is followed by an empty line.
      std::fputs((entry + "\r\n\r\n").c_str(), file_);
      std::fflush(file_);
    }
    if (OnEntry) OnEntry(entry, priority);
    if (priority != LogPriority::Info && OnAlert) OnAlert(priority, message);
  } catch (...) {
    // The run log never reports a failure to its caller.
  }
}

void RunLog::Alert(LogPriority priority, const std::string& text) {
  try {
    if (OnAlert) {
      OnAlert(priority, text);
    } else {
      std::fprintf(stderr, "%s\n", text.c_str());
    }
  } catch (...) {
  }
}

bool RunLog::OpenFile(const std::filesystem::path& path) {
  CloseFile();
  // The log names people and addresses: its owner's only, whatever the umask.
  files::EnsureFileMode(path, 0600);
  file_ = std::fopen(path.c_str(), "we");
  return file_ != nullptr;
}

void RunLog::CloseFile() {
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
}

}  // namespace corvane::service
