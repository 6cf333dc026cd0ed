#include <sys/stat.h>
#include <unistd.h>

#include "tests/core/core_fixture.h"

namespace tavo::testing {
namespace {

namespace fs = std::filesystem;

class ListerTest : public CoreFixture {
 protected:
  // The paths found below P, relative to the root.
  Lines list(const std::string& pattern, bool seeBundleAsFile = false) {
    Lines out, rel;
    controller().FileLister(tree / "P", pattern, out, seeBundleAsFile);
    for (const auto& p : out) rel.push_back(p.substr(root.size() + 1));
    return rel;
  }
};

TEST_F(ListerTest, PatternsAndBundlesBothWays) {
  for (const char* f : {"P/a.txt", "P/notes.txt.bak", "P/.hidden", "P/sub/b.txt",
                        "P/sub/z.app.zip", "P/x.app/inner.txt", "P/sub/deep/c.txt"})
    tree.write(f);
  tree.mkdirs("P/sub/y.app");
  EXPECT_EQ(list("*.txt"), (Lines{"P/a.txt", "P/notes.txt.bak", "P/sub/b.txt",
                                  "P/sub/deep/c.txt", "P/x.app/inner.txt"}));
  EXPECT_EQ(list("*.app", true), (Lines{"P/sub/y.app", "P/sub/z.app.zip", "P/x.app"}));
  EXPECT_EQ(list("*.app"), (Lines{"P/sub/z.app.zip"}));
  EXPECT_EQ(list("hidden"), (Lines{"P/.hidden"}));
  Lines immediate{"P/.hidden", "P/a.txt", "P/notes.txt.bak", "P/sub", "P/x.app"};
  EXPECT_EQ(list(".*", true), immediate);
  EXPECT_EQ(list("*.*", true), immediate);
}

TEST_F(ListerTest, ByteOrderLinksNeverFollowedAndNamesThatAreNotUtf8) {
  for (const char* f : {"P/b/c", "P/b0", "P/B", "P/\xc3\xa9", "P/top\xff", "P/d1/d2/bad\xff",
                        "P/d1/d2/d3/odd\xff", "P/d1/d2/d3/d4/even\xff"})
    tree.write(f);
  fs::create_symlink(tree / "P", tree / "P/loop");
  fs::create_symlink(tree / "nowhere", tree / "P/dangling");
  EXPECT_EQ(list("*.*"), (Lines{"P/B", "P/b/c", "P/b0", "P/d1/d2/bad\xff", "P/d1/d2/d3/d4/even\xff",
                                "P/d1/d2/d3/odd\xff", "P/dangling", "P/loop", "P/top\xff",
                                "P/\xc3\xa9"}));
  // Only in folders of the second list: at depths two, four, and so on.
  EXPECT_EQ(log.count("D2 CFStringGetCString failed!!"), 2u);
  EXPECT_TRUE(list("bad").empty());  // such a name matches only the empty text
}

TEST_F(ListerTest, StartFolderIsResolvedAndFilesOrMissingFoldersListNothing) {
  tree.write("Q/f");
  fs::create_symlink(tree / "Q", tree / "P");
  EXPECT_EQ(list("*.*"), (Lines{"Q/f"}));
  Lines out;
  controller().FileLister(tree / "missing", "*.*", out, false);
  EXPECT_TRUE(log.lines().empty());
  controller().FileLister(tree / "Q/f", "*.*", out, false);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(log.lines(), (Lines{"FSOpenIterator error : 20"}));
}

TEST_F(ListerTest, UnreadableFolderIsPassedOver) {
  tree.write("P/open/f");
  tree.write("P/shut/g");
  ::chmod(root.c_str(), 0755);
  ::chmod((tree / "P/shut").c_str(), 0);
  controller();
  // Root reads every folder: it lists as nobody.
  if (::geteuid() == 0 && ::seteuid(65534) != 0) GTEST_SKIP() << "cannot become nobody";
  Lines got = list("*.*");
  ASSERT_TRUE(::getuid() != 0 || ::seteuid(0) == 0);
  EXPECT_EQ(got, (Lines{"P/open/f"}));
  EXPECT_TRUE(log.lines().empty());
  ::chmod((tree / "P/shut").c_str(), 0755);  // for the removal of the tree
}

TEST_F(ListerTest, ListnaddGivesImmediateEntriesThenFilesBelowThenTheFolder) {
  Product product;
  for (const char* f : {"P/a.txt", "P/B/c.txt", "P/B/D/e.txt", "Q/g"}) tree.write(f);
  tree.mkdirs("P/B/F");
  fs::create_symlink(tree / "Q", tree / "P/toQ");
  fs::create_symlink(tree / "nowhere", tree / "P/dangling");
  // Below the first level a link counts as what it points to, and is never
  // walked into.
  fs::create_symlink(tree / "Q/g", tree / "P/B/D/toG");
  fs::create_symlink(tree / "Q", tree / "P/B/D/toQ");
  fs::create_symlink(tree / "nowhere", tree / "P/B/D/dangling");
  std::string p = tree / "P";
  controller().listnadd(p, product);
  // Below B the sub-path listing's own order: pre-order, names sorted.
  EXPECT_EQ(product.paths(), (Lines{p + "/B", p + "/B/D/e.txt", p + "/B/D/toG", p + "/B/c.txt",
                                    p + "/a.txt", p + "/toQ", p + "/toQ/g", p}));
  EXPECT_EQ(product.dirs(), (Lines{p}));
}

TEST_F(ListerTest, ListnaddOfAnEmptyFolderAFileOrAMissingPath) {
  Product product;
  std::string e = tree.mkdirs("E"), f = tree.write("f");
  for (const std::string& path : {e, f, tree / "missing"}) controller().listnadd(path, product);
  EXPECT_EQ(product.paths(), (Lines{e, f}));
  EXPECT_EQ(product.dirs(), (Lines{e}));
}

}  // namespace
}  // namespace tavo::testing
