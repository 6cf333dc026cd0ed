#include "core/list_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/io.h"
#include "base/path.h"
#include "base/unique_fd.h"
#include "core/log_lines.h"

namespace tavo {
namespace {

// Ours alone: owned by us and writable by neither group nor others.
bool ownedPrivately(const struct stat& st) {
  return st.st_uid == ::geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

bool usableBundleFile(const std::string& file) {
  // What root owns in a bundle, the package manager installed: never ours to change.
  if (::geteuid() == 0) return false;
  struct stat st {}, dir {};
  if (::lstat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || !ownedPrivately(st)) return false;
  return ::lstat(parentPath(file).c_str(), &dir) == 0 && S_ISDIR(dir.st_mode) && ownedPrivately(dir);
}

bool privateFolderReady(const std::string& folder) {
  ::mkdir(parentPath(folder).c_str(), 0700);
  ::mkdir(folder.c_str(), 0700);
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
    return false;
  return (st.st_mode & 0077) == 0 || ::chmod(folder.c_str(), 0700) == 0;
}

}  // namespace

std::optional<std::string> chooseListFile(const std::string& bundleListFile,
                                          const std::string& privateFolder, SystemLog& log) {
  if (!bundleListFile.empty() && usableBundleFile(bundleListFile)) return bundleListFile;
  if (privateFolderReady(privateFolder)) return privateFolder + "/listPath.txt";
  log.line(std::string(loglines::kListFile) + "no private place to write it (" + privateFolder + ")");
  return std::nullopt;
}

int writeListFile(const std::string& path, const std::vector<std::string>& entries,
                  const std::vector<KeptEntry>& kept, SystemLog& log) {
  std::string text;
  int count = 0;
  for (const std::string& entry : entries) {
    auto keptEntry = std::find_if(kept.begin(), kept.end(),
                                  [&](const KeptEntry& k) { return k.path == entry; });
    if (keptEntry != kept.end()) {
      log.line(loglines::kNotRemoving + entry + ": " + keptEntry->reason);
      continue;
    }
    text += entry + "\n";
    ++count;
  }
  if (count == 0) return 0;
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!fd.valid() || !writeAll(fd.get(), text) || !fd.close()) {
    log.line(std::string(loglines::kListFile) + "cannot write " + path + ": " + std::strerror(errno));
    return -1;
  }
  return count;
}

}  // namespace tavo
