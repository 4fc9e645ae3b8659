#include "platform/registry/registry.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <fmt/format.h>

#include "platform/atomicfile/atomic_file.h"
#include "platform/registry/hive_format.h"

namespace corvane::registry {

namespace {

// A file descriptor closed on scope exit.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

std::string Errno(const std::filesystem::path& file, const char* what) {
  return fmt::format("{}: {}: {}", file.string(), what, std::strerror(errno));
}

std::string ReadWhole(const std::filesystem::path& file, bool& exists) {
  Fd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) {
    if (errno == ENOENT) {
      exists = false;
      return {};
    }
    throw RegistryError(Errno(file, "cannot open the registry hive"));
  }
  exists = true;
  std::string text;
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw RegistryError(Errno(file, "cannot read the registry hive"));
    }
    if (n == 0) break;
    text.append(buf, static_cast<size_t>(n));
  }
  return text;
}

HiveContents Load(const std::filesystem::path& file) {
  bool exists = false;
  std::string text = ReadWhole(file, exists);
  if (!exists) return {};
  return ParseHive(text, file.string());
}

// The file a write replaces: a hive path that is a symbolic link stands for
// the file it names (an administrator may keep the hive elsewhere), so the
// link stays and its target gets the new contents.
std::filesystem::path WriteTarget(const std::filesystem::path& file) {
  try {
    return files::LinkTarget(file);
  } catch (const std::system_error& e) {
    throw RegistryError(e.what());
  }
}

// Removes "<hive>.tmp.<pid>" files that a writer killed in the middle of a
// write left behind (each a full copy of the hive, password included).
// Only files of processes that no longer exist go: the caller holds the
// writer lock, and a live writer's file is never touched.
void RemoveStaleTemporaries(const std::filesystem::path& file) {
  const std::string prefix = file.filename().string() + ".tmp.";
  const std::filesystem::path dir = file.parent_path().empty() ? "." : file.parent_path();
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
    const std::string digits = name.substr(prefix.size());
    if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) continue;
    const pid_t pid = static_cast<pid_t>(std::stol(digits));
    if (pid <= 0 || pid == ::getpid()) continue;
    if (::kill(pid, 0) != 0 && errno == ESRCH) ::unlink(entry.path().c_str());
  }
}

// The lock file root makes for the hive belongs to the hive's owner, or for
// a new hive to the owner of the folder (the service's user, whose home it
// is); the hive itself keeps its owner the same way (AtomicWrite::keepOwner).
// Otherwise an administrator's `sudo corvane-reg add ...` would leave a hive
// the service cannot read.
void KeepOwner(int fd, const std::filesystem::path& file) {
  if (::geteuid() != 0) return;
  struct stat st {};
  const std::filesystem::path dir = file.parent_path().empty() ? "." : file.parent_path();
  if (::stat(file.c_str(), &st) != 0 && ::stat(dir.c_str(), &st) != 0) return;
  if (::fchown(fd, st.st_uid, st.st_gid) != 0) throw RegistryError(Errno(file, "cannot keep the owner of"));
}

// Replaces the hive atomically: temporary file "<hive>.tmp.<pid>" beside it,
// fsync, rename, fsync of the folder. The hive is mode 0600 (it holds a
// password) and keeps its owner.
void Store(const std::filesystem::path& file, const HiveContents& contents) {
  RemoveStaleTemporaries(file);
  files::AtomicWrite how;
  how.mode = 0600;
  how.keepOwner = true;
  try {
    files::WriteFileAtomically(file, FormatHive(contents), how);
  } catch (const std::system_error& e) {
    throw RegistryError(e.what());
  }
}

// Holds the exclusive writer lock of a hive for one read-modify-write.
class WriteLock {
 public:
  explicit WriteLock(const std::filesystem::path& file) : fd_(-1) {
    std::filesystem::path dir = file.parent_path();
    if (!dir.empty()) {
      std::error_code ec;
      std::filesystem::create_directories(dir, ec);
    }
    std::filesystem::path lock = file;
    lock += ".lock";
    Fd fd(::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (fd.get() < 0) throw RegistryError(Errno(lock, "cannot open the lock file"));
    KeepOwner(fd.get(), file);
    while (::flock(fd.get(), LOCK_EX) != 0) {
      if (errno != EINTR) throw RegistryError(Errno(lock, "cannot lock"));
    }
    fd_ = fd.release();
  }
  ~WriteLock() { ::close(fd_); }  // closing releases the lock
  WriteLock(const WriteLock&) = delete;
  WriteLock& operator=(const WriteLock&) = delete;

 private:
  int fd_;
};

template <typename Change>
auto Modify(const std::filesystem::path& file, Change change) {
  const std::filesystem::path target = WriteTarget(file);
  WriteLock lock(target);
  HiveContents contents = Load(target);
  auto result = change(contents);
  Store(target, contents);
  return result;
}

// A key path or value name as an error shows it: control characters
// written as escapes, so the message stays on one line.
std::string Shown(std::string_view name) {
  std::string out;
  for (const char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else if (c == '\t') out += "\\t";
    else if (u < 0x20 || u == 0x7F) out += fmt::format("\\x{:02x}", u);
    else out += c;
  }
  return out;
}

bool HasControlCharacter(std::string_view name) {
  for (const char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
  }
  return false;
}

// Names that a write may create: a key path is not empty, and neither it
// nor a value name holds a control character (a line break would end its
// line of the file and leave the whole hive unreadable).
void CheckKeyPath(std::string_view key) {
  if (key.empty()) throw RegistryError("a registry key path may not be empty");
  if (HasControlCharacter(key))
    throw RegistryError(fmt::format("the registry key \"{}\" holds a control character; key paths may not", Shown(key)));
}

void CheckValueName(std::string_view name) {
  if (HasControlCharacter(name))
    throw RegistryError(
        fmt::format("the registry value name \"{}\" holds a control character; value names may not", Shown(name)));
}

}  // namespace

std::string Value::AsText() const {
  if (type == ValueType::Dword) return std::to_string(dword);
  return text;
}

std::filesystem::path CorvaneHome() {
  const char* home = std::getenv("CORVANE_HOME");
  if (home && *home) return home;
  return "/var/lib/corvane";
}

Hive Hive::Machine() { return Hive(CorvaneHome() / "registry.hive"); }

Hive::Hive(std::filesystem::path file) : file_(std::move(file)) {}

std::optional<Value> Hive::Get(std::string_view key, std::string_view name) const {
  HiveContents contents = Load(file_);
  const HiveKey* k = contents.FindKey(key);
  if (!k) return std::nullopt;
  for (const auto& v : k->values)
    if (EqualsNoCase(v.name, name)) return v.value;
  return std::nullopt;
}

bool Hive::KeyExists(std::string_view key) const { return Load(file_).FindKey(key) != nullptr; }

std::vector<NamedValue> Hive::List(std::string_view key) const {
  HiveContents contents = Load(file_);
  const HiveKey* k = contents.FindKey(key);
  return k ? k->values : std::vector<NamedValue>{};
}

std::vector<std::string> Hive::Keys() const {
  std::vector<std::string> out;
  for (const auto& k : Load(file_).keys) out.push_back(k.path);
  return out;
}

void Hive::CreateKey(std::string_view key) {
  CheckKeyPath(key);
  Modify(file_, [&](HiveContents& c) {
    c.FindOrAddKey(key);
    return 0;
  });
}

void Hive::Set(std::string_view key, std::string_view name, const Value& value) {
  CheckKeyPath(key);
  CheckValueName(name);
  Modify(file_, [&](HiveContents& c) {
    HiveKey& k = c.FindOrAddKey(key);
    for (auto& v : k.values) {
      if (EqualsNoCase(v.name, name)) {
        v.value = value;
        return 0;
      }
    }
    k.values.push_back(NamedValue{std::string(name), value});
    return 0;
  });
}

bool Hive::Delete(std::string_view key, std::string_view name) {
  return Modify(file_, [&](HiveContents& c) {
    HiveKey* k = c.FindKey(key);
    if (!k) return false;
    for (auto it = k->values.begin(); it != k->values.end(); ++it) {
      if (EqualsNoCase(it->name, name)) {
        k->values.erase(it);
        return true;
      }
    }
    return false;
  });
}

bool Hive::DeleteKey(std::string_view key) {
  return Modify(file_, [&](HiveContents& c) {
    size_t before = c.keys.size();
    std::erase_if(c.keys, [&](const HiveKey& k) {
      if (EqualsNoCase(k.path, key)) return true;
      return k.path.size() > key.size() && k.path[key.size()] == '\\' && EqualsNoCase(k.path.substr(0, key.size()), key);
    });
    return c.keys.size() != before;
  });
}

}  // namespace corvane::registry
