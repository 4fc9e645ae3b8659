#include "platform/ntservice/lock_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <system_error>

namespace corvane::ntservice {

std::unique_ptr<LockFile> LockFile::TryLock(const std::filesystem::path& file, pid_t* holder) {
  std::error_code ignored;
  std::filesystem::create_directories(file.parent_path(), ignored);
  const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) throw std::system_error(errno, std::generic_category(), "cannot open " + file.string());
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    if (holder != nullptr) {
      char text[32] = {};
      const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
      *holder = n > 0 ? static_cast<pid_t>(std::atol(text)) : 0;
    }
    ::close(fd);
    if (error == EWOULDBLOCK) return nullptr;
    throw std::system_error(error, std::generic_category(), "cannot lock " + file.string());
  }
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd, 0) == 0) {
    [[maybe_unused]] ssize_t n = ::pwrite(fd, pid.data(), pid.size(), 0);
  }
  return std::unique_ptr<LockFile>(new LockFile(fd));
}

LockFile::~LockFile() { ::close(fd_); }

}  // namespace corvane::ntservice
