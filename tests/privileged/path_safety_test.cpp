#include "privileged/path_safety.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

using namespace std::string_literals;

namespace {

// A home folder and its Trash in a temporary folder $D, with links to "/",
// to the home folder ($H) and to the Trash ($T) among the parent folders.
class PathSafety : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tavo-safety-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    home_ = dir_ + "/home/u";
    trash_ = home_ + "/.local/share/Trash";
    std::filesystem::create_directories(trash_ + "/files");
    std::filesystem::create_directories(dir_ + "/links");
    std::filesystem::create_directories(dir_ + "/products/Foo");
    std::filesystem::create_symlink("/", dir_ + "/links/root");
    std::filesystem::create_symlink(home_, dir_ + "/links/home");
    std::filesystem::create_symlink(trash_, dir_ + "/links/trash");
    std::filesystem::create_symlink("loop", dir_ + "/links/loop");
    std::filesystem::create_symlink(home_, dir_ + "/linkedhome");
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string expand(std::string path) const {
    for (auto [key, value] : {std::pair{"$H"s, home_}, {"$T"s, trash_}, {"$D"s, dir_}}) {
      for (std::size_t at; (at = path.find(key)) != std::string::npos;) path.replace(at, 2, value);
    }
    return path;
  }
  tavo::SafetyContext context() const { return {home_, trash_}; }

  std::string dir_, home_, trash_;
};

TEST_F(PathSafety, RefusesWhatNoRemovalMayTouch) {
  const std::string refused[] = {
      // malformed
      "", "relative/x", "~/Documents", "/a/./b", "/a/../b", "/a/b/..", "/a/b/.", "/a\nb", "/a\0b"s,
      // the root and what lies directly under it, whatever its kind or spelling
      "/", "//", "///", "/Applications", "/Applications/", "//Library//", "/usr", "/bin", "/lib",
      "/sbin", "/tmp", "/home", "/Users", "/Volumes", "/etc",
      // shared folders, volume roots and home folders
      "/Library/Application Support", "/Library/Application Support/", "/Library//Preferences",
      "/Library/Caches", "/Library/Audio", "/Library/Audio/Plug-Ins",
      "/Library/Audio/Plug-Ins/Components", "/Library/Audio/Plug-Ins/VST",
      "/Library/Audio/Plug-Ins/VST3", "/Library/Audio/Plug-Ins/HAL", "/Library/Frameworks",
      "/Library/LaunchAgents", "/Library/LaunchDaemons", "/Library/Receipts", "/Users/Shared",
      "/Users/alice", "/home/bob", "/home/bob/", "/Volumes/Backup", "/var/db/receipts",
      "/home/bob/Documents", "/Users/alice/Library/Preferences",
      // the user's home folder, what holds it and its standard folders
      "$H", "$H/", "$H//", "$D", "$D/home", "$H/Library", "$H/Library/Application Support",
      "$H/Library/Preferences", "$H/Library/Caches", "$H/Library/Audio/Plug-Ins/VST3",
      "$H/Documents", "$H/Desktop", "$H/Downloads", "$H/Music", "$H/Movies", "$H/Pictures",
      "$H/Public", "$H/.local", "$H/.local/share", "$H/.config", "$H/.cache",
      // the Trash and everything in it
      "$T", "$T/", "$T/files", "$T/files/old", "$T/info/old.trashinfo",
      // the same reached through links among the parent folders
      "$D/links/root/etc", "$D/links/root/Library/Audio/Plug-Ins/VST", "$D/links/root$H",
      "$D/links/root$D", "$D/links/home/Documents", "$D/links/home/.local",
      "$D/links/trash/files/x", "$D/links/home/.local/share/Trash/files/x", "$D/linkedhome/Music",
      "$D/links/loop/x",
  };
  for (const std::string& path : refused) {
    EXPECT_TRUE(tavo::refusalReason(expand(path), context()).has_value()) << path;
  }
}

TEST_F(PathSafety, LetsAProductsOwnGo) {
  const std::string allowed[] = {
      "/Applications/TAVO Player.app", "/Applications/TAVO Player.app/",
      "/Library/Application Support/Korvelin/TAVO Player",
      "/Library/Audio/Plug-Ins/VST3/TAVO.vst3", "/Library/Preferences/com.Korvelin.TAVO.plist",
      "/Library/Application Supporting", "/Users/Shared/TAVO", "/usr/local/share/tavo",
      "$H/Library/Application Support/Korvelin", "$H/Documents/TAVO Library", "$H/Music/TAVO",
      "$H/Documents2", "$H/.local/share/tavo", "$H/.local/share/Trash-old", "$H/Trash",
      "$D/products/Foo", "$D/products/Foo/", "$D/products/missing/deeper",
      // a link goes as a link: its target is not touched
      "$D/links/root", "$D/links/home", "$D/links/home/", "$D/links/trash",
  };
  for (const std::string& path : allowed) {
    std::optional<std::string> why = tavo::refusalReason(expand(path), context());
    EXPECT_FALSE(why.has_value()) << path << ": " << why.value_or("");
  }
}

TEST_F(PathSafety, ProtectsTheHomeFolderUnderEverySpelling) {
  const tavo::SafetyContext linked{dir_ + "/linkedhome", trash_};
  for (const char* path : {"$H", "$H/Documents", "$D/linkedhome", "$D/linkedhome/Desktop"}) {
    EXPECT_TRUE(tavo::refusalReason(expand(path), linked).has_value()) << path;
  }
}

TEST_F(PathSafety, RefusesEverythingWithoutAValidContext) {
  for (const tavo::SafetyContext& bad : {tavo::SafetyContext{"", trash_}, {home_, ""},
                                         {"relative", trash_}, {home_, "/a/../b"}}) {
    EXPECT_TRUE(tavo::refusalReason(expand("$D/products/Foo"), bad).has_value());
  }
}

TEST_F(PathSafety, ResolvesParentsButNotTheLastComponent) {
  const std::pair<std::string, std::string> cases[] = {
      {"$D/links/root/etc", "/etc"},
      {"$D/links/home", "$D/links/home"},
      {"$D/links/home/", "$D/links/home"},
      {"$D//links///home/Music", "$H/Music"},
      {"$D/products/missing/deeper", "$D/products/missing/deeper"},
      {"/", "/"},
  };
  for (const auto& [path, resolved] : cases) {
    EXPECT_EQ(tavo::resolveParents(expand(path)), expand(resolved)) << path;
  }
  for (const char* bad : {"", "relative", "/a/../b", "$D/links/loop/x"}) {
    EXPECT_FALSE(tavo::resolveParents(expand(bad)).has_value()) << bad;
  }
}

}  // namespace
