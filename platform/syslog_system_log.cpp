#include "platform/syslog_system_log.h"

#include <sys/stat.h>
#include <sys/time.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

#include "base/io.h"

namespace tavo {
namespace {

// "2024-05-01 10:00:00.123 Name[pid] " in local time, as on the platform.
std::string stderrPrefix(const std::string& ident) {
  timeval now;
  ::gettimeofday(&now, nullptr);
  tm local;
  ::localtime_r(&now.tv_sec, &local);
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d.%03d ",
                local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                local.tm_min, local.tm_sec, static_cast<int>(now.tv_usec / 1000));
  return stamp + ident + "[" + std::to_string(::getpid()) + "] ";
}

}  // namespace

// Connected once here and kept, when the system runs a log daemon. Without
// one, syslog(3) would try a new socket for every line; the lines then go
// only where they are echoed.
SyslogSystemLog::SyslogSystemLog(std::string ident, bool echo)
    : ident_(std::move(ident)), echo_(echo) {
  struct stat st;
  toSyslog_ = ::stat(_PATH_LOG, &st) == 0 && S_ISSOCK(st.st_mode);
  if (toSyslog_) ::openlog(ident_.c_str(), LOG_PID | LOG_NDELAY, LOG_USER);
}

SyslogSystemLog::~SyslogSystemLog() {
  if (toSyslog_) ::closelog();
}

void SyslogSystemLog::line(const std::string& text) {
  if (toSyslog_) ::syslog(LOG_NOTICE, "%s", text.c_str());
  if (!echo_) return;
  // One write per line so that lines from two threads never interleave.
  std::string whole = stderrPrefix(ident_) + text + "\n";
  std::lock_guard<std::mutex> lock(stderrMutex_);
  writeAll(STDERR_FILENO, whole);
}

}  // namespace tavo
