// The shell layer: opens a document or starts a program the way a desktop
// shell does, without waiting for it. A target is one file name or address;
// it is never split into a command and its arguments. No shell ever reads
// a target or an argument, so their characters mean nothing special.
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
  // Starts the executable `program` with `arguments`, each handed to it as
  // one argument exactly as given. Returns at once (the program is never
  // waited for and never left as a zombie); false when it could not be
  // started (missing, not executable).
  virtual bool StartProgram(const std::string& program, const std::vector<std::string>& arguments) = 0;
};

// The desktop shell of this machine.
std::unique_ptr<Shell> CreateShell();

// Remembers every target and program and starts nothing; for tests.
class RecordingShell : public Shell {
 public:
  bool ShellOpen(const std::string& target) override {
    opened.push_back(target);
    return result;
  }
  bool StartProgram(const std::string& program, const std::vector<std::string>& arguments) override {
    started.push_back(arguments);
    started.back().insert(started.back().begin(), program);
    return result;
  }
  std::vector<std::string> opened;
  std::vector<std::vector<std::string>> started;  // program, then its arguments
  bool result = true;
};

}  // namespace corvane::shell
