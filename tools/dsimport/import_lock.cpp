#include "tools/dsimport/import_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <system_error>

#include <fmt/format.h>

namespace corvane::dsimport {
namespace {

// FNV-1a over the target's texts (ASCII case ignored), so the same target
// always gives the same name, whichever build of dsimport computes it.
uint64_t TargetHash(const std::string& text) {
  uint64_t h = 14695981039346656037ull;
  for (unsigned char c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
    h = (h ^ c) * 1099511628211ull;
  }
  return h;
}

pid_t ReadHolder(int fd) {
  char text[32] = {};
  ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
  return n > 0 ? static_cast<pid_t>(std::atol(text)) : 0;
}

}  // namespace

std::filesystem::path TargetLock::FileFor(const std::filesystem::path& folder, const std::string& dsa,
                                          const std::string& base_point, const std::string& container) {
  return folder / fmt::format("dsimport-{:016x}.lock", TargetHash(dsa + '\n' + base_point + '\n' + container));
}

TargetLock TargetLock::Acquire(const std::filesystem::path& file, const std::function<void(pid_t holder)>& waiting) {
  int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) throw std::system_error(errno, std::generic_category(), "cannot open the lock file " + file.string());
  TargetLock lock(fd);  // closes the file on every way out
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK)
      throw std::system_error(errno, std::generic_category(), "cannot lock " + file.string());
    if (waiting) waiting(ReadHolder(fd));
    while (::flock(fd, LOCK_EX) != 0) {
      if (errno != EINTR) throw std::system_error(errno, std::generic_category(), "cannot lock " + file.string());
    }
  }
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
    // Only the name of the holder in a message is lost; the lock holds.
  }
  return lock;
}

TargetLock::~TargetLock() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace corvane::dsimport
