#pragma once
// File trees copied, given away and removed through descriptors, never
// following a symbolic link and never leaving the filesystem they start on.

#include <sys/types.h>

#include <string>
#include <vector>

namespace tavo {

/// The user a tree is made for: what is created or given is theirs.
struct TreeOwner {
  uid_t uid = 0;
  gid_t gid = 0;
};

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
  std::vector<CopiedEntry> entries;  // a folder's
};

/// Copies `name` in the folder `srcDir` to `dstName` in `dstDir`: contents,
/// modes and times, links as links, special files recreated, everything
/// belonging to `owner` (set-user-ID and set-group-ID bits dropped when the
/// owner changes). `copied` records what was read. False with `error` at the
/// first failure, leaving what was copied so far for the caller to remove; a
/// folder holding another filesystem is a failure.
bool copyTree(int srcDir, const std::string& name, int dstDir, const std::string& dstName,
              TreeOwner owner, CopiedEntry& copied, std::string& error);

/// Removes from the folder `dir` the entry `copied` and what it held, entry by
/// entry, only where the name still holds the very file or folder that was
/// copied, unchanged; `copyName` in `copyDir` is the copy. True when it is all
/// gone; false when something stays: what changed or appeared, and the
/// folders that hold it.
bool removeCopied(int dir, const CopiedEntry& copied, int copyDir, const std::string& copyName);

/// Removes from the folder `dir` what `name` holds wherever the tree
/// `copyName` in `copyDir` holds an entry of the same kind, size, mode and
/// modification time: the copy of an earlier run. True when all of it is gone.
bool removeMatching(int dir, const std::string& name, int copyDir, const std::string& copyName);

/// Gives `name` in `dir` and everything under it that belongs to someone else
/// to `owner`; a file with other hard links, which would be given away
/// elsewhere too, and whatever lies on another filesystem are left as they are.
/// False with `error` when something could not be given.
bool giveTree(int dir, const std::string& name, TreeOwner owner, std::string& error);

/// Appends the names in the folder `dir` (any descriptor of it, O_PATH too)
/// but "." and ".." to `names`; false when it cannot be read.
bool listNames(int dir, std::vector<std::string>& names);

/// Removes `name` in the folder `dir` and everything in it, never following
/// links. True when it is gone; false with `error` at the first failure, when
/// part of it may already be gone.
bool removeTree(int dir, const std::string& name, std::string& error);

}  // namespace tavo
