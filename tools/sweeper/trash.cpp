#include "tools/sweeper/trash.h"
#include "tools/sweeper/trash_info.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <vector>

#include "base/io.h"
#include "base/path.h"
#include "base/utf8.h"

namespace tavo {
namespace {

constexpr const char* kInfoSuffix = ".trashinfo";
// Where a move is prepared: beside files/ and info/, where no Trash client looks.
// "m.NAME" is made before the info file of NAME and removed once the move is
// over, so that what a killed run left can be told as its own; "c.ID" holds a
// copy until it is whole.
constexpr const char* kStaging = ".sweeper-staging";
constexpr const char* kMarker = "m.";
constexpr const char* kCopy = "c.";
constexpr const char* kSourceFile = "source";  // a copy's source path, for a later run
constexpr const char* kCopyName = "item";
// "NAME.9999.trashinfo" must stay within the 255 bytes of a file name.
constexpr std::size_t kMaxBaseBytes = 255 - 5 - 10;
constexpr int kMaxTries = 9999;
constexpr std::size_t kMaxSourceBytes = 1 << 20;

std::string errorText(const std::string& what) { return what + ": " + std::strerror(errno); }

std::string deletionDate() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  char text[32];
  if (!localtime_r(&now, &local) ||
      std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local) == 0) {
    return "1970-01-01T00:00:00";
  }
  return text;
}

bool giveTo(int fd, TreeOwner owner) {
  struct stat st;
  if (fstat(fd, &st) != 0) return false;
  if (st.st_uid == owner.uid && st.st_gid == owner.gid) return true;
  return fchown(fd, owner.uid, owner.gid) == 0;
}

// Opens the folder `name` in `parent`, creating it for `owner` when missing. A
// link, or a folder of another user (of root too unless `rootToo`), is
// refused: root writes here on the user's behalf.
UniqueFd openFolder(int parent, const std::string& name, TreeOwner owner, bool rootToo,
                    std::string& error) {
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
  if (st.st_uid != owner.uid && !(rootToo && st.st_uid == 0)) {
    error = name + " belongs to another user";
    return UniqueFd();
  }
  return fd;
}

// The nearest existing folder above `parts` (itself included), opened; `depth`
// says how many of the parts it covers.
UniqueFd openNearest(const std::vector<std::string>& parts, std::size_t& depth, std::string& error) {
  for (depth = parts.size();; --depth) {
    std::vector<std::string> prefix(parts.begin(), parts.begin() + static_cast<std::ptrdiff_t>(depth));
    UniqueFd fd(open(joinParts(prefix).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.valid()) return fd;
    if (errno != ENOENT || depth == 0) {
      error = errorText("cannot open " + joinParts(prefix));
      return UniqueFd();
    }
  }
}

// Never replaces what is already at the destination.
int renameNoReplace(int fromDir, const std::string& from, int toDir, const std::string& to) {
  if (renameat2(fromDir, from.c_str(), toDir, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL) return -1;
  // A filesystem without the flag: the name was reserved and checked, look again.
  struct stat st;
  if (fstatat(toDir, to.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    errno = EEXIST;
    return -1;
  }
  return renameat(fromDir, from.c_str(), toDir, to.c_str());
}

bool exists(int dir, const std::string& name) {
  struct stat st;
  return fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT;
}

bool writeFileIn(int dir, const std::string& name, const std::string& text, TreeOwner owner) {
  UniqueFd fd(openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  return fd.valid() && writeAll(fd.get(), text) && giveTo(fd.get(), owner) && fsync(fd.get()) == 0 &&
         fd.close();
}

std::string readFileIn(int dir, const std::string& name) {
  UniqueFd fd(openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  std::string text;
  if (!fd.valid() || !readAll(fd.get(), text, kMaxSourceBytes)) return "";
  return text;
}

}  // namespace

Trash::Trash(UniqueFd root, UniqueFd files, UniqueFd info, UniqueFd staging, std::string path,
             std::string topdir, TreeOwner owner, dev_t device)
    : root_(std::move(root)),
      files_(std::move(files)),
      info_(std::move(info)),
      staging_(std::move(staging)),
      path_(std::move(path)),
      topdir_(std::move(topdir)),
      owner_(owner),
      device_(device) {}

std::optional<Trash> Trash::openIn(UniqueFd root, std::string path, std::string topdir,
                                   TreeOwner owner, std::string& error) {
  UniqueFd files = openFolder(root.get(), "files", owner, false, error);
  if (!files.valid()) return std::nullopt;
  UniqueFd info = openFolder(root.get(), "info", owner, false, error);
  if (!info.valid()) return std::nullopt;
  UniqueFd staging = openFolder(root.get(), kStaging, owner, false, error);
  if (!staging.valid()) return std::nullopt;
  struct stat st;
  if (fstat(files.get(), &st) != 0) {
    error = errorText("cannot look at files");
    return std::nullopt;
  }
  return Trash(std::move(root), std::move(files), std::move(info), std::move(staging),
               std::move(path), std::move(topdir), owner, st.st_dev);
}

std::optional<Trash> Trash::openHome(const std::string& path, TreeOwner owner, std::string& error) {
  std::vector<std::string> parts = splitPath(path);
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
    folder = openFolder(folder.get(), parts[depth], owner, true, error);
    if (!folder.valid()) return std::nullopt;
  }
  return openIn(std::move(folder), joinParts(parts), "", owner, error);
}

std::optional<Trash> Trash::openTop(int top, const std::string& topdir, TreeOwner owner,
                                    std::string& error) {
  const std::string uid = std::to_string(owner.uid);
  // The administrator's shared trash, when it is a real sticky folder.
  struct stat st;
  if (fstatat(top, ".Trash", &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode) &&
      (st.st_mode & S_ISVTX) != 0) {
    UniqueFd shared(openat(top, ".Trash", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    std::string ignored;
    UniqueFd own = shared.valid() ? openFolder(shared.get(), uid, owner, false, ignored) : UniqueFd();
    if (own.valid()) {
      return openIn(std::move(own), joinPath(topdir, ".Trash/" + uid), topdir, owner, error);
    }
  }
  UniqueFd own = openFolder(top, ".Trash-" + uid, owner, false, error);
  if (!own.valid()) return std::nullopt;
  return openIn(std::move(own), joinPath(topdir, ".Trash-" + uid), topdir, owner, error);
}

bool Trash::lock(std::string& error) {
  while (flock(root_.get(), LOCK_EX) != 0) {
    if (errno != EINTR) {
      error = errorText("cannot lock the trash");
      return false;
    }
  }
  if (!cleaned_) cleanUp();
  cleaned_ = true;
  return true;
}

void Trash::unlock() { flock(root_.get(), LOCK_UN); }

// What a killed run left, removed under the lock, so that none of it belongs
// to a run still going. A copy that reached files/ may have left part of its
// source: that is finished when the same path comes again, never copied twice.
void Trash::cleanUp() {
  std::vector<std::string> names;
  std::string ignored;
  if (!listNames(staging_.get(), names)) return;
  for (const std::string& entry : names) {
    struct stat st;
    if (fstatat(staging_.get(), entry.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        st.st_uid != owner_.uid) {
      continue;
    }
    const std::string name = entry.substr(2);
    if (entry.rfind(kMarker, 0) == 0 && exists(files_.get(), name)) {
      UniqueFd marker(openat(staging_.get(), entry.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      std::string source = marker.valid() ? readFileIn(marker.get(), kSourceFile) : "";
      if (!source.empty()) unfinished_[source] = name;
      // Killed between its rename and giving it away: the user's all the same.
      if (owner_.uid != 0) giveTree(files_.get(), name, owner_, ignored);
    } else if (entry.rfind(kMarker, 0) == 0) {
      unlinkat(info_.get(), (name + kInfoSuffix).c_str(), 0);
    }
    removeTree(staging_.get(), entry, ignored);
  }
}

// The info file is created exclusively, after the item's staging folder: it
// reserves the name against any other program trashing at the same time.
bool Trash::reserve(const Item& item, const struct stat& st, bool copying, std::string& name,
                    std::string& error) {
  // Cut on a character boundary, so that the name stays valid UTF-8.
  const std::string trimmed(cutUtf8(item.name, kMaxBaseBytes));
  for (int n = 1; n <= kMaxTries; ++n) {
    std::string candidate = n == 1 ? trimmed : trimmed + "." + std::to_string(n);
    const std::string infoName = candidate + kInfoSuffix, markerName = kMarker + candidate;
    if (mkdirat(staging_.get(), markerName.c_str(), 0700) != 0) {
      if (errno == EEXIST) continue;
      error = errorText("cannot prepare the move");
      return false;
    }
    UniqueFd marker(openat(staging_.get(), markerName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    UniqueFd info;
    if (marker.valid()) {
      info.reset(openat(info_.get(), infoName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    }
    if (!info.valid()) {
      const int why = errno;
      unlinkat(staging_.get(), markerName.c_str(), AT_REMOVEDIR);
      if (why == EEXIST && marker.valid()) continue;
      errno = why;
      error = errorText("cannot create an info file");
      return false;
    }
    if (exists(files_.get(), candidate)) {
      abandon(candidate);
      continue;  // an item without its info file still owns its name
    }
    bool written = giveTo(marker.get(), owner_) && writeAll(info.get(), infoText(item.path, st)) &&
                   giveTo(info.get(), owner_) && fsync(info.get()) == 0 && info.close() &&
                   (!copying || writeFileIn(marker.get(), kSourceFile, item.path, owner_));
    if (!written) {
      error = errorText("cannot write the info file");
      abandon(candidate);
      return false;
    }
    name = candidate;
    return true;
  }
  error = "no free name left in the trash for " + item.name;
  return false;
}

void Trash::abandon(const std::string& name) {
  std::string ignored;
  unlinkat(info_.get(), (name + kInfoSuffix).c_str(), 0);
  removeTree(staging_.get(), kMarker + name, ignored);
}

std::string Trash::infoText(const std::string& path, const struct stat& st) const {
  // In a top-directory trash the path is relative to the top folder.
  std::string shown = path;
  if (!topdir_.empty()) shown = path.substr(topdir_ == "/" ? 1 : topdir_.size() + 1);
  std::string text = "[Trash Info]\nPath=" + percentEncode(shown) + "\nDeletionDate=" +
                     deletionDate() + "\n";
  if (st.st_uid != owner_.uid) {
    // Given to the user below: an administrator can put this back.
    char original[64];
    std::snprintf(original, sizeof original, "X-TAVO-OriginalOwner=%u:%u:%04o\n",
                  static_cast<unsigned>(st.st_uid), static_cast<unsigned>(st.st_gid),
                  static_cast<unsigned>(st.st_mode & 07777));
    text += original;
  }
  return text;
}

MoveResult Trash::moved(const std::string& name) {
  std::string ignored;
  removeTree(staging_.get(), kMarker + name, ignored);
  return {MoveResult::Outcome::Moved, joinPath(path_, "files/" + name), "", false};
}

// One move at a time per trash, of an item looked at once the lock is held:
// another run may have moved it meanwhile.
MoveResult Trash::underLock(const Item& item,
                            MoveResult (Trash::*move)(const Item&, const struct stat&)) {
  using Outcome = MoveResult::Outcome;
  std::string error;
  if (!lock(error)) return {Outcome::Failed, "", error, false};
  struct stat st;
  MoveResult result{Outcome::Missing, "", "", false};
  if (fstatat(item.parent, item.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    result = (this->*move)(item, st);
  } else if (errno != ENOENT) {
    result = {Outcome::Failed, "", errorText("cannot look at it"), false};
  }
  unlock();
  return result;
}

MoveResult Trash::rename(const Item& item) { return underLock(item, &Trash::renameLocked); }

MoveResult Trash::copy(const Item& item) { return underLock(item, &Trash::copyLocked); }

MoveResult Trash::renameLocked(const Item& item, const struct stat& st) {
  using Outcome = MoveResult::Outcome;
  std::string name, error;
  if (!reserve(item, st, false, name, error)) return {Outcome::Failed, "", error, false};
  if (renameNoReplace(item.parent, item.name, files_.get(), name) != 0) {
    const int why = errno;
    abandon(name);
    if (why == ENOENT) return {Outcome::Missing, "", "", false};
    return {Outcome::Failed, "", std::string("cannot move it: ") + std::strerror(why), why == EXDEV};
  }
  MoveResult result = moved(name);
  // Root, whose trash it may be, can do anything with what is in it.
  if (owner_.uid != 0 && !giveTree(files_.get(), name, owner_, error)) {
    result.detail = "not all of it is the user's: " + error;
  }
  return result;
}

// A copy of an earlier run reached files/ before that run was killed: what of
// its source is still there and the same is removed now.
MoveResult Trash::resume(const Item& item, std::string name) {
  unfinished_.erase(item.path);  // `name` is a copy: the entry it came from is gone now
  MoveResult result = moved(name);
  if (!removeMatching(item.parent, item.name, files_.get(), name)) {
    result.outcome = MoveResult::Outcome::Partial;
    result.detail = "an earlier run copied it; what differs from that copy stays";
  }
  return result;
}

UniqueFd Trash::makeCopyFolder(std::string& name, std::string& error) {
  for (int n = 1; n <= kMaxTries; ++n) {
    name = kCopy + std::to_string(getpid()) + "." + std::to_string(n);
    if (mkdirat(staging_.get(), name.c_str(), 0700) == 0) {
      UniqueFd fd(openat(staging_.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (fd.valid() && giveTo(fd.get(), owner_)) return fd;
      break;
    }
    if (errno != EEXIST) break;
  }
  error = errorText("cannot prepare the copy");
  return UniqueFd();
}

MoveResult Trash::copyLocked(const Item& item, const struct stat& st) {
  using Outcome = MoveResult::Outcome;
  std::string name, error;
  if (auto earlier = unfinished_.find(item.path); earlier != unfinished_.end()) {
    return resume(item, earlier->second);
  }
  // The copy is made first, out of sight: only a whole copy gets an info file.
  std::string copyFolder;
  UniqueFd copies = makeCopyFolder(copyFolder, error);
  CopiedEntry copied;
  bool copiedAll = copies.valid() && copyTree(item.parent, item.name, copies.get(), kCopyName,
                                              owner_, copied, error);
  // On the disk before it shows in files/ and before the source goes.
  if (copiedAll && syncfs(files_.get()) != 0) {
    copiedAll = false;
    error = errorText("cannot write the copy");
  }
  std::string ignored;
  if (!copiedAll) {
    if (!copyFolder.empty()) removeTree(staging_.get(), copyFolder, ignored);
    return {Outcome::Failed, "", "cannot copy it to the trash: " + error, false};
  }
  bool placed = reserve(item, st, true, name, error);
  if (placed && renameNoReplace(copies.get(), kCopyName, files_.get(), name) != 0) {
    error = errorText("cannot put the copy in place");
    abandon(name);
    placed = false;
  }
  removeTree(staging_.get(), copyFolder, ignored);
  if (!placed) return {Outcome::Failed, "", error, false};
  // The copy is committed: from here on the marker tells a later run which
  // source to finish, should this one be killed.
  if (removeCopied(item.parent, copied, files_.get(), name)) return moved(name);
  MoveResult result = moved(name);
  result.outcome = Outcome::Partial;
  result.detail = "what changed while it was copied stays";
  return result;
}

}  // namespace tavo
