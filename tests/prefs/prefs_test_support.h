#pragma once
// Temporary preference roots and a store over them, for the preference tests.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/file_prefs_store.h"

namespace tavo::testing {

class TempPrefs {
 public:
  TempPrefs() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "tavo-prefs-XXXXXX").string();
    root_ = ::mkdtemp(tmpl.data());
    roots_ = PrefsRoots{root_ + "/user", root_ + "/any", "HOSTID"};
    std::filesystem::create_directories(roots_.userPrefs + "/ByHost");
    std::filesystem::create_directories(roots_.anyUserPrefs + "/Network");
  }
  ~TempPrefs() { std::filesystem::remove_all(root_); }

  const PrefsRoots& roots() const { return roots_; }
  const std::string& root() const { return root_; }
  std::string userFile(const std::string& domain) const {
    return roots_.userPrefs + "/" + domain + ".plist";
  }
  std::string anyUserFile(const std::string& domain) const {
    return roots_.anyUserPrefs + "/" + domain + ".plist";
  }

 private:
  std::string root_;
  PrefsRoots roots_;
};

inline std::string fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline void writeBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline PlistDict dictOf(std::initializer_list<std::pair<std::string, PlistValue>> entries) {
  PlistDict d;
  for (const auto& [k, v] : entries) d.set(k, v);
  return d;
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
  return dictOf({
      {"base_dir", "/Users/me/Documents/Player"},
      {"Banks", PlistValue(dictOf({
                    {"Strings", PlistValue(dictOf({{"bank_path", "/lib/Strings/Library"},
                                                   {"sample_dir", "/samples/Strings"},
                                                   {"volume", PlistValue(-3)}}))},
                    {"Brass", PlistValue(dictOf({{"bank_path", "/lib/Brass"},
                                                 {"enabled", PlistValue(true)},
                                                 {"gain", PlistValue(0.75)}}))},
                }))},
      {"Recent", PlistValue(PlistArray{"a", PlistValue(42), PlistValue(PlistData{0, 1, 255})})},
      {"Installed", PlistValue(PlistDate{700000000.0})},
      {"Counter", PlistValue(std::int64_t{1} << 40)},
  });
}

}  // namespace tavo::testing
