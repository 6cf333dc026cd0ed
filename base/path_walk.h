#pragma once
// Resolving a path one component at a time through descriptors, reading each
// symbolic link and following its text ourselves: the kernel never follows a
// link, so what the walk reports is what it holds open, and nothing renamed
// afterwards can change which folder the caller acts in.

#include <string>
#include <vector>

#include "base/unique_fd.h"

namespace tavo {

struct ResolvedPath {
  /// The existing part with every link resolved, then the missing rest as written.
  std::vector<std::string> parts;
  /// How many leading entries of `parts` exist.
  std::size_t existing = 0;
  /// O_PATH descriptor of what `parts` names when all of it exists; else invalid.
  UniqueFd fd;
};

/// Resolves `parts`, the components of an absolute path, from "/", following
/// every link among them, the last one too (at most 40 links, as the kernel
/// allows). Where a component is missing, or a non-folder stands where a folder
/// is needed, the rest is kept as written; a link whose target is missing is kept
/// as written with the rest. Time is linear in the length of the path. False with
/// `error` on a loop, a refused lookup or a folder that moved while it was walked.
bool resolvePath(const std::vector<std::string>& parts, ResolvedPath& out, std::string& error);

}  // namespace tavo
