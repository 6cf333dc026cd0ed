#include "tools/sweeper/tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "base/io.h"
#include "base/unique_fd.h"

namespace tavo {
namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

bool failed(std::string& error, const std::string& what, const std::string& name) {
  error = what + " " + name + ": " + std::strerror(errno);
  return false;
}

bool isGone(int result) { return result == 0 || errno == ENOENT; }

bool sameTime(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// The opened item must be the one looked at, or it was swapped meanwhile.
bool sameItem(int fd, const struct stat& st) {
  struct stat opened;
  if (fstat(fd, &opened) != 0) return false;
  if (opened.st_dev == st.st_dev && opened.st_ino == st.st_ino) return true;
  errno = ESTALE;
  return false;
}

// Modes as they were, less the set-ID bits of an owner that is not kept.
mode_t modeFor(const struct stat& st, TreeOwner owner) {
  mode_t mode = st.st_mode & 07777;
  if (st.st_uid != owner.uid || st.st_gid != owner.gid) mode &= ~mode_t(S_ISUID | S_ISGID);
  return mode;
}

// Owner first: changing it clears the set-ID bits.
bool setAttributes(int fd, const struct stat& st, TreeOwner owner) {
  const timespec times[2] = {st.st_atim, st.st_mtim};
  return fchown(fd, owner.uid, owner.gid) == 0 && fchmod(fd, modeFor(st, owner)) == 0 &&
         futimens(fd, times) == 0;
}

// For links and special files, which cannot be opened to be changed.
bool setAttributesAt(int dir, const std::string& name, const struct stat& st, TreeOwner owner) {
  if (fchownat(dir, name.c_str(), owner.uid, owner.gid, AT_SYMLINK_NOFOLLOW) != 0) return false;
  if (!S_ISLNK(st.st_mode) && fchmodat(dir, name.c_str(), modeFor(st, owner), 0) != 0) return false;
  const timespec times[2] = {st.st_atim, st.st_mtim};
  return utimensat(dir, name.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

// Fills `buffer` unless the file ends first: the count read, or -1.
ssize_t readFull(int fd, std::vector<char>& buffer) {
  std::size_t got = 0;
  while (got < buffer.size()) {
    ssize_t n = read(fd, buffer.data() + got, buffer.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  return static_cast<ssize_t>(got);
}

// Whether the file open as `in` holds the same bytes as `copyName` in `copyDir`.
bool sameContents(int in, int copyDir, const std::string& copyName) {
  UniqueFd copy(openat(copyDir, copyName.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!copy.valid()) return false;
  std::vector<char> ours(1 << 16), theirs(1 << 16);
  for (;;) {
    ssize_t n = readFull(in, ours), m = readFull(copy.get(), theirs);
    if (n < 0 || n != m) return false;
    if (n == 0) return true;
    if (std::memcmp(ours.data(), theirs.data(), static_cast<std::size_t>(n)) != 0) return false;
  }
}

bool copyContents(int from, int to) {
  std::vector<char> buffer(1 << 16);
  for (;;) {
    ssize_t n = read(from, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    if (!writeAll(to, std::string_view(buffer.data(), static_cast<std::size_t>(n)))) return false;
  }
}

struct Copy {
  int srcDir;
  const std::string& srcName;
  int dstDir;
  const std::string& dstName;
  TreeOwner owner;
};

bool copyItem(const Copy& c, dev_t device, CopiedEntry& copied, std::string& error);

bool before(const timespec& a, const timespec& b) {
  return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

bool copyFile(const Copy& c, const struct stat& st, CopiedEntry& copied, std::string& error) {
  // Change times come from a clock that may tick only every few milliseconds:
  // a file changed since this moment may still show the same time.
  timespec start{};
  clock_gettime(CLOCK_REALTIME_COARSE, &start);
  UniqueFd in(openat(c.srcDir, c.srcName.c_str(), O_RDONLY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC));
  if (!in.valid() || !sameItem(in.get(), st)) return failed(error, "cannot read", c.srcName);
  UniqueFd out(openat(c.dstDir, c.dstName.c_str(),
                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!out.valid()) return failed(error, "cannot create the copy of", c.srcName);
  if (!copyContents(in.get(), out.get())) return failed(error, "cannot copy", c.srcName);
  struct stat after;
  if (fstat(in.get(), &after) != 0) return failed(error, "cannot look at", c.srcName);
  // Written to while it was read: the copy may be torn, so the source stays.
  copied.unchanged = sameTime(after.st_ctim, st.st_ctim) && after.st_size == st.st_size;
  copied.recent = !before(after.st_ctim, start);
  copied.size = st.st_size;
  if (!setAttributes(out.get(), st, c.owner)) {
    return failed(error, "cannot set the attributes of", c.srcName);
  }
  if (!out.close()) return failed(error, "cannot write", c.srcName);
  return true;
}

bool copyFolder(const Copy& c, const struct stat& st, CopiedEntry& copied, std::string& error) {
  UniqueFd in(openat(c.srcDir, c.srcName.c_str(), kFolderFlags));
  if (!in.valid() || !sameItem(in.get(), st)) return failed(error, "cannot open", c.srcName);
  std::vector<std::string> names;
  if (!listNames(in.get(), names)) return failed(error, "cannot list", c.srcName);
  if (mkdirat(c.dstDir, c.dstName.c_str(), 0700) != 0) {
    return failed(error, "cannot create the copy of", c.srcName);
  }
  UniqueFd out(openat(c.dstDir, c.dstName.c_str(), kFolderFlags));
  // The user's from the start: a run killed half-way leaves what they can remove.
  if (!out.valid() || fchown(out.get(), c.owner.uid, c.owner.gid) != 0) {
    return failed(error, "cannot open the copy of", c.srcName);
  }
  copied.entries.resize(names.size());
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (!copyItem({in.get(), names[i], out.get(), names[i], c.owner}, st.st_dev, copied.entries[i],
                  error)) {
      return false;
    }
  }
  // Last, so that creating the entries does not change the folder's times.
  if (!setAttributes(out.get(), st, c.owner)) {
    return failed(error, "cannot set the attributes of", c.srcName);
  }
  return true;
}

bool copyLink(const Copy& c, const struct stat& st, std::string& error) {
  std::vector<char> target(static_cast<std::size_t>(st.st_size) + 2);
  ssize_t n = readlinkat(c.srcDir, c.srcName.c_str(), target.data(), target.size());
  if (n < 0) return failed(error, "cannot read the link", c.srcName);
  if (static_cast<std::size_t>(n) >= target.size() - 1 ||
      static_cast<std::size_t>(n) != static_cast<std::size_t>(st.st_size)) {
    errno = ESTALE;  // it changed since it was looked at
    return failed(error, "cannot read the link", c.srcName);
  }
  target[static_cast<std::size_t>(n)] = '\0';
  if (symlinkat(target.data(), c.dstDir, c.dstName.c_str()) != 0) {
    return failed(error, "cannot create the copy of", c.srcName);
  }
  return setAttributesAt(c.dstDir, c.dstName, st, c.owner) ||
         failed(error, "cannot set the attributes of", c.srcName);
}

bool copySpecial(const Copy& c, const struct stat& st, std::string& error) {
  if (mknodat(c.dstDir, c.dstName.c_str(), (st.st_mode & S_IFMT) | 0600, st.st_rdev) != 0) {
    return failed(error, "cannot create the copy of", c.srcName);
  }
  return setAttributesAt(c.dstDir, c.dstName, st, c.owner) ||
         failed(error, "cannot set the attributes of", c.srcName);
}

bool copyItem(const Copy& c, dev_t device, CopiedEntry& copied, std::string& error) {
  struct stat st;
  if (fstatat(c.srcDir, c.srcName.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return failed(error, "cannot look at", c.srcName);
  }
  if (st.st_dev != device) {
    error = c.srcName + " is the mount point of another filesystem";
    return false;
  }
  copied = CopiedEntry{c.srcName, st.st_dev, st.st_ino, st.st_ctim, st.st_size, S_ISDIR(st.st_mode),
                       true, false, {}};
  if (S_ISREG(st.st_mode)) return copyFile(c, st, copied, error);
  if (S_ISDIR(st.st_mode)) return copyFolder(c, st, copied, error);
  if (S_ISLNK(st.st_mode)) return copyLink(c, st, error);
  return copySpecial(c, st, error);
}

// Gives `name` in `dir` and what it holds to `owner`; an entry is changed only
// through a descriptor that was checked to be what was looked at.
bool give(int dir, const std::string& name, dev_t device, TreeOwner owner, std::string& error) {
  struct stat st;
  if (fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT || failed(error, "cannot look at", name);
  }
  if (st.st_dev != device) return true;
  if (S_ISDIR(st.st_mode)) {
    UniqueFd folder(openat(dir, name.c_str(), kFolderFlags));
    std::vector<std::string> names;
    if (!folder.valid() || !sameItem(folder.get(), st)) return failed(error, "cannot open", name);
    if (st.st_uid != owner.uid && fchown(folder.get(), owner.uid, owner.gid) != 0) {
      return failed(error, "cannot give away", name);
    }
    if (!listNames(folder.get(), names)) return failed(error, "cannot list", name);
    for (const std::string& entry : names) {
      if (!give(folder.get(), entry, device, owner, error)) return false;
    }
    return true;
  }
  if (st.st_uid == owner.uid || st.st_nlink > 1) return true;
  UniqueFd entry(openat(dir, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
  struct stat held;
  if (!entry.valid() || fstat(entry.get(), &held) != 0 || held.st_ino != st.st_ino ||
      held.st_nlink > 1) {
    return true;  // gone or changed meanwhile: not ours to give
  }
  return fchownat(entry.get(), "", owner.uid, owner.gid, AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW) == 0 ||
         failed(error, "cannot give away", name);
}

bool matchesCopied(const struct stat& st, const CopiedEntry& copied) {
  return st.st_dev == copied.device && st.st_ino == copied.inode &&
         sameTime(st.st_ctim, copied.changed) && (!S_ISREG(st.st_mode) || st.st_size == copied.size);
}

// A file goes only under a write lease: the kernel grants one only while no
// one else has the file open, and holds back whoever opens it meanwhile, so
// that no writer is caught between its open and its write.
bool removeCopiedFile(int dir, const CopiedEntry& copied, int copyDir, const std::string& copyName) {
  const char* name = copied.name.c_str();
  struct stat st;
  if (!copied.unchanged) return false;
  if (fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
  if (!matchesCopied(st, copied)) return false;
  if (!S_ISREG(st.st_mode)) return isGone(unlinkat(dir, name, 0));
  UniqueFd file(openat(dir, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!file.valid() || !sameItem(file.get(), st)) return false;
  const bool leased = fcntl(file.get(), F_SETLEASE, F_WRLCK) == 0;
  if (!leased && (errno == EAGAIN || errno == EBUSY)) return false;  // open elsewhere
  bool same = fstat(file.get(), &st) == 0 && matchesCopied(st, copied) &&
              (!copied.recent || sameContents(file.get(), copyDir, copyName)) &&
              (!leased || fcntl(file.get(), F_GETLEASE) == F_WRLCK);
  bool gone = same && isGone(unlinkat(dir, name, 0));
  if (leased) fcntl(file.get(), F_SETLEASE, F_UNLCK);
  return gone;
}

}  // namespace

// Read before any of the names is touched, so that no listing stays open
// while the tree below is walked.
bool listNames(int dirFd, std::vector<std::string>& names) {
  int listed = openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* dir = listed < 0 ? nullptr : fdopendir(listed);
  if (!dir) {
    if (listed >= 0) ::close(listed);
    return false;
  }
  errno = 0;
  while (dirent* entry = readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
      names.emplace_back(entry->d_name);
    }
    errno = 0;
  }
  int readError = errno;
  closedir(dir);
  errno = readError;
  return readError == 0;
}

bool copyTree(int srcDir, const std::string& name, int dstDir, const std::string& dstName,
              TreeOwner owner, CopiedEntry& copied, std::string& error) {
  struct stat st;
  if (fstatat(srcDir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return failed(error, "cannot look at", name);
  }
  return copyItem({srcDir, name, dstDir, dstName, owner}, st.st_dev, copied, error);
}

bool removeCopied(int dir, const CopiedEntry& copied, int copyDir, const std::string& copyName) {
  if (!copied.folder) return removeCopiedFile(dir, copied, copyDir, copyName);
  const char* name = copied.name.c_str();
  UniqueFd folder(openat(dir, name, kFolderFlags));
  if (!folder.valid()) return errno == ENOENT;
  UniqueFd copy(openat(copyDir, copyName.c_str(), kFolderFlags));
  struct stat st;
  if (fstat(folder.get(), &st) != 0 || st.st_dev != copied.device || st.st_ino != copied.inode ||
      !copy.valid()) {
    return false;
  }
  bool all = true;
  for (const CopiedEntry& entry : copied.entries) {
    all = removeCopied(folder.get(), entry, copy.get(), entry.name) && all;
  }
  folder.reset();
  // A folder that gained an entry is not empty, and stays.
  return all && isGone(unlinkat(dir, name, AT_REMOVEDIR));
}

bool removeMatching(int dir, const std::string& name, int copyDir, const std::string& copyName) {
  struct stat st, copy;
  if (fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
  if (fstatat(copyDir, copyName.c_str(), &copy, AT_SYMLINK_NOFOLLOW) != 0 ||
      (st.st_mode & S_IFMT) != (copy.st_mode & S_IFMT)) {
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    bool same = st.st_size == copy.st_size && (st.st_mode & 0777) == (copy.st_mode & 0777) &&
                sameTime(st.st_mtim, copy.st_mtim);
    return same && isGone(unlinkat(dir, name.c_str(), 0));
  }
  UniqueFd folder(openat(dir, name.c_str(), kFolderFlags));
  UniqueFd copyFolder(openat(copyDir, copyName.c_str(), kFolderFlags));
  std::vector<std::string> names;
  if (!folder.valid() || !sameItem(folder.get(), st) || !copyFolder.valid() ||
      !listNames(folder.get(), names)) {
    return false;
  }
  bool all = true;
  for (const std::string& entry : names) {
    all = removeMatching(folder.get(), entry, copyFolder.get(), entry) && all;
  }
  folder.reset();
  return all && isGone(unlinkat(dir, name.c_str(), AT_REMOVEDIR));
}

bool giveTree(int dir, const std::string& name, TreeOwner owner, std::string& error) {
  struct stat st;
  if (fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return failed(error, "cannot look at", name);
  }
  return give(dir, name, st.st_dev, owner, error);
}

bool removeTree(int dir, const std::string& name, std::string& error) {
  struct stat st;
  if (fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT || failed(error, "cannot look at", name);
  }
  if (!S_ISDIR(st.st_mode)) {
    return isGone(unlinkat(dir, name.c_str(), 0)) || failed(error, "cannot remove", name);
  }
  UniqueFd folder(openat(dir, name.c_str(), kFolderFlags));
  if (!folder.valid() || !sameItem(folder.get(), st)) return failed(error, "cannot open", name);
  std::vector<std::string> names;
  if (!listNames(folder.get(), names)) return failed(error, "cannot list", name);
  for (const std::string& entry : names) {
    if (!removeTree(folder.get(), entry, error)) return false;
  }
  folder.reset();
  return isGone(unlinkat(dir, name.c_str(), AT_REMOVEDIR)) || failed(error, "cannot remove", name);
}

}  // namespace tavo
