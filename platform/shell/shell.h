// The shell layer: opens a document or starts a program the way a desktop
// shell does, without waiting for it. A target is one file name or address;
// it is never split into a command and its arguments.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace corvane::shell {

class Shell {
 public:
  virtual ~Shell() = default;
  // Opens `target` with its default action: an executable file is started
  // directly, anything else goes to xdg-open. Returns at once; false when
  // the start itself failed (the opened program's outcome is never known).
  virtual bool ShellOpen(const std::string& target) = 0;
};

// The desktop shell of this machine.
std::unique_ptr<Shell> CreateShell();

// Remembers every target and starts nothing; for tests.
class RecordingShell : public Shell {
 public:
  bool ShellOpen(const std::string& target) override {
    opened.push_back(target);
    return result;
  }
  std::vector<std::string> opened;
  bool result = true;
};

}  // namespace corvane::shell
