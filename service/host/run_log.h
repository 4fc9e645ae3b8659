// The service's run log (WriteLog): the window text `txtlog`, newest entry
// first and trimmed to bound its size, and, with file logging on, the log
// file, oldest entry first with an empty line after each entry.
#pragma once

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

#include "service/host/clock.h"

namespace corvane::service {

class RunLog {
 public:
  explicit RunLog(const Clock& clock);
  ~RunLog();
  RunLog(const RunLog&) = delete;
  RunLog& operator=(const RunLog&) = delete;

  // Adds "HH:MM message" to txtlog (and the file when open). Never fails.
  void WriteLog(const std::string& message);

  const std::string& txtlog() const { return txtlog_; }
  void set_txtlog(std::string text) { txtlog_ = std::move(text); }

  // Creates (replacing) the log file; false when it cannot be created.
  bool OpenFile(const std::filesystem::path& path);
  void CloseFile();
  bool FileOpen() const { return file_ != nullptr; }

  // Called with each message as it is logged (corvane-run prints them).
  std::function<void(const std::string& entry)> OnEntry;

 private:
  const Clock& clock_;
  std::string txtlog_;
  std::FILE* file_ = nullptr;
};

}  // namespace corvane::service
