#include "privileged/list_file.h"
#include "platform/write_all.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace tavo {
namespace {

// Ours alone: owned by us and writable by neither group nor others.
bool ownedPrivately(const struct stat& st) {
  return st.st_uid == ::geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

std::string parentOf(const std::string& path) {
  auto slash = path.rfind('/');
  return slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
}

bool usableBundleFile(const std::string& file) {
  struct stat st {}, dir {};
  if (::lstat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || !ownedPrivately(st)) return false;
  return ::lstat(parentOf(file).c_str(), &dir) == 0 && S_ISDIR(dir.st_mode) && ownedPrivately(dir);
}

bool privateFolderReady(const std::string& folder) {
  ::mkdir(parentOf(folder).c_str(), 0700);
  ::mkdir(folder.c_str(), 0700);
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
    return false;
  return (st.st_mode & 0077) == 0 || ::chmod(folder.c_str(), 0700) == 0;
}

}  // namespace

std::string defaultPrivateFolder() {
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime == '/')
    return std::string(runtime) + "/TAVO_Uninstaller";
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : "/tmp") + "/.cache/TAVO_Uninstaller";
}

std::optional<std::string> chooseListFile(const std::string& bundleListFile,
                                          const std::string& privateFolder, SystemLog& log) {
  if (!bundleListFile.empty() && usableBundleFile(bundleListFile)) return bundleListFile;
  if (privateFolderReady(privateFolder)) return privateFolder + "/listPath.txt";
  log.line("List file: no private place to write it (" + privateFolder + ")");
  return std::nullopt;
}

int writeListFile(const std::string& path, const std::vector<std::string>& entries,
                  const SafetyContext& safety, SystemLog& log) {
  std::string text;
  int count = 0;
  for (const std::string& entry : entries) {
    if (auto reason = refusalReason(entry, safety)) {
      log.line("Not removing " + entry + ": " + *reason);
      continue;
    }
    text += entry + "\n";
    ++count;
  }
  if (count == 0) return 0;
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    log.line("List file: cannot write " + path + ": " + std::strerror(errno));
    return -1;
  }
  bool ok = writeAll(fd, text);
  ::close(fd);
  if (!ok) log.line("List file: cannot write " + path);
  return ok ? count : -1;
}

}  // namespace tavo
