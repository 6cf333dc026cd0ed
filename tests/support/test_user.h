#pragma once
// A plain user made in the throwaway root, and commands run as that user.

#include <pwd.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/tool_run.h"

namespace tavo::testing {

inline const std::string kRootPath = "PATH=/usr/sbin:/usr/bin:/sbin:/bin";

struct TestUser {
  std::string name;
  uid_t uid = 0;
  gid_t gid = 0;
  std::string home;
  std::string password;  // what the user types when asked
};

/// Makes (or finds) the user `name`, with `useraddOptions` (groups, password
/// hash...), and gives them the folder `home` as their home; nullopt when
/// useradd fails.
inline std::optional<TestUser> makeUser(const std::string& name, const std::string& home,
                                        std::vector<std::string> useraddOptions = {}) {
  if (!::getpwnam(name.c_str())) {
    useraddOptions.insert(useraddOptions.end(), {"--user-group", name});
    runTool("/usr/sbin/useradd", useraddOptions, {kRootPath});
  }
  const passwd* entry = ::getpwnam(name.c_str());
  if (!entry) return std::nullopt;
  runTool("/usr/sbin/usermod", {"--home", home, name}, {kRootPath});
  std::filesystem::create_directories(home);
  if (::chown(home.c_str(), entry->pw_uid, entry->pw_gid) != 0) return std::nullopt;
  return TestUser{name, entry->pw_uid, entry->pw_gid, home, ""};
}

/// `argv` run as `user`, with their groups.
inline std::vector<std::string> asUser(const TestUser& user, std::vector<std::string> argv) {
  argv.insert(argv.begin(), {"/usr/bin/setpriv", "--reuid=" + std::to_string(user.uid),
                             "--regid=" + std::to_string(user.gid), "--init-groups", "--"});
  return argv;
}

/// The environment of a login of `user`'s.
inline std::vector<std::string> userEnvironment(const TestUser& user) {
  std::vector<std::string> env{"HOME=" + user.home, "USER=" + user.name, "LOGNAME=" + user.name,
                               "PATH=/usr/bin:/bin", "LANG=C.UTF-8"};
  for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS"})
    if (const char* value = std::getenv(name)) env.push_back(std::string(name) + "=" + value);
  return env;
}

}  // namespace tavo::testing
