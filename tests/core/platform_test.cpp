#include <gtest/gtest.h>
#include <pwd.h>

#include "platform/bundle.h"
#include "platform/tilde.h"
#include "tests/fakes/temp_tree.h"

namespace tavo::testing {
namespace {

TEST(TildeTest, HomeUserAndUnknownUser) {
  ScopedEnv home("HOME", "/home/someone/");
  EXPECT_EQ(expandTildeInPath("~"), "/home/someone");
  EXPECT_EQ(expandTildeInPath("~/Library/x"), "/home/someone/Library/x");
  EXPECT_EQ(expandTildeInPath("/a/~/b"), "/a/~/b");
  const passwd* root = ::getpwuid(0);
  if (!root) GTEST_SKIP() << "no password database on this machine";
  EXPECT_EQ(expandTildeInPath(std::string("~") + root->pw_name + "/x"),
            std::string(root->pw_dir) + "/x");
  EXPECT_EQ(expandTildeInPath("~no-such-user-here/x"), "~no-such-user-here/x");
}

TEST(BundleTest, ResourcesOfTypeAndWithoutExtension) {
  TempTree tree;
  tree.write("Foo Remover.app/Contents/Resources/sweeper");
  tree.write("Foo Remover.app/Contents/Resources/Products/b.txt");
  tree.write("Foo Remover.app/Contents/Resources/Products/a.txt");
  tree.write("Foo Remover.app/Contents/Resources/Products/.txt");
  tree.write("Foo Remover.app/Contents/Resources/Products/README");
  Bundle bundle(tree / "Foo Remover.app/");
  std::string products = bundle.resourcePath() + "/Products/";
  EXPECT_EQ(bundle.applicationName(), "Foo Remover");
  EXPECT_EQ(bundle.pathForResource("sweeper", ""), bundle.resourcePath() + "/sweeper");
  EXPECT_EQ(bundle.pathForResource("sweeper", "txt"), std::nullopt);
  EXPECT_EQ(bundle.pathsForResourcesOfType("txt", "Products"),
            (std::vector<std::string>{products + "a.txt", products + "b.txt"}));
  EXPECT_EQ(bundle.pathsForResourcesOfType("", "Products"),
            (std::vector<std::string>{products + ".txt", products + "README"}));
}

}  // namespace
}  // namespace tavo::testing
