// The registry layer: a machine-wide store of keys and typed values that
// stands in for HKEY_LOCAL_MACHINE. It lives in one text hive file that a
// person can read and edit; see hive_format.h for the layout.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::registry {

enum class ValueType : uint32_t {
  String = 1,        // REG_SZ
  ExpandString = 2,  // REG_EXPAND_SZ (stored and returned unexpanded)
  Dword = 4,         // REG_DWORD
};

struct Value {
  ValueType type = ValueType::String;
  std::string text;    // String and ExpandString
  uint32_t dword = 0;  // Dword

  static Value Sz(std::string s) { return {ValueType::String, std::move(s), 0}; }
  static Value ExpandSz(std::string s) { return {ValueType::ExpandString, std::move(s), 0}; }
  static Value Number(uint32_t n) { return {ValueType::Dword, {}, n}; }

  // The value as text: strings as they are, a DWORD in decimal.
  std::string AsText() const;
  bool operator==(const Value&) const = default;
};

struct NamedValue {
  std::string name;  // first spelling
  Value value;
};

// A hive file that is missing is empty; a hive file that cannot be read or
// parsed raises this error, naming the file and (where known) the line.
class RegistryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Names of the key under which the service keeps its parameters.
inline constexpr std::string_view kServiceKeyPath =
    "SYSTEM\\CurrentControlSet\\Services\\Corvane Service";
inline constexpr std::string_view kParametersKeyPath =
    "SYSTEM\\CurrentControlSet\\Services\\Corvane Service\\Parameters";

// The Corvane home directory: $CORVANE_HOME, default /var/lib/corvane.
std::filesystem::path CorvaneHome();

// One hive file. Every call reads the file afresh, so values written by
// another process are seen at once. Every write takes an exclusive lock on
// "<file>.lock", reads the file again, changes it and replaces it
// atomically (temporary file, fsync, rename), so concurrent writers of
// different values never lose either; temporary files that killed writers
// left behind are removed. A hive file that is a symbolic link is written
// through to the file it names. The file is created mode 0600.
// Key paths and value names compare without regard to case and keep the
// spelling they were first written with. A write refuses (RegistryError)
// an empty key path and names holding control characters.
class Hive {
 public:
  // The machine's hive: CorvaneHome()/registry.hive.
  static Hive Machine();
  explicit Hive(std::filesystem::path file);

  const std::filesystem::path& file() const { return file_; }

  std::optional<Value> Get(std::string_view key, std::string_view name) const;
  bool KeyExists(std::string_view key) const;
  // Values of a key in stored order; empty when the key does not exist.
  std::vector<NamedValue> List(std::string_view key) const;
  // All key paths in stored order.
  std::vector<std::string> Keys() const;

  // Creates the key (and nothing else) when it does not exist.
  void CreateKey(std::string_view key);
  // Creates or replaces the value; creates the key when needed.
  void Set(std::string_view key, std::string_view name, const Value& value);
  // Returns false when there was no such value.
  bool Delete(std::string_view key, std::string_view name);
  // Removes a key and every key below it; false when none existed.
  bool DeleteKey(std::string_view key);

 private:
  std::filesystem::path file_;
};

}  // namespace corvane::registry
