#pragma once
// File trees copied, given away and removed through descriptors, never
// following a symbolic link, never entering another mounted filesystem and
// never deeper than kMaxTreeDepth folders, so that no tree can exhaust the stack.

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tavo {

/// The user a tree is made for.
struct TreeOwner {
  uid_t uid = 0;
  gid_t gid = 0;
};

/// Folders nested deeper than this below an item are refused: no product
/// nests its files so deep, and the walks below recurse once per level.
constexpr int kMaxTreeDepth = 1000;

/// The entry `name` in the folder `dir`, its last link not followed. `mountRoot`
/// says whether another filesystem is mounted there; a folder of another device
/// number that nothing is mounted on (an overlay's files, a subvolume) is not one.
bool lookAt(int dir, const std::string& name, struct stat& st, bool& mountRoot);

/// What a copy took from its source: each entry as it was when it was read,
/// so that the removal afterwards deletes only that.
struct CopiedEntry {
  std::string name;
  dev_t device = 0;
  ino_t inode = 0;
  struct timespec changed {};  // st_ctim: any write, chmod or rename moves it
  off_t size = 0;
  bool folder = false;
  bool unchanged = true;  // a file that did not change while it was read
  // Changed so lately that a change since might not show in its times: its
  // bytes are compared with the copy's before it goes.
  bool recent = false;
  bool left = false;  // a device, never copied: it stays at the source
  std::vector<CopiedEntry> entries;  // a folder's
};

struct CopyOptions {
  TreeOwner owner;
  // Every entry becomes the owner's; otherwise each keeps its source's owner
  // and group, so that the copy lets nobody read what they could not before.
  bool giveAway = false;
  std::function<void(std::uint64_t done)> progress;  // bytes copied so far, after each piece
  // Nothing of the copy may be written by its group or others: what root puts
  // back into a place of root's.
  bool ownerWritesAlone = false;
};

/// Copies `name` in the folder `srcDir` to `dstName` in `dstDir`: contents,
/// modes and times, links as links, FIFOs and sockets recreated, owned as
/// `options` says. Set-user-ID and set-group-ID bits are never copied, nor are
/// block and character devices: their paths inside the item go to `left`, and
/// they stay at the source. `copied` records what was read. False with `error`
/// at the first failure, leaving what was copied so far for the caller to
/// remove; a folder holding another filesystem is a failure.
bool copyTree(int srcDir, const std::string& name, int dstDir, const std::string& dstName,
              const CopyOptions& options, CopiedEntry& copied, std::vector<std::string>& left,
              std::string& error);

/// The bytes of the regular files in `name` in `dir` and below, as copyTree
/// would walk it.
std::uint64_t bytesIn(int dir, const std::string& name);

/// Removes from the folder `dir` the entry `copied` and what it held, entry by
/// entry, only where the name still holds the very file or folder that was
/// copied, unchanged; `copyName` in `copyDir` is the copy. True when it is all
/// gone; false when something stays: what changed, appeared or was left out,
/// and the folders that hold it.
bool removeCopied(int dir, const CopiedEntry& copied, int copyDir, const std::string& copyName);

/// Removes from the folder `dir` what `name` holds wherever the tree
/// `copyName` in `copyDir` holds an entry of the same kind, size, mode and
/// modification time: the copy of an earlier run. With `onlyOf`, entries of
/// other owners stay. True when all of it is gone.
bool removeMatching(int dir, const std::string& name, int copyDir, const std::string& copyName,
                    std::optional<uid_t> onlyOf);

/// Gives `name` in `dir` and everything under it that belongs to someone else
/// to `owner`, when it is still the entry `moved` (its device and inode): the
/// user may rename within their trash, and must not have root give them what
/// they put in its place. A file with other hard links, which would be given
/// away elsewhere too, and what another filesystem mounted inside holds are
/// left as they are. False with `error` when something could not be given.
bool giveTree(int dir, const std::string& name, const struct stat& moved, TreeOwner owner,
              std::string& error);

/// Appends the names in the folder `dir` (any descriptor of it, O_PATH too)
/// but "." and ".." to `names`; false when it cannot be read.
bool listNames(int dir, std::vector<std::string>& names);

/// Removes `name` in the folder `dir` and everything in it, never following
/// links nor entering a mount point. True when it is gone; false with `error`
/// at the first failure, when part of it may already be gone.
bool removeTree(int dir, const std::string& name, std::string& error);

}  // namespace tavo
