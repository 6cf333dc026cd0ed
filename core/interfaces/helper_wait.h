#pragma once
// Waiting for a helper program's report without freezing the window: the
// wait lets the main thread draw, and a progress display follows the lines
// the helper reports.

#include <chrono>
#include <cstddef>
#include <string>

namespace tavo {

class HelperWait {
 public:
  virtual ~HelperWait() = default;
  /// A helper run begins that reports one line per item, `items` of them
  /// (0 when unknown).
  virtual void begin(std::size_t items) = 0;
  /// Blocks until `fd` can be read or `timeout` has passed. Meanwhile the
  /// window keeps drawing but takes no input.
  virtual void waitReadable(int fd, std::chrono::milliseconds timeout) = 0;
  /// The helper reported one more line.
  virtual void reported(const std::string& line) = 0;
  /// The run has ended.
  virtual void end() = 0;
};

/// For programs without a window: poll(2), and nothing shown.
class PlainHelperWait final : public HelperWait {
 public:
  void begin(std::size_t) override {}
  void waitReadable(int fd, std::chrono::milliseconds timeout) override;
  void reported(const std::string&) override {}
  void end() override {}
};

}  // namespace tavo
