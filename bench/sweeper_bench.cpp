// sweeper removing a 100,000-file library folder: from the home Trash's own
// filesystem, from a second filesystem (its own trash), and from a second
// filesystem whose trashes cannot be used (the copy into the home Trash).
//
//   scripts/throwaway-root --bind "$PWD/build" -- build/bench/sweeper_bench
//
// Runs sweeper as root, so only inside the throwaway root, where it mounts a
// tmpfs as the second filesystem; as a plain user it times the first case
// alone and says why. Each rename case is the best of three runs over a fresh
// tree; the ratio second/same has a target of at most 2, both being one rename.
// Its folders lie in the home of the user it runs as, where sweeper requires
// that user's Trash to lie.
// Options: --folders N --files-per-folder M (a smaller tree for a smoke run).

#include <fcntl.h>
#include <ftw.h>
#include <pwd.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/child.h"
#include "bench/tree_shape.h"
#include "base/io.h"
#include "base/unique_fd.h"
#include "tests/support/throwaway_root_check.h"

namespace {

using Clock = std::chrono::steady_clock;

using Shape = tavo::bench::TreeShape;

// A library folder: folders of files of 1 KiB each.
void makeLibrary(const std::string& library, const Shape& shape) {
  ::mkdir(library.c_str(), 0755);
  const std::string bytes(1024, 's');
  char name[64];
  for (long f = 0; f < shape.folders; ++f) {
    std::snprintf(name, sizeof name, "/Part %04ld", f);
    const std::string folder = library + name;
    ::mkdir(folder.c_str(), 0755);
    for (long i = 0; i < shape.filesPerFolder; ++i) {
      std::snprintf(name, sizeof name, "/sample%04ld.wav", i);
      tavo::UniqueFd fd(::open((folder + name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
      if (fd.valid()) tavo::writeAll(fd.get(), bytes);
    }
  }
}

using tavo::bench::removeAll;

// One sweeper run over `library`: its time in seconds, or a negative number
// when the library was not moved.
double timeSweeper(const std::string& root, const std::string& library) {
  const std::string list = root + "/list.txt";
  {
    tavo::UniqueFd fd(::open(list.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (!fd.valid() || !tavo::writeAll(fd.get(), library + "\n")) return -1;
  }
  const auto start = Clock::now();
  tavo::Child sweeper = tavo::Child::start(
      {.argv = {TAVO_SWEEPER, root + "/home/.local/share/Trash", list}, .environment = {}});
  const int status = sweeper.wait();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  struct stat st;
  return status == 0 && ::lstat(library.c_str(), &st) != 0 ? seconds : -1;
}

// The best of `runs` runs, each over a fresh library; the trashes are emptied after each.
double bestOf(int runs, const std::string& root, const std::string& library, const Shape& shape,
              const std::string& trashes) {
  double best = 1e300;
  for (int i = 0; i < runs; ++i) {
    makeLibrary(library, shape);
    ::sync();
    const double seconds = timeSweeper(root, library);
    removeAll(library);
    removeAll(root + "/home/.local/share/Trash/files");
    if (!trashes.empty()) removeAll(trashes);
    if (seconds < 0) return -1;
    best = std::min(best, seconds);
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  Shape shape{1000, 100};
  if (!tavo::bench::parseTreeShape(argc, argv, shape)) {
    std::fputs("usage: sweeper_bench [--folders N] [--files-per-folder M]\n", stderr);
    return 2;
  }
  const bool root = ::geteuid() == 0;
  if (root && !tavo::testing::insideThrowawayRoot()) {
    std::fputs("sweeper_bench runs sweeper as root: run it inside scripts/throwaway-root\n", stderr);
    return 1;
  }
  const passwd* me = ::getpwuid(::geteuid());
  if (!me || !me->pw_dir || me->pw_dir[0] != '/') {
    std::fputs("sweeper_bench: no home folder is known for this user\n", stderr);
    return 1;
  }
  std::string dir = std::string(me->pw_dir) + "/tavo-sweeper-bench-XXXXXX";
  if (!::mkdtemp(dir.data())) return 1;
  const std::string second = dir + "/second";
  ::mkdir((dir + "/home").c_str(), 0700);
  ::mkdir(second.c_str(), 0755);
  std::printf("library: %ld files in %ld folders\n", shape.folders * shape.filesPerFolder, shape.folders);

  const double same = bestOf(3, dir, dir + "/home/Library", shape, "");
  std::printf("same filesystem, home Trash (rename):        %.4f s\n", same);
  bool ok = same >= 0;
  if (!root || ::mount("tmpfs", second.c_str(), "tmpfs", 0, "mode=0755") != 0) {
    std::printf("second filesystem: skipped, %s\n",
                root ? "a tmpfs cannot be mounted here" : "not root: nothing can be mounted");
  } else {
    const std::string trash = second + "/.Trash-0";
    const double other = bestOf(3, dir, second + "/Library", shape, trash + "/files");
    std::printf("second filesystem, its own trash (rename):   %.4f s\n", other);
    removeAll(trash);
    ok = ok && ::symlink("/", trash.c_str()) == 0;  // no trash there: the copy
    const double copied = bestOf(1, dir, second + "/Library", shape, "");
    std::printf("second filesystem, trash unusable (copy):    %.4f s\n", copied);
    std::printf("ratio second/same: %.2f (target: at most 2)\n", other / same);
    ::umount2(second.c_str(), MNT_DETACH);
    ok = ok && other >= 0 && copied >= 0;
  }
  removeAll(dir);
  if (!ok) std::puts("a run did not move the library");
  return ok ? 0 : 1;
}
