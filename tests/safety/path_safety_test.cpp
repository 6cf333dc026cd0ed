#include "safety/path_safety.h"

#include <gtest/gtest.h>

#include <chrono>

#include "base/path.h"
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

// Every row, under each base it is reckoned from, refuses its own folder with
// its own reason and lets a product's folder inside it go (beside it, for the
// Trash, whose inside is refused too): deleting a row, or shadowing it with
// an earlier one, fails here.
TEST_F(PathSafety, EveryRowRefusesItsFolderAndLetsAProductInsideGo) {
  using Base = SafetyRule::Base;
  const std::vector<std::string> homes{home_, "/Users/someone", "/home/someone"};
  const std::string drive = "/srv/Sample Drive";
  const SafetyCheck check({home_, trash_}, {drive});
  auto basesOf = [&](Base base) -> std::vector<std::string> {
    switch (base) {
      case Base::Root: return {"/"};
      case Base::Homes: return homes;
      case Base::RootOrHome: return {"/", home_, "/Users/someone", "/home/someone"};
      case Base::UserHome: return {home_};
      case Base::Trash: return {trash_};
      case Base::Mounts: return {drive};
    }
    return {};
  };
  for (const SafetyRule& rule : safetyRules()) {
    std::string folder = rule.folder;
    for (std::size_t at; (at = folder.find('*')) != std::string::npos;) folder.replace(at, 1, "any");
    for (std::size_t at; (at = folder.find('#')) != std::string::npos;) folder.replace(at, 1, "1000");
    for (const std::string& base : basesOf(rule.base)) {
      const std::string refused = folder.empty() ? base : joinPath(base, folder);
      // Under "/" a folder of one name is refused first as what it also is.
      const bool underRoot = base == "/" && splitPath(folder).size() == 1 && rule.folder[0] != '*';
      EXPECT_EQ(check.refusal(refused),
                underRoot ? "is a folder directly under the root folder" : std::string(rule.reason))
          << refused;
      const std::string allowed = rule.match == SafetyRule::Match::SelfAncestorOrIn
                                      ? refused + "-old"
                                      : joinPath(refused, "Vendor/TAVO Product");
      EXPECT_EQ(check.refusal(allowed), std::nullopt) << allowed;
    }
  }
}

TEST_F(PathSafety, ProtectsEveryFilesystemsTrashesButNotWhatOnlyLooksLikeThem) {
  const SafetyCheck check({home_, trash_}, {"/srv/drive"});
  for (const char* path : {"/srv/drive/.Trash/1000/files/x", "/srv/drive/.Trash-0/info/x.trashinfo",
                           "/srv/drive/.Trash-1000"}) {
    EXPECT_TRUE(check.refusal(path).has_value()) << path;
  }
  for (const char* path : {"/srv/drive/.Trashes", "/srv/drive/.Trash-", "/srv/drive/.Trash-1000x",
                           "/srv/drive/Library/.Trash-1000"}) {
    EXPECT_EQ(check.refusal(path), std::nullopt) << path;
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

TEST_F(PathSafety, LetsAProductsOwnGo) {
  const std::string paths[] = {
      "/Applications/TAVO Player.app", "/Applications/TAVO Player.app/",
      "/Library/Preferences/com.Korvelin.TAVO.plist", "/Library/Application Supporting",
      "$H/Documents2", "$H/Trash", "$D/products/Foo", "$D/products/Foo/",
      "$D/products/missing/deeper",
      // a link goes as a link: its target is not touched
      "$D/links/root", "$D/links/home", "$D/links/home/", "$D/links/trash",
  };
  for (const std::string& path : paths) {
    std::optional<std::string> why = SafetyCheck({home_, trash_}).refusal(expand(path));
    EXPECT_FALSE(why.has_value()) << path << ": " << why.value_or("");
  }
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
