#include "wizard/hive_parameter_store.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fmt/format.h>

namespace corvane::wizard {

namespace {

namespace fs = std::filesystem;

std::optional<Failure> Denied(const fs::path& path, const char* what) {
  const int number = errno;
  return Failure{number, fmt::format("{} {}: {}", what, path.string(), std::strerror(number))};
}

}  // namespace

std::optional<Failure> HiveParameterStore::CheckAccess() {
  const fs::path& file = hive_.file();
  std::error_code ec;
  if (fs::exists(file, ec)) {
    if (::access(file.c_str(), R_OK | W_OK) != 0) return Denied(file, "Cannot read and write the settings file");
    try {
      hive_.KeyExists(registry::kParametersKeyPath);
    } catch (const registry::RegistryError& e) {
      return Failure{EIO, e.what()};
    }
  }
  // Every write replaces the file through a new file beside it.
  fs::path folder = file.parent_path().empty() ? fs::path(".") : file.parent_path();
  while (!fs::exists(folder, ec) && folder.has_parent_path() && folder != folder.parent_path())
    folder = folder.parent_path();
  if (::access(folder.c_str(), W_OK) != 0) return Denied(folder, "Cannot write in the settings folder");
  return std::nullopt;
}

std::optional<std::string> HiveParameterStore::Read(std::string_view name) {
  try {
    if (auto value = hive_.Get(registry::kParametersKeyPath, name)) return value->AsText();
  } catch (const registry::RegistryError&) {
    // Unreadable reads as missing; CheckAccess has said why.
  }
  return std::nullopt;
}

std::optional<Failure> HiveParameterStore::Write(std::string_view name, std::string_view text,
                                                 registry::ValueType type) {
  errno = 0;
  try {
    hive_.Set(registry::kParametersKeyPath, name, registry::Value{type, std::string(text), 0});
    return std::nullopt;
  } catch (const std::exception& e) {
    return Failure{errno != 0 ? errno : EIO, e.what()};
  }
}

}  // namespace corvane::wizard
