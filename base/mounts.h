#pragma once
// The mounted filesystems as this process sees them.

#include <sys/types.h>

#include <string>
#include <vector>

namespace tavo {

struct Mount {
  std::string path;  // the mount point, absolute, as the kernel names it
  dev_t device = 0;  // the device number the kernel gives the filesystem
};

/// The mounts of /proc/self/mountinfo, in its order; empty when it cannot be
/// read. Lines that do not parse are passed over.
std::vector<Mount> readMounts();

/// Parses the text of a mountinfo file.
std::vector<Mount> parseMountInfo(const std::string& text);

}  // namespace tavo
