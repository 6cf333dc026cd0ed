#include "privileged/path_safety.h"

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <vector>

#include "base/path.h"

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
  for (std::size_t n = parts.size();; --n) {
    Parts prefix(parts.begin(), parts.begin() + static_cast<std::ptrdiff_t>(n));
    std::unique_ptr<char, decltype(&std::free)> real(realpath(joinParts(prefix).c_str(), nullptr),
                                                     &std::free);
    if (real) {
      Parts out = splitPath(real.get());
      out.insert(out.end(), parts.begin() + static_cast<std::ptrdiff_t>(n), parts.end());
      return out;
    }
    if ((errno != ENOENT && errno != ENOTDIR) || n == 0) return std::nullopt;
  }
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

struct Bases {
  std::vector<Parts> userHome;
  std::vector<Parts> homes;
  std::vector<Parts> trash;
};

std::vector<Parts> basesOf(Base base, const Bases& bases) {
  std::vector<Parts> root{Parts{}};
  switch (base) {
    case Base::Root: return root;
    case Base::Homes: return bases.homes;
    case Base::RootOrHome: {
      root.insert(root.end(), bases.homes.begin(), bases.homes.end());
      return root;
    }
    case Base::UserHome: return bases.userHome;
    case Base::Trash: return bases.trash;
  }
  return {};
}

// True when `path` begins with `pattern`, where "*" matches any one name.
bool startsWith(const Parts& path, const Parts& pattern) {
  if (pattern.size() > path.size()) return false;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != "*" && pattern[i] != path[i]) return false;
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

std::optional<std::string> refusedByTable(const Parts& path, const Bases& bases) {
  for (const SafetyRule& rule : kRules) {
    Parts relative = splitPath(rule.folder);
    for (Parts folder : basesOf(rule.base, bases)) {
      folder.insert(folder.end(), relative.begin(), relative.end());
      if (matches(path, folder, rule.match)) return std::string(rule.reason);
    }
  }
  return std::nullopt;
}

}  // namespace

std::span<const SafetyRule> safetyRules() { return kRules; }

std::optional<std::string> resolveParents(const std::string& path) {
  if (malformed(path)) return std::nullopt;
  std::optional<Parts> parts = parentsResolved(splitPath(path));
  if (!parts) return std::nullopt;
  return joinParts(*parts);
}

std::optional<std::string> refusalReason(const std::string& path, const SafetyContext& context) {
  if (std::optional<std::string> why = malformed(path)) return why;
  // Without a valid home or Trash the table would protect less than it must.
  if (malformed(context.home)) return "no valid home folder to protect";
  if (malformed(context.trash)) return "no valid Trash folder to protect";

  Bases bases{spellings(context.home), spellings(context.home), spellings(context.trash)};
  bases.homes.push_back(splitPath("/Users/*"));
  bases.homes.push_back(splitPath("/home/*"));

  Parts written = splitPath(path);
  if (std::optional<std::string> why = refusedByTable(written, bases)) return why;
  std::optional<Parts> resolved = parentsResolved(written);
  if (!resolved) return "its parent folders cannot be resolved";
  if (std::optional<std::string> why = refusedByTable(*resolved, bases)) {
    return "resolves to " + joinParts(*resolved) + ", which " + *why;
  }
  return std::nullopt;
}

}  // namespace tavo
