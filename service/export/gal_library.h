// The GAL reader library as the update run sees it: its three exports.
// The real one binds libCorvane.so at run time by file name, the way the
// service has always bound its reader: at the first call, from the
// program's own folder or else from the library path.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

#include "galreader/export_control.h"

namespace corvane::service {

// A library that cannot be loaded or lacks an export. The numbers are the
// ones the run logs and events show for these failures: 53 "File not
// found", 453 "Can't find DLL entry point".
class GalLibraryError : public std::runtime_error {
 public:
  GalLibraryError(int32_t number, std::string description)
      : std::runtime_error(description), Number(number), Description(std::move(description)) {}
  int32_t Number;
  std::string Description;
};

inline constexpr int32_t kErrFileNotFound = 53;
inline constexpr int32_t kErrEntryPointNotFound = 453;

class GalLibrary {
 public:
  virtual ~GalLibrary() = default;
  virtual int32_t CreateProfileWithIProfAdmin(const std::string& mailbox, const std::string& server,
                                              const std::string& quiet) = 0;
  virtual int32_t GetGALCount(const std::string& profileName, const std::string& quiet) = 0;
  // Fills tableName; returns the library's report of the export, nullopt
  // when it left none.
  virtual std::optional<galreader::ExportReport> ModifyStruct(const std::string& connectionString,
                                                              const std::string& profileName,
                                                              const std::string& tableName, const std::string& quiet,
                                                              int32_t ToDoCount) = 0;
  // Why the last GetGALCount could not read the directory, in the directory
  // layer's own words (server unreachable, base missing, mailbox not found,
  // bind refused); empty when it read it or gave no reason.
  virtual std::string LastFailure() const { return {}; }
};

// libCorvane.so, opened at the first call and kept for the life of the
// process. Every call throws GalLibraryError while the library cannot be
// bound; the next call tries again. ModifyStruct clears the export's control
// file (galreader::ExportControlFile) before the call, passes a stop request
// of this process on to it during the call (ntservice::StopRelay), and reads
// the library's report from it afterwards.
class DynamicGalLibrary : public GalLibrary {
 public:
  // `folder`: where to look first; empty means the running program's folder.
  explicit DynamicGalLibrary(std::filesystem::path folder = {}, std::string fileName = "libCorvane.so");
  ~DynamicGalLibrary() override;
  DynamicGalLibrary(const DynamicGalLibrary&) = delete;
  DynamicGalLibrary& operator=(const DynamicGalLibrary&) = delete;

  int32_t CreateProfileWithIProfAdmin(const std::string& mailbox, const std::string& server,
                                      const std::string& quiet) override;
  int32_t GetGALCount(const std::string& profileName, const std::string& quiet) override;
  std::optional<galreader::ExportReport> ModifyStruct(const std::string& connectionString,
                                                      const std::string& profileName, const std::string& tableName,
                                                      const std::string& quiet, int32_t ToDoCount) override;
  std::string LastFailure() const override { return lastFailure_; }

 private:
  void* Symbol(const char* name);

  std::filesystem::path folder_;
  std::string fileName_;
  void* handle_ = nullptr;
  std::string lastFailure_;
};

// The running program's folder (of /proc/self/exe).
std::filesystem::path ProgramFolder();

}  // namespace corvane::service
