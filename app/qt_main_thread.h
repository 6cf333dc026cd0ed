#pragma once
// The main-thread hand-over over Qt's event loop.

#include <QObject>

#include <atomic>
#include <memory>

#include "core/interfaces/main_thread.h"

namespace tavo {

/// Hands blocks to the thread of `context` and waits for them. Once stopped,
/// blocks are no longer run and a waiting worker is let go, so that a worker
/// never waits on an event loop that has ended.
class QtMainThread final : public MainThread {
 public:
  explicit QtMainThread(QObject& context) : context_(context) {}
  void runAndWait(const std::function<void()>& block) override;
  void post(std::function<void()> block) override;
  /// Called on the main thread before what the blocks touch goes away.
  void stop();

 private:
  QObject& context_;
  std::shared_ptr<std::atomic<bool>> stopped_ = std::make_shared<std::atomic<bool>>(false);
};

}  // namespace tavo
