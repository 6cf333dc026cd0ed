#include "platform/file_prefs_store.h"
#include "platform/write_all.h"

#include "platform/home_folder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <utility>

namespace tavo {
namespace {

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

std::string parentOf(const std::string& path) {
  auto slash = path.rfind('/');
  return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
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

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  Fd& operator=(Fd&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  int get() const { return fd_; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

// Opens and exclusively locks the file at `path`, making sure the lock is on
// the file that the path names now: another writer may have replaced it
// while we waited. -1 when it cannot be opened (for instance when missing
// and `create` is false).
int openLocked(const std::string& path, bool create) {
  for (int attempt = 0; attempt < 1000; ++attempt) {
    int flags = O_RDONLY | O_CLOEXEC | (create ? O_CREAT : 0);
    Fd fd(::open(path.c_str(), flags, 0600));
    if (fd.get() < 0) return -1;
    while (::flock(fd.get(), LOCK_EX) != 0) {
      if (errno != EINTR) return -1;
    }
    struct stat locked {}, named {};
    if (::fstat(fd.get(), &locked) != 0) return -1;
    if (::stat(path.c_str(), &named) == 0 && named.st_dev == locked.st_dev &&
        named.st_ino == locked.st_ino)
      return fd.release();
  }
  return -1;
}

// Replaces `path` with `bytes` through a temporary file in the same folder,
// so that a reader sees either the old file or the new one, never a part.
bool replaceFile(const std::string& path, const std::string& bytes, const struct stat* old) {
  std::string tmpl = path + ".XXXXXX";
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back('\0');
  Fd fd(::mkostemp(name.data(), O_CLOEXEC));
  if (fd.get() < 0) return false;
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
  if (!ok) ::unlink(name.data());
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

class FilePrefsStore::FileLock final : public PrefsDomainLock {
 public:
  FileLock(FilePrefsStore& store, std::string path, int fd, bool created)
      : store_(store), path_(std::move(path)), fd_(fd), created_(created) {
    if (fd_ >= 0) store_.heldLocks_[path_] = fd_;
  }
  ~FileLock() override {
    if (fd_ < 0) return;
    store_.heldLocks_.erase(path_);
    // The file made only to be locked goes again if nothing was written to
    // it; it holds no one's data.
    struct stat locked {}, named {};
    if (created_ && ::fstat(fd_, &locked) == 0 && locked.st_size == 0 &&
        ::lstat(path_.c_str(), &named) == 0 && named.st_ino == locked.st_ino &&
        named.st_dev == locked.st_dev)
      ::unlink(path_.c_str());
    ::close(fd_);  // closing the last descriptor releases the lock
  }

 private:
  FilePrefsStore& store_;
  std::string path_;
  int fd_;
  bool created_;
};

PrefsRoots PrefsRoots::forCurrentUser() {
  return PrefsRoots{currentHomeFolder() + "/Library/Preferences", "/Library/Preferences", readHostId()};
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
  PlistFile file = readPlistFile(*path);
  if (auto it = pending_.find(*path); it != pending_.end()) applyPending(file.dict, it->second);
  const PlistValue* value = file.dict.find(key);
  if (!value) return std::nullopt;
  return *value;
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
  auto held = heldLocks_.find(path);
  Fd ownLock;
  if (held == heldLocks_.end()) {
    bool shared = path.compare(0, roots_.anyUserPrefs.size(), roots_.anyUserPrefs) == 0;
    makeFolders(parentOf(path), shared ? 0755 : 0700);
    ownLock = Fd(openLocked(path, true));
    if (ownLock.get() < 0) {
      log_.line("Preferences: cannot lock " + path + ": " + std::strerror(errno));
      return false;
    }
  }
  struct stat old {};
  bool exists = ::stat(path.c_str(), &old) == 0;
  PlistFile file = readPlistFile(path);
  if (file.state == PlistFile::State::Unreadable) {
    log_.line("Preferences: not writing " + path + ": the file could not be read as a dictionary (" +
              file.problem + ")");
    return false;
  }
  PlistDict before = file.dict;
  applyPending(file.dict, pending);
  if (file.dict == before && exists && old.st_size > 0) return true;
  std::string bytes, problem;
  if (!serializePlist(file.dict, file.format, bytes, &problem)) {
    log_.line("Preferences: not writing " + path + ": " + problem);
    return false;
  }
  if (!replaceFile(path, bytes, exists ? &old : nullptr)) {
    log_.line("Preferences: cannot write " + path + ": " + std::strerror(errno));
    return false;
  }
  return true;
}

std::unique_ptr<PrefsDomainLock> FilePrefsStore::lockDomain(const std::string& domain,
                                                            PrefUser user, PrefHost host) {
  auto path = pathFor(domain, user, host);
  if (!path || heldLocks_.count(*path)) return std::make_unique<PrefsDomainLock>();
  // Without its folder the domain has no file and nothing to guard.
  if (!isFolder(parentOf(*path))) return std::make_unique<PrefsDomainLock>();
  // A missing file is created empty so that the lock also covers a writer
  // that would create it; an empty file reads as an empty domain.
  struct stat st {};
  bool created = ::lstat(path->c_str(), &st) != 0;
  int fd = openLocked(*path, true);
  return std::make_unique<FileLock>(*this, *path, fd, created);
}

}  // namespace tavo
