#include "platform/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <utility>

namespace tavo {
namespace {

using DirHandle = std::unique_ptr<DIR, int (*)(DIR*)>;

struct Child {
  Subpath item;  // its name alone, until it is put on the stack
  bool descend = false;
};

// An entry is descended into when it is itself a folder; a link never is.
// A folder of its own needs no existence test; anything else is stat'ed
// with links followed.
Child childOf(int dirFd, const dirent& entry) {
  Child child;
  child.item.path = entry.d_name;
  struct stat st;
  bool ownFolder = entry.d_type == DT_DIR;
  if (entry.d_type == DT_UNKNOWN)
    ownFolder = ::fstatat(dirFd, entry.d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISDIR(st.st_mode);
  child.descend = ownFolder;
  if (ownFolder) {
    child.item.exists = child.item.isDirectory = true;
  } else if (::fstatat(dirFd, entry.d_name, &st, 0) == 0) {
    child.item.exists = true;
    child.item.isDirectory = S_ISDIR(st.st_mode);
  }
  return child;
}

bool isDotOrDotDot(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// The folder's entries sorted by name; empty when it cannot be opened.
std::vector<Child> readChildren(const std::string& folder) {
  std::vector<Child> children;
  DirHandle dir(::opendir(folder.c_str()), ::closedir);
  if (!dir) return children;
  int fd = ::dirfd(dir.get());
  while (const dirent* entry = ::readdir(dir.get())) {
    if (!isDotOrDotDot(entry->d_name)) children.push_back(childOf(fd, *entry));
  }
  std::sort(children.begin(), children.end(),
            [](const Child& a, const Child& b) { return a.item.path < b.item.path; });
  return children;
}

}  // namespace

bool fileExistsAtPath(const std::string& path, bool* isDirectory) {
  struct stat st;
  if (path.find('\0') != std::string::npos) return false;
  if (::stat(path.c_str(), &st) != 0) return false;
  if (isDirectory) *isDirectory = S_ISDIR(st.st_mode);
  return true;
}

std::vector<Subpath> subpathsAtPath(const std::string& folder,
                                    const std::atomic<bool>* cancelled) {
  std::vector<Subpath> result;
  if (folder.find('\0') != std::string::npos) return result;
  // An explicit stack keeps one folder open at a time, so neither the depth
  // of the tree nor the descriptor limit can stop the walk.
  std::vector<Child> pending;
  auto pushChildren = [&](const std::string& prefix) {
    std::vector<Child> children = readChildren(prefix.empty() ? folder : folder + "/" + prefix);
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
      if (!prefix.empty()) it->item.path = prefix + "/" + it->item.path;
      pending.push_back(std::move(*it));
    }
  };
  pushChildren("");
  while (!pending.empty() && !(cancelled && *cancelled)) {
    Child next = std::move(pending.back());
    pending.pop_back();
    result.push_back(std::move(next.item));
    if (next.descend) pushChildren(result.back().path);
  }
  return result;
}

}  // namespace tavo
