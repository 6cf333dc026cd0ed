#pragma once
#include <string>

namespace tavo {

/// The system log: one diagnostic line per call, with no levels.
class SystemLog {
 public:
  virtual ~SystemLog() = default;
  virtual void line(const std::string& text) = 0;
};

/// A log that drops every line, for callers that have nowhere to report.
class NullLog final : public SystemLog {
 public:
  void line(const std::string&) override {}
};

}  // namespace tavo
