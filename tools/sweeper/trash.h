#pragma once
// The freedesktop.org home Trash: files/ holds the items, info/NAME.trashinfo
// says where each came from and when, so that the desktop can put it back.

#include <sys/types.h>

#include <optional>
#include <string>

#include "base/unique_fd.h"

namespace tavo {

/// The user the Trash belongs to: what it creates is theirs.
struct TrashOwner {
  uid_t uid = 0;
  gid_t gid = 0;
};

/// What became of one item.
struct MoveResult {
  enum class Outcome { Moved, Missing, Failed };
  Outcome outcome = Outcome::Failed;
  std::string detail;  // Moved: the name in files/; Failed: why
};

class Trash {
 public:
  /// Opens the Trash folder at the absolute `path`, creating it, the missing
  /// folders above it and its files/ and info/ (mode 0700, belonging to
  /// `owner`). nullopt with `error` when it cannot be used safely.
  static std::optional<Trash> open(const std::string& path, TrashOwner owner, std::string& error);

  /// Moves the item at `path` (absolute, parents' links resolved; its last
  /// link is moved as a link) under a name of its own, never overwriting.
  /// On failure the item stays where it was and nothing of it is left here.
  MoveResult move(const std::string& path);

 private:
  Trash(UniqueFd files, UniqueFd info, TrashOwner owner)
      : files_(std::move(files)), info_(std::move(info)), owner_(owner) {}

  bool reserveName(const std::string& base, std::string& name, UniqueFd& infoFile,
                   std::string& error);
  bool writeInfo(int fd, const std::string& path, std::string& error);
  MoveResult moveAcross(const std::string& path, const std::string& name);
  void forget(const std::string& name);

  UniqueFd files_;
  UniqueFd info_;
  TrashOwner owner_;
};

}  // namespace tavo
