#pragma once
// What the sweeper tests share: the real sweeper run as root in the throwaway
// root, a second filesystem mounted for a test, a plain user to act for, and
// a look at what a trash holds.

#include <gtest/gtest.h>
#include <grp.h>
#include <pwd.h>
#include <sys/mount.h>

#include <filesystem>
#include <map>
#include <regex>

#include "tests/support/throwaway_root.h"
#include "tests/support/tool_run.h"

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

/// A plain user made in the throwaway root, with a home in `home`.
struct TestUser {
  std::string name;
  uid_t uid = 0;
  gid_t gid = 0;
  std::string home;
};

/// Makes (or finds) the user `name` with its home at `home`; nullopt when useradd fails.
inline std::optional<TestUser> makeUser(const std::string& name, const std::string& home) {
  if (!::getpwnam(name.c_str())) {
    runTool("/usr/sbin/useradd", {"--no-create-home", "--home-dir", home, "--user-group", name});
  }
  const passwd* entry = ::getpwnam(name.c_str());
  if (!entry) return std::nullopt;
  runTool("/usr/sbin/usermod", {"--home", home, name});
  fs::create_directories(home);
  if (::chown(home.c_str(), entry->pw_uid, entry->pw_gid) != 0) std::abort();
  return TestUser{name, entry->pw_uid, entry->pw_gid, home};
}

/// Runs `argv` as `user` (setpriv, an argument vector) with `env` and `input` on stdin.
inline ToolRun runAs(const TestUser& user, Strings argv, Strings env, const std::string& input = "") {
  Strings command = {"--reuid=" + std::to_string(user.uid), "--regid=" + std::to_string(user.gid),
                     "--clear-groups", "--"};
  command.insert(command.end(), argv.begin(), argv.end());
  UniqueFd in(::memfd_create("in", MFD_CLOEXEC)), out(::memfd_create("out", MFD_CLOEXEC));
  writeFile("/proc/self/fd/" + std::to_string(in.get()), input);
  command.insert(command.begin(), "/usr/bin/setpriv");
  ToolRun run;
  Child child = Child::start({.argv = command, .environment = env, .in = in.get(), .out = out.get(),
                              .err = out.get()});
  run.status = child.wait();
  run.out = readFile("/proc/self/fd/" + std::to_string(out.get()));
  return run;
}

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

// Root-level: the real sweeper, run as root.
class SweeperTest : public ::testing::Test {
 protected:
  void SetUp() override { TAVO_REQUIRE_THROWAWAY_ROOT(); }
  std::string trash() const { return dir_ / "Trash"; }
  /// One run over a list of `paths`, each ended by a line feed.
  ToolRun sweep(const Strings& paths, const std::string& trashDir = "", const Strings& env = {}) {
    std::string text;
    for (const std::string& path : paths) text += path + "\n";
    writeFile(dir_ / "list.txt", text, 0600);
    return runTool(TAVO_SWEEPER, {trashDir.empty() ? trash() : trashDir, dir_ / "list.txt"}, env);
  }
  TempDir dir_;
};

}  // namespace tavo::testing
