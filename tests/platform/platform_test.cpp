#include <gtest/gtest.h>
#include <pwd.h>

#include "platform/bundle.h"
#include "platform/tilde.h"
#include "platform/user_folders.h"
#include "tests/support/temp_dir.h"

namespace tavo::testing {
namespace {

TEST(TildeTest, HomeUserAndUnknownUser) {
  ScopedEnv home("HOME", "/home/someone/");
  EXPECT_EQ(expandTildeInPath("~"), "/home/someone");
  EXPECT_EQ(expandTildeInPath("~/Library/x"), "/home/someone/Library/x");
  EXPECT_EQ(expandTildeInPath("/a/~/b"), "/a/~/b");
  EXPECT_EQ(expandTildeInPath("~no-such-user-here/x"), "~no-such-user-here/x");
  const passwd* root = ::getpwuid(0);
  if (!root) GTEST_SKIP() << "no password database on this machine";
  EXPECT_EQ(expandTildeInPath(std::string("~") + root->pw_name + "/x"),
            std::string(root->pw_dir) + "/x");
}

TEST(BundleTest, ResourcesByNameAndByType) {
  TempDir tree;
  for (const char* f : {"sweeper", "Products/b.txt", "Products/a.txt", "Products/.txt"})
    tree.write(std::string("Foo Remover.app/Contents/Resources/") + f);
  Bundle bundle(tree / "Foo Remover.app/");
  std::string products = bundle.resourcePath() + "/Products/";
  EXPECT_EQ(bundle.applicationName(), "Foo Remover");
  EXPECT_EQ(bundle.pathForResource("sweeper", ""), bundle.resourcePath() + "/sweeper");
  EXPECT_EQ(bundle.pathForResource("sweeper", "txt"), std::nullopt);
  EXPECT_EQ(bundle.pathsForResourcesOfType("txt", "Products"),
            (std::vector<std::string>{products + "a.txt", products + "b.txt"}));
}

// The desktop's data and runtime folders where they are absolute paths; a
// relative one is ignored, as the desktop's base-directory rules say.
TEST(UserFoldersTest, TheDesktopsFoldersWhenAbsoluteElseTheHomes) {
  for (const char* value : {"/data", "relative", ""}) {
    ScopedEnv data("XDG_DATA_HOME", value), runtime("XDG_RUNTIME_DIR", value);
    const bool used = value[0] == '/';
    EXPECT_EQ(homeTrashFolder("/h"), used ? "/data/Trash" : "/h/.local/share/Trash") << value;
    EXPECT_EQ(removalRecordsFolder("/h"),
              used ? "/data/TAVO_Uninstaller/removals" : "/h/.local/share/TAVO_Uninstaller/removals");
    EXPECT_EQ(privateFolder("/h"), used ? "/data/TAVO_Uninstaller" : "/h/.cache/TAVO_Uninstaller");
  }
}

}  // namespace
}  // namespace tavo::testing
