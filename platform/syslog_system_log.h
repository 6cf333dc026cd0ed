#pragma once
// The system log of this build: each line goes to syslog under the
// application's name and to standard error, as the platform's own logging
// call does.

#include <mutex>
#include <string>

#include "base/system_log.h"

namespace tavo {

class SyslogSystemLog final : public SystemLog {
 public:
  /// Opens syslog with `ident` (the application's name).
  explicit SyslogSystemLog(std::string ident);
  ~SyslogSystemLog() override;
  SyslogSystemLog(const SyslogSystemLog&) = delete;
  SyslogSystemLog& operator=(const SyslogSystemLog&) = delete;

  /// Writes one line; a failing destination is not reported.
  void line(const std::string& text) override;

 private:
  std::string ident_;  // syslog keeps a pointer to it until closelog
  std::mutex stderrMutex_;
};

}  // namespace tavo
