#pragma once
// Which trash an item goes to: the home Trash for what lies on its
// filesystem, else the top-directory trash of the item's own filesystem, so
// that trashing stays one rename.

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/mounts.h"
#include "tools/sweeper/trash.h"

namespace tavo {

class Trashes {
 public:
  Trashes(Trash& home, const User& user) : home_(home), user_(user) {}

  /// The trash for items in the folder held by `parent`, whose resolved
  /// location is `parts`; opened once per filesystem. nullptr with `why` when
  /// that filesystem's trash cannot be used.
  Trash* forFolder(int parent, const std::vector<std::string>& parts, std::string& why);

 private:
  Trash* openTop(dev_t device, const std::vector<std::string>& parts, std::string& why);

  Trash& home_;
  const User& user_;
  std::optional<std::vector<Mount>> mounts_;
  std::map<dev_t, Trash> tops_;
  std::map<dev_t, std::string> unusable_;
};

}  // namespace tavo
