#include "core/startup_log.h"

#include "core/log_lines.h"

namespace tavo {

std::optional<std::string> logStartup(SystemLog& log, const Bundle& bundle,
                                      const ProcessInfo& processInfo) {
  std::optional<std::string> configPath = bundle.pathForResource("unins", "txt");
  log.line(loglines::kConfigPath + loglines::text(configPath));
  std::string version = processInfo.operatingSystemVersionString();
  log.line(loglines::kOsNumber + std::to_string(processInfo.operatingSystem()));
  log.line(loglines::kOsName + processInfo.operatingSystemName());
  log.line(loglines::kOsVersion + version);
  if (version.find("10.5") != std::string::npos)
    log.line(loglines::kOs105);
  else if (version.find("10.6") != std::string::npos)
    log.line(loglines::kOs106);
  return configPath;
}

}  // namespace tavo
