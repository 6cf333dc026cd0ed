#include "tools/sweeper/trash.h"
#include "tools/sweeper/trash_info.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <vector>

#include "base/io.h"
#include "base/path.h"
#include "base/path_walk.h"
#include "base/utf8.h"

namespace tavo {
namespace {

constexpr const char* kInfoSuffix = ".trashinfo";
// Where a move is prepared: .sweeper-staging/ beside files/ and info/, where
// no Trash client looks. What each name there means, and what the next run
// does when it finds it (under the trash's lock, so that none of it belongs to
// a run still going; then the name goes):
//
//   m.NAME/        Root's, made before info/NAME.trashinfo to reserve NAME and
//                  removed once the move is over. With files/NAME there, the
//                  move happened (see the next two rows); without, it never
//                  did, and info/NAME.trashinfo goes too.
//   m.NAME/source  Root's, for a copy: the source's path. The copy reached
//                  files/, but part of the source may remain: when that path
//                  comes again, what of it still matches the copy goes.
//   m.NAME/give    Root's, for an item an installed product names that moved
//                  by a rename: its device and inode. files/NAME is given to
//                  the user when it is still that item (a copy is the user's
//                  as it is made).
//   c.PID.N/item   A copy not yet whole: removed.
//   anything else  Not this program's: removed.
//
// Only root's markers count: the user, whose trash this is, can make anything else.
constexpr const char* kStaging = ".sweeper-staging";
constexpr const char* kMarker = "m.";
constexpr const char* kCopy = "c.";
constexpr const char* kSourceFile = "source";
constexpr const char* kGiveFile = "give";
constexpr const char* kCopyName = "item";
// "NAME.9999.trashinfo" must stay within the 255 bytes of a file name.
constexpr std::size_t kMaxBaseBytes = 255 - 5 - 10;
constexpr int kMaxTries = 9999;
constexpr std::size_t kMaxSourceBytes = 1 << 20;
constexpr std::size_t kMaxInfoBytes = 64 << 10;
// Where a copy back is made, beside its place, before it is renamed there.
constexpr const char* kRestoring = ".sweeper-restoring.";

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

// A folder of the trash itself is the user's alone; one on the way to it may
// also be root's, but nobody else may write either.
enum class Folder { Trash, OnTheWay };

bool usable(const struct stat& st, const User& user, Folder kind) {
  const bool owned = st.st_uid == user.uid || (kind == Folder::OnTheWay && st.st_uid == 0);
  return S_ISDIR(st.st_mode) && owned && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// Opens the folder `name` in `parent`, creating it when missing. Both happen
// with the user's file-system ids, so that root makes no folder where the
// user could not, and whatever is found there (another user may have put
// their own folder in its place meanwhile) is judged as it is: never given away.
UniqueFd openFolder(int parent, const std::string& name, const User& user, Folder kind,
                    std::string& error) {
  UniqueFd fd;
  {
    AsUser as(user);
    if (!as.ok()) {
      error = "cannot act as the user";
      return UniqueFd();
    }
    if (mkdirat(parent, name.c_str(), 0700) != 0 && errno != EEXIST) {
      error = errorText("cannot create " + name);
      return UniqueFd();
    }
    fd.reset(openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  }
  struct stat st;
  if (!fd.valid() || fstat(fd.get(), &st) != 0) {
    error = errorText("cannot open " + name);
    return UniqueFd();
  }
  if (!usable(st, user, kind)) {
    error = name + " belongs to another user or may be written by others";
    return UniqueFd();
  }
  return fd;
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

// An entry's device and inode, as the give marker keeps them.
std::string identityOf(const struct stat& st) {
  return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

bool exists(int dir, const std::string& name) {
  struct stat st;
  return fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT;
}

bool writeFileIn(int dir, const std::string& name, const std::string& text) {
  UniqueFd fd(openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  return fd.valid() && writeAll(fd.get(), text) && fsync(fd.get()) == 0 && fd.close();
}

std::string readFileIn(int dir, const std::string& name) {
  UniqueFd fd(openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  std::string text;
  if (!fd.valid() || !readAll(fd.get(), text, kMaxSourceBytes)) return "";
  return text;
}

}  // namespace

// One move at a time per trash: the lock on its folder, held for the scope.
// The first time it is taken it clears what a killed run left.
class Trash::Lock {
 public:
  explicit Lock(Trash& trash) : fd_(trash.root_.get()) {
    while (flock(fd_, LOCK_EX) != 0) {
      if (errno != EINTR) {
        error_ = errorText("cannot lock the trash");
        fd_ = -1;
        return;
      }
    }
    if (!trash.cleaned_) trash.cleanUp();
    trash.cleaned_ = true;
  }
  ~Lock() {
    if (fd_ >= 0) flock(fd_, LOCK_UN);
  }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;
  bool held() const { return fd_ >= 0; }
  const std::string& error() const { return error_; }

 private:
  int fd_;
  std::string error_;
};

Trash::Trash(UniqueFd root, UniqueFd files, UniqueFd info, UniqueFd staging, std::string path,
             std::string topdir, User user, dev_t device)
    : root_(std::move(root)),
      files_(std::move(files)),
      info_(std::move(info)),
      staging_(std::move(staging)),
      path_(std::move(path)),
      topdir_(std::move(topdir)),
      user_(std::move(user)),
      device_(device) {}

std::optional<Trash> Trash::openIn(UniqueFd root, std::string path, std::string topdir,
                                   const User& user, std::string& error) {
  UniqueFd files = openFolder(root.get(), "files", user, Folder::Trash, error);
  if (!files.valid()) return std::nullopt;
  UniqueFd info = openFolder(root.get(), "info", user, Folder::Trash, error);
  if (!info.valid()) return std::nullopt;
  UniqueFd staging = openFolder(root.get(), kStaging, user, Folder::Trash, error);
  if (!staging.valid()) return std::nullopt;
  struct stat st;
  if (fstat(files.get(), &st) != 0) {
    error = errorText("cannot look at files");
    return std::nullopt;
  }
  return Trash(std::move(root), std::move(files), std::move(info), std::move(staging),
               std::move(path), std::move(topdir), user, st.st_dev);
}

std::optional<Trash> Trash::openHome(const std::string& path, const User& user, std::string& error) {
  // Where the Trash and the home folder really are; from the home folder on,
  // the walk never follows a link, so nothing renamed meanwhile can lead it out.
  ResolvedPath home, trash;
  if (!resolvePath(splitPath(user.home), home, error) || !home.fd.valid() ||
      !resolvePath(splitPath(path), trash, error)) {
    error = "cannot find the home folder " + user.home + " or the Trash: " + error;
    return std::nullopt;
  }
  if (trash.parts.size() <= home.parts.size() ||
      !std::equal(home.parts.begin(), home.parts.end(), trash.parts.begin())) {
    error = "it does not lie inside the home folder " + user.home + " of the user it is for";
    return std::nullopt;
  }
  UniqueFd folder(openat(home.fd.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  struct stat st;
  if (!folder.valid() || fstat(folder.get(), &st) != 0 || !usable(st, user, Folder::OnTheWay)) {
    error = "the home folder " + user.home + " may be written by others than its user";
    return std::nullopt;
  }
  for (std::size_t i = home.parts.size(); i < trash.parts.size(); ++i) {
    const bool last = i + 1 == trash.parts.size();
    folder = openFolder(folder.get(), trash.parts[i], user, last ? Folder::Trash : Folder::OnTheWay, error);
    if (!folder.valid()) return std::nullopt;
  }
  return openIn(std::move(folder), joinParts(splitPath(path)), "", user, error);
}

std::optional<Trash> Trash::openTop(int top, const std::string& topdir, const User& user,
                                    std::string& error) {
  const std::string uid = std::to_string(user.uid);
  // The administrator's shared trash, when it is a real sticky folder.
  UniqueFd shared(openat(top, ".Trash", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat st;
  if (shared.valid() && fstat(shared.get(), &st) == 0 && (st.st_mode & S_ISVTX) != 0) {
    std::string ignored;
    UniqueFd own = openFolder(shared.get(), uid, user, Folder::Trash, ignored);
    if (own.valid()) {
      return openIn(std::move(own), joinPath(topdir, ".Trash/" + uid), topdir, user, error);
    }
  }
  UniqueFd own = openFolder(top, ".Trash-" + uid, user, Folder::Trash, error);
  if (!own.valid()) return std::nullopt;
  return openIn(std::move(own), joinPath(topdir, ".Trash-" + uid), topdir, user, error);
}

void Trash::cleanUp() {
  std::vector<std::string> names;
  std::string ignored;
  if (!listNames(staging_.get(), names)) return;
  for (const std::string& entry : names) {
    struct stat st;
    const bool ours = fstatat(staging_.get(), entry.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                      S_ISDIR(st.st_mode) && st.st_uid == geteuid();
    const std::string name = entry.substr(std::min<std::size_t>(2, entry.size()));
    if (ours && entry.rfind(kMarker, 0) == 0 && exists(files_.get(), name)) {
      UniqueFd marker(openat(staging_.get(), entry.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      std::string source = marker.valid() ? readFileIn(marker.get(), kSourceFile) : "";
      if (!source.empty()) unfinished_[source] = name;
      // Killed between its rename and giving it away: the user's all the same,
      // but only the very item, whatever the user renamed in their trash since.
      const std::string given = marker.valid() ? readFileIn(marker.get(), kGiveFile) : "";
      struct stat now;
      if (!given.empty() && fstatat(files_.get(), name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
          given == identityOf(now)) {
        giveTree(files_.get(), name, now, user_.owner(), ignored);
      }
    } else if (ours && entry.rfind(kMarker, 0) == 0) {
      unlinkat(info_.get(), (name + kInfoSuffix).c_str(), 0);
    }
    removeTree(staging_.get(), entry, ignored);
  }
}

// The info file is created exclusively, after the item's marker: it reserves
// the name against any other program trashing at the same time.
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
    bool written = writeAll(info.get(), infoText(item, st)) && giveTo(info.get(), user_.owner()) &&
                   fsync(info.get()) == 0 && info.close() &&
                   (!copying || writeFileIn(marker.get(), kSourceFile, item.path)) &&
                   (copying || !item.giveAway || writeFileIn(marker.get(), kGiveFile, identityOf(st)));
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

std::string Trash::infoText(const Item& item, const struct stat& st) const {
  // In a top-directory trash the path is relative to the top folder.
  std::string shown = item.path;
  if (!topdir_.empty()) shown = item.path.substr(topdir_ == "/" ? 1 : topdir_.size() + 1);
  std::string text = "[Trash Info]\nPath=" + percentEncode(shown) + "\nDeletionDate=" +
                     deletionDate() + "\n";
  if (item.giveAway && st.st_uid != user_.uid) {
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
  return MoveResult::moved(joinPath(path_, "files/" + name));
}

// One move at a time per trash, of an item looked at once the lock is held:
// another run may have moved it meanwhile, and it must still be what was checked.
MoveResult Trash::underLock(const Item& item, const Move& move) {
  Lock lock(*this);
  if (!lock.held()) return MoveResult::failed(lock.error());
  struct stat st;
  if (fstatat(item.parent, item.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT ? MoveResult::missing() : MoveResult::failed(errorText("cannot look at it"));
  }
  if (st.st_dev != item.device || st.st_ino != item.inode) {
    return MoveResult::failed("another file took its place after it was checked");
  }
  return move(st);
}

MoveResult Trash::rename(const Item& item) {
  return underLock(item, [&](const struct stat& st) { return renameLocked(item, st); });
}

MoveResult Trash::copy(const Item& item, const CopyProgress& progress) {
  return underLock(item, [&](const struct stat& st) { return copyLocked(item, st, progress); });
}

MoveResult Trash::renameLocked(const Item& item, const struct stat& st) {
  std::string name, error;
  if (!reserve(item, st, false, name, error)) return MoveResult::failed(error);
  if (renameNoReplace(item.parent, item.name, files_.get(), name) != 0) {
    const int why = errno;
    abandon(name);
    if (why == ENOENT) return MoveResult::missing();
    const std::string text = std::string("cannot move it: ") + std::strerror(why);
    return why == EXDEV ? MoveResult::cannotReach(text) : MoveResult::failed(text);
  }
  // Given before its marker goes, so that a run killed meanwhile is finished by the next.
  const bool given = !item.giveAway || giveTree(files_.get(), name, st, user_.owner(), error);
  MoveResult result = moved(name);
  if (!given) result.detail = "not all of it is the user's: " + error;
  return result;
}

// A copy of an earlier run reached files/ before that run was killed: what of
// its source is still there and the same is removed now.
MoveResult Trash::resume(const Item& item, std::string name) {
  unfinished_.erase(item.path);  // `name` is a copy: the entry it came from is gone now
  const std::optional<uid_t> onlyOf =
      item.giveAway || user_.uid == 0 ? std::nullopt : std::optional<uid_t>(user_.uid);
  if (removeMatching(item.parent, item.name, files_.get(), name, onlyOf)) return moved(name);
  return MoveResult::partial(moved(name).where,
                             "an earlier run copied it; what differs from that copy stays");
}

UniqueFd Trash::makeCopyFolder(std::string& name, std::string& error) {
  for (int n = 1; n <= kMaxTries; ++n) {
    name = kCopy + std::to_string(getpid()) + "." + std::to_string(n);
    if (mkdirat(staging_.get(), name.c_str(), 0700) == 0) {
      UniqueFd fd(openat(staging_.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (fd.valid() && giveTo(fd.get(), user_.owner())) return fd;
      break;
    }
    if (errno != EEXIST) break;
  }
  error = errorText("cannot prepare the copy");
  return UniqueFd();
}

MoveResult Trash::copyLocked(const Item& item, const struct stat& st, const CopyProgress& progress) {
  if (auto earlier = unfinished_.find(item.path); earlier != unfinished_.end()) {
    return resume(item, earlier->second);
  }
  if (S_ISBLK(st.st_mode) || S_ISCHR(st.st_mode)) {
    return MoveResult::failed("it is a device, which a copy never makes");
  }
  const std::uint64_t total = bytesIn(item.parent, item.name);
  if (progress) progress(0, total);
  const CopyOptions options{user_.owner(), item.giveAway,
                            [&](std::uint64_t done) { if (progress) progress(done, total); }};
  // The copy is made first, out of sight: only a whole copy gets an info file.
  std::string copyFolder, name, error;
  UniqueFd copies = makeCopyFolder(copyFolder, error);
  CopiedEntry copied;
  std::vector<std::string> left;
  bool copiedAll = copies.valid() && copyTree(item.parent, item.name, copies.get(), kCopyName,
                                              options, copied, left, error);
  // On the disk before it shows in files/ and before the source goes.
  if (copiedAll && syncfs(files_.get()) != 0) {
    copiedAll = false;
    error = errorText("cannot write the copy");
  }
  std::string ignored;
  if (!copiedAll) {
    if (!copyFolder.empty()) removeTree(staging_.get(), copyFolder, ignored);
    return MoveResult::failed("cannot copy it to the trash: " + error);
  }
  bool placed = reserve(item, st, true, name, error);
  if (placed && renameNoReplace(copies.get(), kCopyName, files_.get(), name) != 0) {
    error = errorText("cannot put the copy in place");
    abandon(name);
    placed = false;
  }
  removeTree(staging_.get(), copyFolder, ignored);
  if (!placed) return MoveResult::failed(error);
  // The copy is committed: from here on the marker tells a later run which
  // source to finish, should this one be killed.
  const bool allGone = removeCopied(item.parent, copied, files_.get(), name);
  MoveResult result = moved(name);
  if (allGone) return result;
  std::string what = "what changed while it was copied stays";
  if (!left.empty()) {
    what = "devices are never copied, and stay:";
    for (const std::string& device : left) what += " " + device;
  }
  return MoveResult::partial(result.where, what);
}

// The info file is the user's: read as them, never through a link.
bool Trash::infoSays(const std::string& name, const std::string& path, std::string& error) {
  UniqueFd fd;
  {
    AsUser as(user_);
    if (as.ok()) {
      fd.reset(openat(info_.get(), (name + kInfoSuffix).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    }
  }
  struct stat st;
  std::string text;
  if (!fd.valid() || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
      !readAll(fd.get(), text, kMaxInfoBytes)) {
    error = "its info file cannot be read";
    return false;
  }
  std::optional<std::string> said = trashInfoPath(text);
  // In a top-directory trash the path is relative to the top folder.
  if (said && !topdir_.empty() && !said->empty() && said->front() != '/') *said = joinPath(topdir_, *said);
  if (!said || *said != path) {
    error = "the item of that name in the trash came from " + (said ? *said : "no path") + ", not from " + path;
    return false;
  }
  return true;
}

MoveResult Trash::restore(const std::string& name, const Place& place, const CopyProgress& progress,
                          std::string& copiedWhy) {
  Lock lock(*this);
  if (!lock.held()) return MoveResult::failed(lock.error());
  struct stat st;
  if (fstatat(files_.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT ? MoveResult::missing() : MoveResult::failed(errorText("cannot look at it"));
  }
  std::string error;
  if (!infoSays(name, place.path, error)) return MoveResult::failed(error);
  if (exists(place.parent, place.name)) return MoveResult::failed("its place is taken");
  if (!place.asOwner) {
    if (renameNoReplace(files_.get(), name, place.parent, place.name) == 0) {
      unlinkat(info_.get(), (name + kInfoSuffix).c_str(), 0);
      return MoveResult::moved(place.path);
    }
    if (errno == EEXIST) return MoveResult::failed("its place is taken");
    if (errno != EXDEV) return MoveResult::failed(errorText("cannot move it back"));
    copiedWhy = "a rename cannot reach its place";
  } else {
    copiedWhy = "a product's item comes back as a new copy, its folder owner's";
  }
  return copyBack(name, st, place, progress);
}

// The copy is made in a folder beside the place, as the user where the place is
// theirs, and renamed there once whole; then the trash loses what was copied.
MoveResult Trash::copyBack(const std::string& name, const struct stat& st, const Place& place,
                           const CopyProgress& progress) {
  if (S_ISBLK(st.st_mode) || S_ISCHR(st.st_mode)) {
    return MoveResult::failed("it is a device, which a copy never makes");
  }
  std::string staging;
  UniqueFd folder;
  for (int n = 1; n <= kMaxTries && !folder.valid(); ++n) {
    staging = kRestoring + std::to_string(getpid()) + "." + std::to_string(n);
    int why = EPERM;
    {
      std::optional<AsUser> as;
      if (!place.asOwner) as.emplace(user_);
      if (!as || as->ok()) {
        why = mkdirat(place.parent, staging.c_str(), 0700) == 0 ? 0 : errno;
        if (why == 0) folder.reset(openat(place.parent, staging.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      }
    }
    if ((why != 0 && why != EEXIST) || (why == 0 && !folder.valid())) break;
  }
  if (!folder.valid()) return MoveResult::failed(errorText("cannot prepare the copy"));
  const std::uint64_t total = bytesIn(files_.get(), name);
  if (progress) progress(0, total);
  const bool asOwner = place.asOwner.has_value();
  const CopyOptions options{place.asOwner.value_or(user_.owner()), asOwner,
                            [&](std::uint64_t done) { if (progress) progress(done, total); }, asOwner};
  CopiedEntry copied;
  std::vector<std::string> left;
  std::string error, ignored;
  bool placed = copyTree(files_.get(), name, folder.get(), kCopyName, options, copied, left, error);
  if (placed && syncfs(folder.get()) != 0) {
    placed = false;
    error = errorText("cannot write the copy");
  }
  if (placed && renameNoReplace(folder.get(), kCopyName, place.parent, place.name) != 0) {
    placed = false;
    error = errno == EEXIST ? "its place is taken" : errorText("cannot put the copy in place");
  }
  folder.reset();
  removeTree(place.parent, staging, ignored);
  if (!placed) return MoveResult::failed("cannot copy it back: " + error);
  if (removeCopied(files_.get(), copied, place.parent, place.name)) {
    unlinkat(info_.get(), (name + kInfoSuffix).c_str(), 0);
    return MoveResult::moved(place.path);
  }
  std::string what = "what changed while it was copied stays in the trash";
  if (!left.empty()) {
    what = "devices are never copied, and stay in the trash:";
    for (const std::string& device : left) what += " " + device;
  }
  return MoveResult::partial(place.path, what);
}

}  // namespace tavo
