#include "prefs/file_prefs_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <string_view>
#include <utility>

#include "base/io.h"
#include "base/path.h"
#include "base/unique_fd.h"

namespace tavo {
namespace {

// Each log line of the store begins so; people and scripts search for it.
constexpr const char* kLogPrefix = "Preferences: ";

struct Scope {
  bool app;  // the domain itself, else the any-application domain
  PrefUser user;
  PrefHost host;
};

// The standard application search list, first match wins.
constexpr std::array<Scope, 8> kSearchList{{
    {true, PrefUser::Current, PrefHost::Current},
    {true, PrefUser::Current, PrefHost::Any},
    {false, PrefUser::Current, PrefHost::Current},
    {false, PrefUser::Current, PrefHost::Any},
    {true, PrefUser::Any, PrefHost::Current},
    {true, PrefUser::Any, PrefHost::Any},
    {false, PrefUser::Any, PrefHost::Current},
    {false, PrefUser::Any, PrefHost::Any},
}};

bool namesAFile(const std::string& domain) {
  return !domain.empty() && domain != "." && domain != ".." &&
         domain.find('/') == std::string::npos && domain.find('\0') == std::string::npos;
}

// Creates the missing folders of `dir`.
void makeFolders(const std::string& dir, mode_t mode) {
  for (std::size_t pos = 1; pos != std::string::npos;) {
    pos = dir.find('/', pos + 1);
    ::mkdir(dir.substr(0, pos).c_str(), mode);
  }
}

bool isFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Locks the folder that holds the domain's files. A folder is there before
// and after, so the lock never leaves a file behind, not even when its
// holder is killed. Checked to be the folder the path names now, since
// another process may have replaced it while we waited. -1 when it cannot
// be opened.
int openLockedFolder(const std::string& folder) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid()) return -1;
    while (::flock(fd.get(), LOCK_EX) != 0) {
      if (errno != EINTR) return -1;
    }
    struct stat locked {}, named {};
    if (::fstat(fd.get(), &locked) != 0) return -1;
    if (::stat(folder.c_str(), &named) == 0 && named.st_dev == locked.st_dev &&
        named.st_ino == locked.st_ino)
      return fd.release();
  }
  errno = EAGAIN;
  return -1;
}

// A write-back goes through a temporary file of this name in the domain's
// folder: hidden, and a name no person or other program chooses, so that
// clearing what a killed write left never takes anybody else's file. The six
// characters are mkostemp's.
constexpr std::string_view kTemporaryPrefix = ".tavo-prefs-writing.";
constexpr std::size_t kTemporaryRandom = 6;

bool isOwnTemporary(std::string_view name) {
  if (name.size() != kTemporaryPrefix.size() + kTemporaryRandom ||
      !name.starts_with(kTemporaryPrefix))
    return false;
  return std::all_of(name.begin() + kTemporaryPrefix.size(), name.end(),
                     [](char c) { return std::isalnum(static_cast<unsigned char>(c)); });
}

// Removes what killed write-backs left in the folder. Called with the
// folder's lock held: every write of ours there holds it until its rename,
// so a temporary file found now has no writer.
void removeStaleTemporaries(int folderFd) {
  int copy = ::dup(folderFd);
  if (copy < 0) return;
  DIR* dir = ::fdopendir(copy);
  if (!dir) {
    ::close(copy);
    return;
  }
  std::vector<std::string> stale;
  while (const dirent* entry = ::readdir(dir)) {
    struct stat st {};
    if (isOwnTemporary(entry->d_name) &&
        ::fstatat(folderFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
      stale.emplace_back(entry->d_name);
  }
  ::closedir(dir);
  for (const std::string& name : stale) ::unlinkat(folderFd, name.c_str(), 0);
}

// Replaces `path` with `bytes` through a temporary file in the same folder,
// so that a reader sees either the old file or the new one, never a part.
bool replaceFile(const std::string& path, const std::string& bytes, const struct stat* old) {
  std::string tmpl = parentPath(path) + "/" + std::string(kTemporaryPrefix) +
                     std::string(kTemporaryRandom, 'X');
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back('\0');
  UniqueFd fd(::mkostemp(name.data(), O_CLOEXEC));
  if (!fd.valid()) return false;
  bool ok = writeAll(fd.get(), bytes);
  if (ok && old) {
    ok = ::fchmod(fd.get(), old->st_mode & 07777) == 0;
    // Changing the owner needs privilege; the file keeps ours when we lack it,
    // which is only the case when it was ours to begin with.
    if (ok && (old->st_uid != ::geteuid() || old->st_gid != ::getegid()))
      ok = ::fchown(fd.get(), old->st_uid, old->st_gid) == 0 || ::geteuid() != 0;
  }
  ok = ok && ::fsync(fd.get()) == 0;
  if (ok) ok = ::rename(name.data(), path.c_str()) == 0;
  if (!ok) {
    int err = errno;  // for the caller's log line
    ::unlink(name.data());
    errno = err;
  }
  return ok;
}

void applyPending(PlistDict& dict, const std::vector<std::pair<std::string, std::optional<PlistValue>>>& pending) {
  for (const auto& [key, value] : pending) {
    if (value)
      dict.set(key, *value);
    else
      dict.remove(key);
  }
}

std::string readHostId() {
  std::ifstream in("/etc/machine-id");
  std::string id;
  std::getline(in, id);
  return id;
}

}  // namespace

// The folder lock of one domain file, released when destroyed.
class FilePrefsStore::FolderLock final : public PrefsDomainLock {
 public:
  FolderLock(FilePrefsStore& store, std::string folder, UniqueFd fd)
      : store_(store), folder_(std::move(folder)), fd_(std::move(fd)) {
    store_.heldLocks_[folder_] = fd_.get();
  }
  ~FolderLock() override { store_.heldLocks_.erase(folder_); }  // closing releases it

 private:
  FilePrefsStore& store_;
  std::string folder_;
  UniqueFd fd_;
};

// A hold on reads; the reads kept go with the last one.
class FilePrefsStore::ReadHold final : public PrefsReadHold {
 public:
  explicit ReadHold(FilePrefsStore& store) : store_(store) { ++store_.readHolds_; }
  ~ReadHold() override {
    if (--store_.readHolds_ == 0) store_.keptReads_.clear();
  }

 private:
  FilePrefsStore& store_;
};

PrefsRoots PrefsRoots::forUser(const std::string& home) {
  return PrefsRoots{home + "/Library/Preferences", "/Library/Preferences", readHostId()};
}

FilePrefsStore::FilePrefsStore(PrefsRoots roots, SystemLog& log)
    : roots_(std::move(roots)), log_(log) {}

FilePrefsStore::~FilePrefsStore() = default;

std::optional<std::string> FilePrefsStore::pathFor(const std::string& domain, PrefUser user,
                                                   PrefHost host) const {
  if (!namesAFile(domain)) return std::nullopt;
  if (user == PrefUser::Current) {
    if (host == PrefHost::Any) return roots_.userPrefs + "/" + domain + ".plist";
    if (roots_.hostId.empty() || !namesAFile(roots_.hostId)) return std::nullopt;
    return roots_.userPrefs + "/ByHost/" + domain + "." + roots_.hostId + ".plist";
  }
  if (host == PrefHost::Current) return roots_.anyUserPrefs + "/" + domain + ".plist";
  return roots_.anyUserPrefs + "/Network/" + domain + ".plist";
}

std::optional<PlistValue> FilePrefsStore::copyValue(const std::string& key,
                                                    const std::string& domain, PrefUser user,
                                                    PrefHost host) {
  auto path = pathFor(domain, user, host);
  if (!path) return std::nullopt;
  // A pending key hides the file's; setValue keeps one entry per key.
  if (auto it = pending_.find(*path); it != pending_.end()) {
    for (const auto& [name, value] : it->second)
      if (name == key) return value;
  }
  PlistFile fresh;
  const PlistValue* value = readScope(*path, fresh).dict.find(key);
  if (!value) return std::nullopt;
  return *value;
}

const PlistFile& FilePrefsStore::readScope(const std::string& path, PlistFile& fresh) {
  if (readHolds_ > 0) {
    if (auto it = keptReads_.find(path); it != keptReads_.end()) return it->second;
  }
  PlistFile file = readPlistFile(path);
  // A scan reads each file many times; one line says it is passed over.
  if (file.state == PlistFile::State::Unreadable && reportedUnreadable_.insert(path).second)
    log_.line(std::string(kLogPrefix) + "skipping " + path +
              ": the file could not be read as a dictionary (" + file.problem + ")");
  if (readHolds_ > 0) return keptReads_.emplace(path, std::move(file)).first->second;
  fresh = std::move(file);
  return fresh;
}

std::unique_ptr<PrefsReadHold> FilePrefsStore::holdReads() {
  return std::make_unique<ReadHold>(*this);
}

std::optional<PlistValue> FilePrefsStore::copyAppValue(const std::string& key,
                                                       const std::string& domain) {
  for (const Scope& scope : kSearchList) {
    auto value = copyValue(key, scope.app ? domain : kAnyApplication, scope.user, scope.host);
    if (value) return value;
  }
  return std::nullopt;
}

void FilePrefsStore::setValue(const std::string& key, std::optional<PlistValue> value,
                              const std::string& domain, PrefUser user, PrefHost host) {
  auto path = pathFor(domain, user, host);
  if (!path) return;
  Pending& pending = pending_[*path];
  std::erase_if(pending, [&](const auto& entry) { return entry.first == key; });
  pending.emplace_back(key, std::move(value));
}

bool FilePrefsStore::synchronize(const std::string& domain, PrefUser user, PrefHost host) {
  auto path = pathFor(domain, user, host);
  if (!path) return false;
  auto it = pending_.find(*path);
  if (it == pending_.end()) return true;  // reads always see the file as it is now
  Pending pending = std::move(it->second);
  pending_.erase(it);
  return writeLocked(*path, pending);
}

bool FilePrefsStore::writeLocked(const std::string& path, const Pending& pending) {
  keptReads_.clear();
  const std::string folder = parentPath(path);
  std::unique_ptr<PrefsDomainLock> ownLock;
  if (!heldLocks_.count(folder)) {
    bool shared = path.compare(0, roots_.anyUserPrefs.size(), roots_.anyUserPrefs) == 0;
    makeFolders(folder, shared ? 0755 : 0700);
    ownLock = lockFolder(path);
    if (!heldLocks_.count(folder)) {
      log_.line(std::string(kLogPrefix) + "cannot lock " + folder + ": " + std::strerror(errno));
      return false;
    }
  }
  struct stat old {};
  bool exists = ::stat(path.c_str(), &old) == 0;
  PlistFile file = readPlistFile(path);
  if (file.state == PlistFile::State::Unreadable) {
    log_.line(std::string(kLogPrefix) + "not writing " + path +
              ": the file could not be read as a dictionary (" + file.problem + ")");
    return false;
  }
  PlistDict before = file.dict;
  applyPending(file.dict, pending);
  if (file.dict == before && exists && old.st_size > 0) return true;
  std::string bytes, problem;
  if (!serializePlist(file.dict, file.format, bytes, &problem)) {
    log_.line(std::string(kLogPrefix) + "not writing " + path + ": " + problem);
    return false;
  }
  if (!replaceFile(path, bytes, exists ? &old : nullptr)) {
    log_.line(std::string(kLogPrefix) + "cannot write " + path + ": " + std::strerror(errno));
    return false;
  }
  return true;
}

std::unique_ptr<PrefsDomainLock> FilePrefsStore::lockFolder(const std::string& path) {
  std::string folder = parentPath(path);
  UniqueFd fd(openLockedFolder(folder));
  if (!fd.valid()) return std::make_unique<PrefsDomainLock>();
  removeStaleTemporaries(fd.get());
  return std::make_unique<FolderLock>(*this, std::move(folder), std::move(fd));
}

std::unique_ptr<PrefsDomainLock> FilePrefsStore::lockDomain(const std::string& domain,
                                                            PrefUser user, PrefHost host) {
  keptReads_.clear();  // a lock is taken to change a value: it must read the file as it is
  auto path = pathFor(domain, user, host);
  // Without its folder the domain has no file and nothing to guard.
  if (!path || heldLocks_.count(parentPath(*path)) || !isFolder(parentPath(*path)))
    return std::make_unique<PrefsDomainLock>();
  return lockFolder(*path);
}

}  // namespace tavo
