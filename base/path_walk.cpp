#include "base/path_walk.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <optional>

#include "base/path.h"

namespace tavo {
namespace {

constexpr int kMaxLinks = 40;

struct Identity {
  dev_t device;
  ino_t inode;
};

struct Step {
  std::string name;
  std::size_t origin;  // the written component it stands for
  bool fromLink;       // a piece of that component's link target
};

// Where the walk stands: what it holds, where that is, and the identity of
// every folder on the way, so that a ".." can be checked against it.
struct State {
  UniqueFd fd;
  std::vector<std::string> parts;
  std::vector<Identity> ids;  // ids[0] is "/", ids[k] the folder parts[k-1]
  bool atFolder = true;
};

bool failed(std::string& error, const std::string& what) {
  error = what + ": " + std::strerror(errno);
  return false;
}

bool identityOf(int fd, Identity& id, bool* folder = nullptr) {
  struct stat st;
  if (fstat(fd, &st) != 0) return false;
  id = {st.st_dev, st.st_ino};
  if (folder) *folder = S_ISDIR(st.st_mode);
  return true;
}

bool startAtRoot(State& state, std::string& error) {
  state.fd.reset(open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
  Identity root;
  if (!state.fd.valid() || !identityOf(state.fd.get(), root)) return failed(error, "cannot open /");
  state.parts.clear();
  state.ids.assign(1, root);
  state.atFolder = true;
  return true;
}

State copyOf(const State& state) {
  return State{UniqueFd(fcntl(state.fd.get(), F_DUPFD_CLOEXEC, 0)), state.parts, state.ids,
               state.atFolder};
}

// The folder above, which must be the one the walk came through.
bool goUp(State& state, std::string& error) {
  if (state.parts.empty()) return true;  // ".." of "/" is "/"
  UniqueFd up(openat(state.fd.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
  Identity id;
  if (!up.valid() || !identityOf(up.get(), id)) return failed(error, "cannot open ..");
  state.parts.pop_back();
  state.ids.pop_back();
  if (id.device != state.ids.back().device || id.inode != state.ids.back().inode) {
    error = "a folder moved while the path was resolved";
    return false;
  }
  state.fd = std::move(up);
  return true;
}

bool readLink(int fd, std::string& target) {
  for (std::size_t size = 256;; size *= 2) {
    target.resize(size);
    ssize_t n = readlinkat(fd, "", target.data(), size);
    if (n < 0) return false;
    if (static_cast<std::size_t>(n) < size) {
      target.resize(static_cast<std::size_t>(n));
      return true;
    }
  }
}

}  // namespace

bool resolvePath(const std::vector<std::string>& parts, ResolvedPath& out, std::string& error) {
  State state;
  if (!startAtRoot(state, error)) return false;
  std::deque<Step> queue;
  for (std::size_t i = 0; i < parts.size(); ++i) queue.push_back({parts[i], i, false});
  // The walk as it stood before the link being followed, for a target that is missing.
  std::optional<State> beforeLink;
  int links = 0;

  auto stopAt = [&](const Step& step) {
    const State& kept = step.fromLink ? *beforeLink : state;
    out.parts = kept.parts;
    out.existing = kept.parts.size();
    out.parts.insert(out.parts.end(), parts.begin() + static_cast<std::ptrdiff_t>(step.origin),
                     parts.end());
    out.fd.reset();
    return true;
  };

  while (!queue.empty()) {
    Step step = std::move(queue.front());
    queue.pop_front();
    if (!step.fromLink) beforeLink.reset();
    if (step.name == ".") continue;
    if (!state.atFolder) return stopAt(step);
    if (step.name == "..") {
      if (!goUp(state, error)) return false;
      continue;
    }
    UniqueFd next(openat(state.fd.get(), step.name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (!next.valid() && (errno == ENOENT || errno == ENOTDIR)) return stopAt(step);
    struct stat st;
    if (!next.valid() || fstat(next.get(), &st) != 0) return failed(error, "cannot open " + step.name);
    if (!S_ISLNK(st.st_mode)) {
      state.parts.push_back(std::move(step.name));
      state.ids.push_back({st.st_dev, st.st_ino});
      state.fd = std::move(next);
      state.atFolder = S_ISDIR(st.st_mode);
      continue;
    }
    std::string target;
    if (++links > kMaxLinks) {
      errno = ELOOP;
      return failed(error, "cannot resolve " + step.name);
    }
    if (!readLink(next.get(), target)) return failed(error, "cannot read the link " + step.name);
    if (!step.fromLink) beforeLink = copyOf(state);
    if (target.empty()) return stopAt(step);
    if (target[0] == '/' && !startAtRoot(state, error)) return false;
    std::vector<std::string> pieces = splitPath(target);
    for (auto piece = pieces.rbegin(); piece != pieces.rend(); ++piece) {
      queue.push_front({std::move(*piece), step.origin, true});
    }
  }
  out.parts = std::move(state.parts);
  out.existing = out.parts.size();
  out.fd = std::move(state.fd);
  return true;
}

}  // namespace tavo
