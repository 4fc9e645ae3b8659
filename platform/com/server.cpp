#include "platform/com/server.h"

#include <dlfcn.h>

namespace corvane::com {

struct ServerLibrary::Loaded {};

namespace {

std::string ClassKey(std::string_view progId) { return std::string(kClassesKey) + "\\" + std::string(progId); }

}  // namespace

void RegisterServer(registry::Hive& hive, std::string_view progId, const std::filesystem::path& library) {
  hive.Set(ClassKey(progId), kInprocServerValue, registry::Value::Sz(library.string()));
}

bool UnregisterServer(registry::Hive& hive, std::string_view progId) { return hive.DeleteKey(ClassKey(progId)); }

std::optional<std::filesystem::path> RegisteredServer(const registry::Hive& hive, std::string_view progId) {
  auto value = hive.Get(ClassKey(progId), kInprocServerValue);
  if (!value || value->AsText().empty()) return std::nullopt;
  return std::filesystem::path(value->AsText());
}

std::filesystem::path LibraryContaining(const void* address) {
  Dl_info info{};
  if (::dladdr(address, &info) == 0 || info.dli_fname == nullptr) return {};
  return std::filesystem::absolute(info.dli_fname).lexically_normal();
}

std::shared_ptr<ServerLibrary> ServerLibrary::Load(const std::filesystem::path& file, std::string* error) {
  // A bare file name would be looked up on the loader's search path.
  std::filesystem::path path = file.has_parent_path() ? file : std::filesystem::path(".") / file;
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = ::dlerror();
    *error = why != nullptr ? why : "cannot load " + file.string();
    return nullptr;
  }
  return std::make_shared<ServerLibrary>(Loaded{}, handle);
}

ServerLibrary::~ServerLibrary() {
  auto canUnloadNow = Export<DllCanUnloadNowFunction>("DllCanUnloadNow");
  if (canUnloadNow == nullptr || canUnloadNow() == S_OK) ::dlclose(handle_);
}

void* ServerLibrary::Symbol(const char* name) const { return ::dlsym(handle_, name); }

}  // namespace corvane::com
