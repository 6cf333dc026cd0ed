// The scan against the directory walk it cannot do without.
//
//   cmake --build build --target tavo_scan_bench && build/bench/tavo_scan_bench [--cold]
//
// Lays out a demo home (scripts/demo-home) whose Glass Harp library holds
// 100,000 files in 1,000 folders, and prints, measured in the same run:
// - the whole `tavo-scan --json` process over that home against
//   `find HOME -type f`, warm cache, the medians of several pairs and their
//   ratio (target: at most 1.5);
// - the same with a cold cache: with --cold, and only as root, the page cache
//   is dropped before every run (target: at most 1.3);
// - tavo-scan's peak memory (wait4) over its baseline, a scan of an empty
//   home, against the bytes of the paths the scan records (target: about 2);
// - the controller's parse in this process against a walk that stats every
//   file, over 100,000 files in 5,000 folders, best of three each.
// The trees go under $TMPDIR (else /tmp): a cold run means something only
// when that is a disk. Smaller trees for a smoke run:
//   --library-folders N --library-files M --folders N --files-per-folder M --pairs K

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/resource.h>
#include <sys/stat.h>
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
#include "cli/scan_report.h"
#include "core/removal_session.h"
#include "prefs/file_prefs_store.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  long libraryFolders = 1000;
  long libraryFiles = 100;  // in each folder
  long folders = 5000;      // of the tree for the parse against the stat walk
  long filesPerFolder = 20;
  long pairs = 7;
  bool cold = false;
};

bool parseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--cold") {
      o.cold = true;
      continue;
    }
    long* target = arg == "--library-folders"    ? &o.libraryFolders
                   : arg == "--library-files"    ? &o.libraryFiles
                   : arg == "--folders"          ? &o.folders
                   : arg == "--files-per-folder" ? &o.filesPerFolder
                   : arg == "--pairs"            ? &o.pairs
                                                 : nullptr;
    if (!target || i + 1 == argc) return false;
    *target = std::strtol(argv[++i], nullptr, 10);
    if (*target <= 0) return false;
  }
  return true;
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

// The demo's home, with the Glass Harp library grown to the asked size.
bool makeDemoHome(const std::string& home, const Options& o) {
  tavo::Child layout = tavo::Child::start({.argv = {TAVO_SOURCE_DIR "/scripts/demo-home", home},
                                           .err = tavo::kInheritStream});
  if (layout.wait() != 0) return false;
  std::string samples = home + "/Documents/Korvelin/Glass Harp/Samples";
  char name[64];
  for (long f = 0; f < o.libraryFolders; ++f) {
    std::snprintf(name, sizeof name, "/Bank %03ld", f);
    std::string folder = samples + name;
    if (::mkdir(folder.c_str(), 0755) != 0) return false;
    for (long i = 0; i < o.libraryFiles; ++i) {
      std::snprintf(name, sizeof name, "/Glass Harp %03ld-%03ld.ncw", f, i);
      makeEmptyFile(folder + name);
    }
  }
  return true;
}

struct Run {
  double ms = 0;
  long maxRssKb = 0;
  int status = -1;
};

Run timed(const tavo::ChildSpec& request) {
  Run run;
  rusage usage{};
  auto start = Clock::now();
  tavo::Child child = tavo::Child::start(request);
  run.status = child.wait(&usage);
  run.ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  run.maxRssKb = usage.ru_maxrss;
  return run;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

bool dropPageCache() {
  ::sync();
  tavo::UniqueFd fd(::open("/proc/sys/vm/drop_caches", O_WRONLY | O_CLOEXEC));
  return fd.valid() && tavo::writeAll(fd.get(), "3");
}

struct Pairs {
  double scanMs = 0, findMs = 0;
  long maxRssKb = 0;
  bool ok = true;
};

// Alternates the two processes so that both see the same machine.
Pairs measurePairs(const tavo::ChildSpec& scan, const tavo::ChildSpec& find, long pairs,
                   bool cold) {
  Pairs result;
  std::vector<double> scanMs, findMs;
  for (long i = 0; i < pairs; ++i) {
    if (cold && !dropPageCache()) result.ok = false;
    Run s = timed(scan);
    if (cold && !dropPageCache()) result.ok = false;
    Run f = timed(find);
    result.ok = result.ok && s.status == 0 && f.status == 0;
    scanMs.push_back(s.ms);
    findMs.push_back(f.ms);
    result.maxRssKb = std::max(result.maxRssKb, s.maxRssKb);
  }
  result.scanMs = median(scanMs);
  result.findMs = median(findMs);
  return result;
}

void printPairs(const char* title, const Pairs& p, long pairs, double target) {
  std::printf("%s, median of %ld pairs: tavo-scan --json %.1f ms, find -type f %.1f ms, "
              "ratio %.2f (target <= %.1f)%s\n",
              title, pairs, p.scanMs, p.findMs, p.scanMs / p.findMs, target,
              p.ok ? "" : " [a run failed]");
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
  Run baseline, first;
  Pairs warm, cold;
  bool coldRun = false;
  long benchRssKb = 0;
};

// The processes come first: a child's peak memory counts the pages of the
// process it was started from, so this one must still be small.
ProcessFigures measureProcesses(const std::string& root, const Options& o) {
  std::string home = root + "/home", emptyHome = root + "/empty";
  ::mkdir(emptyHome.c_str(), 0755);
  auto envFor = [](const std::string& h) {
    return std::vector<std::string>{"HOME=" + h, "PATH=/usr/bin:/bin"};
  };
  tavo::ChildSpec scan{.argv = {TAVO_SCAN_EXE, "--json"}, .environment = envFor(home)};
  tavo::ChildSpec find{.argv = {"/usr/bin/find", home, "-type", "f"}, .environment = envFor(home)};
  ProcessFigures f;
  tavo::ChildSpec emptyScan = scan;
  emptyScan.environment = envFor(emptyHome);
  f.baseline = timed(emptyScan);
  tavo::UniqueFd report(
      ::open((root + "/report.json").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  tavo::ChildSpec firstScan = scan;
  firstScan.out = report.get();
  f.first = timed(firstScan);  // also warms the cache
  timed(find);
  f.warm = measurePairs(scan, find, o.pairs, false);
  f.coldRun = o.cold && ::geteuid() == 0;
  if (f.coldRun) f.cold = measurePairs(scan, find, std::max(o.pairs / 2, 1L), true);
  rusage self{};
  ::getrusage(RUSAGE_SELF, &self);
  f.benchRssKb = self.ru_maxrss;
  return f;
}

struct Recorded {
  std::size_t bytes = 0, entries = 0;
  bool sameReport = false;  // tavo-scan printed what this process finds
};

Recorded recordedByScan(const std::string& root) {
  std::string home = root + "/home";
  ::setenv("HOME", home.c_str(), 1);  // the description files' "~"
  Scanner scanner(TAVO_BUNDLE, home, tavo::PrefsRoots::forUser(home));
  scanner.session->scan();
  Recorded r;
  for (const auto& product : *scanner.session->products()) {
    for (const auto* list : {&product->paths(), &product->dirs(), &product->prefFiles()}) {
      r.bytes += textBytes(*list);
      r.entries += list->size();
    }
  }
  std::string printed;
  tavo::UniqueFd report(::open((root + "/report.json").c_str(), O_RDONLY | O_CLOEXEC));
  r.sameReport = report.valid() && tavo::readAll(report.get(), printed) &&
                 printed == tavo::productsJson(*scanner.session->products());
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

void printMemory(const ProcessFigures& f, const Recorded& r) {
  long peakKb = std::max(f.first.maxRssKb, f.warm.maxRssKb);
  double over = static_cast<double>(peakKb - f.baseline.maxRssKb) * 1024;
  std::printf("memory: peak %.1f MB, baseline %.1f MB (an empty home), recorded paths %.1f MB "
              "in %zu entries: (peak - baseline) / paths = %.2f (target about 2)%s\n",
              peakKb / 1024.0, f.baseline.maxRssKb / 1024.0, r.bytes / 1048576.0, r.entries,
              over / static_cast<double>(std::max<std::size_t>(r.bytes, 1)),
              f.benchRssKb >= f.baseline.maxRssKb ? " [the bench outgrew the baseline]" : "");
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!parseOptions(argc, argv, o)) {
    std::fputs("usage: tavo_scan_bench [--cold] [--pairs K] [--library-folders N] "
               "[--library-files M] [--folders N] [--files-per-folder M]\n",
               stderr);
    return 2;
  }
  const char* tmp = std::getenv("TMPDIR");
  std::string root = std::string(tmp && *tmp ? tmp : "/tmp") + "/tavo-bench-XXXXXX";
  if (!::mkdtemp(root.data())) return 1;
  if (!makeDemoHome(root + "/home", o)) {
    std::fputs("cannot lay out the demo home\n", stderr);
    return 1;
  }
  ProcessFigures f = measureProcesses(root, o);
  Recorded r = recordedByScan(root);
  std::printf("demo home: Glass Harp with %ld files in %ld folders; tavo-scan's report %s\n",
              o.libraryFolders * o.libraryFiles, o.libraryFolders,
              r.sameReport ? "matches a scan in this process" : "DIFFERS from one in this process");
  printPairs("warm", f.warm, o.pairs, 1.5);
  if (f.coldRun)
    printPairs("cold", f.cold, std::max(o.pairs / 2, 1L), 1.3);
  else
    std::printf("cold: not measured (%s)\n",
                o.cold ? "dropping the page cache needs root" : "ask with --cold");
  printMemory(f, r);
  printParseAgainstStatWalk(root, o);
  ::nftw(root.c_str(), removeOne, 16, FTW_DEPTH | FTW_PHYS);
  return r.sameReport && f.warm.ok && f.baseline.status == 0 ? 0 : 1;
}
