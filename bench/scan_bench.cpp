// The scan against the directory walk it cannot do without.
//
//   cmake --build build --target tavo_scan_bench && build/bench/tavo_scan_bench [--cold]
//
// Lays out a demo home (scripts/demo-home) whose Glass Harp library holds
// 100,000 files in 1,000 folders, and prints, measured in the same run:
// - the whole `tavo-scan --json` process over that home against
//   `find HOME -type f`, warm cache, the medians of several pairs and the
//   median of their ratios (target: at most 1.5);
// - the same with a cold cache: with --cold, and only as root, the page cache
//   is dropped before every run (target: at most 1.3);
// - tavo-scan's peak memory (wait4) against the bytes of the paths the scan
//   records, whole and over its baseline, a scan of an empty home;
// - the same two after the library has grown to 1,000,000 files in 10,000
//   folders: peak memory at most twice the paths' bytes, and the ratio to
//   find no worse than at 100,000;
// - the controller's parse in this process against a walk that stats every
//   file, over 100,000 files in 5,000 folders, best of three each.
// The trees go under $TMPDIR (else /tmp): a cold run means something only
// when that is a disk. Smaller trees for a smoke run:
//   --library-folders N --library-files M --large-folders L --folders N
//   --files-per-folder M --pairs K

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "base/child.h"
#include "base/io.h"
#include "base/unique_fd.h"
#include "bench/process_pairs.h"
#include "cli/scan_report.h"
#include "core/removal_session.h"
#include "prefs/file_prefs_store.h"

namespace {

using Clock = std::chrono::steady_clock;
using tavo::bench::measurePairs;
using tavo::bench::Pairs;
using tavo::bench::Run;
using tavo::bench::timed;

struct Options {
  long libraryFolders = 1000;
  long libraryFiles = 100;  // in each folder
  long largeFolders = 10000;  // of the library grown for the second home
  long folders = 5000;      // of the tree for the parse against the stat walk
  long filesPerFolder = 20;
  long pairs = 9;
  bool cold = false;
};

bool parseOptions(int argc, char** argv, Options& o) {
  return tavo::bench::parseOptions(argc, argv,
                                   {{"--library-folders", &o.libraryFolders},
                                    {"--library-files", &o.libraryFiles},
                                    {"--large-folders", &o.largeFolders},
                                    {"--folders", &o.folders},
                                    {"--files-per-folder", &o.filesPerFolder},
                                    {"--pairs", &o.pairs}},
                                   {{"--cold", &o.cold}}) &&
         o.largeFolders >= o.libraryFolders;
}

void makeEmptyFile(const std::string& path) {
  tavo::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
}

// Groups of 100 folders, so that no folder holds thousands of entries.
void makeTree(const std::string& tree, long folders, long filesPerFolder) {
  ::mkdir(tree.c_str(), 0755);
  char name[64];
  for (long f = 0; f < folders; ++f) {
    std::snprintf(name, sizeof name, "/g%03ld", f / 100);
    std::string group = tree + name;
    if (f % 100 == 0) ::mkdir(group.c_str(), 0755);
    std::snprintf(name, sizeof name, "/folder%03ld", f % 100);
    std::string folder = group + name;
    ::mkdir(folder.c_str(), 0755);
    for (long i = 0; i < filesPerFolder; ++i) {
      std::snprintf(name, sizeof name, "/file%04ld.dat", i);
      makeEmptyFile(folder + name);
    }
  }
}

// The Glass Harp library of the demo's home grown to `folders` folders.
bool growLibrary(const std::string& home, long fromFolder, long folders, long files) {
  std::string samples = home + "/Documents/Korvelin/Glass Harp/Samples";
  char name[64];
  for (long f = fromFolder; f < folders; ++f) {
    std::snprintf(name, sizeof name, "/Bank %04ld", f);
    std::string folder = samples + name;
    if (::mkdir(folder.c_str(), 0755) != 0) return false;
    for (long i = 0; i < files; ++i) {
      std::snprintf(name, sizeof name, "/Glass Harp %04ld-%03ld.ncw", f, i);
      makeEmptyFile(folder + name);
    }
  }
  return true;
}

bool dropPageCache() {
  ::sync();
  tavo::UniqueFd fd(::open("/proc/sys/vm/drop_caches", O_WRONLY | O_CLOEXEC));
  return fd.valid() && tavo::writeAll(fd.get(), "3");
}

void printPairs(const char* title, const Pairs& p, long pairs, double target) {
  std::printf("%s, median of %ld pairs: tavo-scan --json %.1f ms, find -type f %.1f ms, "
              "ratio %.2f (target <= %.1f)%s\n",
              title, pairs, p.aMs, p.bMs, p.ratio, target, p.ok ? "" : " [a run failed]");
}

// Lists every entry and stats every file, as a walk that needs each file's
// inode would.
long statWalk(int parent, const char* name) {
  int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return 0;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::fdopendir(fd), ::closedir);
  if (!dir) return 0;
  long files = 0;
  while (const dirent* entry = ::readdir(dir.get())) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    if (entry->d_type == DT_DIR) {
      files += statWalk(fd, entry->d_name);
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

std::size_t textBytes(const tavo::Product::List& list) {
  std::size_t bytes = 0;
  for (const std::string& s : list) bytes += s.size();
  return bytes;
}

// The session tavo-scan opens, in this process.
struct Scanner {
  Scanner(const std::string& bundlePath, const std::string& home, tavo::PrefsRoots roots)
      : store(std::move(roots), log),
        bundle(bundlePath),
        session(tavo::openRemovalSession({.store = store, .authorization = noAuthorization,
                                          .tools = tavo::bundleTools(bundle), .log = log,
                                          .bundle = bundle, .home = home})) {}
  tavo::NullLog log;
  tavo::FilePrefsStore store;
  tavo::Bundle bundle;
  tavo::NoAuthorization noAuthorization;  // the scan runs nothing privileged
  std::unique_ptr<tavo::RemovalSession> session;
};

int removeOne(const char* p, const struct stat*, int, FTW*) {
  ::remove(p);
  return 0;
}

struct ProcessFigures {
  Run first;
  Pairs warm, cold;
  bool coldRun = false;
};

// The processes come first: a child's peak memory counts the pages of the
// process it was started from, so this one must stay small. Its own scans
// run in a child of their own.
ProcessFigures measureProcesses(const std::string& root, const std::string& report,
                                const Options& o, long pairs, bool cold) {
  std::string home = root + "/home";
  std::vector<std::string> env{"HOME=" + home, "PATH=/usr/bin:/bin"};
  tavo::ChildSpec scan{.argv = {TAVO_SCAN_EXE, "--json"}, .environment = env};
  tavo::ChildSpec find{.argv = {"/usr/bin/find", home, "-type", "f"}, .environment = env};
  ProcessFigures f;
  tavo::UniqueFd out(::open(report.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  tavo::ChildSpec firstScan = scan;
  firstScan.out = out.get();
  f.first = timed(firstScan);  // also warms the cache
  timed(find);
  f.warm = measurePairs(scan, find, pairs);
  f.coldRun = cold && o.cold && ::geteuid() == 0;
  if (f.coldRun) f.cold = measurePairs(scan, find, std::max(pairs / 2, 1L), dropPageCache);
  return f;
}

struct Recorded {
  std::size_t bytes = 0, entries = 0;
  bool sameReport = false;  // tavo-scan printed what a scan in-process finds
};

// Scans in a child of this process, so that this one stays small for the
// processes measured after it.
Recorded recordedByScan(const std::string& root, const std::string& reportPath) {
  int pipeFds[2];
  Recorded r;
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return r;
  pid_t pid = ::fork();
  if (pid == 0) {
    std::string home = root + "/home";
    ::setenv("HOME", home.c_str(), 1);  // the description files' "~"
    Scanner scanner(TAVO_BUNDLE, home, tavo::PrefsRoots::forUser(home));
    scanner.session->scan();
    for (const auto& product : *scanner.session->products()) {
      for (const auto* list : {&product->paths(), &product->dirs(), &product->prefFiles()}) {
        r.bytes += textBytes(*list);
        r.entries += list->size();
      }
    }
    std::string printed;
    tavo::UniqueFd report(::open(reportPath.c_str(), O_RDONLY | O_CLOEXEC));
    r.sameReport = report.valid() && tavo::readAll(report.get(), printed) &&
                   printed == tavo::productsJson(*scanner.session->products());
    bool sent = ::write(pipeFds[1], &r, sizeof r) == static_cast<ssize_t>(sizeof r);
    ::_exit(sent ? 0 : 1);
  }
  ::close(pipeFds[1]);
  if (pid < 0 || ::read(pipeFds[0], &r, sizeof r) != static_cast<ssize_t>(sizeof r)) r = Recorded{};
  ::close(pipeFds[0]);
  if (pid > 0) ::waitpid(pid, nullptr, 0);
  return r;
}

// Today's figure: the parse in this process against a walk that stats every
// file, over a tree of its own.
void printParseAgainstStatWalk(const std::string& root, const Options& o) {
  std::string tree = root + "/tree", products = root + "/Tree.app/Contents/Resources/Products";
  makeTree(tree, o.folders, o.filesPerFolder);
  std::filesystem::create_directories(products);
  std::ofstream(products + "/bench.txt") << "Bench\nBench\n-\n" << tree << "\n-\n";
  Scanner scanner(root + "/Tree.app", root, {root + "/prefs", root + "/anyprefs", "bench"});
  long walked = statWalk(AT_FDCWD, tree.c_str());  // warms the cache
  std::size_t found = 0;
  double parseMs = bestMs(3, [&] {
    const tavo::ProductList& products = scanner.session->scan();
    found = products.empty() ? 0 : products.front()->paths().size();
  });
  double walkMs = bestMs(3, [&] { walked = statWalk(AT_FDCWD, tree.c_str()); });
  std::printf("parse vs stat walk, %ld files in %ld folders: parse %.1f ms (%zu paths), "
              "walk %.1f ms, ratio %.2f\n",
              walked, o.folders, parseMs, found, walkMs, parseMs / walkMs);
}

void printMemory(const char* title, const ProcessFigures& f, const Run& baseline,
                 const Recorded& r, double target) {
  long peakKb = std::max(f.first.maxRssKb, f.warm.aMaxRssKb);
  double paths = static_cast<double>(std::max<std::size_t>(r.bytes, 1));
  char goal[32] = "";
  if (target > 0) std::snprintf(goal, sizeof goal, " (target <= %.1f)", target);
  std::printf("%s memory: peak %.1f MB, baseline %.1f MB (an empty home), recorded paths %.1f MB "
              "in %zu entries: peak / paths = %.2f%s, (peak - baseline) / paths = %.2f\n",
              title, peakKb / 1024.0, baseline.maxRssKb / 1024.0, r.bytes / 1048576.0, r.entries,
              peakKb * 1024.0 / paths, goal, (peakKb - baseline.maxRssKb) * 1024.0 / paths);
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!parseOptions(argc, argv, o)) {
    std::fputs("usage: tavo_scan_bench [--cold] [--pairs K] [--library-folders N] "
               "[--library-files M] [--large-folders L >= N] [--folders N] "
               "[--files-per-folder M]\n",
               stderr);
    return 2;
  }
  std::string root = tavo::bench::makeBenchRoot();
  std::string home = root + "/home", emptyHome = root + "/empty";
  if (root.empty() || !tavo::bench::layOutDemoHome(home) ||
      !growLibrary(home, 0, o.libraryFolders, o.libraryFiles) || ::mkdir(emptyHome.c_str(), 0755) != 0) {
    std::fputs("cannot lay out the demo home\n", stderr);
    return 1;
  }
  tavo::bench::printLoad();
  Run baseline = timed({.argv = {TAVO_SCAN_EXE, "--json"},
                        .environment = std::vector<std::string>{"HOME=" + emptyHome, "PATH=/usr/bin:/bin"}});
  std::string report = root + "/report.json";
  ProcessFigures small = measureProcesses(root, report, o, o.pairs, true);
  Recorded smallPaths = recordedByScan(root, report);
  std::printf("demo home: Glass Harp with %ld files in %ld folders; tavo-scan's report %s\n",
              o.libraryFolders * o.libraryFiles, o.libraryFolders,
              smallPaths.sameReport ? "matches a scan in this process" : "DIFFERS from one in this process");
  printPairs("warm", small.warm, o.pairs, 1.5);
  if (small.coldRun)
    printPairs("cold", small.cold, std::max(o.pairs / 2, 1L), 1.3);
  else
    std::printf("cold: not measured (%s)\n",
                o.cold ? "dropping the page cache needs root" : "ask with --cold");
  printMemory("demo home", small, baseline, smallPaths, 0);

  bool grown = growLibrary(home, o.libraryFolders, o.largeFolders, o.libraryFiles);
  long largePairs = std::max(o.pairs / 2, 1L);
  ProcessFigures large = measureProcesses(root, report, o, largePairs, false);
  Recorded largePaths = recordedByScan(root, report);
  std::printf("grown home: Glass Harp with %ld files in %ld folders; tavo-scan's report %s\n",
              o.largeFolders * o.libraryFiles, o.largeFolders,
              largePaths.sameReport ? "matches a scan in this process" : "DIFFERS from one in this process");
  printPairs("warm", large.warm, largePairs, small.warm.ratio);
  printMemory("grown home", large, baseline, largePaths, 2);
  tavo::bench::printLoad();

  printParseAgainstStatWalk(root, o);
  ::nftw(root.c_str(), removeOne, 16, FTW_DEPTH | FTW_PHYS);
  return grown && smallPaths.sameReport && largePaths.sameReport && small.warm.ok &&
                 large.warm.ok && baseline.status == 0
             ? 0
             : 1;
}
