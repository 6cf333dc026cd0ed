#pragma once
// Whether a path may be removed: one table of the folders that no removal may
// ever touch, shared by the application (before it writes the list file) and
// by sweeper (before it moves anything).

#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tavo {

/// Whose data the check protects: the absolute paths of the user's home folder
/// and of the Trash folder that removed items go to.
struct SafetyContext {
  std::string home;
  std::string trash;
};

/// One row of the table: a folder reckoned from a base, which paths it
/// refuses, and the reason given for them.
struct SafetyRule {
  enum class Base {
    Root,        // "/"
    Homes,       // the user's home folder and every "/Users/*" and "/home/*"
    RootOrHome,  // both of the above: the shared folders exist in each
    UserHome,    // the user's home folder alone
    Trash,       // the Trash folder
  };
  // Exact matches only, so that what lies inside a shared folder stays a
  // product's own.
  enum class Match {
    Self,              // the folder itself
    SelfOrAncestor,    // the folder and every folder that holds it
    SelfAncestorOrIn,  // the same, and everything inside it
  };
  Base base;
  const char* folder;  // relative to the base; "*" stands for any one name
  Match match;
  const char* reason;
};

/// The table, in the order its rows are tried; the first match gives the reason.
std::span<const SafetyRule> safetyRules();

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
