#pragma once
// One freedesktop.org trash: the home Trash or a filesystem's top-directory
// trash. files/ holds the items, info/NAME.trashinfo says where each came from
// and when, so that any Trash client can put it back. Items arrive by one
// rename, or, into the home Trash as a last resort, by a copy that is staged
// out of sight and removes from the source only what it copied.

#include <sys/stat.h>
#include <sys/types.h>

#include <map>
#include <optional>
#include <string>

#include "base/unique_fd.h"
#include "tools/sweeper/tree.h"

namespace tavo {

/// One item to move, held through the folder it lies in, so that nothing
/// renamed after the safety check can change what is moved.
struct Item {
  int parent = -1;   // descriptor of the folder holding it
  std::string name;  // its name in that folder
  std::string path;  // its absolute path as checked, parents' links resolved
};

/// What became of one item.
struct MoveResult {
  enum class Outcome { Moved, Partial, Missing, Failed };
  Outcome outcome = Outcome::Failed;
  std::string where;   // Moved, Partial: the item's path in the trash
  std::string detail;  // Failed: why; Partial: what stayed
  bool acrossFilesystems = false;  // Failed because a rename cannot reach this trash
};

class Trash {
 public:
  /// The home Trash at the absolute `path`, creating it, the missing folders
  /// above it and what it holds (mode 0700, belonging to `owner`). nullopt
  /// with `error` when it cannot be used safely.
  static std::optional<Trash> openHome(const std::string& path, TreeOwner owner, std::string& error);

  /// The trash of the filesystem whose top folder `topdir` is held by `top`:
  /// .Trash/UID when .Trash is a sticky folder and not a link, else .Trash-UID,
  /// created for `owner` and refused when it is a link or someone else's.
  /// nullopt with `error` when neither can be used.
  static std::optional<Trash> openTop(int top, const std::string& topdir, TreeOwner owner,
                                      std::string& error);

  /// The device of the filesystem it lies on.
  dev_t device() const { return device_; }

  /// Moves the item here by one rename, never overwriting. On failure the item
  /// stays where it was and nothing of it is left here.
  MoveResult rename(const Item& item);

  /// Copies the item here, then removes from its source only the entries that
  /// were copied and have not changed since; what changed stays (Partial). On
  /// failure the source is untouched and nothing of it is left here.
  MoveResult copy(const Item& item);

 private:
  Trash(UniqueFd root, UniqueFd files, UniqueFd info, UniqueFd staging, std::string path,
        std::string topdir, TreeOwner owner, dev_t device);
  static std::optional<Trash> openIn(UniqueFd root, std::string path, std::string topdir,
                                     TreeOwner owner, std::string& error);

  bool lock(std::string& error);
  void unlock();
  void cleanUp();
  bool reserve(const Item& item, const struct stat& st, bool copying, std::string& name,
               std::string& error);
  void abandon(const std::string& name);
  MoveResult underLock(const Item& item, MoveResult (Trash::*move)(const Item&, const struct stat&));
  MoveResult renameLocked(const Item& item, const struct stat& st);
  MoveResult copyLocked(const Item& item, const struct stat& st);
  UniqueFd makeCopyFolder(std::string& name, std::string& error);
  std::string infoText(const std::string& path, const struct stat& st) const;
  MoveResult moved(const std::string& name);
  MoveResult resume(const Item& item, std::string name);

  UniqueFd root_, files_, info_, staging_;
  std::string path_;    // where it is, for the output
  std::string topdir_;  // the top folder its info paths are relative to; "" for the home Trash
  TreeOwner owner_;
  dev_t device_ = 0;
  bool cleaned_ = false;
  // Copies of an earlier run that was killed before it had removed their
  // sources: the source's path and the copy's name.
  std::map<std::string, std::string> unfinished_;
};

}  // namespace tavo
