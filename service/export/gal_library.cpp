#include "service/export/gal_library.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "galreader/corvane_exports.h"
#include "platform/ntservice/stop_relay.h"

namespace corvane::service {
namespace {

// The library reports nothing but its results; the directory layer inside it
// says why a logon failed in one line on standard error ("corvane-mapi: ...").
// While a tee lives, standard error runs through a pipe: every byte still
// reaches the real standard error at once, and a copy of the last lines is
// kept so that line can be named as the cause of an empty count.
class StandardErrorTee {
 public:
  StandardErrorTee() {
    std::fflush(stderr);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return;
    saved_ = ::dup(STDERR_FILENO);
    if (saved_ < 0 || ::dup2(fds[1], STDERR_FILENO) < 0) {
      ::close(fds[0]);
      ::close(fds[1]);
      if (saved_ >= 0) ::close(saved_);
      saved_ = -1;
      return;
    }
    ::close(fds[1]);
    ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
    reader_ = std::thread([this, in = fds[0]] { Copy(in); });
  }
  ~StandardErrorTee() { Stop(); }
  StandardErrorTee(const StandardErrorTee&) = delete;
  StandardErrorTee& operator=(const StandardErrorTee&) = delete;

  // Restores standard error and returns what passed through it (its last 64 KiB).
  std::string Stop() {
    if (saved_ < 0) return captured_;
    std::fflush(stderr);
    ::dup2(saved_, STDERR_FILENO);  // the pipe has no writer left but a child that inherited it
    stop_ = true;
    reader_.join();
    ::close(saved_);
    saved_ = -1;
    return captured_;
  }

 private:
  // Copies the pipe to the saved standard error until it ends, or until a
  // stop finds it empty (a child process may still hold its write end).
  void Copy(int in) {
    char buffer[4096];
    bool last = false;
    for (;;) {
      pollfd p{in, POLLIN, 0};
      ::poll(&p, 1, 50);
      const ssize_t n = ::read(in, buffer, sizeof buffer);
      if (n > 0) {
        for (ssize_t done = 0; done < n;) {
          const ssize_t w = ::write(saved_, buffer + done, static_cast<size_t>(n - done));
          if (w <= 0) break;
          done += w;
        }
        captured_.append(buffer, static_cast<size_t>(n));
        if (captured_.size() > 65536) captured_.erase(0, captured_.size() - 65536);
        continue;
      }
      if (n == 0 || last) break;
      // Seen stopped: one more read takes what was written before the stop.
      if (stop_) last = true;
    }
    ::close(in);
  }

  int saved_ = -1;
  std::thread reader_;
  std::atomic<bool> stop_{false};
  std::string captured_;
};

// The directory layer's last failure line without its prefix; warnings
// ("corvane-mapi: warning: ...") are no failure.
std::string LastDirectoryFailure(const std::string& text) {
  constexpr std::string_view kPrefix = "corvane-mapi: ";
  std::string last;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string_view line(text.data() + start, end - start);
    if (line.starts_with(kPrefix) && !line.substr(kPrefix.size()).starts_with("warning: "))
      last = std::string(line.substr(kPrefix.size()));
    start = end + 1;
  }
  return last;
}

}  // namespace

std::filesystem::path ProgramFolder() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path{} : exe.parent_path();
}

DynamicGalLibrary::DynamicGalLibrary(std::filesystem::path folder, std::string fileName)
    : folder_(std::move(folder)), fileName_(std::move(fileName)) {}

DynamicGalLibrary::~DynamicGalLibrary() {
  if (handle_) dlclose(handle_);
}

void* DynamicGalLibrary::Symbol(const char* name) {
  if (!handle_) {
    auto folder = folder_.empty() ? ProgramFolder() : folder_;
    auto besideProgram = folder / fileName_;
    handle_ = dlopen(besideProgram.c_str(), RTLD_NOW | RTLD_LOCAL);
    // Not beside the program: the library path (LD_LIBRARY_PATH, ld.so.conf).
    if (!handle_) handle_ = dlopen(fileName_.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
      const char* why = dlerror();
      throw GalLibraryError(kErrFileNotFound,
                            "File not found: " + fileName_ + (why ? std::string(" (") + why + ")" : std::string()));
    }
  }
  dlerror();
  void* symbol = dlsym(handle_, name);
  if (!symbol) throw GalLibraryError(kErrEntryPointNotFound, std::string("Can't find DLL entry point ") + name + " in " + fileName_);
  return symbol;
}

int32_t DynamicGalLibrary::CreateProfileWithIProfAdmin(const std::string& mailbox, const std::string& server,
                                                       const std::string& quiet) {
  auto fn = reinterpret_cast<CreateProfileWithIProfAdminFn>(Symbol("CreateProfileWithIProfAdmin"));
  return fn(mailbox.c_str(), server.c_str(), quiet.c_str());
}

int32_t DynamicGalLibrary::GetGALCount(const std::string& profileName, const std::string& quiet) {
  auto fn = reinterpret_cast<GetGALCountFn>(Symbol("GetGALCount"));
  lastFailure_.clear();
  StandardErrorTee tee;
  const int32_t count = fn(profileName.c_str(), quiet.c_str());
  const std::string said = tee.Stop();
  if (count == 0) lastFailure_ = LastDirectoryFailure(said);
  return count;
}

std::optional<galreader::ExportReport> DynamicGalLibrary::ModifyStruct(const std::string& connectionString,
                                                                       const std::string& profileName,
                                                                       const std::string& tableName,
                                                                       const std::string& quiet, int32_t ToDoCount) {
  auto fn = reinterpret_cast<ModifyStructFn>(Symbol("ModifyStruct"));
  const std::filesystem::path control = galreader::ExportControlFile();
  galreader::ClearExportControl(control);
  {
    // A stop this process receives during the call reaches the library
    // through the control file; another process's stop never does.
    const ntservice::StopRelay relay(control, std::string(galreader::kExportStopRequest));
    fn(connectionString.c_str(), profileName.c_str(), tableName.c_str(), quiet.c_str(), ToDoCount);
  }
  return galreader::ReadExportReport(control);
}

}  // namespace corvane::service
