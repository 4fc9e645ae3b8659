// The service's run log (WriteLog): each entry goes to whoever listens
// (OnEntry, OnAlert) and, with file logging on, to the log file, oldest
// entry first with an empty line after each entry. It keeps no entries in
// memory: a run can log millions of statements.
#pragma once

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

#include "service/core/clock.h"

namespace corvane::service {

// How urgent a run-log entry is, numbered as syslog numbers priorities.
// Most entries are information; those that report an error or a warning
// say so, and also reach the alert sink (OnAlert).
enum class LogPriority : int { Error = 3, Warning = 4, Info = 6 };

class RunLog {
 public:
  explicit RunLog(const Clock& clock);
  ~RunLog();
  RunLog(const RunLog&) = delete;
  RunLog& operator=(const RunLog&) = delete;

  // Logs "HH:MM message" (to the file when open, and to OnEntry); a
  // warning or an error also goes to OnAlert. Never fails.
  void WriteLog(const std::string& message, LogPriority priority = LogPriority::Info);

  // A text for the alert sink alone, not a run-log entry (why the process
  // ends, or at information priority a run's summary of the refusals its
  // database is known to give); plain on standard error where no sink is
  // set. Never fails.
  void Alert(LogPriority priority, const std::string& text);

  // Creates (replacing) the log file; false when it cannot be created.
  bool OpenFile(const std::filesystem::path& path);
  void CloseFile();
  bool FileOpen() const { return file_ != nullptr; }

  // Called with each entry ("HH:MM message") as it is logged (corvane-run
  // prints them; tests collect them).
  std::function<void(const std::string& entry, LogPriority priority)> OnEntry;
  // Called with the message of each warning and error entry, and with the
  // texts of Alert (at any priority): the service sends them to standard
  // error at their priority, so the journal shows why a run failed.
  std::function<void(LogPriority priority, const std::string& message)> OnAlert;

 private:
  const Clock& clock_;
  std::FILE* file_ = nullptr;
};

}  // namespace corvane::service
