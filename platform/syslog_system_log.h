#pragma once
// The system log of this build: each line goes to syslog under the
// application's name and, unless asked not to, to standard error, as the
// platform's own logging call does.

#include <mutex>
#include <string>

#include "base/system_log.h"

namespace tavo {

class SyslogSystemLog final : public SystemLog {
 public:
  /// Opens syslog with `ident` (the application's name); `echo`: each line
  /// also goes to standard error.
  explicit SyslogSystemLog(std::string ident, bool echo = true);
  ~SyslogSystemLog() override;
  SyslogSystemLog(const SyslogSystemLog&) = delete;
  SyslogSystemLog& operator=(const SyslogSystemLog&) = delete;

  /// Writes one line; a failing destination is not reported.
  void line(const std::string& text) override;

 private:
  std::string ident_;  // syslog keeps a pointer to it until closelog
  bool echo_;
  bool toSyslog_ = false;  // a log daemon listens
  std::mutex stderrMutex_;
};

}  // namespace tavo
