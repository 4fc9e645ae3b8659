#include "platform/ntservice/event_loop.h"

#include <QCoreApplication>
#include <QTimer>

namespace corvane::ntservice {
namespace {

// A Qt timer whose ticks may nest. Qt never re-enters a timer's own
// handler while it runs, so a tick that falls due during a long tick would
// be lost; instead each timeout posts the tick as a queued call, which a
// nested processEvents delivers like any other pending message. A tick
// that is already queued is not queued twice.
class QtTimer : public Timer {
 public:
  explicit QtTimer(int intervalMilliseconds) {
    timer_.setInterval(intervalMilliseconds);
    QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] { QueueTick(); });
  }

  void SetInterval(int milliseconds) override {
    // QTimer restarts its period on every setInterval while active; only a
    // real change should do that.
    if (milliseconds != timer_.interval()) timer_.setInterval(milliseconds);
  }
  int Interval() const override { return timer_.interval(); }
  void SetEnabled(bool enabled) override {
    if (enabled && !timer_.isActive()) timer_.start();
    if (!enabled) timer_.stop();
  }
  bool Enabled() const override { return timer_.isActive(); }

 private:
  void QueueTick() {
    if (pending_) return;
    pending_ = true;
    QMetaObject::invokeMethod(
        &timer_,
        [this] {
          pending_ = false;
          if (timer_.isActive() && OnTick) OnTick();
        },
        Qt::QueuedConnection);
  }

  QTimer timer_;
  bool pending_ = false;
};

}  // namespace

struct EventLoop::Impl {
  Impl(int& argc, char** argv) : app(argc, argv) {}
  QCoreApplication app;
};

EventLoop::EventLoop(int& argc, char** argv) : impl_(std::make_unique<Impl>(argc, argv)) {}
EventLoop::~EventLoop() = default;

std::unique_ptr<Timer> EventLoop::CreateTimer(int intervalMilliseconds) {
  return std::make_unique<QtTimer>(intervalMilliseconds);
}

std::function<void()> EventLoop::ProcessPendingOnce() {
  return [] { QCoreApplication::processEvents(QEventLoop::AllEvents); };
}

int EventLoop::Run() {
  if (quitRequested_) return exitCode_;
  int code = QCoreApplication::exec();
  return quitRequested_ ? exitCode_ : code;
}

void EventLoop::Quit(int exitCode) {
  if (!quitRequested_) {
    quitRequested_ = true;
    exitCode_ = exitCode;
  }
  QCoreApplication::exit(exitCode_);
}

}  // namespace corvane::ntservice
