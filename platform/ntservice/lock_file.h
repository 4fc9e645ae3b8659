// An exclusive lock on a file (flock), held while the object lives and
// released by the kernel when the process ends, however it ends, so a
// killed holder never leaves a stale lock behind. The holder writes its
// process id into the file, so a refused locker can say who holds it.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <memory>

namespace corvane::ntservice {

class LockFile {
 public:
  // The lock on `file` (created, with its folder, when missing), or nullptr
  // when another process (or another LockFile of this one) holds it; then
  // *holder, when given, is the holder's process id (0 when unknown).
  // Throws std::system_error when the file cannot be opened.
  static std::unique_ptr<LockFile> TryLock(const std::filesystem::path& file, pid_t* holder = nullptr);
  ~LockFile();
  LockFile(const LockFile&) = delete;
  LockFile& operator=(const LockFile&) = delete;

 private:
  explicit LockFile(int fd) : fd_(fd) {}
  int fd_;
};

}  // namespace corvane::ntservice
