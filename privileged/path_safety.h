#pragma once
// Whether a path may be removed: one table of the folders that no removal may
// ever touch, shared by the application (before it writes the list file) and
// by sweeper (before it moves anything).

#include <optional>
#include <string>
#include <vector>

namespace tavo {

/// Whose data the check protects: the absolute paths of the user's home folder
/// and of the Trash folder that removed items go to.
struct SafetyContext {
  std::string home;
  std::string trash;
};

/// The components of `path`; empty pieces ("//", a trailing "/") are dropped.
std::vector<std::string> splitPath(const std::string& path);

/// The path with the symbolic links of its parent folders resolved and its last
/// component kept as written, so that a link names itself; parents that do not
/// exist are kept as written and "//" or a trailing "/" collapse. nullopt when
/// the path is malformed or a parent cannot be resolved (a loop, no access).
std::optional<std::string> resolveParents(const std::string& path);

/// nullopt when `path` may be removed, otherwise a short reason for refusing it.
/// The path is checked as written and as resolveParents() gives it; whoever
/// removes it must act on resolveParents(path) and never follow its last link.
std::optional<std::string> refusalReason(const std::string& path, const SafetyContext& context);

}  // namespace tavo
