#include "platform/process_info.h"

#include <sys/utsname.h>

#include <fstream>

namespace tavo {
namespace {

// PRETTY_NAME of os-release, its quotes removed; empty when absent.
std::string prettyName() {
  std::ifstream in("/etc/os-release");
  std::string line;
  const std::string key = "PRETTY_NAME=";
  while (std::getline(in, line)) {
    if (line.compare(0, key.size(), key) != 0) continue;
    std::string value = line.substr(key.size());
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
      value = value.substr(1, value.size() - 2);
    return value;
  }
  return "";
}

}  // namespace

std::string SystemProcessInfo::operatingSystemName() const {
  utsname names;
  if (::uname(&names) != 0) return "Linux";
  return names.sysname;
}

std::string SystemProcessInfo::operatingSystemVersionString() const {
  utsname names;
  std::string kernel = ::uname(&names) == 0 ? names.release : "";
  std::string pretty = prettyName();
  if (pretty.empty()) return kernel;
  return kernel.empty() ? pretty : pretty + " (kernel " + kernel + ")";
}

}  // namespace tavo
