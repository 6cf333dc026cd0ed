#include "core/disk_usage.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <utility>

#include "base/unique_fd.h"

namespace tavo {
namespace {

class Counter {
 public:
  explicit Counter(const std::atomic<bool>& cancelled) : cancelled_(cancelled) {}

  void countRoot(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !add(st) || !S_ISDIR(st.st_mode)) return;
    walk(UniqueFd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)));
  }
  const DiskUsage& usage() const { return usage_; }

 private:
  // False when the item was counted before (a folder or a hard link reached twice).
  bool add(const struct stat& st) {
    if (!seen_.insert({st.st_dev, st.st_ino}).second) return false;
    ++usage_.items;
    usage_.bytes += static_cast<std::uint64_t>(st.st_blocks) * 512;
    return true;
  }

  // An explicit stack keeps the depth of a tree from exhausting ours.
  void walk(UniqueFd top) {
    std::vector<UniqueFd> pending;
    if (top.valid()) pending.push_back(std::move(top));
    while (!pending.empty() && !cancelled_) {
      UniqueFd folder = std::move(pending.back());
      pending.pop_back();
      DIR* dir = ::fdopendir(folder.get());
      if (!dir) continue;
      int fd = folder.release();  // the stream owns it now
      while (const dirent* entry = ::readdir(dir)) {
        if (cancelled_) break;
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        struct stat st;
        if (::fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !add(st)) continue;
        if (S_ISDIR(st.st_mode))
          pending.emplace_back(
              ::openat(fd, entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      }
      ::closedir(dir);
    }
  }

  const std::atomic<bool>& cancelled_;
  std::set<std::pair<dev_t, ino_t>> seen_;
  DiskUsage usage_;
};

std::string withSeparators(std::uint64_t n) {
  std::string digits = std::to_string(n);
  for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) digits.insert(at, ",");
  return digits;
}

}  // namespace

DiskUsage diskUsage(const std::vector<std::string>& roots, const std::atomic<bool>& cancelled) {
  Counter counter(cancelled);
  for (const std::string& root : roots) {
    if (cancelled) break;
    counter.countRoot(root);
  }
  return counter.usage();
}

std::string usageText(const DiskUsage& usage) {
  std::string text = withSeparators(usage.items) + (usage.items == 1 ? " item, " : " items, ");
  if (usage.bytes < 1000) return text + std::to_string(usage.bytes) + " bytes";
  static const char* const kUnits[] = {"kB", "MB", "GB", "TB", "PB", "EB"};
  double value = static_cast<double>(usage.bytes) / 1000;
  std::size_t unit = 0;
  while (value >= 999.95 && unit + 1 < std::size(kUnits)) {
    value /= 1000;
    ++unit;
  }
  char number[32];
  std::snprintf(number, sizeof number, "%.1f %s", value, kUnits[unit]);
  return text + number;
}

}  // namespace tavo
