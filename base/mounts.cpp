#include "base/mounts.h"

#include <fcntl.h>
#include <sys/sysmacros.h>

#include <cstdlib>
#include <sstream>

#include "base/io.h"
#include "base/unique_fd.h"

namespace tavo {
namespace {

constexpr std::size_t kMaxMountInfoBytes = 16 << 20;

// Mount points hold space, tab, newline and backslash as "\ooo".
std::string unescape(const std::string& field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && field.size() - i >= 4) {
      const std::string digits = field.substr(i + 1, 3);
      if (digits.find_first_not_of("01234567") == std::string::npos) {
        out += static_cast<char>(std::strtol(digits.c_str(), nullptr, 8));
        i += 3;
        continue;
      }
    }
    out += field[i];
  }
  return out;
}

// "ID PARENT MAJOR:MINOR ROOT MOUNT-POINT ..."
bool parseLine(const std::string& line, Mount& mount) {
  std::istringstream fields(line);
  std::string id, parent, device, root, point;
  if (!(fields >> id >> parent >> device >> root >> point) || point[0] != '/') return false;
  char* end = nullptr;
  unsigned long major = std::strtoul(device.c_str(), &end, 10);
  if (*end != ':') return false;
  const char* minorText = end + 1;
  unsigned long minor = std::strtoul(minorText, &end, 10);
  if (end == minorText || *end != '\0') return false;
  mount = {unescape(point), makedev(major, minor)};
  return true;
}

}  // namespace

std::vector<Mount> parseMountInfo(const std::string& text) {
  std::vector<Mount> mounts;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    Mount mount;
    if (parseLine(line, mount)) mounts.push_back(std::move(mount));
  }
  return mounts;
}

std::vector<Mount> readMounts() {
  UniqueFd fd(open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC));
  std::string text;
  if (!fd.valid() || !readAll(fd.get(), text, kMaxMountInfoBytes)) return {};
  return parseMountInfo(text);
}

}  // namespace tavo
