#pragma once
// Handing work from a worker thread to the thread that owns the windows.

#include <functional>

namespace tavo {

class MainThread {
 public:
  virtual ~MainThread() = default;
  /// Runs `block` on the main thread and returns once it has run. Called on
  /// the main thread itself, runs it there directly.
  virtual void runAndWait(const std::function<void()>& block) = 0;
  /// Has `block` run on the main thread later and returns at once; a block
  /// posted after the main thread has stopped is dropped.
  virtual void post(std::function<void()> block) = 0;
};

/// For programs without an event loop, whose only thread is the main one.
class InlineMainThread final : public MainThread {
 public:
  void runAndWait(const std::function<void()>& block) override { block(); }
  void post(std::function<void()> block) override { block(); }
};

}  // namespace tavo
