#include "platform/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <vector>

#include "platform/folder_walk.h"

namespace tavo {

bool fileExistsAtPath(const std::string& path, bool* isDirectory) {
  struct stat st;
  if (path.find('\0') != std::string::npos) return false;
  if (::stat(path.c_str(), &st) != 0) return false;
  if (isDirectory) *isDirectory = S_ISDIR(st.st_mode);
  return true;
}

namespace {

// Absolute, and every name a real one: nothing to resolve but links.
bool plainAbsolute(const std::string& path) {
  if (path.size() < 2 || path.front() != '/' || path.back() == '/' ||
      path.find('\0') != std::string::npos)
    return false;
  for (std::size_t start = 1; start <= path.size();) {
    std::size_t end = std::min(path.find('/', start), path.size());
    std::string_view name(path.data() + start, end - start);
    if (name.empty() || name == "." || name == "..") return false;
    start = end + 1;
  }
  return true;
}

}  // namespace

// The names of a folder that a probe keeps; a folder with more entries is
// searched name by name instead.
constexpr std::size_t kMaxListedEntries = 20000;
constexpr std::size_t kMaxOpenFolders = 128;

struct ExistenceProbe::Folder {
  UniqueFd fd;           // invalid: nothing in it can be reached
  bool listed = false;   // `kinds` holds every entry
  std::unordered_map<std::string, unsigned char> kinds;  // name -> directory entry type
};

ExistenceProbe::ExistenceProbe() = default;
ExistenceProbe::~ExistenceProbe() = default;

ExistenceProbe::Folder* ExistenceProbe::folder(const std::string& path) {
  if (auto it = folders_.find(path); it != folders_.end()) return it->second.get();
  auto f = std::make_unique<Folder>();
  f->fd.reset(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!f->fd.valid() && errno == EACCES)  // unreadable, and perhaps still searchable
    f->fd.reset(::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!f->fd.valid() && (errno == EMFILE || errno == ENFILE || errno == ENOMEM)) return nullptr;
  struct stat st;
  // Looking up "." needs the right to search the folder, as a path through it does.
  if (f->fd.valid() && ::fstatat(f->fd.get(), ".", &st, 0) != 0) f->fd.reset();
  if (f->fd.valid() && (::fcntl(f->fd.get(), F_GETFL) & O_PATH) == 0) {
    std::vector<char> buffer(32 * 1024);
    f->listed = true;
    for (;;) {
      ssize_t got = ::getdents64(f->fd.get(), buffer.data(), buffer.size());
      if (got < 0 || f->kinds.size() > kMaxListedEntries) f->listed = false;
      if (got <= 0 || !f->listed) break;
      for (ssize_t at = 0; at < got;) {
        const auto* entry = reinterpret_cast<const dirent64*>(buffer.data() + at);
        at += entry->d_reclen;
        f->kinds.emplace(entry->d_name, entry->d_type);
      }
    }
    if (!f->listed) f->kinds.clear();
  }
  if (f->fd.valid() && ++openFolders_ > kMaxOpenFolders) {
    folders_.clear();
    openFolders_ = 1;
  }
  return folders_.emplace(path, std::move(f)).first->second.get();
}

bool ExistenceProbe::exists(const std::string& path, bool* isDirectory) {
  std::size_t slash = path.rfind('/');
  if (!plainAbsolute(path) || slash == 0) return fileExistsAtPath(path, isDirectory);
  Folder* f = folder(path.substr(0, slash));
  if (!f) return fileExistsAtPath(path, isDirectory);
  if (!f->fd.valid()) return false;
  const char* name = path.c_str() + slash + 1;
  unsigned char kind = DT_UNKNOWN;
  if (f->listed) {
    auto it = f->kinds.find(name);
    if (it == f->kinds.end()) return false;
    kind = it->second;
  }
  // What a link points to, and an entry of unknown kind, are looked up.
  struct stat st;
  if (kind == DT_UNKNOWN || kind == DT_LNK) {
    if (::fstatat(f->fd.get(), name, &st, 0) != 0) return false;
    kind = S_ISDIR(st.st_mode) ? DT_DIR : DT_REG;
  }
  if (isDirectory) *isDirectory = kind == DT_DIR;
  return true;
}

void subpathsAtPath(const std::string& folder, const std::function<void(const Subpath&)>& visit,
                    const std::atomic<bool>* cancelled) {
  FolderWalk walk;
  if (walk.open(folder) != 0) return;
  std::size_t relativeAt = 0;
  walk.walk(
      [&](const FolderWalk::Entry& entry) {
        if (entry.depth == 0) relativeAt = entry.nameAt;
        Subpath item{entry.path, relativeAt};
        struct stat st;
        switch (entry.kind) {
          case EntryKind::Folder:
            item.exists = item.isDirectory = true;
            break;
          case EntryKind::Other:
            item.exists = true;
            break;
          case EntryKind::Link:  // what it points to decides
            if (::fstatat(entry.folderFd, entry.cName(), &st, 0) == 0) {
              item.exists = true;
              item.isDirectory = S_ISDIR(st.st_mode);
            }
            break;
          case EntryKind::Vanished:
            break;
        }
        visit(item);
        return entry.kind == EntryKind::Folder;
      },
      cancelled);
}

}  // namespace tavo
