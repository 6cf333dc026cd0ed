#pragma once
// What the sweeper tests share: the real sweeper, run as root in the throwaway root.

#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "tests/support/test_machine.h"
#include "tests/support/throwaway_root.h"

namespace tavo::testing {

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

/// A sweeper run started beside the test, its output in a memory file.
struct Started {
  UniqueFd out;
  Child child;
  std::string output() const { return readFile("/proc/self/fd/" + std::to_string(out.get())); }
};

/// The output without its "copying:" lines: what became of each path.
inline std::string outcomes(const std::string& out) {
  std::string kept;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("copying: ", 0) != 0) kept += line + "\n";
  }
  return kept;
}

// Root-level: the real sweeper, run as root.
class SweeperTest : public ::testing::Test {
 protected:
  explicit SweeperTest(const std::string& base = rootsHome()) : dir_(base) {}
  void SetUp() override { TAVO_REQUIRE_THROWAWAY_ROOT(); }
  std::string trash() const { return dir_ / "Trash"; }
  /// The test's list file in `folder`, holding `paths`, each ended by a line feed.
  std::string list(const Strings& paths, const std::string& folder = "") const {
    std::string text;
    for (const std::string& path : paths) text += path + "\n";
    const std::string file = (folder.empty() ? dir_.path() : folder) + "/list.txt";
    writeFile(file, text, 0600);
    return file;
  }
  /// From now on the runs use a copy of sweeper in a bundle whose description names `paths`.
  void claim(const Strings& paths) {
    std::string text = "Product\nVendor\n-\n";
    for (const std::string& path : paths) text += path + "\n";
    sweeper_ = bundled(TAVO_SWEEPER, dir_ / "B.app", "Resources", text + "-\n");
  }
  /// One run over a list of `paths`, written by the user `owner` in their home when given.
  ToolRun sweep(const Strings& paths, const std::string& trashDir = "", const Strings& env = {},
                const TestUser* owner = nullptr) {
    const std::string listFile = list(paths, owner ? owner->home : "");
    EXPECT_TRUE(!owner || ::chown(listFile.c_str(), owner->uid, owner->gid) == 0);
    return runTool(sweeper_, {trashDir.empty() ? trash() : trashDir, listFile}, env);
  }
  /// A run over the list file `listFile`, started and left running.
  Started start(const std::string& trash, const std::string& listFile, const Strings& env = {}) const {
    UniqueFd out(::memfd_create("out", MFD_CLOEXEC));
    Child child = Child::start({.argv = {sweeper_, trash, listFile}, .environment = env, .out = out.get()});
    return Started{std::move(out), std::move(child)};
  }
  TempDir dir_;
  std::string sweeper_ = TAVO_SWEEPER;
};

}  // namespace tavo::testing
