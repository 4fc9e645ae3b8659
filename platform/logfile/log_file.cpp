#include "platform/logfile/log_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace corvane::logfile {

namespace {

int OpenForAppend(const std::filesystem::path& file, mode_t mode) {
  return ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, mode);
}

// The file behind `fd` has reached the rotation size and is still the one
// named `file` (another writer may have rotated it a moment ago).
bool DueForRotation(int fd, const std::filesystem::path& file) {
  struct stat opened {}, named {};
  if (::fstat(fd, &opened) != 0 || static_cast<std::uintmax_t>(opened.st_size) < kLogRotateBytes) return false;
  return ::stat(file.c_str(), &named) == 0 && named.st_ino == opened.st_ino && named.st_dev == opened.st_dev;
}

}  // namespace

std::filesystem::path PreviousLogFile(const std::filesystem::path& file) {
  std::filesystem::path previous = file;
  previous += ".1";
  return previous;
}

bool AppendToLog(const std::filesystem::path& file, std::string_view text, mode_t mode) {
  int fd = OpenForAppend(file, mode);
  if (fd < 0) return false;
  if (DueForRotation(fd, file)) {
    ::close(fd);
    ::rename(file.c_str(), PreviousLogFile(file).c_str());
    fd = OpenForAppend(file, mode);
    if (fd < 0) return false;
  }
  size_t done = 0;
  bool ok = true;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (::close(fd) != 0) ok = false;
  return ok;
}

}  // namespace corvane::logfile
