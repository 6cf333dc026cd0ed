#include "app/qt_main_thread.h"

#include <QThread>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace tavo {

void QtMainThread::runAndWait(const std::function<void()>& block) {
  if (QThread::currentThread() == context_.thread()) {
    block();
    return;
  }
  struct Handoff {
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
  };
  auto handoff = std::make_shared<Handoff>();
  auto stopped = stopped_;
  // The block is copied: a worker let go by stop() no longer owns it.
  QMetaObject::invokeMethod(
      &context_,
      [handoff, stopped, block] {
        if (!*stopped) block();
        std::lock_guard lock(handoff->mutex);
        handoff->done = true;
        handoff->cv.notify_all();
      },
      Qt::QueuedConnection);
  std::unique_lock lock(handoff->mutex);
  while (!handoff->done && !*stopped)
    handoff->cv.wait_for(lock, std::chrono::milliseconds(50));
}

void QtMainThread::post(std::function<void()> block) {
  auto stopped = stopped_;
  QMetaObject::invokeMethod(
      &context_, [stopped, block = std::move(block)] {
        if (!*stopped) block();
      },
      Qt::QueuedConnection);
}

void QtMainThread::stop() { *stopped_ = true; }

}  // namespace tavo
