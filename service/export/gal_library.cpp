#include "service/export/gal_library.h"

#include <dlfcn.h>

#include "galreader/corvane_exports.h"

namespace corvane::service {

std::filesystem::path ProgramFolder() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path{} : exe.parent_path();
}

DynamicGalLibrary::DynamicGalLibrary(std::filesystem::path folder, std::string fileName)
    : folder_(std::move(folder)), fileName_(std::move(fileName)) {}

DynamicGalLibrary::~DynamicGalLibrary() {
  if (handle_) dlclose(handle_);
}

void* DynamicGalLibrary::Symbol(const char* name) {
  if (!handle_) {
    auto folder = folder_.empty() ? ProgramFolder() : folder_;
    auto besideProgram = folder / fileName_;
    handle_ = dlopen(besideProgram.c_str(), RTLD_NOW | RTLD_LOCAL);
    // Not beside the program: the library path (LD_LIBRARY_PATH, ld.so.conf).
    if (!handle_) handle_ = dlopen(fileName_.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
      const char* why = dlerror();
      throw GalLibraryError(kErrFileNotFound,
                            "File not found: " + fileName_ + (why ? std::string(" (") + why + ")" : std::string()));
    }
  }
  dlerror();
  void* symbol = dlsym(handle_, name);
  if (!symbol) throw GalLibraryError(kErrEntryPointNotFound, std::string("Can't find DLL entry point ") + name + " in " + fileName_);
  return symbol;
}

int32_t DynamicGalLibrary::CreateProfileWithIProfAdmin(const std::string& mailbox, const std::string& server,
                                                       const std::string& quiet) {
  auto fn = reinterpret_cast<CreateProfileWithIProfAdminFn>(Symbol("CreateProfileWithIProfAdmin"));
  return fn(mailbox.c_str(), server.c_str(), quiet.c_str());
}

int32_t DynamicGalLibrary::GetGALCount(const std::string& profileName, const std::string& quiet) {
  auto fn = reinterpret_cast<GetGALCountFn>(Symbol("GetGALCount"));
  return fn(profileName.c_str(), quiet.c_str());
}

std::optional<galreader::ExportReport> DynamicGalLibrary::ModifyStruct(const std::string& connectionString,
                                                                       const std::string& profileName,
                                                                       const std::string& tableName,
                                                                       const std::string& quiet, int32_t ToDoCount) {
  auto fn = reinterpret_cast<ModifyStructFn>(Symbol("ModifyStruct"));
  const std::filesystem::path control = galreader::ExportControlFile();
  galreader::ClearExportControl(control);
  fn(connectionString.c_str(), profileName.c_str(), tableName.c_str(), quiet.c_str(), ToDoCount);
  return galreader::ReadExportReport(control);
}

}  // namespace corvane::service
