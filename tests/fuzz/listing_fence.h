#pragma once
// Keeps a fuzzing process from listing folders outside the ones it names,
// with Landlock: a description file may name "/" or "~root", and expanding
// such a folder would walk the whole machine on every input. Only listing is
// fenced; files are still read, and folders outside are still tested for
// existence, as the parser does.

#include <fcntl.h>
#include <linux/landlock.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace tavo::fuzzing {

/// Lets this process list only folders beneath `allowed` from now on. False
/// when the kernel cannot fence it (no Landlock); nothing is changed then.
inline bool fenceFolderListing(const std::vector<std::string>& allowed) {
#ifdef LANDLOCK_ACCESS_FS_READ_DIR
  landlock_ruleset_attr ruleset{};
  ruleset.handled_access_fs = LANDLOCK_ACCESS_FS_READ_DIR;
  int fd = static_cast<int>(::syscall(SYS_landlock_create_ruleset, &ruleset, sizeof ruleset, 0));
  if (fd < 0) return false;
  for (const std::string& folder : allowed) {
    landlock_path_beneath_attr rule{};
    rule.allowed_access = LANDLOCK_ACCESS_FS_READ_DIR;
    rule.parent_fd = ::open(folder.c_str(), O_PATH | O_CLOEXEC);
    if (rule.parent_fd < 0) continue;
    ::syscall(SYS_landlock_add_rule, fd, LANDLOCK_RULE_PATH_BENEATH, &rule, 0);
    ::close(rule.parent_fd);
  }
  bool fenced = ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
                ::syscall(SYS_landlock_restrict_self, fd, 0) == 0;
  ::close(fd);
  return fenced;
#else
  (void)allowed;
  return false;
#endif
}

}  // namespace tavo::fuzzing
