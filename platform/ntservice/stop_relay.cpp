#include "platform/ntservice/stop_relay.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <mutex>
#include <system_error>
#include <thread>

namespace corvane::ntservice {
namespace {

volatile std::sig_atomic_t g_stopSignalled = 0;
// The pipe a stop wakes the relay through; made once and kept for the life
// of the process, so a handler never writes to a descriptor being closed.
int g_wake[2] = {-1, -1};
std::once_flag g_wakeMade;

void MakeWakePipe() {
  std::call_once(g_wakeMade, [] {
    if (::pipe2(g_wake, O_CLOEXEC | O_NONBLOCK) != 0) g_wake[0] = g_wake[1] = -1;
  });
}

void Drain(int fd) {
  char buffer[64];
  while (::read(fd, buffer, sizeof buffer) > 0) {
  }
}

}  // namespace

void RecordStopSignal() {
  const int saved = errno;
  g_stopSignalled = 1;
  if (g_wake[1] >= 0) {
    const char byte = 1;
    // A full pipe already holds a wake-up.
    [[maybe_unused]] ssize_t n = ::write(g_wake[1], &byte, 1);
  }
  errno = saved;
}

bool StopSignalled() { return g_stopSignalled != 0; }

struct StopRelay::Impl {
  std::filesystem::path file;
  std::string note;
  int quit = -1;  // an eventfd: the relay ends
  std::thread thread;

  void WriteNote() const {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return;  // the work's report is there: it has ended
    [[maybe_unused]] ssize_t n = ::write(fd, note.data(), note.size());
    ::close(fd);
  }

  void Wait() const {
    pollfd fds[2] = {{g_wake[0], POLLIN, 0}, {quit, POLLIN, 0}};
    for (;;) {
      if (StopSignalled()) {
        WriteNote();
        return;
      }
      fds[0].revents = fds[1].revents = 0;
      if (::poll(fds, 2, -1) < 0 && errno != EINTR) return;
      if (fds[0].revents != 0) Drain(g_wake[0]);
      if (fds[1].revents != 0) {
        if (StopSignalled()) WriteNote();  // a stop that came just before the end
        return;
      }
    }
  }
};

StopRelay::StopRelay(std::filesystem::path file, std::string note) : impl_(std::make_unique<Impl>()) {
  MakeWakePipe();
  impl_->file = std::move(file);
  impl_->note = std::move(note);
  if (g_wake[0] < 0) throw std::system_error(EMFILE, std::generic_category(), "no pipe for the stop relay");
  impl_->quit = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (impl_->quit < 0) throw std::system_error(errno, std::generic_category(), "no eventfd for the stop relay");
  impl_->thread = std::thread([impl = impl_.get()] { impl->Wait(); });
}

StopRelay::~StopRelay() {
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(impl_->quit, &one, sizeof one);
  impl_->thread.join();
  ::close(impl_->quit);
}

}  // namespace corvane::ntservice
