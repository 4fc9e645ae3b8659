#include "platform/atomicfile/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace corvane::files {

void WriteFileAtomically(const std::filesystem::path& file, const std::string& text, mode_t mode) {
  std::filesystem::path temp = file;
  temp += ".tmp";
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) throw std::system_error(errno, std::generic_category(), "cannot create " + temp.string());
  size_t done = 0;
  int error = 0;
  while (done < text.size() && error == 0) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno != EINTR) error = errno;
    if (n > 0) done += static_cast<size_t>(n);
  }
  // The mode asked for, whatever the umask took away or an older file had.
  if (error == 0 && ::fchmod(fd, mode) != 0) error = errno;
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && ::rename(temp.c_str(), file.c_str()) != 0) error = errno;
  if (error != 0) {
    ::unlink(temp.c_str());
    throw std::system_error(error, std::generic_category(), "cannot write " + file.string());
  }
}

}  // namespace corvane::files
