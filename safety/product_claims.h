#pragma once
// What the product descriptions of an installed bundle name: the receipts,
// the preference domains and the paths outside any home folder. The root
// helpers act on these beyond what the user could do themselves, and on
// nothing else; so the descriptions count only when nobody but root could
// have written them.

#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tavo {

struct ProductClaims {
  std::set<std::string> receipts;  // package identifiers of "$_pkg(" lines
  std::set<std::string> domains;   // preference domains of "$_var(" and "$_path(" lines
  std::set<std::string> values;    // preference values of "$_var(" lines: "domain::key/path"
  // Absolute plain paths and "$_plist(" files, split; each also with its links
  // resolved, where root alone laid those links and the folders they pass out.
  std::vector<std::vector<std::string>> paths;

  /// True when `parts` (an absolute path, split and resolved) is a named path
  /// or lies below one.
  bool covers(const std::vector<std::string>& parts) const;
};

/// What the entries of the description `lines` name, adding to `claims`; with
/// `product`, only the entries of that name. Whoever wrote the lines is not
/// judged here.
void claimDescriptionLines(const std::vector<std::string>& lines, ProductClaims& claims,
                           const std::optional<std::string>& product = std::nullopt);

/// What the description files (Products/*.txt) in the Resources folder
/// `resources` name. nullopt, with `error` saying why, when that folder, a
/// folder above it or one of the files could have been written by anyone but
/// root (a folder writable by others counts only with its sticky bit), or
/// when a file cannot be read.
std::optional<ProductClaims> readProductClaims(const std::string& resources, std::string& error);

/// The Resources folder of the bundle that holds the running program, which
/// lies in its Contents/MacOS or Contents/Resources; nullopt when it does not.
std::optional<std::string> ownBundleResources();

}  // namespace tavo
