#include "safety/path_safety.h"

#include <gtest/gtest.h>

#include <chrono>

#include "tests/support/temp_dir.h"

using namespace std::string_literals;

namespace tavo::testing {
namespace {

// A home folder ($H) and its Trash ($T) in a temporary folder $D, with links to
// "/", to the home folder and to the Trash among the parent folders.
class PathSafety : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const std::string& folder : {trash_ + "/files", dir_ / "links", dir_ / "products/Foo"}) {
      std::filesystem::create_directories(folder);
    }
    for (auto [target, link] : {std::pair{"/"s, "links/root"}, {home_, "links/home"},
                                {home_, "linkedhome"}, {trash_, "links/trash"},
                                {"loop"s, "links/loop"}}) {
      std::filesystem::create_symlink(target, dir_ / link);
    }
  }
  std::string expand(std::string path) const {
    for (auto [key, value] : {std::pair{"$H"s, home_}, {"$T"s, trash_}, {"$D"s, dir_.path()}}) {
      for (std::size_t at; (at = path.find(key)) != std::string::npos;) path.replace(at, 2, value);
    }
    return path;
  }
  bool refused(const std::string& path, const SafetyContext& context) const {
    return SafetyCheck(context).refusal(expand(path)).has_value();
  }

  TempDir dir_;
  std::string home_ = dir_ / "home/u", trash_ = home_ + "/.local/share/Trash";
};

// Each row of the table: its folder under every kind of base (the root, another
// user's home, this user's) with its reason, and a product's own beside it,
// which goes. Deleting, weakening or shadowing a row fails here.
TEST_F(PathSafety, EveryRowRefusesItsFolderAndLetsAProductsOwnBesideItGo) {
  const char *shared = "is a shared folder", *standard = "is a standard folder of a home folder",
             *volume = "is a volume root", *home = "is a home folder",
             *plugIns = "is a shared plug-in folder",
             *trash = "is the Trash, holds it or lies in it",
             *topTrash = "is a top-directory trash, holds it or lies in it", *goes = nullptr;
  const std::pair<const char*, const char*> cases[] = {
      {"/", "is the root folder"}, {"/opt", "is a folder directly under the root folder"}, {"/opt/TAVO Player", goes},
      {"/Volumes/Sample Drive", volume}, {"/Volumes/Sample Drive/TAVO Library", goes},
      {"/media/usb", volume}, {"/media/usb/Samples", goes}, {"/mnt/data", volume}, {"/mnt/data/Samples", goes},
      {"/Users/Shared", shared}, {"/Users/Shared/TAVO", goes},
      {"/Users/someone", home}, {"/home/someone", home}, {"/home/someone/TAVO Library", goes},
      {"/usr/bin", shared}, {"/usr/bin/tavo-scan", goes}, {"/usr/lib", shared}, {"/usr/lib/tavo", goes},
      {"/usr/share", shared}, {"/usr/share/tavo", goes}, {"/usr/local", shared}, {"/usr/local/tavo", goes},
      {"/usr/local/bin", shared}, {"/usr/local/bin/tavo", goes},
      {"/usr/local/lib", shared}, {"/usr/local/lib/tavo", goes},
      {"/usr/local/share", shared}, {"/usr/local/share/tavo", goes}, {"/var/db", shared}, {"/var/db/tavo", goes},
      {"/var/db/receipts", shared}, {"/var/db/receipts/com.tavo.pkg.bom", goes},
      // Under "/" a one-name folder is refused first as what lies directly there.
      {"$H/Library", shared}, {"/Users/someone/Library", shared}, {"/Library/TAVO", goes},
      {"/Library/Application Support", shared}, {"/home/someone/Library/Application Support", shared},
      {"/Library/Application Support/TAVO", goes},
      {"/Library/Preferences", shared}, {"/Users/someone/Library/Preferences", shared},
      {"/Library/Preferences/com.Korvelin.TAVO.plist", goes},
      {"/Library/Preferences/ByHost", shared}, {"/home/someone/Library/Preferences/ByHost", shared},
      {"/Library/Preferences/ByHost/com.tavo.plist", goes},
      {"/Library/Preferences/Network", shared}, {"/Users/someone/Library/Preferences/Network", shared},
      {"/Library/Preferences/Network/tavo", goes},
      {"/Library/Caches", shared}, {"/home/someone/Library/Caches", shared}, {"/Library/Caches/tavo", goes},
      {"/Library/Audio", shared}, {"/Users/someone/Library/Audio", shared}, {"/Library/Audio/TAVO", goes},
      {"/Library/Audio/Plug-Ins", shared}, {"/home/someone/Library/Audio/Plug-Ins", shared},
      {"/Library/Audio/Plug-Ins/VST3", plugIns}, {"/Users/someone/Library/Audio/Plug-Ins/Components", plugIns},
      {"/Library/Audio/Plug-Ins/VST3/TAVO.vst3", goes},
      {"/Library/Frameworks", shared}, {"/home/someone/Library/Frameworks", shared},
      {"/Library/Frameworks/TAVO.framework", goes},
      {"/Library/LaunchAgents", shared}, {"/Users/someone/Library/LaunchAgents", shared},
      {"/Library/LaunchAgents/com.tavo.agent.plist", goes},
      {"/Library/LaunchDaemons", shared}, {"/home/someone/Library/LaunchDaemons", shared},
      {"/Library/LaunchDaemons/com.tavo.helper.plist", goes},
      {"/Library/Receipts", shared}, {"/Users/someone/Library/Receipts", shared},
      {"/Library/Receipts/tavo.pkg", goes},
      {"$H", "is the home folder or holds it"}, {"$D/home", "is the home folder or holds it"},
      {"$H/TAVO Library", goes}, {"/home/someone/Documents", standard}, {"$H/Documents/TAVO Projects", goes},
      {"/Users/someone/Desktop", standard}, {"$H/Desktop/TAVO Player", goes},
      {"/home/someone/Downloads", standard}, {"$H/Downloads/TAVO Installer", goes},
      {"/Users/someone/Music", standard}, {"$H/Music/TAVO", goes},
      {"/home/someone/Movies", standard}, {"$H/Movies/TAVO", goes},
      {"/Users/someone/Videos", standard}, {"$H/Videos/TAVO", goes},
      {"/home/someone/Pictures", standard}, {"$H/Pictures/TAVO", goes},
      {"/Users/someone/Public", standard}, {"$H/Public/TAVO", goes},
      {"/home/someone/Templates", standard}, {"$H/Templates/TAVO", goes},
      {"/Users/someone/.local", standard}, {"$H/.local/tavo", goes},
      {"/home/someone/.local/share", standard}, {"$H/.local/share/tavo", goes},
      {"/Users/someone/.config", standard}, {"$H/.config/tavo", goes},
      {"/home/someone/.cache", standard}, {"$H/.cache/tavo", goes},
      {"$T", trash}, {"$T/files/old", trash}, {"$T/info/old.trashinfo", trash}, {"$T-old", goes},
      {"/srv/Sample Drive", "is a mount point"}, {"/srv/Sample Drive/TAVO Library", goes},
      {"/srv/Sample Drive/.Trash", topTrash}, {"/srv/Sample Drive/.Trash/1000/files/x", topTrash},
      {"/srv/Sample Drive/.Trashes", goes},
      {"/srv/Sample Drive/.Trash-1000", topTrash}, {"/srv/Sample Drive/.Trash-0/info/x.trashinfo", topTrash},
      {"/srv/Sample Drive/.Trash-", goes}, {"/srv/Sample Drive/.Trash-1000x", goes},
      {"/srv/Sample Drive/Library/.Trash-1000", goes},
      // what only looks like a kept folder, and links, which go as links
      {"/Applications/TAVO Player.app/", goes}, {"/Library/Application Supporting", goes},
      {"$H/Documents2", goes}, {"$H/Trash", goes}, {"$D/products/Foo/", goes},
      {"$D/products/missing/deeper", goes}, {"$D/links/root", goes}, {"$D/links/home/", goes},
      {"$D/links/trash", goes},
  };
  const SafetyCheck check({home_, trash_}, {"/srv/Sample Drive"});
  for (auto [path, reason] : cases) {
    EXPECT_EQ(check.refusal(expand(path)), reason ? std::optional<std::string>(reason) : std::nullopt)
        << path;
  }
}

// One list line may be megabytes long: it is checked in linear time, where
// resolving each prefix took half a minute for 64,000 components.
TEST_F(PathSafety, APathOfManyComponentsIsCheckedInLinearTime) {
  std::string deep = dir_ / "products";
  for (int i = 0; i < 64000; ++i) deep += "/a";
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(SafetyCheck({home_, trash_}).refusal(deep), std::nullopt);
  EXPECT_EQ(resolveParents(deep), deep);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

TEST_F(PathSafety, RefusesMalformedPathsAndWhatLinksAmongTheParentsLeadTo) {
  const std::string paths[] = {
      // malformed
      "", "relative/x", "~/Documents", "/a/./b", "/a/../b", "/a/b/..", "/a/b/.", "/a\nb", "/a\0b"s,
      // other spellings of the root and what lies directly under it
      "//", "/Applications/", "//Library//", "/Library//Preferences", "$H//", "$D", "$D/home",
      "$T/", "$T/files/old", "$T/info/old.trashinfo",
      // reached through links among the parent folders
      "$D/links/root/etc", "$D/links/root/Library/Audio/Plug-Ins/VST", "$D/links/root$H",
      "$D/links/root$D", "$D/links/home/Documents", "$D/links/home/.local", "$D/links/loop/x",
      "$D/links/trash/files/x", "$D/links/home/.local/share/Trash/files/x", "$D/linkedhome/Music",
  };
  for (const std::string& path : paths) EXPECT_TRUE(refused(path, {home_, trash_})) << path;
}

TEST_F(PathSafety, ProtectsTheHomeUnderEverySpellingAndRefusesAllWithoutAValidContext) {
  const SafetyContext linked{dir_ / "linkedhome", trash_};
  for (const char* path : {"$H", "$H/Documents", "$D/linkedhome", "$D/linkedhome/Desktop"}) {
    EXPECT_TRUE(refused(path, linked)) << path;
  }
  for (const SafetyContext& bad : {SafetyContext{"", trash_}, {home_, ""},
                                         {"relative", trash_}, {home_, "/a/../b"}}) {
    EXPECT_TRUE(refused("$D/products/Foo", bad)) << bad.home << " " << bad.trash;
  }
}

TEST_F(PathSafety, ResolvesParentsButNotTheLastComponent) {
  const std::pair<const char*, const char*> cases[] = {
      {"$D/links/root/etc", "/etc"}, {"/", "/"}, {"$D/links/home", "$D/links/home"},
      {"$D/links/home/", "$D/links/home"}, {"$D//links///home/Music", "$H/Music"},
      {"$D/products/missing/deeper", "$D/products/missing/deeper"}};
  for (auto [path, resolved] : cases) {
    EXPECT_EQ(resolveParents(expand(path)), expand(resolved)) << path;
  }
  for (const char* bad : {"", "relative", "/a/../b", "$D/links/loop/x"}) {
    EXPECT_FALSE(resolveParents(expand(bad)).has_value()) << bad;
  }
}

}  // namespace
}  // namespace tavo::testing
