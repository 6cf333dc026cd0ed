#include "privileged/path_safety.h"

#include <gtest/gtest.h>

#include "tests/fakes/tool_process.h"

using namespace std::string_literals;

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
  bool refused(const std::string& path, const tavo::SafetyContext& context) const {
    return tavo::refusalReason(expand(path), context).has_value();
  }

  tavo::test::TempDir dir_;
  std::string home_ = dir_ / "home/u", trash_ = home_ + "/.local/share/Trash";
};

TEST_F(PathSafety, RefusesWhatNoRemovalMayTouch) {
  const std::string paths[] = {
      // malformed
      "", "relative/x", "~/Documents", "/a/./b", "/a/../b", "/a/b/..", "/a/b/.", "/a\nb", "/a\0b"s,
      // the root and what lies directly under it, whatever its kind or spelling
      "/", "//", "/Applications", "/Applications/", "//Library//", "/usr", "/tmp", "/home", "/etc",
      // shared folders, volume roots and home folders
      "/Library/Application Support/", "/Library//Preferences", "/Library/Caches", "/Library/Audio",
      "/Library/Audio/Plug-Ins", "/Library/Audio/Plug-Ins/VST3", "/Library/Frameworks",
      "/Library/LaunchAgents", "/Library/LaunchDaemons", "/Library/Receipts", "/Users/Shared",
      "/Users/alice", "/home/bob/", "/Volumes/Backup", "/var/db/receipts", "/home/bob/Documents",
      "/Users/alice/Library/Preferences",
      // the user's home folder, what holds it and its standard folders
      "$H", "$H//", "$D", "$D/home", "$H/Library", "$H/Library/Application Support",
      "$H/Library/Audio/Plug-Ins/VST3", "$H/Documents", "$H/Desktop", "$H/Downloads", "$H/Music",
      "$H/Movies", "$H/Pictures", "$H/Public", "$H/.local", "$H/.local/share", "$H/.config",
      "$H/.cache",
      // the Trash and everything in it
      "$T", "$T/", "$T/files", "$T/files/old", "$T/info/old.trashinfo",
      // the same reached through links among the parent folders
      "$D/links/root/etc", "$D/links/root/Library/Audio/Plug-Ins/VST", "$D/links/root$H",
      "$D/links/root$D", "$D/links/home/Documents", "$D/links/home/.local", "$D/links/loop/x",
      "$D/links/trash/files/x", "$D/links/home/.local/share/Trash/files/x", "$D/linkedhome/Music",
  };
  for (const std::string& path : paths) EXPECT_TRUE(refused(path, {home_, trash_})) << path;
}

TEST_F(PathSafety, LetsAProductsOwnGo) {
  const std::string paths[] = {
      "/Applications/TAVO Player.app", "/Applications/TAVO Player.app/",
      "/Library/Application Support/Korvelin/TAVO Player", "/Library/Audio/Plug-Ins/VST3/TAVO.vst3",
      "/Library/Preferences/com.Korvelin.TAVO.plist", "/Library/Application Supporting",
      "/Users/Shared/TAVO", "/usr/local/share/tavo", "$H/Library/Application Support/Korvelin",
      "$H/Documents/TAVO Library", "$H/Documents2", "$H/.local/share/tavo", "$H/Trash",
      "$H/.local/share/Trash-old", "$D/products/Foo", "$D/products/Foo/",
      "$D/products/missing/deeper",
      // a link goes as a link: its target is not touched
      "$D/links/root", "$D/links/home", "$D/links/home/", "$D/links/trash",
  };
  for (const std::string& path : paths) {
    std::optional<std::string> why = tavo::refusalReason(expand(path), {home_, trash_});
    EXPECT_FALSE(why.has_value()) << path << ": " << why.value_or("");
  }
}

TEST_F(PathSafety, ProtectsTheHomeUnderEverySpellingAndRefusesAllWithoutAValidContext) {
  const tavo::SafetyContext linked{dir_ / "linkedhome", trash_};
  for (const char* path : {"$H", "$H/Documents", "$D/linkedhome", "$D/linkedhome/Desktop"}) {
    EXPECT_TRUE(refused(path, linked)) << path;
  }
  for (const tavo::SafetyContext& bad : {tavo::SafetyContext{"", trash_}, {home_, ""},
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
    EXPECT_EQ(tavo::resolveParents(expand(path)), expand(resolved)) << path;
  }
  for (const char* bad : {"", "relative", "/a/../b", "$D/links/loop/x"}) {
    EXPECT_FALSE(tavo::resolveParents(expand(bad)).has_value()) << bad;
  }
}

}  // namespace
