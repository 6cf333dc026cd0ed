// The privileged runs as root, end to end: the real sweeper, package tool and
// keyscrub started through the root branch, each confined to this test's own
// temporary folders through the test builds' environment.

#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/plist_file.h"
#include "privileged/privileged_runs.h"
#include "tests/fakes/capturing_log.h"
#include "tests/fakes/temp_tree.h"

namespace tavo::testing {
namespace {

bool exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

class RootRunsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root: the root branch starts the tools directly";
    tree.mkdirs("receipts");
    tree.mkdirs("root");
    tree.mkdirs("any");
    auth = makeRootAuthorization({"PATH=/usr/sbin:/usr/bin:/sbin:/bin",
                                  "TAVO_TEST_RECEIPTS_DIR=" + tree / "receipts",
                                  "TAVO_TEST_ROOT=" + tree / "root",
                                  "TAVO_TEST_ANY_USER_PREFS=" + tree / "any"});
    runs = std::make_unique<PrivilegedRuns>(
        *auth, log,
        PrivilegedTools{TAVO_PKGUTIL_TESTROOT, TAVO_SWEEPER, TAVO_KEYSCRUB_TESTROOT, trash()});
  }

  std::string trash() const { return tree / "Trash"; }

  TempTree tree;
  CapturingLog log;
  std::unique_ptr<Authorization> auth;
  std::unique_ptr<PrivilegedRuns> runs;
};

TEST_F(RootRunsTest, RmAdminMovesTheListedFoldersIntoTheTrash) {
  tree.write("src/one/inner.txt", "x");
  std::string one = tree / "src/one";
  std::string two = tree.mkdirs("src/two");
  std::string list = tree.write("list.txt", one + "\n" + two + "\n");
  ::chmod(list.c_str(), 0600);

  EXPECT_TRUE(runs->rmAdmin(list));
  EXPECT_FALSE(exists(one) || exists(two));
  EXPECT_TRUE(exists(trash() + "/files/one/inner.txt"));
  EXPECT_TRUE(exists(trash() + "/files/two"));
  EXPECT_TRUE(exists(trash() + "/info/one.trashinfo") && exists(trash() + "/info/two.trashinfo"));
  // The first run of a controller asks for the right, whoever runs it.
  ASSERT_FALSE(log.lines().empty());
  EXPECT_EQ(log.lines().back().rfind("rmAdmin:Tell ", 0), 0u) << log.lines().back();
}

TEST_F(RootRunsTest, ForgetPkgRemovesTheReceiptAlone) {
  tree.write("receipts/com.x.plist", "<plist/>");
  tree.write("receipts/com.x.bom");
  tree.write("receipts/com.y.plist", "<plist/>");

  EXPECT_TRUE(runs->forgetPkg("com.x"));
  EXPECT_FALSE(exists(tree / "receipts/com.x.plist") || exists(tree / "receipts/com.x.bom"));
  EXPECT_TRUE(exists(tree / "receipts/com.y.plist"));
}

TEST_F(RootRunsTest, DeleteAnyUserPrefKeyRemovesOneEntryAndKeepsTheRest) {
  PlistDict banks;
  banks.set("Glass Harp", "/lib/Glass Harp");
  banks.set("Strings", "/lib/Strings");
  PlistDict top;
  top.set("Banks", banks);
  top.set("base_dir", "/lib");
  std::string file = tree / "any/dom.plist";
  ASSERT_TRUE(writePlistFile(file, top, PlistFormat::Binary));

  EXPECT_TRUE(runs->deleteAnyUserPrefKey("dom", {"Banks", "Glass Harp"}));
  PlistDict expected = top;
  expected.find("Banks")->dict()->remove("Glass Harp");
  EXPECT_EQ(readPlistFile(file).dict, expected);
}

}  // namespace
}  // namespace tavo::testing
