// What a removal takes from other products and what it keeps, worked out
// before the confirmation; and the size of what it frees.

#include <sys/stat.h>

#include "core/disk_usage.h"
#include "core/removal_preview.h"
#include "tests/core/core_fixture.h"

namespace tavo::testing {
namespace {

class RemovalPreviewTest : public CoreFixture {
 protected:
  std::unique_ptr<Product> product(const std::string& name, const Lines& paths,
                                   const Lines& dirs = {}, const Lines& prefFiles = {}) {
    auto p = std::make_unique<Product>();
    p->setName(name);
    for (const auto& x : paths) p->addPath(x);
    for (const auto& x : dirs) p->addDir(x);
    for (const auto& x : prefFiles) p->addPrefFile(x);
    return p;
  }
  SafetyCheck safety{SafetyContext{home, home + "/.local/share/Trash"}};
};

TEST_F(RemovalPreviewTest, CountsOtherProductsPathsInsideWhatMovesAndNamesWhatIsKept) {
  // The player's content folder, reached by its owner through a link among
  // its parents; the libraries record their presets under its real place.
  const std::string real = tree.mkdirs("real/Content"), linked = tree / "link/Content";
  ASSERT_EQ(::symlink((tree / "real").c_str(), (tree / "link").c_str()), 0);
  const std::string harp = real + "/Presets/Harp", choir = real + "/Presets/Choir";
  for (const auto& f : {harp + "/a", harp + "/b", choir + "/c"}) tree.write(f.substr(root.size() + 1));
  ASSERT_EQ(::symlink(real.c_str(), (tree / "alias").c_str()), 0);  // a moved link takes nothing with it
  tree.mkdirs("home/Documents");
  auto player = product("Player", {}, {linked, tree / "alias", home + "/Documents"},
                        {home + "/Library/Preferences"});
  auto harpLib = product("Harp", {harp + "/a", harp + "/b", harp}, {}, {real + "/h.plist"});
  auto choirLib = product("Choir", {choir + "/c", choir});
  auto elsewhere = product("Drums", {tree.write("drums/x")});

  RemovalPreview preview =
      previewRemoval(*player, {harpLib.get(), choirLib.get(), elsewhere.get()}, safety);
  ASSERT_EQ(preview.shared.size(), 2u);
  EXPECT_EQ(preview.shared[0].movedFolder, linked);
  EXPECT_EQ(preview.shared[0].product, "Harp");
  EXPECT_EQ(preview.shared[0].count, 4u);
  EXPECT_EQ(preview.shared[1].count, 2u);
  EXPECT_EQ(preview.moves, (Lines{linked, tree / "alias"}));
  ASSERT_EQ(preview.kept.size(), 2u);
  EXPECT_EQ(previewText(preview),
            "Moving \"" + linked + "\" also moves paths listed for other products:\n"
            "  Harp: 4 paths\n  Choir: 2 paths\n\nThese entries will be kept:\n  " + home +
                "/Documents: is a standard folder of a home folder\n  " + home +
                "/Library/Preferences: is a shared folder\n");
  // Nothing shared and nothing kept: nothing to add to the confirmation.
  EXPECT_EQ(previewText(previewRemoval(*elsewhere, {harpLib.get()}, safety)), "");
}

TEST(DiskUsageTest, CountsEachFolderAndHardLinkOnceAndNeverFollowsALink) {
  TempDir tree;
  const std::string top = tree.mkdirs("top");
  tree.write("top/a", std::string(10000, 'a'));
  ASSERT_EQ(::link((top + "/a").c_str(), (top + "/b").c_str()), 0);
  tree.write("top/D/c", "c");
  ASSERT_EQ(::symlink(".", (top + "/loop").c_str()), 0);
  std::uint64_t bytes = 0;
  for (const char* item : {"top", "top/a", "top/D", "top/D/c", "top/loop"}) {
    struct stat st;
    ::lstat((tree / item).c_str(), &st);
    bytes += static_cast<std::uint64_t>(st.st_blocks) * 512;
  }
  std::atomic<bool> cancelled{false};
  // A root inside another root, and a missing one, add nothing.
  DiskUsage usage = diskUsage({top, top + "/D", tree / "none"}, cancelled);
  EXPECT_EQ(usage.items, 5u);
  EXPECT_EQ(usage.bytes, bytes);
  cancelled = true;
  EXPECT_EQ(diskUsage({top}, cancelled).items, 0u);
}

TEST(DiskUsageTest, TextLikeTheFileManagers) {
  const std::tuple<std::uint64_t, std::uint64_t, std::string> cases[] = {
      {1, 0, "1 item, 0 bytes"},          {2, 999, "2 items, 999 bytes"},
      {3, 1000, "3 items, 1.0 kB"},       {1204, 3200000000, "1,204 items, 3.2 GB"},
      {1234567, 999960000, "1,234,567 items, 1.0 GB"},
  };
  for (const auto& [items, bytes, text] : cases) EXPECT_EQ(usageText({items, bytes}), text);
}

}  // namespace
}  // namespace tavo::testing
