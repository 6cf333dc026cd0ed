#pragma once
// One freedesktop.org trash: the home Trash or a filesystem's top-directory
// trash. files/ holds the items, info/NAME.trashinfo says where each came from
// and when, so that any Trash client can put it back. Items arrive by one
// rename, or, into the home Trash as a last resort, by a copy that is staged
// out of sight and removes from the source only what it copied.

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "base/unique_fd.h"
#include "tools/sweeper/tree.h"
#include "tools/sweeper/user.h"

namespace tavo {

/// One item to move, held through the folder it lies in, so that nothing
/// renamed after the checks can change what is moved.
struct Item {
  int parent = -1;   // descriptor of the folder holding it
  std::string name;  // its name in that folder
  std::string path;  // its absolute path as checked, parents' links resolved
  dev_t device = 0;  // what was checked: another entry put in its place since stays
  ino_t inode = 0;
  // An installed product names it: it becomes the user's whole. Otherwise the
  // user could move it themselves, and what it holds keeps its owners.
  bool giveAway = false;
};

/// What became of one item.
struct MoveResult {
  enum class Outcome { Moved, Partial, Missing, Failed };
  Outcome outcome = Outcome::Failed;
  std::string where;   // Moved, Partial: the item's path in the trash
  std::string detail;  // Failed: why; Partial: what stayed; Moved: what was not given
  bool acrossFilesystems = false;  // Failed because a rename cannot reach this trash

  static MoveResult moved(std::string where) { return {Outcome::Moved, std::move(where), "", false}; }
  static MoveResult partial(std::string where, std::string what) {
    return {Outcome::Partial, std::move(where), std::move(what), false};
  }
  static MoveResult missing() { return {Outcome::Missing, "", "", false}; }
  static MoveResult failed(std::string why) { return {Outcome::Failed, "", std::move(why), false}; }
  static MoveResult cannotReach(std::string why) { return {Outcome::Failed, "", std::move(why), true}; }
};

/// Where an item goes back to from a trash: a checked place, held through the
/// folder it lies in.
struct Place {
  int parent = -1;   // descriptor of the folder it goes into
  std::string name;  // its name there
  std::string path;  // where that is, parents' links resolved: the info file must say so
  // Put back as a new copy of which every entry is this owner's and writable by
  // them alone: a product's item that the user could not have put there. The
  // Trash holds the user's writing, and nothing of it that they may still hold
  // open may become root's. Otherwise moved as it is, by one rename where it can.
  std::optional<TreeOwner> asOwner;
};

/// Told the bytes copied so far of all, now and then, while a copy runs.
using CopyProgress = std::function<void(std::uint64_t done, std::uint64_t total)>;

class Trash {
 public:
  /// The home Trash of `user` at the absolute `path`, which must lie inside
  /// their home folder: the folders missing on the way and the trash's own are
  /// created as the user (mode 0700). nullopt with `error` when it lies
  /// elsewhere, or a folder on the way may be written by another user, or the
  /// trash's folders are not the user's alone.
  static std::optional<Trash> openHome(const std::string& path, const User& user, std::string& error);

  /// The trash of the filesystem whose top folder `topdir` is held by `top`:
  /// .Trash/UID when .Trash is a sticky folder and not a link, else .Trash-UID,
  /// created as the user, refused when it is a link, someone else's or
  /// writable by others. nullopt with `error` when neither can be used.
  static std::optional<Trash> openTop(int top, const std::string& topdir, const User& user,
                                      std::string& error);

  /// The device of the filesystem it lies on.
  dev_t device() const { return device_; }
  /// Where it is, as the lines say.
  const std::string& path() const { return path_; }

  /// Puts files/`name` back at `place`, when its info file says it came from
  /// there, and removes the info file. Missing
  /// when there is no such item any more. A copy, across filesystems or for
  /// `place.asOwner`, is staged beside the place, and of the item only what
  /// was copied and has not changed since leaves the trash (Partial
  /// otherwise); `copiedWhy` then says why it was copied.
  MoveResult restore(const std::string& name, const Place& place, const CopyProgress& progress,
                     std::string& copiedWhy);

  /// Moves the item here by one rename, never overwriting. On failure the item
  /// stays where it was and nothing of it is left here.
  MoveResult rename(const Item& item);

  /// Copies the item here, then removes from its source only the entries that
  /// were copied and have not changed since; what changed stays (Partial), as
  /// do devices, which are never copied. On failure the source is untouched
  /// and nothing of it is left here.
  MoveResult copy(const Item& item, const CopyProgress& progress);

 private:
  class Lock;
  using Move = std::function<MoveResult(const struct stat&)>;

  Trash(UniqueFd root, UniqueFd files, UniqueFd info, UniqueFd staging, std::string path,
        std::string topdir, User user, dev_t device);
  static std::optional<Trash> openIn(UniqueFd root, std::string path, std::string topdir,
                                     const User& user, std::string& error);

  void cleanUp();
  bool reserve(const Item& item, const struct stat& st, bool copying, std::string& name,
               std::string& error);
  void abandon(const std::string& name);
  MoveResult underLock(const Item& item, const Move& move);
  MoveResult renameLocked(const Item& item, const struct stat& st);
  MoveResult copyLocked(const Item& item, const struct stat& st, const CopyProgress& progress);
  UniqueFd makeCopyFolder(std::string& name, std::string& error);
  std::string infoText(const Item& item, const struct stat& st) const;
  MoveResult moved(const std::string& name);
  MoveResult resume(const Item& item, std::string name);
  bool infoSays(const std::string& name, const std::string& path, std::string& error);
  MoveResult copyBack(const std::string& name, const struct stat& st, const Place& place,
                      const CopyProgress& progress);

  UniqueFd root_, files_, info_, staging_;
  std::string path_;    // where it is, for the output
  std::string topdir_;  // the top folder its info paths are relative to; "" for the home Trash
  User user_;
  dev_t device_ = 0;
  bool cleaned_ = false;
  // Copies of an earlier run that was killed before it had removed their
  // sources: the source's path and the copy's name.
  std::map<std::string, std::string> unfinished_;
};

}  // namespace tavo
