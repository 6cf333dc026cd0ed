// Sweeper runs as root here: every path a test hands it lies in the test's own
// folder or is missing there, so that a refusal that fails cannot touch the system.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/mount.h>

#include <regex>
#include <tuple>

#include "tests/support/throwaway_root.h"
#include "tests/support/tool_run.h"

namespace tavo::testing {
namespace {

using Strings = std::vector<std::string>;
namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;

struct stat statOf(const std::string& path) {  // all zero when there is nothing
  struct stat st {};
  lstat(path.c_str(), &st);
  return st;
}

std::string replaceAll(std::string text, const std::string& key, const std::string& value) {
  for (std::size_t at = 0; (at = text.find(key, at)) != std::string::npos; at += value.size()) {
    text.replace(at, key.size(), value);
  }
  return text;
}

// Root-level: the real sweeper, run as root.
class Sweeper : public ::testing::Test {
 protected:
  void SetUp() override { TAVO_REQUIRE_THROWAWAY_ROOT(); }
  std::string trash() const { return dir_ / "Trash"; }
  // One run over a list of `paths`, each ended by a line feed.
  ToolRun sweep(const Strings& paths, std::string trashDir = "", const Strings& env = {}) {
    std::string text;
    for (const std::string& path : paths) text += path + "\n";
    writeFile(dir_ / "list.txt", text, 0600);
    return runTool(TAVO_SWEEPER, {trashDir.empty() ? trash() : trashDir, dir_ / "list.txt"}, env);
  }
  bool infoMatches(const std::string& name, const std::string& path) const {
    const std::regex info("\\[Trash Info\\]\nPath=" + dir_.path() + path +
                          "\nDeletionDate=\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\n");
    return std::regex_match(readFile(trash() + "/info/" + name + ".trashinfo"), info);
  }
  TempDir dir_;
};

TEST_F(Sweeper, MovesAFileAFolderAndALinkAsALinkWithTheirInfoFiles) {
  writeFile(dir_ / "src/my file%.txt", "data");
  writeFile(dir_ / "src/folder/sub/inner", "x");
  ASSERT_EQ(symlink("/", (dir_ / "src/link").c_str()), 0);

  EXPECT_EQ(sweep({dir_ / "src/my file%.txt", dir_ / "src/folder", dir_ / "src/link"}).status, 0);
  EXPECT_FALSE(exists(dir_ / "src/my file%.txt") || exists(dir_ / "src/folder") ||
               exists(dir_ / "src/link"));
  EXPECT_EQ(readFile(trash() + "/files/my file%.txt"), "data");
  EXPECT_EQ(readFile(trash() + "/files/folder/sub/inner"), "x");
  std::error_code ec;
  EXPECT_EQ(fs::read_symlink(trash() + "/files/link", ec), "/");
  EXPECT_TRUE(infoMatches("my file%.txt", "/src/my%20file%25.txt"));
  EXPECT_TRUE(infoMatches("folder", "/src/folder") && infoMatches("link", "/src/link"));
}

TEST_F(Sweeper, NeverOverwritesAndGivesEveryItemANameOfItsOwn) {
  writeFile(trash() + "/files/a", "old item without info");
  writeFile(trash() + "/info/a.2.trashinfo", "old info without item");
  writeFile(dir_ / "x/a", "from x");
  writeFile(dir_ / "y/a", "from y");
  std::string longName = "x";
  for (int i = 0; i < 125; ++i) longName += "\xC3\xA9";  // "x" and 125 times "é"
  writeFile(dir_ / longName, "long");

  EXPECT_EQ(sweep({dir_ / "x/a", dir_ / "y/a", dir_ / longName}).status, 0);
  EXPECT_EQ(readFile(trash() + "/files/a"), "old item without info");
  EXPECT_EQ(readFile(trash() + "/info/a.2.trashinfo"), "old info without item");
  EXPECT_EQ(readFile(trash() + "/files/a.3"), "from x");
  EXPECT_EQ(readFile(trash() + "/files/a.4"), "from y");
  // A name too long for its info file is shortened, on a character boundary.
  EXPECT_EQ(readFile(trash() + "/files/" + longName.substr(0, 239)), "long");
  EXPECT_TRUE(infoMatches("a.3", "/x/a") && infoMatches("a.4", "/y/a"));
  EXPECT_TRUE(exists(trash() + "/info/" + longName.substr(0, 239) + ".trashinfo"));
}

TEST_F(Sweeper, PassesOverMissingPathsAndCountsRefusedOnesAsNotMoved) {
  // The list file ("$D" is the case's own folder), the exit status, whether $D/f went to the
  // Trash and how the output begins.
  struct Case { std::string list; int status; bool fileMoved; std::string firstLine; };
  const Case cases[] = {
      {"$D/none\n", 0, false, "skipped: $D/none: does not exist"},
      // $D/tolink leads into the Trash, which is refused; $D/Trash/files/x is missing.
      {"$D/tolink/files/x\n$D/f\n", 1, true, "refused: $D/tolink/files/x: resolves to "},
      {"$D/f", 1, false, "refused: $D/f: the line is not ended by a line feed"},
      {"\n$D/f\n", 1, true, "refused: : is empty"},
      {"$D/bad\xFF\n", 1, false, "refused: $D/bad\xFF: is not valid UTF-8"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    writeFile(dir / "f", "f");
    writeFile(dir / "bad\xFF", "bad");
    ASSERT_EQ(symlink("Trash", (dir / "tolink").c_str()), 0);
    writeFile(dir / "list.txt", replaceAll(c.list, "$D", dir.path()), 0600);
    ToolRun run = runTool(TAVO_SWEEPER, {dir / "Trash", dir / "list.txt"});
    EXPECT_EQ(run.status, c.status) << c.list << "\n" << run.out;
    EXPECT_EQ(!exists(dir / "f"), c.fileMoved) << c.list;
    EXPECT_TRUE(exists(dir / "bad\xFF") && exists(dir / "tolink")) << c.list;
    EXPECT_EQ(run.out.rfind(replaceAll(c.firstLine, "$D", dir.path()), 0), 0u) << run.out;
  }
}

TEST_F(Sweeper, RefusesBadArgumentsWithOneLine) {
  writeFile(dir_ / "f", "f");
  for (auto [name, mode] : {std::pair{"list", 0600}, {"shared", 0620}, {"theirs", 0600}}) {
    writeFile(dir_ / name, dir_ / "f\n", mode);
  }
  ASSERT_EQ(mkfifo((dir_ / "fifo").c_str(), 0600), 0);
  const std::string list = dir_ / "list";
  std::vector<Strings> bad = {
      {}, {trash()}, {trash(), list, "x"}, {"relative/Trash", list}, {dir_ / "a/../Trash", list},
      {trash(), dir_ / "none.txt"}, {trash(), dir_.path()}, {trash(), dir_ / "shared"},
      {trash(), dir_ / "fifo"},  // must not wait for a writer
  };
  if (geteuid() == 0) {
    ASSERT_EQ(chown((dir_ / "theirs").c_str(), kNobody, kNobody), 0);
    bad.push_back({trash(), dir_ / "theirs"});
  }
  for (const Strings& args : bad) {
    ToolRun run = runTool(TAVO_SWEEPER, args);
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_TRUE(std::regex_match(run.out, std::regex("sweeper: [^\n]*\n"))) << run.out;
  }
  EXPECT_TRUE(exists(dir_ / "f"));
  EXPECT_FALSE(exists(trash()));
}

TEST_F(Sweeper, WhatItCreatesBelongsToTheUserWhoseTrashItIs) {
  if (geteuid() != 0 || !getpwuid(kNobody)) GTEST_SKIP() << "needs root and user " << kNobody;
  ASSERT_EQ(chmod(dir_.path().c_str(), 0755), 0);
  fs::create_directories(dir_ / "theirs");
  ASSERT_EQ(chown((dir_ / "theirs").c_str(), kNobody, kNobody), 0);
  // Told by pkexec, or else the owner of the nearest existing folder.
  for (auto [at, env] : {std::pair{dir_ / "home/.local/share/Trash", Strings{"PKEXEC_UID=65534"}},
                         {dir_ / "theirs/.local/share/Trash", {}}}) {
    writeFile(dir_ / "f", "f");
    ASSERT_EQ(sweep({dir_ / "f"}, at, env).status, 0);
    for (const char* made : {"", "/files", "/info", "/info/f.trashinfo", "/.."}) {
      EXPECT_EQ(statOf(at + made).st_uid, kNobody) << at << made;
    }
    EXPECT_TRUE(exists(at + "/files/f") && statOf(at + "/files/f").st_uid == 0);  // kept its owner
  }
}

TEST_F(Sweeper, MovesAcrossFilesystemsWithContentsModesOwnersAndTimes) {
  if (!fs::is_directory("/dev/shm")) GTEST_SKIP() << "no /dev/shm";
  TempDir shm("/dev/shm");
  if (statOf(shm.path()).st_dev == statOf(dir_.path()).st_dev) GTEST_SKIP() << "/dev/shm is /tmp's";
  writeFile(shm / "item/file", "contents", 0604);
  writeFile(shm / "item/sub/deep", "deep", 0600);
  ASSERT_EQ(symlink("../elsewhere", (shm / "item/link").c_str()), 0);
  ASSERT_EQ(mkfifo((shm / "item/fifo").c_str(), 0640), 0);
  writeFile(shm / "top.txt", "top", 0755);
  ASSERT_EQ(chmod((shm / "item").c_str(), 0751), 0);
  if (geteuid() == 0) {
    ASSERT_EQ(chown((shm / "item/file").c_str(), kNobody, kNobody), 0);
    ASSERT_EQ(lchown((shm / "item/link").c_str(), kNobody, kNobody), 0);
  }
  auto attributes = [](const std::string& path) {
    const struct stat st = statOf(path);
    std::error_code ec;  // and what it holds: a file's bytes or a link's target
    std::string held = S_ISREG(st.st_mode) ? readFile(path) : fs::read_symlink(path, ec).string();
    return std::tuple(st.st_mode, st.st_uid, st.st_gid, st.st_mtim.tv_sec, st.st_mtim.tv_nsec,
                      held);
  };
  // Children before their folders, so that setting a time changes no other.
  const char* names[] = {"item/file", "item/sub/deep", "item/link", "item/fifo", "item/sub",
                         "item", "top.txt"};
  const timespec old[2] = {{1000000000, 5}, {1000000000, 123456789}};
  std::vector<decltype(attributes(""))> before;
  for (const char* name : names) {
    ASSERT_EQ(utimensat(AT_FDCWD, (shm / name).c_str(), old, AT_SYMLINK_NOFOLLOW), 0);
    before.push_back(attributes(shm / name));
  }
  ASSERT_EQ(sweep({shm / "item", shm / "top.txt"}).status, 0);
  EXPECT_FALSE(exists(shm / "item") || exists(shm / "top.txt"));
  for (std::size_t i = 0; i < std::size(names); ++i) {
    EXPECT_EQ(attributes(trash() + "/files/" + names[i]), before[i]) << names[i];
  }
}

TEST_F(Sweeper, ACopyThatFailsHalfWayLeavesTheOriginalAndNoPartialCopy) {
  const std::string small = dir_ / "small", smallTrash = small + "/Trash";
  fs::create_directories(small);
  if (mount("tmpfs", small.c_str(), "tmpfs", 0, "size=256k") != 0) {
    GTEST_SKIP() << "cannot mount a small tmpfs here (needs root)";
  }
  // Unmounted at the end whatever happened.
  std::unique_ptr<const char, void (*)(const char*)> mounted(
      small.c_str(), [](const char* at) { umount2(at, MNT_DETACH); });
  const std::string big(1 << 20, 'b');
  writeFile(dir_ / "product/a.txt", "a");
  writeFile(dir_ / "product/big.bin", big);
  writeFile(dir_ / "product/z/c.txt", "c");

  ToolRun run = sweep({dir_ / "product"}, smallTrash);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out.rfind("not moved: " + dir_ / "product", 0), 0u) << run.out;
  EXPECT_EQ(readFile(dir_ / "product/a.txt"), "a");
  EXPECT_EQ(readFile(dir_ / "product/big.bin"), big);
  EXPECT_EQ(readFile(dir_ / "product/z/c.txt"), "c");
  EXPECT_TRUE(fs::is_empty(smallTrash + "/files"));
  EXPECT_TRUE(fs::is_empty(smallTrash + "/info"));
}

}  // namespace
}  // namespace tavo::testing
