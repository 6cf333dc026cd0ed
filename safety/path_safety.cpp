#include "safety/path_safety.h"

#include <vector>

#include "base/mounts.h"
#include "base/path.h"
#include "base/path_walk.h"

namespace tavo {
namespace {

using Parts = std::vector<std::string>;

using Base = SafetyRule::Base;
using Match = SafetyRule::Match;

constexpr const char* kShared = "is a shared folder";
constexpr const char* kStandard = "is a standard folder of a home folder";

// The table. Entries directly under "/" are refused whatever their kind: on
// this system /bin, /lib and /sbin are links and no product's own.
constexpr SafetyRule kRules[] = {
    {Base::Root, "", Match::Self, "is the root folder"},
    {Base::Root, "*", Match::Self, "is a folder directly under the root folder"},
    {Base::Root, "Volumes/*", Match::Self, "is a volume root"},
    {Base::Root, "media/*", Match::Self, "is a volume root"},
    {Base::Root, "mnt/*", Match::Self, "is a volume root"},
    // Before the home folders' row, which would shadow it.
    {Base::Root, "Users/Shared", Match::Self, kShared},
    {Base::Root, "Users/*", Match::Self, "is a home folder"},
    {Base::Root, "home/*", Match::Self, "is a home folder"},
    // Where this system's installers and package database put shared files.
    {Base::Root, "usr/bin", Match::Self, kShared},
    {Base::Root, "usr/lib", Match::Self, kShared},
    {Base::Root, "usr/share", Match::Self, kShared},
    {Base::Root, "usr/local", Match::Self, kShared},
    {Base::Root, "usr/local/bin", Match::Self, kShared},
    {Base::Root, "usr/local/lib", Match::Self, kShared},
    {Base::Root, "usr/local/share", Match::Self, kShared},
    {Base::Root, "var/db", Match::Self, kShared},
    {Base::Root, "var/db/receipts", Match::Self, kShared},
    {Base::RootOrHome, "Library", Match::Self, kShared},
    {Base::RootOrHome, "Library/Application Support", Match::Self, kShared},
    {Base::RootOrHome, "Library/Preferences", Match::Self, kShared},
    {Base::RootOrHome, "Library/Preferences/ByHost", Match::Self, kShared},
    {Base::RootOrHome, "Library/Preferences/Network", Match::Self, kShared},
    {Base::RootOrHome, "Library/Caches", Match::Self, kShared},
    {Base::RootOrHome, "Library/Audio", Match::Self, kShared},
    {Base::RootOrHome, "Library/Audio/Plug-Ins", Match::Self, kShared},
    {Base::RootOrHome, "Library/Audio/Plug-Ins/*", Match::Self, "is a shared plug-in folder"},
    {Base::RootOrHome, "Library/Frameworks", Match::Self, kShared},
    {Base::RootOrHome, "Library/LaunchAgents", Match::Self, kShared},
    {Base::RootOrHome, "Library/LaunchDaemons", Match::Self, kShared},
    {Base::RootOrHome, "Library/Receipts", Match::Self, kShared},
    {Base::UserHome, "", Match::SelfOrAncestor, "is the home folder or holds it"},
    {Base::Homes, "Documents", Match::Self, kStandard},
    {Base::Homes, "Desktop", Match::Self, kStandard},
    {Base::Homes, "Downloads", Match::Self, kStandard},
    {Base::Homes, "Music", Match::Self, kStandard},
    {Base::Homes, "Movies", Match::Self, kStandard},
    {Base::Homes, "Videos", Match::Self, kStandard},
    {Base::Homes, "Pictures", Match::Self, kStandard},
    {Base::Homes, "Public", Match::Self, kStandard},
    {Base::Homes, "Templates", Match::Self, kStandard},
    {Base::Homes, ".local", Match::Self, kStandard},
    {Base::Homes, ".local/share", Match::Self, kStandard},
    {Base::Homes, ".config", Match::Self, kStandard},
    {Base::Homes, ".cache", Match::Self, kStandard},
    {Base::Trash, "", Match::SelfAncestorOrIn, "is the Trash, holds it or lies in it"},
    // Every filesystem's own trashes, whoever's they are, and the mount points,
    // which cannot move and whose removal would empty a whole drive.
    {Base::Mounts, "", Match::Self, "is a mount point"},
    {Base::Mounts, ".Trash", Match::SelfAncestorOrIn, "is a top-directory trash, holds it or lies in it"},
    {Base::Mounts, ".Trash-#", Match::SelfAncestorOrIn, "is a top-directory trash, holds it or lies in it"},
};


std::optional<std::string> malformed(const std::string& path) {
  if (path.empty()) return "is empty";
  if (path.find('\0') != std::string::npos) return "holds a NUL";
  if (path.find('\n') != std::string::npos) return "holds a line feed";
  if (path[0] != '/') return "is not an absolute path";
  for (const std::string& part : splitPath(path)) {
    if (part == "." || part == "..") return "holds a \".\" or \"..\" component";
  }
  return std::nullopt;
}

// Every link resolved, the last component too, as far as the path exists; the
// missing rest is kept as written. nullopt on any error but a missing part.
std::optional<Parts> resolveExisting(const Parts& parts) {
  ResolvedPath resolved;
  std::string error;
  if (!resolvePath(parts, resolved, error)) return std::nullopt;
  return std::move(resolved.parts);
}

std::optional<Parts> parentsResolved(const Parts& parts) {
  if (parts.empty()) return parts;
  std::optional<Parts> out = resolveExisting(Parts(parts.begin(), parts.end() - 1));
  if (out) out->push_back(parts.back());
  return out;
}

// The folder as written and fully resolved: either may be how a path names it.
std::vector<Parts> spellings(const std::string& folder) {
  Parts written = splitPath(folder);
  std::vector<Parts> out{written};
  std::optional<Parts> resolved = resolveExisting(written);
  if (resolved && *resolved != written) out.push_back(*resolved);
  return out;
}

// A name of the table: "*" is any name, "NAME#" is NAME and a number.
bool nameMatches(const std::string& name, const std::string& pattern) {
  if (pattern == "*") return true;
  if (pattern.empty() || pattern.back() != '#') return name == pattern;
  const std::size_t stem = pattern.size() - 1;
  return name.size() > stem && name.compare(0, stem, pattern, 0, stem) == 0 &&
         name.find_first_not_of("0123456789", stem) == std::string::npos;
}

// True when `path` begins with `pattern`.
bool startsWith(const Parts& path, const Parts& pattern) {
  if (pattern.size() > path.size()) return false;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (!nameMatches(path[i], pattern[i])) return false;
  }
  return true;
}

bool matches(const Parts& path, const Parts& folder, Match match) {
  switch (match) {
    case Match::Self: return path.size() == folder.size() && startsWith(path, folder);
    case Match::SelfOrAncestor: return startsWith(folder, path);
    case Match::SelfAncestorOrIn: return startsWith(folder, path) || startsWith(path, folder);
  }
  return false;
}

}  // namespace

SafetyCheck::SafetyCheck(const SafetyContext& context) : SafetyCheck(context, {}) {
  // The kernel names mount points without links.
  for (const Mount& mount : readMounts()) mounts_.push_back(splitPath(mount.path));
}

SafetyCheck::SafetyCheck(const SafetyContext& context, const std::vector<std::string>& mountPoints) {
  // Without a valid home or Trash the table would protect less than it must.
  if (malformed(context.home)) {
    contextError_ = "no valid home folder to protect";
  } else if (malformed(context.trash)) {
    contextError_ = "no valid Trash folder to protect";
  } else {
    userHome_ = homes_ = spellings(context.home);
    homes_.push_back(splitPath("/Users/*"));
    homes_.push_back(splitPath("/home/*"));
    trash_ = spellings(context.trash);
  }
  for (const std::string& point : mountPoints) mounts_.push_back(splitPath(point));
}

std::optional<std::string> SafetyCheck::refusalResolved(const Parts& path) const {
  if (contextError_) return contextError_;
  const std::vector<Parts> root{Parts{}};
  for (const SafetyRule& rule : kRules) {
    const Parts relative = splitPath(rule.folder);
    auto refuses = [&](const std::vector<Parts>& bases) {
      for (Parts folder : bases) {
        folder.insert(folder.end(), relative.begin(), relative.end());
        if (matches(path, folder, rule.match)) return true;
      }
      return false;
    };
    bool refused = false;
    switch (rule.base) {
      case Base::Root: refused = refuses(root); break;
      case Base::Homes: refused = refuses(homes_); break;
      case Base::RootOrHome: refused = refuses(root) || refuses(homes_); break;
      case Base::UserHome: refused = refuses(userHome_); break;
      case Base::Trash: refused = refuses(trash_); break;
      case Base::Mounts: refused = refuses(mounts_); break;
    }
    if (refused) return std::string(rule.reason);
  }
  return std::nullopt;
}

std::optional<std::string> SafetyCheck::refusalAsWritten(const std::string& path) const {
  if (std::optional<std::string> why = malformed(path)) return why;
  return refusalResolved(splitPath(path));
}

Judgement SafetyCheck::judge(const std::string& path) const {
  Judgement judgement;
  if ((judgement.refusal = refusalAsWritten(path))) return judgement;
  std::optional<Parts> resolved = parentsResolved(splitPath(path));
  if (!resolved) {
    judgement.refusal = "its parent folders cannot be resolved";
    return judgement;
  }
  judgement.location = joinParts(*resolved);
  if (std::optional<std::string> why = refusalResolved(*resolved))
    judgement.refusal = "resolves to " + *judgement.location + ", which " + *why;
  return judgement;
}

std::optional<std::string> resolveParents(const std::string& path) {
  if (malformed(path)) return std::nullopt;
  std::optional<Parts> parts = parentsResolved(splitPath(path));
  if (!parts) return std::nullopt;
  return joinParts(*parts);
}

}  // namespace tavo
