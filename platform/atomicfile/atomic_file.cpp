#include "platform/atomicfile/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>
#include <system_error>

namespace corvane::files {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void Fail(int error, const std::string& what, const fs::path& path) {
  throw std::system_error(error, std::generic_category(), what + " " + path.string());
}

fs::path FolderOf(const fs::path& file) { return file.parent_path().empty() ? fs::path(".") : file.parent_path(); }

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
  // Closes now; the close's errno, 0 when it succeeded.
  int Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0 ? 0 : errno;
  }

 private:
  int fd_;
};

std::string TemporaryName(const fs::path& file, const AtomicWrite& how) {
  std::string unique;
  if (how.randomTemporary) {
    static thread_local std::mt19937 random{std::random_device{}()};
    char digits[9];
    std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(random()));
    unique = digits;
  } else {
    unique = std::to_string(::getpid());
  }
  return (how.hiddenTemporary ? "." : "") + file.filename().string() + how.temporaryTag + unique;
}

// Opens a fresh temporary file beside `file`; its path goes to `temp`.
// A random name is never shared: one that is taken is drawn again. A
// process's own name may hold what a killed process of the same number
// left, which is replaced.
int OpenTemporary(const fs::path& file, const AtomicWrite& how, fs::path& temp) {
  for (int attempt = 0; attempt < 16; ++attempt) {
    temp = file.parent_path() / TemporaryName(file, how);
    const int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | (how.randomTemporary ? O_EXCL : O_TRUNC);
    const int fd = ::open(temp.c_str(), flags, how.mode & 0777);
    if (fd >= 0 || errno != EEXIST || !how.randomTemporary) return fd;
  }
  errno = EEXIST;
  return -1;
}

// The owner and group the new file is given when root writes it: the
// existing file's, else the folder's.
bool OwnerFor(const fs::path& file, uid_t& uid, gid_t& gid) {
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0 && ::stat(FolderOf(file).c_str(), &st) != 0) return false;
  uid = st.st_uid;
  gid = st.st_gid;
  return true;
}

void WriteAll(int fd, std::string_view text, const fs::path& temp) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Fail(errno, "cannot write", temp);
    done += static_cast<size_t>(n);
  }
}

}  // namespace

fs::path LinkTarget(const fs::path& file) {
  fs::path target = file;
  for (int hops = 0; hops < 40; ++hops) {
    std::error_code ec;
    if (!fs::is_symlink(fs::symlink_status(target, ec))) return target;
    const fs::path next = fs::read_symlink(target, ec);
    if (ec) throw std::system_error(ec, "cannot read the symbolic link " + target.string());
    target = next.is_absolute() ? next : target.parent_path() / next;
  }
  throw std::system_error(ELOOP, std::generic_category(), "cannot follow the symbolic link " + file.string());
}

void WriteFileAtomically(const fs::path& named, std::string_view text, const AtomicWrite& how) {
  const fs::path file = how.throughSymlink ? LinkTarget(named) : named;
  mode_t mode = how.mode & 07777;
  struct stat existing {};
  if (how.keepMode && ::stat(file.c_str(), &existing) == 0) mode = existing.st_mode & 07777;

  fs::path temp;
  Fd fd(OpenTemporary(file, how, temp));
  if (fd.get() < 0) Fail(errno, "cannot create", temp);
  try {
    uid_t uid = 0;
    gid_t gid = 0;
    if (how.keepOwner && ::geteuid() == 0 && OwnerFor(file, uid, gid) && ::fchown(fd.get(), uid, gid) != 0)
      Fail(errno, "cannot keep the owner of", file);
    // The mode asked for, whatever the umask took away (after the owner:
    // a change of owner may clear set-id bits).
    if (::fchmod(fd.get(), mode) != 0) Fail(errno, "cannot set the mode of", temp);
    WriteAll(fd.get(), text, temp);
    if (how.syncFile && ::fsync(fd.get()) != 0) Fail(errno, "cannot flush", temp);
    if (const int error = fd.Close(); error != 0) Fail(error, "cannot write", temp);
    if (::rename(temp.c_str(), file.c_str()) != 0) Fail(errno, "cannot replace", file);
  } catch (...) {
    ::unlink(temp.c_str());
    throw;
  }
  if (how.syncFolder) {
    // The rename is done; a folder that cannot be flushed only loses the
    // guarantee for a power cut, which is not worth failing the write.
    Fd folder(::open(FolderOf(file).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() >= 0) ::fsync(folder.get());
  }
}

void MakeFolders(const fs::path& folder, mode_t mode) {
  if (folder.empty()) return;
  std::error_code ec;
  if (fs::is_directory(folder, ec)) return;
  if (folder.has_parent_path() && folder.parent_path() != folder) MakeFolders(folder.parent_path(), mode);
  if (::mkdir(folder.c_str(), mode & 07777) != 0) {
    if (errno == EEXIST && fs::is_directory(folder, ec)) return;  // made a moment ago by another writer
    Fail(errno, "cannot create the folder", folder);
  }
  if (::chmod(folder.c_str(), mode & 07777) != 0) Fail(errno, "cannot set the mode of", folder);
}

bool EnsureFileMode(const fs::path& file, mode_t mode) {
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, mode & 07777);
  if (fd < 0) return false;
  const bool done = ::fchmod(fd, mode & 07777) == 0;
  const int error = errno;
  ::close(fd);
  errno = error;
  return done;
}

}  // namespace corvane::files
