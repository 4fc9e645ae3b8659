#include "platform/ntservice/signal_bridge.h"

#include "platform/ntservice/stop_relay.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <stdexcept>
#include <system_error>

#include <QSocketNotifier>

namespace corvane::ntservice {
namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGUSR1, SIGUSR2};
volatile int g_writeFd = -1;
extern "C" void OnSignal(int signal) {
  int saved = errno;
  if (signal == SIGTERM || signal == SIGINT) RecordStopSignal();
  unsigned char byte = static_cast<unsigned char>(signal);
  if (g_writeFd >= 0) {
    // A full pipe only drops a repeated request; nothing to do about it here.
    [[maybe_unused]] ssize_t n = ::write(g_writeFd, &byte, 1);
  }
  errno = saved;
}

}  // namespace

struct SignalBridge::Impl {
  int fds[2] = {-1, -1};
  std::unique_ptr<QSocketNotifier> notifier;
  std::function<void(int)> handler;
  struct sigaction previous[std::size(kSignals)] = {};
};

SignalBridge::SignalBridge(std::function<void(int)> handler) : impl_(std::make_unique<Impl>()) {
  if (g_writeFd >= 0) throw std::logic_error("only one signal bridge may exist");
  if (::pipe2(impl_->fds, O_CLOEXEC | O_NONBLOCK) != 0) throw std::system_error(errno, std::generic_category(), "pipe2");
  impl_->handler = std::move(handler);
  impl_->notifier = std::make_unique<QSocketNotifier>(impl_->fds[0], QSocketNotifier::Read);
  Impl* impl = impl_.get();
  QObject::connect(impl->notifier.get(), &QSocketNotifier::activated, impl->notifier.get(), [impl] {
    unsigned char buffer[64];
    ssize_t n;
    while ((n = ::read(impl->fds[0], buffer, sizeof buffer)) > 0) {
      for (ssize_t i = 0; i < n; ++i) impl->handler(buffer[i]);
    }
  });
  g_writeFd = impl_->fds[1];

  struct sigaction action = {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &action, &impl_->previous[i]);
}

SignalBridge::~SignalBridge() {
  for (size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &impl_->previous[i], nullptr);
  g_writeFd = -1;
  impl_->notifier.reset();
  ::close(impl_->fds[0]);
  ::close(impl_->fds[1]);
}

}  // namespace corvane::ntservice
