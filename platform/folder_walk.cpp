#include "platform/folder_walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace tavo {
namespace {

// A subfolder is opened as the entry it was listed as: never through a link
// that has taken its place since.
constexpr int kSubfolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
constexpr std::size_t kReadBufferSize = 32 * 1024;

bool isDotOrDotDot(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

}  // namespace

std::optional<std::string> resolveFolderPath(const std::string& path) {
  if (path.find('\0') != std::string::npos) return std::nullopt;
  std::unique_ptr<char, void (*)(void*)> resolved(::realpath(path.c_str(), nullptr), std::free);
  if (!resolved) return std::nullopt;
  return std::string(resolved.get());
}

EntryKind entryKindOf(int folderFd, const char* name, unsigned char dType) {
  if (dType == DT_DIR) return EntryKind::Folder;
  if (dType == DT_LNK) return EntryKind::Link;
  if (dType != DT_UNKNOWN) return EntryKind::Other;
  struct stat st;
  if (::fstatat(folderFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return EntryKind::Vanished;
  if (S_ISDIR(st.st_mode)) return EntryKind::Folder;
  return S_ISLNK(st.st_mode) ? EntryKind::Link : EntryKind::Other;
}

FolderWalk::FolderWalk(std::size_t maxOpenFolders)
    : maxOpen_(std::max<std::size_t>(maxOpenFolders, 2)) {}

int FolderWalk::open(const std::string& folder) {
  frames_.clear();
  items_.clear();
  names_.clear();
  closedBelow_ = 1;
  if (folder.find('\0') != std::string::npos) return ENOENT;  // names nothing
  UniqueFd fd(::openat(AT_FDCWD, folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.valid()) return errno != 0 ? errno : EIO;
  // Entries of "/" are "/name", as elsewhere: the separator is never doubled.
  path_ = folder;
  if (!path_.empty() && path_.back() == '/') path_.pop_back();
  buffer_.resize(kReadBufferSize);
  pushFrame(std::move(fd));
  return 0;
}

void FolderWalk::walk(const Visit& visit, const std::atomic<bool>* cancelled) {
  while (!frames_.empty() && !(cancelled && *cancelled)) {
    std::size_t depth = frames_.size() - 1;
    if (frames_[depth].next == items_.size() || !ensureOpen(depth)) {
      popFrame();
      continue;
    }
    const Item item = items_[frames_[depth].next++];
    path_.resize(frames_[depth].pathLength);
    path_ += '/';
    std::size_t nameAt = path_.size();
    path_.append(names_, item.nameAt, item.length);
    int folderFd = frames_[depth].fd.get();
    if (!visit(Entry{path_, nameAt, depth, item.kind, folderFd}) || item.kind != EntryKind::Folder)
      continue;
    UniqueFd sub(::openat(folderFd, path_.c_str() + nameAt, kSubfolderFlags));
    if (!sub.valid()) continue;  // gone, unreadable or no longer a folder
    pushFrame(std::move(sub));
    limitOpenFolders();
  }
  frames_.clear();
  items_.clear();
  names_.clear();
}

// The new frame's entries are read at once and sorted, so that the order
// does not depend on the file system and the folder is read only once.
void FolderWalk::pushFrame(UniqueFd fd) {
  std::size_t first = items_.size();
  frames_.push_back(Frame{std::move(fd), path_.size(), first, first, names_.size()});
  readEntries(frames_.back());
  sortEntries(frames_.back().firstItem);
}

// The names of one folder often share a long beginning ("Harp 001-01.ncw",
// "Harp 001-02.ncw"): the eight bytes after it, in one integer, settle most
// comparisons. Names hold no NUL, so the zeros that pad a short one sort it
// before the longer names it begins.
void FolderWalk::sortEntries(std::size_t first) {
  auto begin = items_.begin() + static_cast<std::ptrdiff_t>(first);
  if (items_.end() - begin < 2) return;
  auto nameOf = [this](const Item& item) {
    return std::string_view(names_.data() + item.nameAt, item.length);
  };
  std::string_view firstName = nameOf(*begin);
  std::size_t common = firstName.size();
  for (auto it = begin + 1; it != items_.end() && common > 0; ++it) {
    std::string_view name = nameOf(*it).substr(0, common);
    common = static_cast<std::size_t>(
        std::mismatch(name.begin(), name.end(), firstName.begin()).first - name.begin());
  }
  for (auto it = begin; it != items_.end(); ++it) {
    std::string_view rest = nameOf(*it).substr(common, 8);
    it->key = 0;
    for (std::size_t i = 0; i < 8; ++i)
      it->key = it->key << 8 | (i < rest.size() ? static_cast<unsigned char>(rest[i]) : 0u);
  }
  std::sort(begin, items_.end(), [&nameOf](const Item& a, const Item& b) {
    return a.key != b.key ? a.key < b.key : nameOf(a) < nameOf(b);
  });
}

void FolderWalk::readEntries(Frame& frame) {
  int fd = frame.fd.get();
  for (;;) {
    ssize_t got = ::getdents64(fd, buffer_.data(), buffer_.size());
    if (got <= 0) return;  // the end, or an error that ends this folder's entries
    for (ssize_t at = 0; at < got;) {
      const auto* entry = reinterpret_cast<const dirent64*>(buffer_.data() + at);
      at += entry->d_reclen;
      if (isDotOrDotDot(entry->d_name)) continue;
      std::size_t length = std::strlen(entry->d_name);
      EntryKind kind = entryKindOf(fd, entry->d_name, entry->d_type);
      items_.push_back(Item{names_.size(), length, 0, kind});
      names_.append(entry->d_name, length + 1);  // with its NUL, for the *at calls
    }
  }
}

void FolderWalk::popFrame() {
  items_.resize(frames_.back().firstItem);
  names_.resize(frames_.back().namesAt);
  frames_.pop_back();
  closedBelow_ = std::min(closedBelow_, std::max<std::size_t>(frames_.size(), 1));
}

// Frames [1, closedBelow_) hold no descriptor, every later one does. The top
// frame is closed only after the walk has come back up past deeper ones; it
// is opened again one name at a time from the start folder, which is always
// open, so that no path longer than the system allows is ever handed over.
// A folder that has gone meanwhile ends with the entries already visited.
bool FolderWalk::ensureOpen(std::size_t index) {
  if (frames_[index].fd.valid()) return true;
  UniqueFd at;
  int atFd = frames_[0].fd.get();
  for (std::size_t i = 1; i <= index; ++i) {
    std::size_t begin = frames_[i - 1].pathLength + 1;
    std::string name(path_, begin, frames_[i].pathLength - begin);
    UniqueFd next(::openat(atFd, name.c_str(), kSubfolderFlags));
    if (!next.valid()) return false;
    at = std::move(next);
    atFd = at.get();
  }
  frames_[index].fd = std::move(at);
  closedBelow_ = index;
  return true;
}

void FolderWalk::limitOpenFolders() {
  while (1 + frames_.size() - closedBelow_ > maxOpen_) frames_[closedBelow_++].fd.reset();
}

}  // namespace tavo
