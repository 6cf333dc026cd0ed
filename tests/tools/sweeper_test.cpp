#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>
#include <string>
#include <vector>

#include "tests/tools/tool_process.h"

namespace {

using tavo::test::exists;
using tavo::test::readFile;
using tavo::test::ToolRun;
using tavo::test::runTool;
using tavo::test::TempDir;
using tavo::test::writeFile;

constexpr uid_t kNobody = 65534;

std::string replaceAll(std::string text, const std::string& key, const std::string& value) {
  for (std::size_t at = 0; (at = text.find(key, at)) != std::string::npos; at += value.size()) {
    text.replace(at, key.size(), value);
  }
  return text;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    out.push_back(text.substr(start, end - start));
  }
  return out;
}

class Sweeper : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(dir_.path().empty()); }

  std::string trash() const { return dir_ / "Trash"; }

  // The list file's text as given ("$D" is the temporary folder), then one run.
  ToolRun sweepList(const std::string& text, const std::vector<std::string>& env = {}) {
    writeFile(dir_ / "list.txt", replaceAll(text, "$D", dir_.path()), 0600);
    return runTool(TAVO_SWEEPER, {trash(), dir_ / "list.txt"}, env);
  }
  ToolRun sweep(const std::vector<std::string>& paths, const std::vector<std::string>& env = {}) {
    std::string text;
    for (const std::string& path : paths) text += path + "\n";
    return sweepList(text, env);
  }

  TempDir dir_;
};

TEST_F(Sweeper, MovesAFileAFolderAndALinkAsALinkWithTheirInfoFiles) {
  writeFile(dir_ / "src/my file%.txt", "data", 0640);
  writeFile(dir_ / "src/folder/sub/inner", "x");
  ASSERT_EQ(symlink("/", (dir_ / "src/link").c_str()), 0);

  ToolRun run = sweep({dir_ / "src/my file%.txt", dir_ / "src/folder", dir_ / "src/link"});
  EXPECT_EQ(run.status, 0) << run.out;
  ASSERT_EQ(lines(run.out).size(), 3u) << run.out;
  for (const std::string& line : lines(run.out)) EXPECT_EQ(line.rfind("moved: ", 0), 0u) << line;

  EXPECT_EQ(readFile(trash() + "/files/my file%.txt"), "data");
  EXPECT_EQ(readFile(trash() + "/files/folder/sub/inner"), "x");
  std::error_code ec;
  EXPECT_EQ(std::filesystem::read_symlink(trash() + "/files/link", ec), "/");
  for (const char* gone : {"src/my file%.txt", "src/folder", "src/link"}) EXPECT_FALSE(exists(dir_ / gone));

  const std::regex info(
      "\\[Trash Info\\]\nPath=(.*)\nDeletionDate=\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\n");
  const std::pair<const char*, std::string> infos[] = {
      {"my file%.txt", dir_.path() + "/src/my%20file%25.txt"},
      {"folder", dir_.path() + "/src/folder"},
      {"link", dir_.path() + "/src/link"},
  };
  for (const auto& [name, path] : infos) {
    std::string text = readFile(trash() + "/info/" + name + ".trashinfo");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(text, match, info)) << text;
    EXPECT_EQ(match[1], path);
  }
}

TEST_F(Sweeper, NeverOverwritesAndGivesEveryItemANameOfItsOwn) {
  writeFile(trash() + "/files/a", "old item without info");
  writeFile(trash() + "/info/a.2.trashinfo", "old info without item");
  writeFile(dir_ / "x/a", "from x");
  writeFile(dir_ / "y/a", "from y");
  std::string longName = "x";
  for (int i = 0; i < 125; ++i) longName += "\xC3\xA9";  // "x" and 125 times "é"
  writeFile(dir_ / longName, "long");

  ToolRun run = sweep({dir_ / "x/a", dir_ / "y/a", dir_ / longName});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(readFile(trash() + "/files/a"), "old item without info");
  EXPECT_EQ(readFile(trash() + "/info/a.2.trashinfo"), "old info without item");
  EXPECT_EQ(readFile(trash() + "/files/a.3"), "from x");
  EXPECT_EQ(readFile(trash() + "/files/a.4"), "from y");
  EXPECT_TRUE(exists(trash() + "/info/a.3.trashinfo") && exists(trash() + "/info/a.4.trashinfo"));

  // A name too long for its info file is shortened, on a character boundary.
  const std::string shortened = longName.substr(0, 239);
  EXPECT_EQ(readFile(trash() + "/files/" + shortened), "long");
  EXPECT_TRUE(exists(trash() + "/info/" + shortened + ".trashinfo"));
}

// Sweeper runs as root here: every path a test hands it lies in the test's own
// folder or does not exist, so that a refusal that fails cannot touch the system.
TEST_F(Sweeper, PassesOverMissingPathsAndCountsRefusedOnesAsNotMoved) {
  const std::string absent = "/tavo-sweeper-absent-" + std::to_string(getpid());
  ASSERT_FALSE(exists(absent));
  struct Case {
    std::string list;
    int status;
    bool fileMoved;  // whether $D/f went to the Trash
    std::string firstLine;
  };
  const Case cases[] = {
      {"$D/none\n", 0, false, "skipped: $D/none: does not exist"},
      {absent + "\nrelative\n$D/rootlink" + absent + "\n$D/f\n", 1, true, "refused: " + absent + ": "},
      {"$D/rootlink" + absent + "\n", 1, false, "refused: $D/rootlink" + absent + ": resolves to "},
      {"$D\n$D/Trash/files\n", 1, false, "refused: $D: "},
      {"$D/f", 1, false, "refused: $D/f: the line is not ended by a line feed"},
      {"\n$D/f\n", 1, true, "refused: : is empty"},
      {"$D/f/../f\n", 1, false, "refused: "},
      {"$D/bad\xFF\n", 1, false, "refused: $D/bad\xFF: is not valid UTF-8"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    writeFile(dir / "f", "f");
    writeFile(dir / "bad\xFF", "bad");
    ASSERT_EQ(symlink("/", (dir / "rootlink").c_str()), 0);
    writeFile(dir / "list.txt", replaceAll(c.list, "$D", dir.path()), 0600);
    ToolRun run = runTool(TAVO_SWEEPER, {dir / "Trash", dir / "list.txt"});
    EXPECT_EQ(run.status, c.status) << c.list << "\n" << run.out;
    EXPECT_EQ(!exists(dir / "f"), c.fileMoved) << c.list;
    EXPECT_TRUE(exists(dir / "bad\xFF")) << c.list;
    EXPECT_EQ(run.out.rfind(replaceAll(c.firstLine, "$D", dir.path()), 0), 0u) << run.out;
  }
}

TEST_F(Sweeper, RefusesBadArgumentsWithOneLine) {
  writeFile(dir_ / "list.txt", dir_ / "f\n", 0600);
  writeFile(dir_ / "shared.txt", dir_ / "f\n", 0620);
  writeFile(dir_ / "f", "f");
  ASSERT_EQ(mkfifo((dir_ / "fifo").c_str(), 0600), 0);
  std::vector<std::vector<std::string>> bad = {
      {},
      {trash()},
      {trash(), dir_ / "list.txt", "extra"},
      {"relative/Trash", dir_ / "list.txt"},
      {dir_ / "a/../Trash", dir_ / "list.txt"},
      {trash(), dir_ / "none.txt"},
      {trash(), dir_.path()},
      {trash(), dir_ / "fifo"},  // must not wait for a writer
      {trash(), dir_ / "shared.txt"},
  };
  if (geteuid() == 0) {
    writeFile(dir_ / "theirs.txt", dir_ / "f\n", 0600);
    ASSERT_EQ(chown((dir_ / "theirs.txt").c_str(), kNobody, kNobody), 0);
    bad.push_back({trash(), dir_ / "theirs.txt"});
  }
  for (const std::vector<std::string>& args : bad) {
    ToolRun run = runTool(TAVO_SWEEPER, args);
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_EQ(lines(run.out).size(), 1u) << run.out;
    EXPECT_EQ(run.out.rfind("sweeper: ", 0), 0u) << run.out;
  }
  EXPECT_TRUE(exists(dir_ / "f"));
  EXPECT_FALSE(exists(trash()));
}

TEST_F(Sweeper, WhatItCreatesBelongsToTheUserWhoseTrashItIs) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act for another user";
  if (!getpwuid(kNobody)) GTEST_SKIP() << "no user " << kNobody;
  ASSERT_EQ(chmod(dir_.path().c_str(), 0755), 0);
  std::filesystem::create_directories(dir_ / "theirs");
  ASSERT_EQ(chown((dir_ / "theirs").c_str(), kNobody, kNobody), 0);
  // Told by pkexec, or else the owner of the nearest existing folder.
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {dir_ / "home/.local/share/Trash", {"PKEXEC_UID=65534"}},
      {dir_ / "theirs/.local/share/Trash", {}},
  };
  for (const auto& [trashDir, env] : cases) {
    writeFile(dir_ / "f", "f");
    writeFile(dir_ / "list.txt", dir_ / "f\n", 0600);
    ToolRun run = runTool(TAVO_SWEEPER, {trashDir, dir_ / "list.txt"}, env);
    ASSERT_EQ(run.status, 0) << run.out;
    for (const char* created : {"", "/files", "/info", "/info/f.trashinfo", "/.."}) {
      struct stat st;
      ASSERT_EQ(lstat((trashDir + created).c_str(), &st), 0) << created;
      EXPECT_EQ(st.st_uid, kNobody) << trashDir << created;
    }
    struct stat moved;
    ASSERT_EQ(lstat((trashDir + "/files/f").c_str(), &moved), 0);
    EXPECT_EQ(moved.st_uid, 0u);  // the item itself keeps its owner
  }
}

// What a copy must keep of an item.
void expectSameAttributes(const struct stat& a, const struct stat& b, const std::string& name) {
  EXPECT_EQ(a.st_mode, b.st_mode) << name;
  EXPECT_EQ(a.st_uid, b.st_uid) << name;
  EXPECT_EQ(a.st_gid, b.st_gid) << name;
  EXPECT_EQ(a.st_mtim.tv_sec, b.st_mtim.tv_sec) << name;
  EXPECT_EQ(a.st_mtim.tv_nsec, b.st_mtim.tv_nsec) << name;
}

TEST_F(Sweeper, MovesAcrossFilesystemsWithContentsModesOwnersAndTimes) {
  TempDir shm("/dev/shm");
  struct stat here, there;
  if (shm.path().empty() || stat(dir_.path().c_str(), &here) != 0 ||
      stat(shm.path().c_str(), &there) != 0 || here.st_dev == there.st_dev) {
    GTEST_SKIP() << "/dev/shm is not another filesystem than /tmp here";
  }
  writeFile(shm / "item/file", "contents", 0604);
  writeFile(shm / "item/sub/deep", "deep", 0600);
  ASSERT_EQ(symlink("../elsewhere", (shm / "item/link").c_str()), 0);
  ASSERT_EQ(mkfifo((shm / "item/fifo").c_str(), 0640), 0);
  writeFile(shm / "top.txt", "top", 0755);
  if (geteuid() == 0) {
    ASSERT_EQ(chown((shm / "item/file").c_str(), kNobody, kNobody), 0);
    ASSERT_EQ(lchown((shm / "item/link").c_str(), kNobody, kNobody), 0);
  }
  const timespec old[2] = {{1000000000, 5}, {1000000000, 123456789}};
  const char* names[] = {"item/file", "item/sub/deep", "item/link", "item/fifo", "item/sub", "item", "top.txt"};
  std::vector<struct stat> before;
  for (const char* name : names) {
    ASSERT_EQ(utimensat(AT_FDCWD, (shm / name).c_str(), old, AT_SYMLINK_NOFOLLOW), 0);
  }
  ASSERT_EQ(chmod((shm / "item").c_str(), 0751), 0);
  for (const char* name : names) {
    before.emplace_back();
    ASSERT_EQ(lstat((shm / name).c_str(), &before.back()), 0);
  }

  ToolRun run = sweep({shm / "item", shm / "top.txt"});
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_FALSE(exists(shm / "item") || exists(shm / "top.txt"));
  for (std::size_t i = 0; i < std::size(names); ++i) {
    struct stat after;
    ASSERT_EQ(lstat((trash() + "/files/" + names[i]).c_str(), &after), 0) << names[i];
    expectSameAttributes(before[i], after, names[i]);
  }
  EXPECT_EQ(readFile(trash() + "/files/item/file"), "contents");
  EXPECT_EQ(readFile(trash() + "/files/item/sub/deep"), "deep");
  std::error_code ec;
  EXPECT_EQ(std::filesystem::read_symlink(trash() + "/files/item/link", ec), "../elsewhere");
}

// A small filesystem, unmounted at the end whatever happened.
struct SmallMount {
  explicit SmallMount(const std::string& at) : path(at) {
    std::filesystem::create_directories(at);
    mounted = mount("tmpfs", at.c_str(), "tmpfs", 0, "size=256k") == 0;
  }
  ~SmallMount() {
    if (mounted) umount2(path.c_str(), MNT_DETACH);
  }
  std::string path;
  bool mounted = false;
};

TEST_F(Sweeper, ACopyThatFailsHalfWayLeavesTheOriginalAndNoPartialCopy) {
  SmallMount small(dir_ / "small");
  if (!small.mounted) GTEST_SKIP() << "cannot mount a small tmpfs here (needs root)";
  const std::string big(1 << 20, 'b');
  writeFile(dir_ / "product/a.txt", "a");
  writeFile(dir_ / "product/big.bin", big);
  writeFile(dir_ / "product/z/c.txt", "c");
  writeFile(dir_ / "list.txt", dir_ / "product\n", 0600);
  const std::string smallTrash = small.path + "/Trash";

  ToolRun run = runTool(TAVO_SWEEPER, {smallTrash, dir_ / "list.txt"});
  EXPECT_EQ(run.status, 1) << run.out;
  EXPECT_EQ(run.out.rfind("not moved: " + dir_ / "product", 0), 0u) << run.out;
  EXPECT_EQ(readFile(dir_ / "product/a.txt"), "a");
  EXPECT_EQ(readFile(dir_ / "product/big.bin"), big);
  EXPECT_EQ(readFile(dir_ / "product/z/c.txt"), "c");
  EXPECT_TRUE(std::filesystem::is_empty(smallTrash + "/files"));
  EXPECT_TRUE(std::filesystem::is_empty(smallTrash + "/info"));
}

}  // namespace
