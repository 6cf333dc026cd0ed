#include "safety/product_claims.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "base/path.h"
#include "tests/support/temp_dir.h"

namespace tavo::testing {
namespace {

constexpr const char* kDescription =
    "/Library/Named Line\n"  // a name line: nothing of it is claimed
    "Vendor\n"
    "-\n"
    "# /Library/Comment\n"
    "/Library/Application Support/Glass Harp\n"
    "~/Library/Glass Harp\n"
    "/Library/Dots/../etc\n"
    "~/Library/Preferences/com.ex.player.plist$_var(Banks/Glass Harp)$\n"
    "~/Library/Preferences/com.ex.lib.plist$_path(Folder)$\n"
    "$_plist(/Library/Preferences/com.ex.lib.plist)$\n"
    "$_plist(~/Library/Preferences/com.ex.mine.plist)$\n"
    "$_pkg(com.ex.pkg.GlassHarp)$\n"
    "-\n";

// A bundle's Resources folder, root's, whose second description names links:
// through root's folders, in a folder anyone may write, and another user's in a sticky one.
struct Bundle {
  Bundle() {
    ::chmod(dir.path().c_str(), 0755);
    for (const char* folder : {"real/Lib", "a", "b"}) dir.mkdirs(folder);
    ::chmod(dir.mkdirs("open").c_str(), 0777);
    ::chmod(dir.mkdirs("sticky").c_str(), 01777);
    std::filesystem::create_directory_symlink("real/../real/./Lib", dir / "roots");
    std::filesystem::create_directory_symlink(dir / "a", dir / "open/lib");
    std::filesystem::create_directory_symlink(dir / "b", dir / "sticky/lib");
    EXPECT_EQ(::lchown((dir / "sticky/lib").c_str(), 65534, 65534), 0);
    dir.write("Resources/Products/a.txt", kDescription);
    dir.write("Resources/Products/b.txt", "P\nV\n-\n" + dir / "roots\n" + dir / "open/lib\n" + dir / "sticky/lib\n-\n");
    dir.write("Resources/Products/notes.md", "/etc\n-\n-\n/etc\n-\n");
  }
  std::optional<ProductClaims> claims() {
    error.clear();
    return readProductClaims(dir / "Resources", error);
  }
  TempDir dir;
  std::string error;
};

class ProductClaimsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "descriptions count only when root's, so this needs root";
  }
};

TEST_F(ProductClaimsTest, NamesTheBodysReceiptsDomainsAndPathsOutsideHomes) {
  Bundle bundle;
  std::optional<ProductClaims> found = bundle.claims();
  ASSERT_TRUE(found) << bundle.error;
  EXPECT_EQ(found->receipts, std::set<std::string>{"com.ex.pkg.GlassHarp"});
  EXPECT_EQ(found->domains, (std::set<std::string>{"com.ex.lib", "com.ex.player"}));
  const std::pair<std::string, bool> cases[] = {
      {"/Library/Application Support/Glass Harp", true},
      {"/Library/Application Support/Glass Harp/x/y", true},
      {"/Library/Application Support/Glass Harp 2", false},
      {"/Library/Application Support", false}, {"/Library/Preferences/com.ex.lib.plist", true},
      {"/Library/Named Line", false}, {"/Library/Comment", false}, {"/etc", false}, {"/Library/etc", false},
      // A named link counts where it leads only when root alone laid the way out.
      {bundle.dir / "real/Lib/x", true}, {bundle.dir / "open/lib/x", true},
      {bundle.dir / "a/x", false}, {bundle.dir / "b/x", false},
  };
  for (const auto& [path, covered] : cases) EXPECT_EQ(found->covers(splitPath(path)), covered) << path;
}

TEST_F(ProductClaimsTest, NothingCountsThatAnyoneButRootCouldHaveWritten) {
  namespace fs = std::filesystem;
  const struct {
    const char* what;
    std::function<void(const TempDir&)> spoil;
  } cases[] = {
      {"a group-writable folder", [](const TempDir& d) { fs::permissions(d / "Resources/Products", fs::perms(0775)); }},
      {"a world-writable folder above", [](const TempDir& d) { fs::permissions(d / "Resources", fs::perms(0777)); }},
      {"a file of another user", [](const TempDir& d) { ASSERT_EQ(::chown((d / "Resources/Products/a.txt").c_str(), 1000, 0), 0); }},
      {"a writable file", [](const TempDir& d) { fs::permissions(d / "Resources/Products/a.txt", fs::perms(0666)); }},
      {"a linked folder", [](const TempDir& d) {
         fs::rename(d / "Resources/Products", d / "elsewhere");
         fs::create_directory_symlink(d / "elsewhere", d / "Resources/Products");
       }},
      {"a linked file", [](const TempDir& d) {
         fs::rename(d / "Resources/Products/a.txt", d / "a.txt");
         fs::create_symlink(d / "a.txt", d / "Resources/Products/a.txt");
       }},
  };
  for (const auto& c : cases) {
    Bundle bundle;
    ASSERT_TRUE(bundle.claims()) << c.what << ": " << bundle.error;
    c.spoil(bundle.dir);
    EXPECT_FALSE(bundle.claims()) << c.what;
    EXPECT_FALSE(bundle.error.empty()) << c.what;
  }
}

}  // namespace
}  // namespace tavo::testing
