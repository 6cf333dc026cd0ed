#pragma once
// A machine laid out for root-level tests in the throwaway root: plain users,
// a second filesystem, and a look at a tree before and after.

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <tuple>

#include "tests/support/test_user.h"

namespace tavo::testing {

using Strings = std::vector<std::string>;
namespace fs = std::filesystem;

inline struct stat statOf(const std::string& path) {  // all zero when there is nothing
  struct stat st {};
  ::lstat(path.c_str(), &st);
  return st;
}

/// The names in a folder, sorted; none when it is missing.
inline Strings namesIn(const std::string& folder) {
  Strings names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

/// Each entry of the tree at `root` by its path inside it ("." for the root):
/// its mode, its modification time, and a file's bytes or a link's target.
using Tree = std::map<std::string, std::tuple<mode_t, long, long, std::string>>;
inline Tree treeOf(const std::string& root) {
  Tree out;
  auto add = [&](const std::string& path, const std::string& rel) {
    const struct stat st = statOf(path);
    std::error_code ec;
    std::string held = S_ISREG(st.st_mode) ? readFile(path) : fs::read_symlink(path, ec).string();
    out[rel] = {st.st_mode, st.st_mtim.tv_sec, st.st_mtim.tv_nsec, held};
  };
  add(root, ".");
  std::error_code ec;
  for (const auto& entry : fs::recursive_directory_iterator(root, ec))
    add(entry.path(), fs::relative(entry.path(), root).string());
  return out;
}

/// A tmpfs mounted for the life of the object: a second filesystem.
class Volume {
 public:
  explicit Volume(const std::string& at, const std::string& options = "mode=0755") : at_(at) {
    fs::create_directories(at);
    mounted_ = ::mount("tmpfs", at.c_str(), "tmpfs", 0, options.c_str()) == 0;
  }
  ~Volume() {
    if (mounted_) ::umount2(at_.c_str(), MNT_DETACH);
  }
  Volume(const Volume&) = delete;
  Volume& operator=(const Volume&) = delete;
  bool mounted() const { return mounted_; }
  bool remountReadOnly() const {
    return ::mount(nullptr, at_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
  }
  std::string operator/(const std::string& rel) const { return at_ + "/" + rel; }
  const std::string& path() const { return at_; }

 private:
  std::string at_;
  bool mounted_ = false;
};

/// Three plain users with homes in a folder all may pass through: alice, for
/// whom sweeper acts, and bob and eve, who must lose nothing to her.
struct Users {
  Users() : dir("") {
    ::chmod(dir.path().c_str(), 0755);
    alice = makeUser("tavo-alice", dir / "home/alice");
    bob = makeUser("tavo-bob", dir / "home/bob");
    eve = makeUser("tavo-eve", dir / "home/eve");
  }
  bool made() const { return alice && bob && eve; }
  std::string trash() const { return alice->home + "/.local/share/Trash"; }
  Strings pkexec() const { return {"PKEXEC_UID=" + std::to_string(alice->uid)}; }
  /// `path` made a folder of `user`'s with `mode`.
  static std::string own(const std::string& path, const TestUser& user, mode_t mode = 0755) {
    fs::create_directories(path);
    EXPECT_EQ(::chown(path.c_str(), user.uid, user.gid) | ::chmod(path.c_str(), mode), 0) << path;
    return path;
  }
  TempDir dir;
  std::optional<TestUser> alice, bob, eve;
};

}  // namespace tavo::testing
