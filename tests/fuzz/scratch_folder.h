#pragma once
// A scratch folder for one fuzzing process, on a memory filesystem when
// there is one (the targets write and sync files on every input), removed
// when the process exits normally.

#include <stdlib.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

namespace tavo::fuzzing {

inline std::vector<std::string>& scratchFolders() {
  static auto* folders = new std::vector<std::string>;
  return *folders;
}

inline void removeScratchFolders() {
  std::error_code ignored;  // links inside are removed, never followed
  for (const std::string& folder : scratchFolders()) std::filesystem::remove_all(folder, ignored);
}

/// A new folder, named by its resolved path; aborts when none can be made.
inline std::string scratchFolder(const std::string& what) {
  const char* tmp = ::getenv("TMPDIR");
  struct stat st {};
  std::string base = tmp && *tmp ? tmp : ::stat("/dev/shm", &st) == 0 ? "/dev/shm" : "/tmp";
  std::string pattern = base + "/tavo-fuzz-" + what + "-XXXXXX";
  if (!::mkdtemp(pattern.data())) std::abort();
  static std::once_flag registered;
  std::call_once(registered, [] { std::atexit(removeScratchFolders); });
  std::string folder = std::filesystem::canonical(pattern);
  scratchFolders().push_back(folder);
  return folder;
}

}  // namespace tavo::fuzzing
