#pragma once
// The lines every front end writes once at start-up, before its first scan.

#include <optional>
#include <string>

#include "base/system_log.h"
#include "platform/bundle.h"
#include "platform/process_info.h"

namespace tavo {

/// Logs the bundle's resource "unins.txt" ("ConfigPath: PATH", or "(null)"
/// when there is none), then the system's number, name and version, and a
/// line for a 10.5 or 10.6 in the version. Returns the path it logged.
std::optional<std::string> logStartup(SystemLog& log, const Bundle& bundle,
                                      const ProcessInfo& processInfo);

}  // namespace tavo
