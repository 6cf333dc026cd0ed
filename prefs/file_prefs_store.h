#pragma once
// The preferences store over plist files, at the places the original
// platform uses:
//   current user + any host      <userPrefs>/D.plist
//   current user + current host  <userPrefs>/ByHost/D.<hostId>.plist
//   any user + current host      <anyUserPrefs>/D.plist
//   any user + any host          <anyUserPrefs>/Network/D.plist

#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "plist/plist_file.h"
#include "prefs/prefs_store.h"
#include "base/system_log.h"

namespace tavo {

struct PrefsRoots {
  std::string userPrefs;     // the current user's ~/Library/Preferences
  std::string anyUserPrefs;  // /Library/Preferences
  std::string hostId;        // /etc/machine-id

  /// The real locations for the user whose home folder is `home`.
  static PrefsRoots forUser(const std::string& home);
};

class FilePrefsStore final : public PrefsStore {
 public:
  FilePrefsStore(PrefsRoots roots, SystemLog& log);
  ~FilePrefsStore() override;

  std::optional<PlistValue> copyAppValue(const std::string& key,
                                         const std::string& domain) override;
  std::optional<PlistValue> copyValue(const std::string& key, const std::string& domain,
                                      PrefUser user, PrefHost host) override;
  void setValue(const std::string& key, std::optional<PlistValue> value,
                const std::string& domain, PrefUser user, PrefHost host) override;
  bool synchronize(const std::string& domain, PrefUser user, PrefHost host) override;
  std::unique_ptr<PrefsDomainLock> lockDomain(const std::string& domain, PrefUser user,
                                              PrefHost host) override;
  std::unique_ptr<PrefsReadHold> holdReads() override;

  /// The file of one scope, or nullopt when the domain names no file (empty,
  /// ".", "..", or holding "/" or a NUL).
  std::optional<std::string> pathFor(const std::string& domain, PrefUser user,
                                     PrefHost host) const;

 private:
  class FolderLock;
  class ReadHold;
  using Pending = std::vector<std::pair<std::string, std::optional<PlistValue>>>;

  /// The file as read, from the reads kept under a hold when there is one,
  /// else read into `fresh`; an unreadable file holds no key, and says so in
  /// the log once. Pending keys are not applied.
  const PlistFile& readScope(const std::string& path, PlistFile& fresh);
  bool writeLocked(const std::string& path, const Pending& pending);
  /// Locks the folder of the domain file `path` and clears the temporary
  /// files that killed write-backs left in it; a lock that holds nothing
  /// when the folder cannot be locked.
  std::unique_ptr<PrefsDomainLock> lockFolder(const std::string& path);

  PrefsRoots roots_;
  SystemLog& log_;
  std::map<std::string, Pending> pending_;  // by file path
  std::map<std::string, int> heldLocks_;    // locked folder -> its descriptor
  std::set<std::string> reportedUnreadable_;  // files already logged as unreadable
  int readHolds_ = 0;
  std::map<std::string, PlistFile> keptReads_;  // by file path, while a read hold lives
};

}  // namespace tavo
