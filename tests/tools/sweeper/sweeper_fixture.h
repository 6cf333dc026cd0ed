#pragma once
// What the sweeper tests share: the real sweeper run as root in the throwaway
// root, a second filesystem mounted for a test, and a look at what a trash holds.

#include <gtest/gtest.h>
#include <sys/mount.h>

#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <tuple>

#include "tests/support/test_user.h"
#include "tests/support/throwaway_root.h"

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

/// The info files of the trash at `trash`: name (without .trashinfo) to text.
inline std::map<std::string, std::string> infoFiles(const std::string& trash) {
  std::map<std::string, std::string> out;
  for (const std::string& name : namesIn(trash + "/info")) {
    out[name.substr(0, name.size() - std::string(".trashinfo").size())] = readFile(trash + "/info/" + name);
  }
  return out;
}

/// The Path= of an info text, as written; "" when there is none.
inline std::string infoPath(const std::string& info) {
  std::smatch match;
  return std::regex_search(info, match, std::regex("\nPath=([^\n]*)\n")) ? match[1].str() : "";
}

/// A sweeper run started beside the test, its output in a memory file.
struct Started {
  UniqueFd out;
  Child child;
  std::string output() const { return readFile("/proc/self/fd/" + std::to_string(out.get())); }
};

/// The output without its "copying:" lines: what became of each path.
inline std::string outcomes(const std::string& out) {
  std::string kept;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("copying: ", 0) != 0) kept += line + "\n";
  }
  return kept;
}

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

// Root-level: the real sweeper, run as root.
class SweeperTest : public ::testing::Test {
 protected:
  explicit SweeperTest(const std::string& base = rootsHome()) : dir_(base) {}
  void SetUp() override { TAVO_REQUIRE_THROWAWAY_ROOT(); }
  std::string trash() const { return dir_ / "Trash"; }
  /// The test's list file in `folder`, holding `paths`, each ended by a line feed.
  std::string list(const Strings& paths, const std::string& folder = "") const {
    std::string text;
    for (const std::string& path : paths) text += path + "\n";
    const std::string file = (folder.empty() ? dir_.path() : folder) + "/list.txt";
    writeFile(file, text, 0600);
    return file;
  }
  /// From now on the runs use a copy of sweeper in an installed bundle whose
  /// product description names `paths`.
  void claim(const Strings& paths) {
    std::string text = "Product\nVendor\n-\n";
    for (const std::string& path : paths) text += path + "\n";
    sweeper_ = bundled(TAVO_SWEEPER, dir_ / "B.app", "Resources", text + "-\n");
  }
  /// One run over a list of `paths`, written by the user `owner` in their home when given.
  ToolRun sweep(const Strings& paths, const std::string& trashDir = "", const Strings& env = {},
                const TestUser* owner = nullptr) {
    const std::string listFile = list(paths, owner ? owner->home : "");
    EXPECT_TRUE(!owner || ::chown(listFile.c_str(), owner->uid, owner->gid) == 0);
    return runTool(sweeper_, {trashDir.empty() ? trash() : trashDir, listFile}, env);
  }
  /// A run over the list file `listFile`, started and left running.
  Started start(const std::string& trash, const std::string& listFile, const Strings& env = {}) const {
    UniqueFd out(::memfd_create("out", MFD_CLOEXEC));
    Child child = Child::start({.argv = {sweeper_, trash, listFile}, .environment = env, .out = out.get()});
    return Started{std::move(out), std::move(child)};
  }
  TempDir dir_;
  std::string sweeper_ = TAVO_SWEEPER;
};

}  // namespace tavo::testing
