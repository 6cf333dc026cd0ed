#pragma once
// Copying and removing a file tree without ever following a symbolic link.

#include <string>

namespace tavo {

/// Copies the item at `source` (its last link not followed) to `name` in the
/// folder `destDir`: contents, modes, owners and times, links as links, special
/// files recreated. False with `error` at the first failure, leaving what was
/// copied so far for the caller to remove; a folder holding another filesystem
/// is a failure, since removing the original would stop at its mount point.
bool copyTree(const std::string& source, int destDir, const std::string& name, std::string& error);

/// Removes `name` in the folder `dir` (AT_FDCWD for a path) and everything in
/// it, never following links. True when it is gone; false with `error` at the
/// first failure, when part of it may already be gone.
bool removeTree(int dir, const std::string& name, std::string& error);

}  // namespace tavo
