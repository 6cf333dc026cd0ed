#pragma once
// The catalog iteration under the folder lister and the sub-path listing: a
// depth-first walk that reads each folder's entries with the kind their
// directory entry records and opens each subfolder relative to its open
// parent. Nothing is looked up per entry unless the file system leaves its
// kind unknown, so a walk costs what listing the folders costs, also on a
// cold cache where reading every entry's inode would dominate.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/unique_fd.h"

namespace tavo {

/// The folder's location with every symbolic link resolved (realpath), or
/// nullopt when it cannot be resolved (missing, a loop of links, a NUL).
std::optional<std::string> resolveFolderPath(const std::string& path);

/// An entry's own kind: a link is a Link whatever it points to. Vanished: the
/// kind was unknown and the entry was gone when looked up.
enum class EntryKind : unsigned char { Folder, Link, Other, Vanished };

/// The kind of entry `name` of the open folder `folderFd` from its directory
/// entry type `dType`; only DT_UNKNOWN is looked up (fstatat, links not
/// followed), and Vanished when that fails.
EntryKind entryKindOf(int folderFd, const char* name, unsigned char dType);

class FolderWalk {
 public:
  struct Entry {
    std::string_view path;  // the start folder's path, "/", then the path below it
    std::size_t nameAt;     // where the entry's own name begins in `path`
    std::size_t depth;      // of the folder holding the entry: 0 for the start folder
    EntryKind kind;
    int folderFd;           // the open folder holding the entry, for *at calls
    std::string_view name() const { return path.substr(nameAt); }
    /// The name for *at calls on `folderFd`: `path` ends with it and a NUL.
    const char* cName() const { return path.data() + nameAt; }
  };
  /// Sees one entry; for a Folder, answers whether to walk what it holds.
  using Visit = std::function<bool(const Entry&)>;

  /// At most `maxOpenFolders` (at least 2) descriptors are held at a time,
  /// whatever the depth of the tree.
  explicit FolderWalk(std::size_t maxOpenFolders = 64);

  /// Opens `folder`, links followed; 0 on success, otherwise the errno.
  int open(const std::string& folder);

  /// Calls `visit` for every entry below the opened folder ("." and ".."
  /// left out), in pre-order: each folder's entries in ascending byte order
  /// of their names, a Folder's contents right after it when `visit` asks
  /// for them. A subfolder that cannot be opened (gone, unreadable, replaced
  /// by a link) adds nothing below it; a read error ends that folder's
  /// entries. Returns early once `cancelled` (when given) is set. Walks
  /// nothing when nothing is open.
  void walk(const Visit& visit, const std::atomic<bool>* cancelled = nullptr);

 private:
  struct Item {
    std::size_t nameAt;  // in names_, NUL-terminated
    std::size_t length;
    std::uint64_t key;   // orders most pairs of names of one folder
    EntryKind kind;
  };
  // One open (or, past the descriptor limit, closed) folder on the way down.
  struct Frame {
    UniqueFd fd;
    std::size_t pathLength;       // of path_ up to this folder
    std::size_t firstItem, next;  // its entries in items_, and the next to visit
    std::size_t namesAt;          // where its names begin in names_
  };

  void pushFrame(UniqueFd fd);
  void readEntries(Frame& frame);
  void sortEntries(std::size_t first);
  void popFrame();
  bool ensureOpen(std::size_t index);
  void limitOpenFolders();

  std::size_t maxOpen_;
  std::string path_;             // the path of the entry being visited
  std::string names_;            // the names of every frame's entries, a stack
  std::vector<Item> items_;      // every frame's entries, a stack
  std::vector<Frame> frames_;
  std::size_t closedBelow_ = 1;  // frames [1, closedBelow_) hold no descriptor
  std::vector<char> buffer_;     // for getdents64
};

}  // namespace tavo
