#include "safety/product_claims.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <memory>

#include "base/io.h"
#include "base/path.h"
#include "base/unique_fd.h"
#include "safety/description_file.h"

namespace tavo {
namespace {

constexpr std::size_t kMaxDescriptionBytes = 4 << 20;
constexpr int kMaxLinks = 40;  // as many as the kernel follows

// Written by root alone: root's, and writable by nobody else unless sticky,
// where nobody else may rename what root owns inside.
bool rootsAlone(const struct stat& st) {
  if (st.st_uid != 0) return false;
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) == 0) return true;
  return S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) != 0;
}

// Opens `path` one folder at a time from "/", never following a link, and
// checks that each folder on the way is root's alone.
UniqueFd openTrusted(const std::string& path, std::string& error) {
  UniqueFd folder(::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  std::string reached = "/";
  for (const std::string& part : splitPath(path)) {
    struct stat st;
    if (!folder.valid() || ::fstat(folder.get(), &st) != 0 || !rootsAlone(st)) {
      error = reached + " may be written by others than root";
      return UniqueFd();
    }
    folder.reset(::openat(folder.get(), part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    reached = joinPath(reached, part);
    if (!folder.valid()) {
      error = "cannot open " + reached + ": " + std::strerror(errno);
      return UniqueFd();
    }
  }
  struct stat st;
  if (::fstat(folder.get(), &st) != 0 || !rootsAlone(st)) {
    error = reached + " may be written by others than root";
    return UniqueFd();
  }
  return folder;
}

// Where `parts` leads with its links resolved, when root alone chose that:
// every folder the walk passes through is root's alone, and every link it
// follows is root's. Otherwise a user who may write a folder on the way could
// point a named path at anything, and have it moved as the product's. nullopt
// then, or when something on the way is missing.
std::optional<std::vector<std::string>> resolveAsLaidOutByRoot(const std::vector<std::string>& parts) {
  std::deque<std::string> todo(parts.begin(), parts.end());
  std::vector<std::string> done;
  UniqueFd folder(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
  int links = 0;
  while (!todo.empty()) {
    struct stat st;
    if (!folder.valid() || ::fstat(folder.get(), &st) != 0 || !rootsAlone(st)) return std::nullopt;
    const std::string name = std::move(todo.front());
    todo.pop_front();
    if (name == ".") continue;
    if (name == "..") {
      if (!done.empty()) done.pop_back();
      folder.reset(::openat(folder.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
      continue;
    }
    if (::fstatat(folder.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return std::nullopt;
    if (S_ISLNK(st.st_mode)) {
      char target[4096];
      const ssize_t n = ::readlinkat(folder.get(), name.c_str(), target, sizeof target);
      if (st.st_uid != 0 || ++links > kMaxLinks || n <= 0 ||
          static_cast<std::size_t>(n) >= sizeof target) {
        return std::nullopt;
      }
      if (target[0] == '/') {
        done.clear();
        folder.reset(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
      }
      const std::vector<std::string> more =
          splitPath(std::string_view(target, static_cast<std::size_t>(n)));
      todo.insert(todo.begin(), more.begin(), more.end());
      continue;
    }
    done.push_back(name);
    if (todo.empty()) break;
    folder.reset(::openat(folder.get(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  }
  return done;
}

bool readTrustedFile(int folder, const std::string& name, std::string& text, std::string& error) {
  UniqueFd fd(::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat st;
  if (!fd.valid() || ::fstat(fd.get(), &st) != 0) {
    error = "cannot open " + name + ": " + std::strerror(errno);
    return false;
  }
  if (!S_ISREG(st.st_mode) || !rootsAlone(st)) {
    error = name + " is not a file that only root may write";
    return false;
  }
  if (!readAll(fd.get(), text, kMaxDescriptionBytes)) {
    error = "cannot read " + name + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

void claimPath(const std::string& path, ProductClaims& claims) {
  if (path.empty() || path[0] != '/') return;  // "~" forms lie in a home, the user's own
  std::vector<std::string> parts = splitPath(path);
  if (std::any_of(parts.begin(), parts.end(), [](const std::string& p) { return p == "." || p == ".."; }))
    return;
  claims.paths.push_back(std::move(parts));
}


bool listTextFiles(int folder, std::vector<std::string>& names) {
  int copy = ::dup(folder);
  DIR* dir = copy < 0 ? nullptr : ::fdopendir(copy);
  if (!dir) {
    if (copy >= 0) ::close(copy);
    return false;
  }
  while (const dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".txt") == 0) names.push_back(name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  return true;
}

}  // namespace

// The body lines of each entry, as the scan reads them: a name, a vendor,
// "-", the body, "-".
void claimDescriptionLines(const std::vector<std::string>& lines, ProductClaims& claims,
                           const std::optional<std::string>& product) {
  for (std::size_t b = 0; b + 2 < lines.size() && lines[b + 2] == "-";) {
    std::size_t i = b + 3;
    for (; i < lines.size() && lines[i] != "-"; ++i) {
      if (product && lines[b] != *product) continue;
      BodyLine line = classifyBodyLine(lines[i]);
      switch (line.kind) {
        case BodyLine::Kind::Pkg: claims.receipts.insert(line.argument); break;
        case BodyLine::Kind::Var:
          claims.values.insert(line.domain + "::" + line.argument);
          claims.domains.insert(line.domain);
          break;
        case BodyLine::Kind::Path: claims.domains.insert(line.domain); break;
        case BodyLine::Kind::Plist: claimPath(line.argument, claims); break;
        case BodyLine::Kind::PlainPath: claimPath(lines[i], claims); break;
        default: break;
      }
    }
    b = i + 1;
  }
}

bool ProductClaims::covers(const std::vector<std::string>& parts) const {
  return std::any_of(paths.begin(), paths.end(), [&](const std::vector<std::string>& named) {
    return named.size() <= parts.size() && std::equal(named.begin(), named.end(), parts.begin());
  });
}

std::optional<ProductClaims> readProductClaims(const std::string& resources, std::string& error) {
  if (resources.empty() || resources[0] != '/') {
    error = "the resources folder is not an absolute path";
    return std::nullopt;
  }
  UniqueFd folder = openTrusted(joinPath(resources, "Products"), error);
  std::vector<std::string> names;
  if (!folder.valid()) return std::nullopt;
  if (!listTextFiles(folder.get(), names)) {
    error = "cannot list " + joinPath(resources, "Products") + ": " + std::strerror(errno);
    return std::nullopt;
  }
  ProductClaims claims;
  for (const std::string& name : names) {
    std::string text;
    std::vector<std::string> lines;
    if (!readTrustedFile(folder.get(), name, text, error)) return std::nullopt;
    std::string why;
    // A file the scan cannot decode names nothing, for the scan as for us.
    if (decodeDescriptionText(text, lines, why)) claimDescriptionLines(lines, claims);
  }
  const std::size_t written = claims.paths.size();
  for (std::size_t i = 0; i < written; ++i) {
    std::optional<std::vector<std::string>> resolved = resolveAsLaidOutByRoot(claims.paths[i]);
    if (resolved && *resolved != claims.paths[i]) claims.paths.push_back(std::move(*resolved));
  }
  return claims;
}

std::optional<std::string> ownBundleResources() {
  char buffer[4096];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer);
  if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buffer) return std::nullopt;
  std::string folder = parentPath(std::string(buffer, static_cast<std::size_t>(n)));
  std::string contents = parentPath(folder);
  std::string last = baseName(folder);
  if (baseName(contents) != "Contents" || (last != "MacOS" && last != "Resources"))
    return std::nullopt;
  return joinPath(contents, "Resources");
}

}  // namespace tavo
