#pragma once
// Temporary preference folders, and property-list values to fill them with.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "prefs/file_prefs_store.h"
#include "plist/plist_file.h"
#include "tests/support/temp_dir.h"

namespace tavo::testing {

/// The current user's and the any-user preference folders in a temporary folder.
class TempPrefs {
 public:
  TempPrefs() {
    std::filesystem::create_directories(roots_.userPrefs + "/ByHost");
    std::filesystem::create_directories(roots_.anyUserPrefs + "/Network");
  }

  const PrefsRoots& roots() const { return roots_; }
  const std::string& root() const { return dir_.path(); }
  std::string userFile(const std::string& domain) const {
    return roots_.userPrefs + "/" + domain + ".plist";
  }
  std::string anyUserFile(const std::string& domain) const {
    return roots_.anyUserPrefs + "/" + domain + ".plist";
  }

 private:
  TempDir dir_;
  PrefsRoots roots_{dir_ / "user", dir_ / "any", "HOSTID"};
};

inline PlistDict dict(std::vector<PlistDict::Entry> entries) {
  PlistDict d;
  for (auto& [key, value] : entries) d.set(key, std::move(value));
  return d;
}

/// The names of the banks that the preferences at `path` hold, "|" between.
inline std::string banksIn(const std::string& path) {
  const PlistFile file = readPlistFile(path);
  const PlistValue* banks = file.dict.find("Banks");
  std::string names;
  if (banks && banks->dict())
    for (const auto& [name, value] : banks->dict()->entries()) names += (names.empty() ? "" : "|") + name;
  return names;
}

/// `dict` without the entry at the end of the exact key path `names`.
inline PlistDict withoutEntry(PlistDict dict, const std::vector<std::string>& names) {
  PlistValue* node = dict.find(names[0]);
  for (std::size_t i = 1; i + 1 < names.size(); ++i) node = node->dict()->find(names[i]);
  node->dict()->remove(names.back());
  return dict;
}

/// A banks dictionary of the player's shape, with a mixture of kinds at every
/// level so that a write-back that changes anything else is caught.
inline PlistDict richDomain() {
  return dict({
      {"base_dir", "/Users/me/Documents/Player"},
      {"Banks", PlistValue(dict({
                    {"Strings", PlistValue(dict({{"bank_path", "/lib/Strings/Library"},
                                                   {"sample_dir", "/samples/Strings"},
                                                   {"volume", PlistValue(-3)}}))},
                    {"Brass", PlistValue(dict({{"bank_path", "/lib/Brass"},
                                                 {"enabled", PlistValue(true)},
                                                 {"gain", PlistValue(0.75)}}))},
                }))},
      {"Recent", PlistValue(PlistArray{"a", PlistValue(42), PlistValue(PlistData{0, 1, 255})})},
      {"Installed", PlistValue(PlistDate{700000000.0})},
      {"Counter", PlistValue(std::int64_t{1} << 40)},
  });
}

}  // namespace tavo::testing
