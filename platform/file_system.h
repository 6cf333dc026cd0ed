#pragma once
// The file manager's existence test and sub-path listing.

#include <atomic>
#include <string>
#include <vector>

namespace tavo {

/// True when something exists at `path`, symbolic links followed (stat(2));
/// `isDirectory`, when given, tells whether it is a folder. False for a path
/// holding a NUL, which names nothing.
bool fileExistsAtPath(const std::string& path, bool* isDirectory = nullptr);

/// One item of a sub-path listing.
struct Subpath {
  std::string path;          // relative to the listed folder
  bool exists = false;       // the existence test, links followed
  bool isDirectory = false;  // links followed
};

/// Every item below `folder` at every depth, in pre-order, hidden items
/// included. Links are listed but never descended into (the start folder
/// itself may be one). Each folder's items come sorted by name so that the
/// order is the same on every run. Each item's existence test is made while
/// its folder is open (fstatat), the same test as fileExistsAtPath on the
/// joined path without resolving the path again. A folder that cannot be
/// read, or vanishes, contributes its own entry and nothing below it; an
/// empty result when `folder` cannot be opened. Once `cancelled` (when
/// given) is set, the walk stops and returns what it has.
std::vector<Subpath> subpathsAtPath(const std::string& folder,
                                    const std::atomic<bool>* cancelled = nullptr);

}  // namespace tavo
