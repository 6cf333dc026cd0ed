#include "tools/sweeper/trash.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <vector>

#include "base/io.h"
#include "base/path.h"
#include "base/utf8.h"
#include "tools/sweeper/trash_info.h"
#include "tools/sweeper/tree.h"

namespace tavo {
namespace {

constexpr const char* kInfoSuffix = ".trashinfo";
// "NAME.9999.trashinfo" must stay within the 255 bytes of a file name.
constexpr std::size_t kMaxBaseBytes = 255 - 5 - 10;
constexpr int kMaxTries = 9999;

std::string errorText(const std::string& what) { return what + ": " + std::strerror(errno); }

std::string deletionDate() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  char text[32];
  if (!localtime_r(&now, &local) || std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local) == 0) {
    return "1970-01-01T00:00:00";
  }
  return text;
}

bool giveTo(int fd, TrashOwner owner) {
  struct stat st;
  if (fstat(fd, &st) != 0) return false;
  if (st.st_uid == owner.uid && st.st_gid == owner.gid) return true;
  return fchown(fd, owner.uid, owner.gid) == 0;
}

// Opens the folder `name` in `parent`, creating it for `owner` when missing. A
// link or a folder of another user is refused: root writes here on their behalf.
UniqueFd openFolder(int parent, const std::string& name, TrashOwner owner, std::string& error) {
  bool created = mkdirat(parent, name.c_str(), 0700) == 0;
  if (!created && errno != EEXIST) {
    error = errorText("cannot create " + name);
    return UniqueFd();
  }
  UniqueFd fd(openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd.valid()) {
    error = errorText("cannot open " + name);
    return UniqueFd();
  }
  struct stat st;
  if ((created && !giveTo(fd.get(), owner)) || fstat(fd.get(), &st) != 0) {
    error = errorText("cannot give " + name + " to its user");
    return UniqueFd();
  }
  if (st.st_uid != owner.uid && st.st_uid != 0) {
    error = name + " belongs to another user";
    return UniqueFd();
  }
  return fd;
}

// The nearest existing folder above `parts` (itself included), opened; `depth`
// says how many of the parts it covers.
UniqueFd openNearest(const std::vector<std::string>& parts, std::size_t& depth, std::string& error) {
  for (depth = parts.size();; --depth) {
    std::string prefix;
    for (std::size_t i = 0; i < depth; ++i) prefix += "/" + parts[i];
    if (prefix.empty()) prefix = "/";
    UniqueFd fd(open(prefix.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.valid()) return fd;
    if (errno != ENOENT || depth == 0) {
      error = errorText("cannot open " + prefix);
      return UniqueFd();
    }
  }
}

// Never replaces what is already at the destination.
int renameNoReplace(const std::string& from, int toDir, const std::string& to) {
  if (renameat2(AT_FDCWD, from.c_str(), toDir, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL) return -1;
  // A filesystem without the flag: the name was reserved and checked, look again.
  struct stat st;
  if (fstatat(toDir, to.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    errno = EEXIST;
    return -1;
  }
  return renameat(AT_FDCWD, from.c_str(), toDir, to.c_str());
}

}  // namespace

std::optional<Trash> Trash::open(const std::string& path, TrashOwner owner, std::string& error) {
  std::vector<std::string> parts;
  for (std::size_t start = 1; start <= path.size();) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  std::size_t depth = 0;
  UniqueFd folder = openNearest(parts, depth, error);
  if (!folder.valid()) return std::nullopt;
  if (depth == parts.size()) {
    // An existing Trash folder may be a link the user made; whose it is counts.
    struct stat st;
    if (fstat(folder.get(), &st) != 0 || (st.st_uid != owner.uid && st.st_uid != 0)) {
      error = "the Trash folder belongs to another user";
      return std::nullopt;
    }
  }
  for (; depth < parts.size(); ++depth) {
    folder = openFolder(folder.get(), parts[depth], owner, error);
    if (!folder.valid()) return std::nullopt;
  }
  UniqueFd files = openFolder(folder.get(), "files", owner, error);
  if (!files.valid()) return std::nullopt;
  UniqueFd info = openFolder(folder.get(), "info", owner, error);
  if (!info.valid()) return std::nullopt;
  return Trash(std::move(files), std::move(info), owner);
}

// The info file is created first, exclusively: it reserves the name against
// any other program trashing at the same time.
bool Trash::reserveName(const std::string& base, std::string& name, UniqueFd& infoFile,
                        std::string& error) {
  // Cut on a character boundary, so that the name stays valid UTF-8.
  const std::string trimmed(cutUtf8(base, kMaxBaseBytes));
  for (int n = 1; n <= kMaxTries; ++n) {
    std::string candidate = n == 1 ? trimmed : trimmed + "." + std::to_string(n);
    std::string infoName = candidate + kInfoSuffix;
    UniqueFd fd(openat(info_.get(), infoName.c_str(),
                       O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.valid() && errno == EEXIST) continue;
    if (!fd.valid()) {
      error = errorText("cannot create an info file");
      return false;
    }
    struct stat st;
    if (fstatat(files_.get(), candidate.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT) {
      unlinkat(info_.get(), infoName.c_str(), 0);
      continue;  // an item without its info file still owns its name
    }
    name = candidate;
    infoFile = std::move(fd);
    return true;
  }
  error = "no free name left in the Trash for " + base;
  return false;
}

bool Trash::writeInfo(int fd, const std::string& path, std::string& error) {
  std::string text = "[Trash Info]\nPath=" + percentEncode(path) + "\nDeletionDate=" +
                     deletionDate() + "\n";
  if (!writeAll(fd, text)) {
    error = errorText("cannot write the info file");
    return false;
  }
  if (!giveTo(fd, owner_) || fsync(fd) != 0) {
    error = errorText("cannot finish the info file");
    return false;
  }
  return true;
}

void Trash::forget(const std::string& name) {
  unlinkat(info_.get(), (name + kInfoSuffix).c_str(), 0);
}

MoveResult Trash::move(const std::string& path) {
  using Outcome = MoveResult::Outcome;
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return {Outcome::Missing, ""};
    return {Outcome::Failed, errorText("cannot look at it")};
  }
  std::string name, error;
  UniqueFd infoFile;
  if (!reserveName(baseName(path), name, infoFile, error)) return {Outcome::Failed, error};
  bool written = writeInfo(infoFile.get(), path, error);
  if (!infoFile.close() && written) {
    written = false;
    error = errorText("cannot close the info file");
  }
  if (!written) {
    forget(name);
    return {Outcome::Failed, error};
  }
  if (renameNoReplace(path, files_.get(), name) == 0) return {Outcome::Moved, name};
  if (errno == EXDEV) return moveAcross(path, name);
  int renameError = errno;
  forget(name);
  if (renameError == ENOENT) return {Outcome::Missing, ""};
  return {Outcome::Failed, std::string("cannot move it: ") + std::strerror(renameError)};
}

// Another filesystem: the original goes only once the whole copy is in place.
MoveResult Trash::moveAcross(const std::string& path, const std::string& name) {
  using Outcome = MoveResult::Outcome;
  std::string error;
  if (!copyTree(path, files_.get(), name, error)) {
    std::string detail = "cannot copy it to the Trash: " + error;
    std::string cleanup;
    if (!removeTree(files_.get(), name, cleanup)) {
      detail += "; the partial copy files/" + name + " remains: " + cleanup;
    }
    forget(name);
    return {Outcome::Failed, detail};
  }
  if (!removeTree(AT_FDCWD, path, error)) {
    // The copy in the Trash is whole and now the only one: it stays.
    return {Outcome::Failed,
            "copied to the Trash as files/" + name + ", but the original is only partly removed: " + error};
  }
  return {Outcome::Moved, name};
}

}  // namespace tavo
