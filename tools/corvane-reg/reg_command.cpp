#include "tools/corvane-reg/reg_command.h"

#include <fmt/format.h>

#include <algorithm>
#include <istream>
#include <optional>
#include <ostream>

#include "platform/registry/hive_format.h"
#include "service/parameters/parameter_reference.h"

namespace corvane::tools {

namespace {

using registry::EqualsNoCase;
using registry::Value;
using registry::ValueType;

constexpr const char* kUsage =
    "Usage:\n"
    "  corvane-reg query  [KEY] [/v NAME | /s]\n"
    "  corvane-reg add    [KEY] /v NAME [/t REG_SZ|REG_EXPAND_SZ|REG_DWORD] /d DATA [/f]\n"
    "  corvane-reg delete [KEY] /v NAME [/f]\n"
    "  corvane-reg delete KEY [/f]          (the key with every key below it)\n"
    "KEY defaults to HKLM\\SYSTEM\\CurrentControlSet\\Services\\Corvane Service\\Parameters\n"
    "/s lists the key and every key below it, with their values.\n"
    "The registry is the file $CORVANE_HOME/registry.hive (default /var/lib/corvane).\n"
    "The values of the parameters key are described in corvane-parameters(5).\n";

constexpr const char* kNotFound = "ERROR: The system was unable to find the specified registry key or value.\n";

// reg.exe's message, and the file it looked in: a wrong CORVANE_HOME shows.
void NotFound(const registry::Hive& hive, std::ostream& err) {
  err << kNotFound << "(looked in " << hive.file().string() << ")\n";
}

struct Options {
  std::string command;
  std::string key{registry::kParametersKeyPath};
  bool keyGiven = false;
  std::optional<std::string> name, type, data;
  bool force = false;
  bool subkeys = false;
};

std::string StripHive(std::string key) {
  for (std::string_view prefix : {"HKEY_LOCAL_MACHINE\\", "HKLM\\"}) {
    if (key.size() >= prefix.size() && EqualsNoCase(key.substr(0, prefix.size()), prefix)) return key.substr(prefix.size());
  }
  return key;
}

std::optional<Options> Parse(const std::vector<std::string>& args, std::ostream& err) {
  if (args.empty()) {
    err << kUsage;
    return std::nullopt;
  }
  Options o;
  o.command = args[0];
  size_t i = 1;
  if (i < args.size() && !args[i].starts_with('/')) {
    o.key = StripHive(args[i++]);
    o.keyGiven = true;
  }
  for (; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto takeValue = [&](std::optional<std::string>& slot) {
      if (i + 1 >= args.size()) return false;
      slot = args[++i];
      return true;
    };
    bool ok = true;
    if (EqualsNoCase(a, "/v")) ok = takeValue(o.name);
    else if (EqualsNoCase(a, "/t")) ok = takeValue(o.type);
    else if (EqualsNoCase(a, "/d")) ok = takeValue(o.data);
    else if (EqualsNoCase(a, "/f")) o.force = true;
    else if (EqualsNoCase(a, "/s")) o.subkeys = true;
    else ok = false;
    if (!ok) {
      err << "ERROR: Invalid syntax: " << a << "\n" << kUsage;
      return std::nullopt;
    }
  }
  return o;
}

const char* TypeName(ValueType t) {
  switch (t) {
    case ValueType::String: return "REG_SZ";
    case ValueType::ExpandString: return "REG_EXPAND_SZ";
    case ValueType::Dword: return "REG_DWORD";
  }
  return "REG_SZ";
}

std::string Shown(const Value& v) {
  if (v.type == ValueType::Dword) return fmt::format("0x{:x}", v.dword);
  return v.text;
}

bool Confirm(const std::string& question, std::istream& in, std::ostream& out) {
  out << question << " (Yes/No)? " << std::flush;
  std::string answer;
  if (!std::getline(in, answer)) return false;
  return EqualsNoCase(answer, "y") || EqualsNoCase(answer, "yes");
}

std::optional<uint32_t> ParseDword(const std::string& text) {
  try {
    size_t used = 0;
    unsigned long long n = std::stoull(text, &used, 0);
    if (used != text.size() || n > 0xFFFFFFFFull || text.starts_with('-')) return std::nullopt;
    return static_cast<uint32_t>(n);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

// Whether `path` is `key` itself (below = false) or lies below it.
bool Within(const std::string& path, const std::string& key, bool below) {
  if (path.size() == key.size()) return !below && EqualsNoCase(path, key);
  return path.size() > key.size() && path[key.size()] == '\\' && EqualsNoCase(path.substr(0, key.size()), key);
}

// A key exists when it was created or when a key below it was.
bool Exists(const registry::Hive& hive, const std::string& key) {
  for (const auto& k : hive.Keys())
    if (Within(k, key, false)) return true;
  return false;
}

void ListValues(const registry::Hive& hive, const std::string& key, std::ostream& out) {
  out << "\nHKEY_LOCAL_MACHINE\\" << key << "\n";
  for (const auto& v : hive.List(key)) out << fmt::format("    {}    {}    {}\n", v.name, TypeName(v.value.type), Shown(v.value));
}

int Query(const Options& o, registry::Hive& hive, std::ostream& out, std::ostream& err) {
  if (!Exists(hive, o.key)) {
    NotFound(hive, err);
    return 1;
  }
  if (o.subkeys) {
    // The key and every key below it, each with its values, as reg.exe /s.
    ListValues(hive, o.key, out);
    for (const auto& k : hive.Keys())
      if (Within(k, o.key, true)) ListValues(hive, k, out);
    out << "\n";
    return 0;
  }
  out << "\nHKEY_LOCAL_MACHINE\\" << o.key << "\n";
  bool found = false;
  for (const auto& v : hive.List(o.key)) {
    if (o.name && !EqualsNoCase(v.name, *o.name)) continue;
    found = true;
    out << fmt::format("    {}    {}    {}\n", v.name, TypeName(v.value.type), Shown(v.value));
  }
  if (o.name && !found) {
    NotFound(hive, err);
    return 1;
  }
  // The keys one level down, as reg.exe lists them.
  std::vector<std::string> children;
  for (const auto& k : hive.Keys()) {
    if (!Within(k, o.key, true)) continue;
    std::string child = k.substr(0, k.find('\\', o.key.size() + 1));
    if (std::none_of(children.begin(), children.end(), [&](const auto& c) { return EqualsNoCase(c, child); }))
      children.push_back(child);
  }
  for (const auto& child : children) out << "\nHKEY_LOCAL_MACHINE\\" << child << "\n";
  out << "\n";
  return 0;
}

int Add(const Options& o, registry::Hive& hive, std::istream& in, std::ostream& out, std::ostream& err) {
  if (!o.name || !o.data) {
    err << "ERROR: add needs /v NAME and /d DATA\n" << kUsage;
    return 1;
  }
  Value value;
  std::string type = o.type.value_or("REG_SZ");
  if (EqualsNoCase(type, "REG_SZ")) {
    value = Value::Sz(*o.data);
  } else if (EqualsNoCase(type, "REG_EXPAND_SZ")) {
    value = Value::ExpandSz(*o.data);
  } else if (EqualsNoCase(type, "REG_DWORD")) {
    auto n = ParseDword(*o.data);
    if (!n) {
      err << "ERROR: Invalid REG_DWORD data: " << *o.data << "\n";
      return 1;
    }
    value = Value::Number(*n);
  } else {
    err << "ERROR: Invalid type " << type << " (use REG_SZ, REG_EXPAND_SZ or REG_DWORD)\n";
    return 1;
  }
  // A value of the parameters key that the service would not read, or not
  // read as meant, is still written (as reg.exe would), with a warning.
  if (EqualsNoCase(o.key, registry::kParametersKeyPath)) {
    if (!parameters::IsKnownParameter(*o.name)) {
      err << "WARNING: " << parameters::UnknownNameWarning(*o.name) << "\n";
    } else if (auto problem = parameters::ValueProblem(*o.name, value.AsText())) {
      err << "WARNING: " << *o.name << ": " << *problem << "\n";
    }
  }
  if (!o.force && hive.Get(o.key, *o.name) &&
      !Confirm(fmt::format("Value {} exists, overwrite", *o.name), in, out)) {
    out << "The operation was cancelled.\n";
    return 1;
  }
  hive.Set(o.key, *o.name, value);
  out << "The operation completed successfully.\n";
  return 0;
}

int Delete(const Options& o, registry::Hive& hive, std::istream& in, std::ostream& out, std::ostream& err) {
  if (!o.name) {
    // A whole key goes only when it is named: the parameters key is never
    // removed by a forgotten /v.
    if (!o.keyGiven) {
      err << "ERROR: delete needs a KEY or /v NAME\n" << kUsage;
      return 1;
    }
    if (!Exists(hive, o.key)) {
      NotFound(hive, err);
      return 1;
    }
    if (!o.force && !Confirm("Permanently delete the registry key HKEY_LOCAL_MACHINE\\" + o.key, in, out)) {
      out << "The operation was cancelled.\n";
      return 1;
    }
    hive.DeleteKey(o.key);
    out << "The operation completed successfully.\n";
    return 0;
  }
  if (!hive.Get(o.key, *o.name)) {
    NotFound(hive, err);
    return 1;
  }
  if (!o.force && !Confirm(fmt::format("Delete the registry value {}", *o.name), in, out)) {
    out << "The operation was cancelled.\n";
    return 1;
  }
  hive.Delete(o.key, *o.name);
  out << "The operation completed successfully.\n";
  return 0;
}

}  // namespace

const char* RegUsage() { return kUsage; }

int RunRegCommand(const std::vector<std::string>& args, registry::Hive& hive, std::istream& in, std::ostream& out,
                  std::ostream& err) {
  auto o = Parse(args, err);
  if (!o) return 1;
  try {
    if (EqualsNoCase(o->command, "query")) return Query(*o, hive, out, err);
    if (EqualsNoCase(o->command, "add")) return Add(*o, hive, in, out, err);
    if (EqualsNoCase(o->command, "delete")) return Delete(*o, hive, in, out, err);
  } catch (const registry::RegistryError& e) {
    err << "ERROR: " << e.what() << "\n";
    return 1;
  }
  err << "ERROR: Invalid operation " << o->command << "\n" << kUsage;
  return 1;
}

}  // namespace corvane::tools
