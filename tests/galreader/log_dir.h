// A fresh temporary directory that is the current directory (where the
// library writes "CorvaneDLL.log") and the Corvane home (where the MAPI
// layer keeps its profiles) for the lifetime of the object.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace corvane::galreader {

class TempLogDir {
 public:
  TempLogDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "galreader-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(path_);
    const char* home = std::getenv("CORVANE_HOME");
    if (home != nullptr) previousHome_ = home;
    hadHome_ = home != nullptr;
    setenv("CORVANE_HOME", path_.c_str(), 1);
  }
  ~TempLogDir() {
    std::filesystem::current_path(previous_);
    if (hadHome_) {
      setenv("CORVANE_HOME", previousHome_.c_str(), 1);
    } else {
      unsetenv("CORVANE_HOME");
    }
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempLogDir(const TempLogDir&) = delete;
  TempLogDir& operator=(const TempLogDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }

  // The library log so far; empty when none was written.
  std::string Log() const {
    std::ifstream in(path_ / "CorvaneDLL.log", std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  void ClearLog() const { std::filesystem::remove(path_ / "CorvaneDLL.log"); }

 private:
  std::filesystem::path path_;
  std::filesystem::path previous_;
  std::string previousHome_;
  bool hadHome_ = false;
};

}  // namespace corvane::galreader
