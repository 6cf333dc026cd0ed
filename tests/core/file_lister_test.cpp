#include <sys/stat.h>
#include <unistd.h>

#include "tests/core/core_fixture.h"

namespace tavo::testing {
namespace {

using Paths = std::vector<std::string>;

class ListerTest : public CoreFixture {
 protected:
  Paths list(const std::string& folder, const std::string& pattern, bool seeBundleAsFile) {
    Paths out;
    controller().FileLister(folder, pattern, out, seeBundleAsFile);
    return out;
  }
  // Paths relative to the root, for short expectations.
  Paths rel(const Paths& paths) {
    Paths out;
    for (const auto& p : paths) out.push_back(p.substr(root.size() + 1));
    return out;
  }
};

TEST_F(ListerTest, PatternsAndBundlesBothWays) {
  for (const char* f : {"P/a.txt", "P/notes.txt.bak", "P/.hidden", "P/sub/b.txt",
                        "P/sub/z.app.zip", "P/x.app/inner.txt", "P/sub/deep/c.txt"})
    tree.write(f);
  tree.mkdirs("P/sub/y.app");
  std::string p = at("P");
  EXPECT_EQ(rel(list(p, "*.txt", false)),
            (Paths{"P/a.txt", "P/notes.txt.bak", "P/sub/b.txt", "P/sub/deep/c.txt",
                   "P/x.app/inner.txt"}));
  EXPECT_EQ(rel(list(p, "*.app", true)), (Paths{"P/sub/y.app", "P/sub/z.app.zip", "P/x.app"}));
  EXPECT_EQ(rel(list(p, "*.app", false)), (Paths{"P/sub/z.app.zip"}));
  EXPECT_EQ(rel(list(p, "hidden", false)), (Paths{"P/.hidden"}));
  Paths immediate{"P/.hidden", "P/a.txt", "P/notes.txt.bak", "P/sub", "P/x.app"};
  EXPECT_EQ(rel(list(p, ".*", true)), immediate);
  EXPECT_EQ(rel(list(p, "*.*", true)), immediate);

  Paths out{"kept"};
  controller().FileLister(p, "*.bak", out, false);
  EXPECT_EQ(out, (Paths{"kept", p + "/notes.txt.bak"}));
}

TEST_F(ListerTest, SortsByByteValueAcrossDepths) {
  tree.write("P/b/c");
  tree.write("P/b0");
  tree.write("P/B");
  tree.write("P/\xc3\xa9");
  EXPECT_EQ(rel(list(at("P"), "*.*", false)), (Paths{"P/B", "P/b/c", "P/b0", "P/\xc3\xa9"}));
}

TEST_F(ListerTest, StartFolderIsResolvedAndFilesOrMissingFoldersListNothing) {
  tree.write("P/f");
  tree.link(at("P"), "L");
  EXPECT_EQ(list(at("L"), "*.*", false), (Paths{at("P/f")}));

  EXPECT_TRUE(list(at("missing"), "*.*", false).empty());
  EXPECT_TRUE(log.lines().empty());
  EXPECT_TRUE(list(at("P/f"), "*.*", false).empty());
  EXPECT_EQ(log.lines(), (Paths{"FSOpenIterator error : 20"}));
}

TEST_F(ListerTest, LinksAreEntriesNeverFollowed) {
  tree.write("P/f");
  tree.link(at("P"), "P/loop");
  tree.link(at("nowhere"), "P/dangling");
  EXPECT_EQ(rel(list(at("P"), "*.*", false)), (Paths{"P/dangling", "P/f", "P/loop"}));
}

TEST_F(ListerTest, NamesThatAreNotUtf8MatchOnlyTheEmptyText) {
  tree.write("P/top\xff");
  tree.write("P/d1/d2/bad\xff");
  Paths all = rel(list(at("P"), "*.*", false));
  EXPECT_EQ(all, (Paths{"P/d1/d2/bad\xff", "P/top\xff"}));
  EXPECT_EQ(log.count("D2 CFStringGetCString failed!!"), 1u);  // only at the second level
  EXPECT_TRUE(list(at("P"), "bad", false).empty());
}

TEST_F(ListerTest, UnreadableFolderIsPassedOver) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every folder";
  tree.write("P/open/f");
  tree.write("P/shut/g");
  ::chmod(at("P/shut").c_str(), 0);
  EXPECT_EQ(rel(list(at("P"), "*.*", false)), (Paths{"P/open/f"}));
  EXPECT_TRUE(log.lines().empty());
  ::chmod(at("P/shut").c_str(), 0755);
}

class ListnaddTest : public CoreFixture {
 protected:
  Product product;
};

TEST_F(ListnaddTest, ImmediateEntriesThenFilesBelowThenTheFolder) {
  tree.write("P/a.txt");
  tree.write("P/B/c.txt");
  tree.write("P/B/D/e.txt");
  tree.mkdirs("P/B/F");
  std::string p = at("P");
  controller().listnadd(p, product);
  // Below B the sub-path listing's own order: pre-order, names sorted.
  EXPECT_EQ(product.paths(), (Paths{p + "/B", p + "/B/D/e.txt", p + "/B/c.txt", p + "/a.txt", p}));
  EXPECT_EQ(product.dirs(), (Paths{p}));

  Product empty;
  controller().listnadd(tree.mkdirs("E"), empty);
  EXPECT_EQ(empty.paths(), (Paths{at("E")}));
  EXPECT_EQ(empty.dirs(), (Paths{at("E")}));
}

TEST_F(ListnaddTest, LinkToFolderIsThatFolderAndDanglingLinkIsNothing) {
  tree.write("Q/g");
  tree.write("P/f");
  tree.link(at("Q"), "P/toQ");
  tree.link(at("nowhere"), "P/dangling");
  std::string p = at("P");
  controller().listnadd(p, product);
  EXPECT_EQ(product.paths(), (Paths{p + "/f", p + "/toQ", p + "/toQ/g", p}));
}

TEST_F(ListnaddTest, FileOrMissingPath) {
  std::string f = tree.write("f");
  controller().listnadd(f, product);
  controller().listnadd(at("missing"), product);
  EXPECT_EQ(product.paths(), (Paths{f}));
  EXPECT_TRUE(product.dirs().empty());
}

}  // namespace
}  // namespace tavo::testing
