#include "tools/sweeper/tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "base/io.h"
#include "base/unique_fd.h"

namespace tavo {
namespace {

bool failed(std::string& error, const std::string& what, const std::string& name) {
  error = what + " " + name + ": " + std::strerror(errno);
  return false;
}

// The names in an open folder, read before any of them is touched so that the
// listing holds no descriptor while the tree below is walked.
bool listNames(int dirFd, std::vector<std::string>& names) {
  int copy = dup(dirFd);
  if (copy < 0) return false;
  DIR* dir = fdopendir(copy);
  if (!dir) {
    ::close(copy);
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

// Owner first: changing it clears the set-user-ID and set-group-ID bits.
bool copyAttributes(int fd, const struct stat& st) {
  struct stat now;
  if (fstat(fd, &now) != 0) return false;
  if ((now.st_uid != st.st_uid || now.st_gid != st.st_gid) &&
      fchown(fd, st.st_uid, st.st_gid) != 0) {
    return false;
  }
  const timespec times[2] = {st.st_atim, st.st_mtim};
  return fchmod(fd, st.st_mode & 07777) == 0 && futimens(fd, times) == 0;
}

// For links and special files, which cannot be opened to be changed.
bool copyAttributesAt(int dir, const std::string& name, const struct stat& st, bool isLink) {
  struct stat now;
  if (fstatat(dir, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0) return false;
  if ((now.st_uid != st.st_uid || now.st_gid != st.st_gid) &&
      fchownat(dir, name.c_str(), st.st_uid, st.st_gid, AT_SYMLINK_NOFOLLOW) != 0) {
    return false;
  }
  if (!isLink && fchmodat(dir, name.c_str(), st.st_mode & 07777, 0) != 0) return false;
  const timespec times[2] = {st.st_atim, st.st_mtim};
  return utimensat(dir, name.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

// The opened item must be the one looked at, or it was swapped meanwhile.
bool sameItem(int fd, const struct stat& st) {
  struct stat opened;
  if (fstat(fd, &opened) != 0) return false;
  if (opened.st_dev == st.st_dev && opened.st_ino == st.st_ino) return true;
  errno = ESTALE;
  return false;
}

bool copyItem(int srcDir, const std::string& srcName, int dstDir, const std::string& dstName,
              dev_t device, std::string& error);

bool copyFile(int srcDir, const std::string& srcName, const struct stat& st, int dstDir,
              const std::string& dstName, std::string& error) {
  UniqueFd in(openat(srcDir, srcName.c_str(), O_RDONLY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC));
  if (!in.valid() || !sameItem(in.get(), st)) return failed(error, "cannot read", srcName);
  UniqueFd out(openat(dstDir, dstName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                      0600));
  if (!out.valid()) return failed(error, "cannot create the copy of", srcName);
  if (!copyContents(in.get(), out.get())) return failed(error, "cannot copy", srcName);
  if (!copyAttributes(out.get(), st)) return failed(error, "cannot set the attributes of", srcName);
  // The original goes once the copy is complete: it must be on the disk first.
  if (fsync(out.get()) != 0 || !out.close()) return failed(error, "cannot write", srcName);
  return true;
}

bool copyFolder(int srcDir, const std::string& srcName, const struct stat& st, int dstDir,
                const std::string& dstName, std::string& error) {
  UniqueFd in(openat(srcDir, srcName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!in.valid() || !sameItem(in.get(), st)) return failed(error, "cannot open", srcName);
  std::vector<std::string> names;
  if (!listNames(in.get(), names)) return failed(error, "cannot list", srcName);
  if (mkdirat(dstDir, dstName.c_str(), 0700) != 0) {
    return failed(error, "cannot create the copy of", srcName);
  }
  UniqueFd out(openat(dstDir, dstName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!out.valid()) return failed(error, "cannot open the copy of", srcName);
  for (const std::string& name : names) {
    if (!copyItem(in.get(), name, out.get(), name, st.st_dev, error)) return false;
  }
  // Last, so that creating the entries does not change the folder's times.
  if (!copyAttributes(out.get(), st)) return failed(error, "cannot set the attributes of", srcName);
  return true;
}

bool copyLink(int srcDir, const std::string& srcName, const struct stat& st, int dstDir,
              const std::string& dstName, std::string& error) {
  std::vector<char> target(static_cast<std::size_t>(st.st_size) + 2);
  ssize_t n = readlinkat(srcDir, srcName.c_str(), target.data(), target.size());
  if (n < 0) return failed(error, "cannot read the link", srcName);
  if (static_cast<std::size_t>(n) >= target.size()) {
    errno = EAGAIN;  // it grew since it was looked at
    return failed(error, "cannot read the link", srcName);
  }
  target[static_cast<std::size_t>(n)] = '\0';
  if (symlinkat(target.data(), dstDir, dstName.c_str()) != 0) {
    return failed(error, "cannot create the copy of", srcName);
  }
  if (!copyAttributesAt(dstDir, dstName, st, true)) {
    return failed(error, "cannot set the attributes of", srcName);
  }
  return true;
}

bool copySpecial(const std::string& srcName, const struct stat& st, int dstDir,
                 const std::string& dstName, std::string& error) {
  if (mknodat(dstDir, dstName.c_str(), st.st_mode, st.st_rdev) != 0) {
    return failed(error, "cannot create the copy of", srcName);
  }
  if (!copyAttributesAt(dstDir, dstName, st, false)) {
    return failed(error, "cannot set the attributes of", srcName);
  }
  return true;
}

bool copyItem(int srcDir, const std::string& srcName, int dstDir, const std::string& dstName,
              dev_t device, std::string& error) {
  struct stat st;
  if (fstatat(srcDir, srcName.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return failed(error, "cannot look at", srcName);
  }
  if (S_ISDIR(st.st_mode) && st.st_dev != device) {
    error = srcName + " is the mount point of another filesystem";
    return false;
  }
  if (S_ISREG(st.st_mode)) return copyFile(srcDir, srcName, st, dstDir, dstName, error);
  if (S_ISDIR(st.st_mode)) return copyFolder(srcDir, srcName, st, dstDir, dstName, error);
  if (S_ISLNK(st.st_mode)) return copyLink(srcDir, srcName, st, dstDir, dstName, error);
  return copySpecial(srcName, st, dstDir, dstName, error);
}

}  // namespace

bool copyTree(const std::string& source, int destDir, const std::string& name, std::string& error) {
  struct stat st;
  if (lstat(source.c_str(), &st) != 0) return failed(error, "cannot look at", source);
  return copyItem(AT_FDCWD, source, destDir, name, st.st_dev, error);
}

bool removeTree(int dir, const std::string& name, std::string& error) {
  struct stat st;
  if (fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT || failed(error, "cannot look at", name);
  }
  if (!S_ISDIR(st.st_mode)) {
    return unlinkat(dir, name.c_str(), 0) == 0 || errno == ENOENT ||
           failed(error, "cannot remove", name);
  }
  UniqueFd folder(openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!folder.valid() || !sameItem(folder.get(), st)) return failed(error, "cannot open", name);
  std::vector<std::string> names;
  if (!listNames(folder.get(), names)) return failed(error, "cannot list", name);
  for (const std::string& entry : names) {
    if (!removeTree(folder.get(), entry, error)) return false;
  }
  folder.reset();
  return unlinkat(dir, name.c_str(), AT_REMOVEDIR) == 0 || errno == ENOENT ||
         failed(error, "cannot remove", name);
}

}  // namespace tavo
