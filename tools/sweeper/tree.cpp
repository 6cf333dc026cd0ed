#include "tools/sweeper/tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sys/sysmacros.h>

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

bool tooDeep(std::string& error) {
  error = "its folders are nested more than " + std::to_string(kMaxTreeDepth) + " deep";
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

// Modes as they were, less the set-ID bits of a file: a copy must not make a
// program that runs with rights the drive it came from may not have granted.
mode_t modeFor(const struct stat& st, const CopyOptions& options) {
  mode_t mode = st.st_mode & 07777;
  if (!S_ISDIR(st.st_mode)) mode &= ~mode_t(S_ISUID | S_ISGID);
  if (options.ownerWritesAlone) mode &= ~mode_t(S_IWGRP | S_IWOTH);
  return mode;
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

// What one copy shares across its tree.
struct CopyRun {
  const CopyOptions& options;
  std::vector<std::string>& left;
  std::uint64_t done = 0;
};

bool copyContents(int from, int to, CopyRun& run) {
  std::vector<char> buffer(1 << 16);
  for (;;) {
    ssize_t n = read(from, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    if (!writeAll(to, std::string_view(buffer.data(), static_cast<std::size_t>(n)))) return false;
    run.done += static_cast<std::uint64_t>(n);
    if (run.options.progress) run.options.progress(run.done);
  }
}

struct Copy {
  int srcDir;
  const std::string& srcName;
  int dstDir;
  const std::string& dstName;
  std::string inside;  // its path inside the item, for what is left out
  int depth;
};

bool copyItem(const Copy& c, CopyRun& run, CopiedEntry& copied, std::string& error);

// Whose the copy of an entry is: the user's, or its source's owner's.
TreeOwner ownerFor(const struct stat& st, const CopyRun& run) {
  return run.options.giveAway ? run.options.owner : TreeOwner{st.st_uid, st.st_gid};
}

// Owner first: changing it clears the set-ID bits.
bool setAttributes(int fd, const struct stat& st, const CopyRun& run) {
  const TreeOwner owner = ownerFor(st, run);
  const timespec times[2] = {st.st_atim, st.st_mtim};
  return fchown(fd, owner.uid, owner.gid) == 0 && fchmod(fd, modeFor(st, run.options)) == 0 &&
         futimens(fd, times) == 0;
}

// For links and special files, which cannot be opened to be changed.
bool setAttributesAt(int dir, const std::string& name, const struct stat& st, const CopyRun& run) {
  const TreeOwner owner = ownerFor(st, run);
  if (fchownat(dir, name.c_str(), owner.uid, owner.gid, AT_SYMLINK_NOFOLLOW) != 0) return false;
  if (!S_ISLNK(st.st_mode) && fchmodat(dir, name.c_str(), modeFor(st, run.options), 0) != 0) return false;
  const timespec times[2] = {st.st_atim, st.st_mtim};
  return utimensat(dir, name.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

bool before(const timespec& a, const timespec& b) {
  return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

bool copyFile(const Copy& c, const struct stat& st, CopyRun& run, CopiedEntry& copied,
              std::string& error) {
  // Change times come from a clock that may tick only every few milliseconds:
  // a file changed since this moment may still show the same time.
  timespec start{};
  clock_gettime(CLOCK_REALTIME_COARSE, &start);
  UniqueFd in(openat(c.srcDir, c.srcName.c_str(), O_RDONLY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC));
  if (!in.valid() || !sameItem(in.get(), st)) return failed(error, "cannot read", c.srcName);
  UniqueFd out(openat(c.dstDir, c.dstName.c_str(),
                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!out.valid()) return failed(error, "cannot create the copy of", c.srcName);
  if (!copyContents(in.get(), out.get(), run)) return failed(error, "cannot copy", c.srcName);
  struct stat after;
  if (fstat(in.get(), &after) != 0) return failed(error, "cannot look at", c.srcName);
  // Written to while it was read: the copy may be torn, so the source stays.
  copied.unchanged = sameTime(after.st_ctim, st.st_ctim) && after.st_size == st.st_size;
  copied.recent = !before(after.st_ctim, start);
  copied.size = st.st_size;
  if (!setAttributes(out.get(), st, run)) {
    return failed(error, "cannot set the attributes of", c.srcName);
  }
  if (!out.close()) return failed(error, "cannot write", c.srcName);
  return true;
}

bool copyFolder(const Copy& c, const struct stat& st, CopyRun& run, CopiedEntry& copied,
                std::string& error) {
  if (c.depth >= kMaxTreeDepth) return tooDeep(error);
  UniqueFd in(openat(c.srcDir, c.srcName.c_str(), kFolderFlags));
  if (!in.valid() || !sameItem(in.get(), st)) return failed(error, "cannot open", c.srcName);
  std::vector<std::string> names;
  if (!listNames(in.get(), names)) return failed(error, "cannot list", c.srcName);
  if (mkdirat(c.dstDir, c.dstName.c_str(), 0700) != 0) {
    return failed(error, "cannot create the copy of", c.srcName);
  }
  UniqueFd out(openat(c.dstDir, c.dstName.c_str(), kFolderFlags));
  const TreeOwner owner = ownerFor(st, run);
  // Its owner's from the start: a run killed half-way leaves what they can remove.
  if (!out.valid() || fchown(out.get(), owner.uid, owner.gid) != 0) {
    return failed(error, "cannot open the copy of", c.srcName);
  }
  copied.entries.resize(names.size());
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (!copyItem({in.get(), names[i], out.get(), names[i], c.inside + "/" + names[i], c.depth + 1},
                  run, copied.entries[i], error)) {
      return false;
    }
  }
  // Last, so that creating the entries does not change the folder's times.
  if (!setAttributes(out.get(), st, run)) {
    return failed(error, "cannot set the attributes of", c.srcName);
  }
  return true;
}

bool copyLink(const Copy& c, const struct stat& st, const CopyRun& run, std::string& error) {
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
  return setAttributesAt(c.dstDir, c.dstName, st, run) ||
         failed(error, "cannot set the attributes of", c.srcName);
}

// FIFOs and sockets. A device is never made: the drive it lies on may be
// mounted so that its devices open nothing, where the copy's would.
bool copySpecial(const Copy& c, const struct stat& st, CopyRun& run, CopiedEntry& copied,
                 std::string& error) {
  if (S_ISBLK(st.st_mode) || S_ISCHR(st.st_mode)) {
    copied.left = true;
    run.left.push_back(c.inside);
    return true;
  }
  if (mknodat(c.dstDir, c.dstName.c_str(), (st.st_mode & S_IFMT) | 0600, 0) != 0) {
    return failed(error, "cannot create the copy of", c.srcName);
  }
  return setAttributesAt(c.dstDir, c.dstName, st, run) ||
         failed(error, "cannot set the attributes of", c.srcName);
}

bool copyItem(const Copy& c, CopyRun& run, CopiedEntry& copied, std::string& error) {
  struct stat st;
  bool mountRoot = false;
  if (!lookAt(c.srcDir, c.srcName, st, mountRoot)) return failed(error, "cannot look at", c.srcName);
  if (mountRoot) {
    error = c.srcName + " is the mount point of another filesystem";
    return false;
  }
  copied = CopiedEntry{c.srcName, st.st_dev, st.st_ino, st.st_ctim, st.st_size, S_ISDIR(st.st_mode),
                       true, false, false, {}};
  if (S_ISREG(st.st_mode)) return copyFile(c, st, run, copied, error);
  if (S_ISDIR(st.st_mode)) return copyFolder(c, st, run, copied, error);
  if (S_ISLNK(st.st_mode)) return copyLink(c, st, run, error);
  return copySpecial(c, st, run, copied, error);
}

std::uint64_t bytesBelow(int dir, const std::string& name, int depth) {
  struct stat st;
  bool mountRoot = false;
  if (!lookAt(dir, name, st, mountRoot) || mountRoot) return 0;
  if (S_ISREG(st.st_mode)) return static_cast<std::uint64_t>(st.st_size);
  UniqueFd folder(S_ISDIR(st.st_mode) && depth < kMaxTreeDepth ? openat(dir, name.c_str(), kFolderFlags)
                                                                : -1);
  std::vector<std::string> names;
  std::uint64_t total = 0;
  if (!folder.valid() || !listNames(folder.get(), names)) return 0;
  for (const std::string& entry : names) total += bytesBelow(folder.get(), entry, depth + 1);
  return total;
}

// Gives `name` in `dir` and what it holds to `owner`; an entry is changed only
// through a descriptor that was checked to be what was looked at, and, at the
// top, to be `expected`. A folder is given last, so that nobody can add to it
// while what it holds is given.
bool give(int dir, const std::string& name, int depth, TreeOwner owner, const struct stat* expected,
          std::string& error) {
  struct stat st;
  bool mountRoot = false;
  if (!lookAt(dir, name, st, mountRoot)) return errno == ENOENT || failed(error, "cannot look at", name);
  if (expected && (st.st_dev != expected->st_dev || st.st_ino != expected->st_ino)) {
    error = name + " was replaced after it was moved";
    return false;
  }
  if (mountRoot) return true;
  if (S_ISDIR(st.st_mode)) {
    if (depth >= kMaxTreeDepth) return tooDeep(error);
    UniqueFd folder(openat(dir, name.c_str(), kFolderFlags));
    std::vector<std::string> names;
    if (!folder.valid() || !sameItem(folder.get(), st)) return failed(error, "cannot open", name);
    if (!listNames(folder.get(), names)) return failed(error, "cannot list", name);
    for (const std::string& entry : names) {
      if (!give(folder.get(), entry, depth + 1, owner, nullptr, error)) return false;
    }
    return st.st_uid == owner.uid || fchown(folder.get(), owner.uid, owner.gid) == 0 ||
           failed(error, "cannot give away", name);
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
  if (!copied.unchanged || copied.left) return false;
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

bool matchingGone(int dir, const std::string& name, int copyDir, const std::string& copyName,
                  std::optional<uid_t> onlyOf, int depth) {
  struct stat st, copy;
  if (fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
  if (fstatat(copyDir, copyName.c_str(), &copy, AT_SYMLINK_NOFOLLOW) != 0 ||
      (st.st_mode & S_IFMT) != (copy.st_mode & S_IFMT) || (onlyOf && st.st_uid != *onlyOf)) {
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    bool same = st.st_size == copy.st_size && (st.st_mode & 0777) == (copy.st_mode & 0777) &&
                sameTime(st.st_mtim, copy.st_mtim);
    return same && isGone(unlinkat(dir, name.c_str(), 0));
  }
  if (depth >= kMaxTreeDepth) return false;
  UniqueFd folder(openat(dir, name.c_str(), kFolderFlags));
  UniqueFd copyFolder(openat(copyDir, copyName.c_str(), kFolderFlags));
  std::vector<std::string> names;
  if (!folder.valid() || !sameItem(folder.get(), st) || !copyFolder.valid() ||
      !listNames(folder.get(), names)) {
    return false;
  }
  bool all = true;
  for (const std::string& entry : names) {
    all = matchingGone(folder.get(), entry, copyFolder.get(), entry, onlyOf, depth + 1) && all;
  }
  folder.reset();
  return all && isGone(unlinkat(dir, name.c_str(), AT_REMOVEDIR));
}

bool removeBelow(int dir, const std::string& name, int depth, std::string& error) {
  struct stat st;
  bool mountRoot = false;
  if (!lookAt(dir, name, st, mountRoot)) return errno == ENOENT || failed(error, "cannot look at", name);
  if (mountRoot) {
    error = name + " is the mount point of another filesystem";
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    return isGone(unlinkat(dir, name.c_str(), 0)) || failed(error, "cannot remove", name);
  }
  if (depth >= kMaxTreeDepth) return tooDeep(error);
  UniqueFd folder(openat(dir, name.c_str(), kFolderFlags));
  if (!folder.valid() || !sameItem(folder.get(), st)) return failed(error, "cannot open", name);
  std::vector<std::string> names;
  if (!listNames(folder.get(), names)) return failed(error, "cannot list", name);
  for (const std::string& entry : names) {
    if (!removeBelow(folder.get(), entry, depth + 1, error)) return false;
  }
  folder.reset();
  return isGone(unlinkat(dir, name.c_str(), AT_REMOVEDIR)) || failed(error, "cannot remove", name);
}

}  // namespace

bool lookAt(int dir, const std::string& name, struct stat& st, bool& mountRoot) {
  struct statx x {};
  if (statx(dir, name.c_str(), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, STATX_BASIC_STATS, &x) != 0) {
    return false;
  }
  st = {};
  st.st_dev = makedev(x.stx_dev_major, x.stx_dev_minor);
  st.st_ino = x.stx_ino;
  st.st_mode = x.stx_mode;
  st.st_nlink = x.stx_nlink;
  st.st_uid = x.stx_uid;
  st.st_gid = x.stx_gid;
  st.st_rdev = makedev(x.stx_rdev_major, x.stx_rdev_minor);
  st.st_size = static_cast<off_t>(x.stx_size);
  st.st_atim = {x.stx_atime.tv_sec, x.stx_atime.tv_nsec};
  st.st_mtim = {x.stx_mtime.tv_sec, x.stx_mtime.tv_nsec};
  st.st_ctim = {x.stx_ctime.tv_sec, x.stx_ctime.tv_nsec};
  if ((x.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0) {
    mountRoot = (x.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
    return true;
  }
  // A kernel that cannot say: another device number is the nearest sign.
  struct stat folder;
  mountRoot = fstat(dir, &folder) != 0 || folder.st_dev != st.st_dev;
  return true;
}

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
              const CopyOptions& options, CopiedEntry& copied, std::vector<std::string>& left,
              std::string& error) {
  CopyRun run{options, left};
  return copyItem({srcDir, name, dstDir, dstName, name, 0}, run, copied, error);
}

std::uint64_t bytesIn(int dir, const std::string& name) { return bytesBelow(dir, name, 0); }

// Bounded by the copy it follows, which is.
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
  // A folder that gained an entry, or holds one left out, is not empty, and stays.
  return all && isGone(unlinkat(dir, name, AT_REMOVEDIR));
}

bool removeMatching(int dir, const std::string& name, int copyDir, const std::string& copyName,
                    std::optional<uid_t> onlyOf) {
  return matchingGone(dir, name, copyDir, copyName, onlyOf, 0);
}

bool giveTree(int dir, const std::string& name, const struct stat& moved, TreeOwner owner,
              std::string& error) {
  return give(dir, name, 0, owner, &moved, error);
}

bool removeTree(int dir, const std::string& name, std::string& error) {
  return removeBelow(dir, name, 0, error);
}

}  // namespace tavo
