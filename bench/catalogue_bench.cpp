// A catalogue of hundreds of libraries against the shipped one.
//
//   cmake --build build --target tavo_catalogue_bench && build/bench/tavo_catalogue_bench
//
// Lays out the demo home (scripts/demo-home), a receipt database of its own
// and two bundles that differ only in their library descriptions: the
// shipped Products/*.txt, and the same with N more libraries (default 500)
// written like the shipped ones, none of them installed, every second one
// with its receipt in the database. Both carry the test build of the package
// tool, which reads that database. Prints, measured in the same run:
// - the whole `tavo-scan --json BUNDLE` process over each, the medians of
//   several pairs and the median of their ratios (target: at most 3);
// - the processes one scan of each starts, itself included, counted by a
//   wrapper around the package tool (target: at most 3);
// - whether the larger scan found exactly the libraries with a receipt.
// Smaller runs for a smoke test: --libraries N --pairs K

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/io.h"
#include "base/unique_fd.h"
#include "bench/process_pairs.h"

namespace {

namespace fs = std::filesystem;
using tavo::bench::Pairs;

struct Options {
  long libraries = 500;
  long pairs = 9;
};

bool parseOptions(int argc, char** argv, Options& o) {
  return tavo::bench::parseOptions(argc, argv, {{"--libraries", &o.libraries}, {"--pairs", &o.pairs}});
}

std::string libraryName(long i) {
  char name[32];
  std::snprintf(name, sizeof name, "Library %03ld", i);
  return name;
}

// Written as the shipped libraries are: folders, a read-me, a bank of the
// player's, a preset folder, a receipt and a preference file.
std::string libraryEntry(long i) {
  std::string name = libraryName(i), id = name;
  id.erase(id.find(' '), 1);
  return name + "\nKorvelin\n-\n# Samples, documents and presets of the library\n"
                "/Library/Application Support/Korvelin/TAVO Player/Libraries/" + name +
         "\n~/Documents/Korvelin/" + name + "\n~/Documents/Korvelin/" + name + " Read Me.rtf\n"
         "~/Library/Preferences/com.Korvelin.TAVO Player.plist$_var(Banks/" + name + ")$\n"
         "$_ens(" + name + ")$\n$_pkg(com.Korvelin.pkg." + id + ")$\n"
         "$_plist(~/Library/Preferences/com.Korvelin." + id + ".plist)$\n-\n";
}

// A bundle with the shipped descriptions, `extra` appended to the library
// catalogue, and the package tool at Contents/MacOS/pkgutil.
bool makeBundle(const std::string& app, const std::string& extra) {
  std::error_code error;
  fs::create_directories(app + "/Contents/MacOS", error);
  fs::create_directories(app + "/Contents/Resources/Products", error);
  for (const auto& entry : fs::directory_iterator(TAVO_BUNDLE "/Contents/Resources/Products", error)) {
    std::string to = app + "/Contents/Resources/Products/" + entry.path().filename().string();
    fs::copy_file(entry.path(), to, error);
    if (!extra.empty() && entry.path().filename() == "TAVO_Sample_Libraries.txt")
      std::ofstream(to, std::ios::app) << extra;
  }
  fs::copy_file(TAVO_BUNDLE "/Contents/Resources/unins.txt", app + "/Contents/Resources/unins.txt", error);
  fs::create_symlink(TAVO_PKGUTIL_TESTROOT, app + "/Contents/MacOS/pkgutil", error);
  return !error;
}

// The processes one scan starts: itself, and each package tool run, which a
// wrapper in place of the tool counts.
long processesOfOneScan(const std::string& app, const tavo::ChildSpec& scan) {
  std::string tool = app + "/Contents/MacOS/pkgutil", counter = app + ".runs";
  fs::remove(tool);
  std::ofstream(tool) << "#!/bin/sh\necho run >>'" << counter << "'\nexec '" TAVO_PKGUTIL_TESTROOT
                      << "' \"$@\"\n";
  ::chmod(tool.c_str(), 0755);
  int status = tavo::bench::timed(scan).status;
  fs::remove(tool);
  fs::create_symlink(TAVO_PKGUTIL_TESTROOT, tool);
  std::string runs;
  tavo::UniqueFd fd(::open(counter.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.valid()) tavo::readAll(fd.get(), runs);
  fs::remove(counter);
  return status == 0 ? 1 + static_cast<long>(runs.size() / 4) : -1;
}

// What the scan printed names exactly the libraries with a receipt, each once.
bool foundTheReceipts(const std::string& app, tavo::ChildSpec scan, const Options& o) {
  std::string file = app + ".json";
  tavo::UniqueFd out(::open(file.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  scan.out = out.get();
  if (tavo::bench::timed(scan).status != 0) return false;
  std::string report;
  if (::lseek(out.get(), 0, SEEK_SET) != 0 || !tavo::readAll(out.get(), report)) return false;
  for (long i = 0; i < o.libraries; ++i) {
    std::string needle = "\"name\": \"" + libraryName(i) + "\"";
    bool listed = report.find(needle) != std::string::npos;
    if (listed != (i % 2 == 0)) return false;
  }
  return true;
}

int removeOne(const char* p, const struct stat*, int, FTW*) {
  ::remove(p);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!parseOptions(argc, argv, o)) {
    std::fputs("usage: tavo_catalogue_bench [--libraries N] [--pairs K]\n", stderr);
    return 2;
  }
  std::string root = tavo::bench::makeBenchRoot();
  if (root.empty() || !tavo::bench::layOutDemoHome(root + "/home")) {
    std::fputs("cannot lay out the demo home\n", stderr);
    return 1;
  }
  std::string receipts = root + "/receipts", extra;
  fs::create_directories(receipts);
  for (long i = 0; i < o.libraries; ++i) {
    extra += libraryEntry(i);
    std::string id = libraryName(i);
    id.erase(id.find(' '), 1);
    if (i % 2 == 0) std::ofstream(receipts + "/com.Korvelin.pkg." + id + ".plist") << "<plist/>\n";
  }
  std::string shipped = root + "/Shipped.app", large = root + "/Catalogue.app";
  if (!makeBundle(shipped, "") || !makeBundle(large, extra)) {
    std::fputs("cannot lay out the bundles\n", stderr);
    return 1;
  }
  auto scanOf = [&](const std::string& app) {
    return tavo::ChildSpec{.argv = {TAVO_SCAN_EXE, "--json", app},
                           .environment = std::vector<std::string>{
                               "HOME=" + root + "/home", "PATH=/usr/bin:/bin",
                               "TAVO_TEST_RECEIPTS_DIR=" + receipts}};
  };
  tavo::bench::printLoad();
  bool found = foundTheReceipts(large, scanOf(large), o);  // also warms the cache
  tavo::bench::timed(scanOf(shipped));
  Pairs p = tavo::bench::measurePairs(scanOf(large), scanOf(shipped), o.pairs);
  long largeRuns = processesOfOneScan(large, scanOf(large));
  long shippedRuns = processesOfOneScan(shipped, scanOf(shipped));
  std::printf("catalogue of %ld more libraries (none installed, %ld with a receipt) against the "
              "shipped one, over the demo home; the larger scan %s\n",
              o.libraries, (o.libraries + 1) / 2,
              found ? "found exactly the libraries with a receipt" : "DID NOT find what it should");
  std::printf("median of %ld pairs: larger %.1f ms, shipped %.1f ms, ratio %.2f (target <= 3)%s\n",
              o.pairs, p.aMs, p.bMs, p.ratio, p.ok ? "" : " [a run failed]");
  std::printf("processes per scan, itself included: larger %ld, shipped %ld (target <= 3)\n",
              largeRuns, shippedRuns);
  tavo::bench::printLoad();
  ::nftw(root.c_str(), removeOne, 16, FTW_DEPTH | FTW_PHYS);
  return found && p.ok && largeRuns > 0 && shippedRuns > 0 ? 0 : 1;
}
