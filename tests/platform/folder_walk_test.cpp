#include "platform/folder_walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "base/unique_fd.h"
#include "platform/file_system.h"
#include "tests/support/temp_dir.h"

namespace tavo::testing {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

std::size_t openDescriptors() {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

class FolderWalkTest : public ::testing::Test {
 protected:
  // Every entry below `folder`, relative to the root; "/" marks a folder.
  Lines walk(const std::string& folder, std::size_t maxOpen = 64) {
    Lines seen;
    FolderWalk w(maxOpen);
    EXPECT_EQ(w.open(folder), 0);
    w.walk([&](const FolderWalk::Entry& e) {
      mostOpen = std::max(mostOpen, openDescriptors());
      std::string rel(e.path.substr(tree.path().size() + 1));
      seen.push_back(rel + (e.kind == EntryKind::Folder ? "/" : ""));
      return true;
    });
    return seen;
  }
  TempDir tree;
  std::size_t mostOpen = 0;  // descriptors open at once during the walks so far
};

// The names of a sample folder share long beginnings, which the sort reads
// past; shorter names and bytes above 0x7F must still sort by byte value.
TEST_F(FolderWalkTest, EachFolderInByteOrderWhateverTheNamesShare) {
  Lines names = {"Harp 001-10.ncw", "Harp 001-1.ncw", "Harp 001-1", "Harp 001-100000000.ncw",
                 "Harp 001-100000001", "Harp 001-10000000", "Harp 001-\xc3\xa9", "Harp 001-Z",
                 "Harp 001-", "Harp 0011"};
  for (const auto& n : names) tree.write("D/" + n);
  Lines want;
  std::sort(names.begin(), names.end());
  for (const auto& n : names) want.push_back("D/" + n);
  want.insert(want.begin(), "D/");
  EXPECT_EQ(walk(tree.path()), want);
}

// Deeper than the descriptors it may hold, the walk still lists every entry,
// in the same order, with no more descriptors open than allowed.
TEST_F(FolderWalkTest, ADeepTreeIsWalkedWhole) {
  std::string chain = "d0";
  for (int i = 1; i < 12; ++i) chain += "/d" + std::to_string(i);
  tree.write(chain + "/f");
  tree.write("d0/d1/e/g");  // needs d1 again after the walk came back up
  tree.write("d0/z");
  std::size_t before = openDescriptors();
  Lines whole = walk(tree.path());
  mostOpen = 0;
  EXPECT_EQ(walk(tree.path(), 3), whole);
  EXPECT_EQ(whole.size(), 16u);
  EXPECT_LE(mostOpen, before + 3 + 1);  // and the listing of /proc/self/fd itself
}

// A folder swapped for a link after it was listed is not followed: the walk
// could otherwise be led anywhere on the disk.
TEST_F(FolderWalkTest, AFolderReplacedByALinkIsNotEntered) {
  tree.write("P/sub/inner");
  tree.write("elsewhere/secret");
  Lines seen;
  FolderWalk w;
  ASSERT_EQ(w.open(tree / "P"), 0);
  w.walk([&](const FolderWalk::Entry& e) {
    seen.push_back(std::string(e.name()));
    if (e.name() == "sub") {
      fs::rename(tree / "P/sub", tree / "moved");
      fs::create_directory_symlink(tree / "elsewhere", tree / "P/sub");
    }
    return true;
  });
  EXPECT_EQ(seen, (Lines{"sub"}));
}

TEST_F(FolderWalkTest, OpeningAndStopping) {
  std::string file = tree.write("a/f");
  tree.write("a/g");
  FolderWalk w;
  EXPECT_EQ(w.open(file), ENOTDIR);
  EXPECT_EQ(w.open(tree / "missing"), ENOENT);
  EXPECT_EQ(w.open(tree / std::string("a\0b", 3)), ENOENT);
  fs::create_directory_symlink(tree / "a", tree / "link");
  EXPECT_EQ(walk(tree / "link"), (Lines{"link/f", "link/g"}));  // the start may be a link
  EXPECT_EQ(walk(tree / "a/"), (Lines{"a/f", "a/g"}));          // one separator
  std::atomic<bool> cancelled{false};
  int visits = 0;
  ASSERT_EQ(w.open(tree / "a"), 0);
  w.walk([&](const FolderWalk::Entry&) { cancelled = ++visits == 1; return true; }, &cancelled);
  EXPECT_EQ(visits, 1);
}

// Only an unknown kind is looked up, without following a link.
TEST_F(FolderWalkTest, KindsFromTheDirectoryEntry) {
  tree.mkdirs("dir");
  tree.write("file");
  fs::create_directory_symlink(tree / "dir", tree / "link");
  UniqueFd fd(::open(tree.path().c_str(), O_RDONLY | O_DIRECTORY));
  const std::tuple<const char*, unsigned char, EntryKind> cases[] = {
      {"dir", DT_UNKNOWN, EntryKind::Folder},     {"link", DT_UNKNOWN, EntryKind::Link},
      {"file", DT_UNKNOWN, EntryKind::Other},     {"gone", DT_UNKNOWN, EntryKind::Vanished},
      {"gone", DT_DIR, EntryKind::Folder},        {"gone", DT_LNK, EntryKind::Link},
      {"gone", DT_REG, EntryKind::Other},         {"gone", DT_FIFO, EntryKind::Other},
  };
  for (const auto& [name, type, kind] : cases)
    EXPECT_EQ(entryKindOf(fd.get(), name, type), kind) << name << " " << int(type);
}

// The probe answers as stat(2) does whatever lies on the way (links, a file for
// a folder, folders searchable or listable only), asked as a plain user.
TEST_F(FolderWalkTest, TheExistenceProbeAnswersAsStatDoes) {
  tree.write("d/f");
  tree.mkdirs("d/sub");
  ASSERT_EQ(::symlink("sub", (tree / "d/tosub").c_str()) | ::symlink("none", (tree / "d/gone").c_str()), 0);
  for (const auto& [folder, mode] : {std::pair{"search", 0711}, {"list", 0644}, {"closed", 0}}) {
    tree.write(std::string(folder) + "/f");
    ::chmod((tree / folder).c_str(), mode);
  }
  ::chmod(tree.path().c_str(), 0755);
  // '-' nothing, 'f' a file, 'd' a folder.
  const std::pair<std::string, char> cases[] = {
      {"d/f", 'f'},      {"d/sub", 'd'},      {"d/tosub", 'd'}, {"d/gone", '-'},  {"d/none", '-'},
      {"none/f", '-'},   {"d/f/x", '-'},      {"search/f", 'f'}, {"search/x", '-'}, {"list/f", '-'},
      {"closed/f", '-'}, {"d/./f", 'f'},      {"d/sub/../f", 'f'}, {"d//f", 'f'}, {"d/sub/", 'd'},
      {"d/f/", '-'},     {"d/sub/./", 'd'}};
  pid_t child = ::fork();
  if (child == 0) {  // each wrong answer on standard error, and the exit status says whether there was one
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(2);
    ExistenceProbe probe;
    bool right = true;
    for (const auto& [path, kind] : cases) {
      bool folder = false;
      const char seen = probe.exists(tree / path, &folder) ? (folder ? 'd' : 'f') : '-';
      if (seen != kind) right = std::fprintf(stderr, "%s: %c, not %c\n", path.c_str(), seen, kind) < 0;
    }
    ::_exit(right ? 0 : 1);
  }
  int status = -1;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  for (const char* folder : {"search", "list", "closed"}) ::chmod((tree / folder).c_str(), 0755);
}

}  // namespace
}  // namespace tavo::testing
