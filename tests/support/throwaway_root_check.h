#pragma once
// Whether this process runs as root inside scripts/throwaway-root, where the
// privileged tools may be started as root: for tests and benchmarks alike.

#include <pwd.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace tavo::testing {

/// The file the runner creates on its private /run.
inline constexpr char kThrowawayRootMarker[] = "/run/tavo-throwaway-root";
/// statfs magic of overlayfs, the throwaway root's filesystem.
inline constexpr long kOverlayMagic = 0x794c7630;

/// True only as root inside the runner: its variable set, its marker present and
/// "/" an overlay; false on any doubt.
inline bool insideThrowawayRoot() {
  const char* flag = std::getenv("TAVO_THROWAWAY_ROOT");
  if (!flag || std::strcmp(flag, "1") != 0) return false;
  if (::geteuid() != 0) return false;
  struct stat marker {};
  if (::lstat(kThrowawayRootMarker, &marker) != 0 || !S_ISREG(marker.st_mode)) return false;
  struct statfs root {};
  return ::statfs("/", &root) == 0 && root.f_type == kOverlayMagic;
}

/// Where a run acting for root lays its files out: root's home, where sweeper
/// requires root's Trash to lie; "" (the temporary folder) anywhere else.
inline std::string rootsHome() {
  const passwd* root = insideThrowawayRoot() ? ::getpwuid(0) : nullptr;
  return root && root->pw_dir ? root->pw_dir : "";
}

}  // namespace tavo::testing
