#pragma once
// A system log that keeps its lines for tests to read.

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "base/system_log.h"

namespace tavo::testing {

class CapturingLog final : public SystemLog {
 public:
  void line(const std::string& text) override {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(text);
  }
  std::vector<std::string> lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }
  std::size_t count(const std::string& text) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<std::size_t>(std::count(lines_.begin(), lines_.end(), text));
  }
  void clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

}  // namespace tavo::testing
