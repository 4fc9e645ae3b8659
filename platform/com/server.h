// In-process server libraries: what a component library exports, how it is
// registered, and how a program loads one.
//
// A server library exports four C functions:
//   int32_t DllRegisterServer();    writes its identifiers with its own path
//   int32_t DllUnregisterServer();  removes them
//   int32_t DllGetClassObject(const char* progId, corvane::com::ClassFactory** factory);
//                                   the factory of that identifier (owned by the library)
//   int32_t DllCanUnloadNow();      S_OK when none of its objects lives, else S_FALSE
//
// Registration is the key SOFTWARE\Classes\<progId> of the machine's
// registry with the value "InprocServer32": the library's absolute path.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/com/com.h"
#include "platform/registry/registry.h"

namespace corvane::com {

// HRESULTs of the exports, as signed 32-bit numbers.
inline constexpr int32_t S_OK = 0;
inline constexpr int32_t S_FALSE = 1;
inline constexpr int32_t E_POINTER = -2147467261;                  // 0x80004003: no place for the result
inline constexpr int32_t CLASS_E_CLASSNOTAVAILABLE = -2147221231;  // 0x80040111: not an identifier it serves
inline constexpr int32_t SELFREG_E_CLASS = -2147220991;            // 0x80040201: registration failed

// Makes the objects of one identifier.
class ClassFactory {
 public:
  virtual ~ClassFactory() = default;
  // A new object; may throw when it cannot be made.
  virtual std::unique_ptr<Object> CreateInstance() = 0;
};

using DllRegisterServerFunction = int32_t (*)();
using DllUnregisterServerFunction = int32_t (*)();
using DllGetClassObjectFunction = int32_t (*)(const char* progId, ClassFactory** factory);
using DllCanUnloadNowFunction = int32_t (*)();

inline constexpr const char* kClassesKey = "SOFTWARE\\Classes";
inline constexpr const char* kInprocServerValue = "InprocServer32";

// Registers `library` for `progId` (replacing an earlier registration).
// Throws registry::RegistryError when the hive cannot be written.
void RegisterServer(registry::Hive& hive, std::string_view progId, const std::filesystem::path& library);
// Removes the registration of `progId`; false when there was none.
bool UnregisterServer(registry::Hive& hive, std::string_view progId);
// The library registered for `progId`, if any.
std::optional<std::filesystem::path> RegisteredServer(const registry::Hive& hive, std::string_view progId);

// The absolute path of the loaded library that contains `address`: a
// server's DllRegisterServer finds its own file with it.
std::filesystem::path LibraryContaining(const void* address);

// A server library loaded with dlopen. When the last reference goes it is
// unloaded, unless its DllCanUnloadNow says objects of it still live.
class ServerLibrary {
 public:
  // Loads the library; nullptr with *error set (the loader's words) when it cannot.
  static std::shared_ptr<ServerLibrary> Load(const std::filesystem::path& file, std::string* error);
  ~ServerLibrary();
  struct Loaded;  // only Load makes one
  ServerLibrary(const Loaded&, void* handle) : handle_(handle) {}
  ServerLibrary(const ServerLibrary&) = delete;
  ServerLibrary& operator=(const ServerLibrary&) = delete;

  // An exported function, nullptr when the library does not export it.
  template <class Function>
  Function Export(const char* name) const {
    return reinterpret_cast<Function>(Symbol(name));
  }

 private:
  void* Symbol(const char* name) const;
  void* handle_;
};

}  // namespace corvane::com
