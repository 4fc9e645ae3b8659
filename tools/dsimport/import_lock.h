// One import per target at a time. dsimport holds a lock on a file of the
// Corvane home named after the target (directory, base point, container)
// while it reads the list file and changes the group, so a later import
// waits for an earlier one and then reads the list as it is by then: the
// newest list wins, and two imports never mix their changes. The kernel
// releases the lock when its holder ends, however it ends.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <string>

namespace corvane::dsimport {

class TargetLock {
 public:
  // The lock file of a target in `folder`: "dsimport-<16 hex digits>.lock".
  static std::filesystem::path FileFor(const std::filesystem::path& folder, const std::string& dsa,
                                       const std::string& base_point, const std::string& container);

  // Takes the lock on `file`, waiting for as long as another process
  // holds it; `waiting` is called once before the wait with the holder's
  // process id (0 when unknown). Throws std::system_error when the file
  // cannot be opened or locked.
  static TargetLock Acquire(const std::filesystem::path& file, const std::function<void(pid_t holder)>& waiting);
  ~TargetLock();
  TargetLock(TargetLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  TargetLock(const TargetLock&) = delete;
  TargetLock& operator=(const TargetLock&) = delete;
  TargetLock& operator=(TargetLock&&) = delete;

 private:
  explicit TargetLock(int fd) : fd_(fd) {}
  int fd_;
};

}  // namespace corvane::dsimport
