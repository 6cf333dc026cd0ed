#pragma once
// The application bundle: Name.app/Contents/MacOS/<executable> beside
// Name.app/Contents/Resources/<resources>.

#include <optional>
#include <string>
#include <vector>

namespace tavo {

class Bundle {
 public:
  /// A bundle rooted at `bundlePath` (the ".app" folder), used as given.
  explicit Bundle(std::string bundlePath);

  /// The bundle of the running executable, the folder two levels above the
  /// executable's own; nullopt when /proc/self/exe cannot be read.
  static std::optional<Bundle> mainBundle();

  /// The ".app" folder, without a trailing "/".
  const std::string& bundlePath() const { return bundlePath_; }
  /// Contents/Resources of the bundle, whether or not it exists.
  std::string resourcePath() const;

  /// The last path component without its last four characters (".app"),
  /// the name under which the application is installed.
  std::string applicationName() const;

  /// Resources/<name>.<type> (just <name> for the type ""), or nullopt when
  /// nothing exists there.
  std::optional<std::string> pathForResource(const std::string& name,
                                             const std::string& type) const;

  /// Every regular file of Resources/<inDirectory> whose extension is `type`
  /// ("" = no extension), sorted by name; empty when the folder is missing.
  std::vector<std::string> pathsForResourcesOfType(const std::string& type,
                                                   const std::string& inDirectory) const;

  /// Contents/MacOS/<name>, where helper programs ship beside the
  /// application, or nullopt when nothing exists there.
  std::optional<std::string> pathForAuxiliaryExecutable(const std::string& name) const;

 private:
  std::string bundlePath_;
};

}  // namespace tavo
