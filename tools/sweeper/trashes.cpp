#include "tools/sweeper/trashes.h"

#include <sys/stat.h>

#include "base/path.h"
#include "base/path_walk.h"

namespace tavo {
namespace {

bool startsWith(const std::vector<std::string>& path, const std::vector<std::string>& prefix) {
  return prefix.size() <= path.size() && std::equal(prefix.begin(), prefix.end(), path.begin());
}

// The mount point that holds `parts`, opened and confirmed by its device.
UniqueFd topFolder(const std::vector<Mount>& mounts, const std::vector<std::string>& parts,
                   dev_t device, std::string& topdir, std::string& why) {
  const Mount* best = nullptr;
  std::size_t bestDepth = 0;
  for (const Mount& mount : mounts) {
    std::vector<std::string> point = splitPath(mount.path);
    // A later line of the same mount point is mounted over the earlier one.
    if (startsWith(parts, point) && (!best || point.size() >= bestDepth)) {
      best = &mount;
      bestDepth = point.size();
    }
  }
  if (!best) {
    why = "no mount point is known for its filesystem";
    return UniqueFd();
  }
  ResolvedPath top;
  struct stat st;
  if (!resolvePath(splitPath(best->path), top, why) || !top.fd.valid() ||
      joinParts(top.parts) != joinParts(splitPath(best->path)) || fstat(top.fd.get(), &st) != 0 ||
      st.st_dev != device) {
    why = "its filesystem's mount point " + best->path + " cannot be confirmed";
    return UniqueFd();
  }
  topdir = joinParts(top.parts);
  return std::move(top.fd);
}

}  // namespace

Trash* Trashes::forFolder(int parent, const std::vector<std::string>& parts, std::string& why) {
  struct stat st;
  if (fstat(parent, &st) != 0) {
    why = "its folder cannot be looked at";
    return nullptr;
  }
  if (st.st_dev == home_.device()) return &home_;
  if (auto open = tops_.find(st.st_dev); open != tops_.end()) return &open->second;
  if (auto known = unusable_.find(st.st_dev); known != unusable_.end()) {
    why = known->second;
    return nullptr;
  }
  Trash* trash = openTop(st.st_dev, parts, why);
  if (!trash) unusable_[st.st_dev] = why;
  return trash;
}

Trash* Trashes::openTop(dev_t device, const std::vector<std::string>& parts, std::string& why) {
  if (!mounts_) mounts_ = readMounts();
  std::string topdir;
  UniqueFd top = topFolder(*mounts_, parts, device, topdir, why);
  if (!top.valid()) return nullptr;
  std::string error;
  std::optional<Trash> trash = Trash::openTop(top.get(), topdir, user_, error);
  if (!trash) {
    why = "the trash of " + topdir + " cannot be used: " + error;
    return nullptr;
  }
  return &tops_.emplace(device, std::move(*trash)).first->second;
}

}  // namespace tavo
