#include "platform/ntservice/event_loop.h"

#include <QCoreApplication>
#include <QTimer>

#include <utility>

namespace corvane::ntservice {
namespace {

// A Qt timer whose ticks may nest. Qt never re-enters a timer's own
// handler while it runs, so a tick that falls due during a long tick would
// be lost; instead each timeout posts the tick as a queued call, which a
// nested processEvents delivers like any other pending message. A tick
// that is already queued is not queued twice.
class QtTimer : public Timer {
 public:
  QtTimer(int intervalMilliseconds, int firstTickMilliseconds) : firstTick_(firstTickMilliseconds) {
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
    if (enabled && !timer_.isActive()) {
      timer_.start();
      if (firstTick_ >= 0) ScheduleFirstTick(std::exchange(firstTick_, -1));
    }
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

  // The early first tick restarts the period, so the next tick comes one
  // interval after it, as after any tick.
  void ScheduleFirstTick(int milliseconds) {
    QTimer::singleShot(milliseconds, &timer_, [this] {
      if (!timer_.isActive()) return;
      timer_.start();
      QueueTick();
    });
  }

  QTimer timer_;
  bool pending_ = false;
  int firstTick_ = -1;  // the delay of the early first tick; -1: none (left)
};

}  // namespace

struct EventLoop::Impl {
  Impl(int& argc, char** argv) : app(argc, argv) {}
  QCoreApplication app;
};

EventLoop::EventLoop(int& argc, char** argv) : impl_(std::make_unique<Impl>(argc, argv)) {}
EventLoop::~EventLoop() = default;

std::unique_ptr<Timer> EventLoop::CreateTimer(int intervalMilliseconds, int firstTickMilliseconds) {
  return std::make_unique<QtTimer>(intervalMilliseconds, firstTickMilliseconds);
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
