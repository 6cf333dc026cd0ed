// The scan against a plain walk of the same tree.
//
//   cmake --build build --target tavo_scan_bench && build/bench/tavo_scan_bench
//
// Builds 100,000 files in 5,000 folders (groups of 100) under a temporary
// folder, names the tree in a description file, and times the controller's
// parse over it and a walk that lists every entry and stats every file. Each
// is run three times after a warm-up walk; the best times and their ratio
// are printed. The target is a ratio of at most 1.3.
// Options: --folders N --files-per-folder M (a smaller tree for a smoke run).

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

#include "bench/tree_shape.h"
#include "core/uninstaller.h"
#include "platform/file_prefs_store.h"

namespace {

using Clock = std::chrono::steady_clock;

using Shape = tavo::bench::TreeShape;

void makeTree(const std::string& tree, const Shape& shape) {
  ::mkdir(tree.c_str(), 0755);
  char name[64];
  for (long f = 0; f < shape.folders; ++f) {
    std::snprintf(name, sizeof name, "/g%03ld", f / 100);
    std::string group = tree + name;
    if (f % 100 == 0) ::mkdir(group.c_str(), 0755);
    std::snprintf(name, sizeof name, "/folder%03ld", f % 100);
    std::string folder = group + name;
    ::mkdir(folder.c_str(), 0755);
    for (long i = 0; i < shape.filesPerFolder; ++i) {
      std::snprintf(name, sizeof name, "/file%04ld.dat", i);
      int fd = ::open((folder + name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd >= 0) ::close(fd);
    }
  }
}

// Lists every entry and stats every file, as `find DIR -type f` would.
long plainWalk(int parent, const char* name) {
  int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return 0;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::fdopendir(fd), ::closedir);
  if (!dir) return 0;
  long files = 0;
  while (const dirent* entry = ::readdir(dir.get())) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    if (entry->d_type == DT_DIR) {
      files += plainWalk(fd, entry->d_name);
      continue;
    }
    struct stat st;
    if (::fstatat(fd, entry->d_name, &st, 0) == 0) ++files;
  }
  return files;
}

template <typename F>
double bestMs(int runs, F&& f) {
  double best = 1e300;
  for (int i = 0; i < runs; ++i) {
    auto start = Clock::now();
    f();
    best = std::min(best, std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  Shape shape{5000, 20};
  if (!tavo::bench::parseTreeShape(argc, argv, shape)) {
    std::fputs("usage: tavo_scan_bench [--folders N] [--files-per-folder M]\n", stderr);
    return 2;
  }
  const char* tmp = std::getenv("TMPDIR");
  std::string root = std::string(tmp && *tmp ? tmp : "/tmp") + "/tavo-bench-XXXXXX";
  if (!::mkdtemp(root.data())) return 1;
  std::string tree = root + "/tree";
  makeTree(tree, shape);
  std::string products = root + "/Bench.app/Contents/Resources/Products";
  for (std::string dir : {root + "/Bench.app", root + "/Bench.app/Contents",
                          root + "/Bench.app/Contents/Resources", products})
    ::mkdir(dir.c_str(), 0755);
  std::ofstream(products + "/bench.txt") << "Bench\nBench\n-\n" << tree << "\n-\n";

  tavo::NullLog log;
  tavo::FilePrefsStore store({root + "/prefs", root + "/anyprefs", "bench"}, log);
  tavo::Bundle bundle(root + "/Bench.app");
  tavo::SystemProcessInfo info;
  tavo::InlineMainThread mainThread;
  tavo::NoAuthorization noAuthorization;  // the scan runs nothing privileged
  tavo::Uninstaller unins({.store = store, .log = log, .bundle = bundle, .processInfo = info,
                           .mainThread = mainThread, .authorization = noAuthorization});

  long walked = plainWalk(AT_FDCWD, tree.c_str());  // warm the caches
  std::size_t found = 0;
  double parseMs = bestMs(3, [&] {
    unins.parse();
    found = unins.products()->empty() ? 0 : unins.products()->front()->paths().size();
  });
  double walkMs = bestMs(3, [&] { walked = plainWalk(AT_FDCWD, tree.c_str()); });

  std::printf("tree: %ld files in %ld folders\n", walked, shape.folders);
  std::printf("parse: %.1f ms (%zu paths)\n", parseMs, found);
  std::printf("walk:  %.1f ms\n", walkMs);
  std::printf("ratio: %.2f (target <= 1.3)\n", parseMs / walkMs);
  tavo::bench::removeAll(root);
  return 0;
}
