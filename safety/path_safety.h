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

/// One row of the table: a folder reckoned from a base, which paths it
/// refuses, and the reason given for them.
struct SafetyRule {
  enum class Base {
    Root,        // "/"
    Homes,       // the user's home folder and every "/Users/*" and "/home/*"
    RootOrHome,  // both of the above: the shared folders exist in each
    UserHome,    // the user's home folder alone
    Trash,       // the Trash folder
    Mounts,      // every mount point
  };
  // Exact matches only, so that what lies inside a shared folder stays a
  // product's own.
  enum class Match {
    Self,              // the folder itself
    SelfOrAncestor,    // the folder and every folder that holds it
    SelfAncestorOrIn,  // the same, and everything inside it
  };
  Base base;
  // Relative to the base; "*" stands for any one name, and a name ending in
  // "#" for that name followed by a decimal number.
  const char* folder;
  Match match;
  const char* reason;
};

/// One path judged: its location, resolved once, and the table's answer.
struct Judgement {
  /// The path with its parent folders' links resolved and its last name as
  /// written (resolveParents()); nullopt when malformed or unresolvable.
  std::optional<std::string> location;
  /// nullopt when the path may be removed, otherwise a short reason.
  std::optional<std::string> refusal;
};

/// The table with its bases worked out once: the home folder and the Trash as
/// written and resolved, and the mount points. Whoever removes a path the
/// check lets go must act on its resolved location and never follow its last
/// link.
class SafetyCheck {
 public:
  /// The mount points are the machine's at this moment.
  explicit SafetyCheck(const SafetyContext& context);
  SafetyCheck(const SafetyContext& context, const std::vector<std::string>& mountPoints);

  /// The reason when `path` is malformed or the table refuses it as written;
  /// nullopt when it may go as far as its spelling tells.
  std::optional<std::string> refusalAsWritten(const std::string& path) const;
  /// The reason when the table refuses the resolved location `parts` (links
  /// among the parents resolved, the last name as written); else nullopt.
  std::optional<std::string> refusalResolved(const std::vector<std::string>& parts) const;
  /// The path as written and, its parent folders resolved once, where it
  /// lies: judge().
  Judgement judge(const std::string& path) const;
  /// judge()'s reason alone.
  std::optional<std::string> refusal(const std::string& path) const { return judge(path).refusal; }

 private:
  std::optional<std::string> contextError_;
  std::vector<std::vector<std::string>> userHome_, homes_, trash_, mounts_;
};

/// The path with the symbolic links of its parent folders resolved and its last
/// component kept as written, so that a link names itself; parents that do not
/// exist are kept as written and "//" or a trailing "/" collapse. nullopt when
/// the path is malformed or a parent cannot be resolved (a loop, no access).
/// Linear in the length of the path.
std::optional<std::string> resolveParents(const std::string& path);

}  // namespace tavo
