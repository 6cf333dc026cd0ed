#pragma once
// The shape of a benchmark's file tree, from "--folders N --files-per-folder M",
// and its removal afterwards.

#include <ftw.h>
#include <stdio.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace tavo::bench {

struct TreeShape {
  long folders;
  long filesPerFolder;
};

/// Reads the options into `shape`, which holds the defaults; false on anything else.
inline bool parseTreeShape(int argc, char** argv, TreeShape& shape) {
  for (int i = 1; i + 1 < argc; i += 2) {
    long value = std::strtol(argv[i + 1], nullptr, 10);
    if (value <= 0) return false;
    if (std::strcmp(argv[i], "--folders") == 0)
      shape.folders = value;
    else if (std::strcmp(argv[i], "--files-per-folder") == 0)
      shape.filesPerFolder = value;
    else
      return false;
  }
  return argc % 2 == 1;
}

/// Removes `path` and everything in it, never following links.
inline void removeAll(const std::string& path) {
  ::nftw(path.c_str(), [](const char* p, const struct stat*, int, FTW*) { return ::remove(p), 0; }, 16,
         FTW_DEPTH | FTW_PHYS);
}

}  // namespace tavo::bench
