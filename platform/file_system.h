#pragma once
// The file manager's existence test and sub-path listing.

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "base/unique_fd.h"

namespace tavo {

/// True when something exists at `path`, symbolic links followed (stat(2));
/// `isDirectory`, when given, tells whether it is a folder. False for a path
/// holding a NUL, which names nothing.
bool fileExistsAtPath(const std::string& path, bool* isDirectory = nullptr);

/// fileExistsAtPath for the many paths of one scan, most of them in a few
/// folders: each folder a path lies in is opened and listed once, so that
/// a name it does not hold costs nothing, and only a link (or an entry of
/// unknown kind) is looked up. A folder that cannot be listed but can be
/// searched has each name looked up in it; one that cannot be searched
/// holds nothing, as for stat(2). Meant for one pass over a machine that
/// does not change meanwhile. A path that is not plainly absolute ("." or
/// ".." among its names, a doubled or final "/") is tested whole.
class ExistenceProbe {
 public:
  ExistenceProbe();
  ~ExistenceProbe();
  bool exists(const std::string& path, bool* isDirectory = nullptr);

 private:
  struct Folder;
  /// The folder at `path`, opened and listed on first use; nullptr when
  /// this process is out of descriptors, which says nothing about it.
  Folder* folder(const std::string& path);

  std::unordered_map<std::string, std::unique_ptr<Folder>> folders_;
  std::size_t openFolders_ = 0;
};

/// One item of a sub-path listing, valid only while it is being visited.
struct Subpath {
  std::string_view path;     // the listed folder's path, "/", then the item's path below it
  std::size_t relativeAt;    // where the item's path below the folder begins
  bool exists = false;       // the existence test, links followed
  bool isDirectory = false;  // links followed
  std::string_view relative() const { return path.substr(relativeAt); }
};

/// Calls `visit` for every item below `folder` at every depth, in pre-order,
/// hidden items included. Links are listed but never descended into (the
/// start folder itself may be one). Each folder's items come sorted by name
/// so that the order is the same on every run. An item's existence test is
/// its directory entry; only a link, or an entry of unknown kind, is looked
/// up, with the same test as fileExistsAtPath but without resolving the path
/// again. A folder that cannot be read, or vanishes, contributes its own
/// item and nothing below it; nothing is visited when `folder` cannot be
/// opened. Once `cancelled` (when given) is set, the walk stops.
void subpathsAtPath(const std::string& folder, const std::function<void(const Subpath&)>& visit,
                    const std::atomic<bool>* cancelled = nullptr);

}  // namespace tavo
