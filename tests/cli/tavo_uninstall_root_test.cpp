// tavo-uninstall run as root for real, as an administrator over SSH would:
// the shipped sweeper, pkgutil and keyscrub on the machine's own places.
// Only inside the throwaway root, whose machine is a disposable copy.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <tuple>

#include "tests/support/prefs_fixture.h"
#include "tests/support/test_user.h"
#include "tests/support/throwaway_root.h"
#include "tests/support/tool_run.h"

namespace tavo::testing {
namespace {

namespace fs = std::filesystem;

/// The built tools copied into `bundle`, as the package lays them out.
void layBundle(const std::string& bundle) {
  for (const auto& [from, to] : {std::pair{TAVO_UNINSTALL, "Contents/MacOS/tavo-uninstall"},
                                 {TAVO_PKGUTIL, "Contents/MacOS/pkgutil"},
                                 {TAVO_SWEEPER, "Contents/Resources/sweeper"},
                                 {TAVO_KEYSCRUB, "Contents/Resources/keyscrub"}}) {
    fs::create_directories(fs::path(bundle + "/" + to).parent_path());
    fs::copy_file(from, bundle + "/" + to);
  }
}

TEST(TavoUninstallAsRoot, RemovesAProductEverywhereAndReportsIt) {
  TAVO_REQUIRE_THROWAWAY_ROOT();
  TempDir tree(rootsHome());
  const std::string home = tree.mkdirs("home"), bundle = tree / "T.app";
  layBundle(bundle);
  // As the package installs it: root's, in root's folders; no removal writes it.
  const std::string packaged = tree.write("T.app/Contents/Resources/listPath.txt", "as shipped\n");
  tree.write("T.app/Contents/Resources/Products/p.txt",
             "Glass Harp\nK\n-\n~/Harp Library\n$_pkg(com.t.pkg.Harp)$\n"
             "~/Library/Preferences/com.t.P.plist$_var(Banks/Glass Harp)$\n-\n"
             "Iron Drums\nK\n-\n~/Drums\n-\n");
  tree.write("home/Harp Library/Samples/a.wav", "a");
  tree.write("home/Drums/d.wav", "d");
  writeFile("/var/db/receipts/com.t.pkg.Harp.plist", "<plist/>");
  const PlistDict bank = dict({{"bank_path", home + "/Harp Library"}});
  const PlistDict banks = dict({{"Banks", dict({{"Glass Harp", bank}, {"Iron Drums", bank}})}});
  fs::create_directories(home + "/Library/Preferences");
  fs::create_directories("/Library/Preferences");
  ASSERT_TRUE(writePlistFile(home + "/Library/Preferences/com.t.P.plist", banks, PlistFormat::Binary));
  ASSERT_TRUE(writePlistFile("/Library/Preferences/com.t.P.plist", banks, PlistFormat::Xml));

  ToolRun run = runTool(bundle + "/Contents/MacOS/tavo-uninstall", {"Glass Harp", "--yes", "--json"},
                        {"HOME=" + home, "PATH=/usr/bin:/bin"});
  EXPECT_EQ(run.status, 0) << run.err;
  const std::string trash = home + "/.local/share/Trash";
  EXPECT_EQ(run.out.rfind("{\"removals\": [{\"name\": \"Glass Harp\", \"vendor\": \"K\", "
                          "\"removed\": true, \"moved\": [\"" + home + "/Harp Library\"], "
                          "\"forgotten\": [\"com.t.pkg.Harp\"], "
                          "\"deleted\": [\"com.t.P::Banks/Glass Harp\"], \"kept\": []}]}",
                          0),
            0u)
      << run.out;
  EXPECT_EQ(readFile(trash + "/files/Harp Library/Samples/a.wav"), "a");
  EXPECT_FALSE(exists(home + "/Harp Library"));
  EXPECT_FALSE(exists("/var/db/receipts/com.t.pkg.Harp.plist"));
  EXPECT_EQ(banksIn(home + "/Library/Preferences/com.t.P.plist"), "Iron Drums");
  EXPECT_EQ(banksIn("/Library/Preferences/com.t.P.plist"), "Iron Drums");
  EXPECT_TRUE(exists(home + "/Drums/d.wav"));
  EXPECT_EQ(readFile(packaged), "as shipped\n");
}

/// Each entry below `root` (itself included) by its path: mode, owner, group,
/// modification time and a file's bytes.
using Snapshot = std::map<std::string, std::tuple<mode_t, uid_t, gid_t, long, std::string>>;
Snapshot snapshot(const std::string& root) {
  Snapshot out;
  auto add = [&](const std::string& path) {
    struct stat st {};
    ::lstat(path.c_str(), &st);
    out[path] = {st.st_mode, st.st_uid, st.st_gid, st.st_mtim.tv_sec * 1000000000L + st.st_mtim.tv_nsec,
                 S_ISREG(st.st_mode) ? readFile(path) : ""};
  };
  add(root);
  for (const auto& entry : fs::recursive_directory_iterator(root)) add(entry.path());
  return out;
}

// An administrator, as root, removes a plain user's library from their home
// and undoes it: the record is the user's, and sweeper puts back for them what
// they could put back themselves. What the Trash or the record no longer backs
// stays, each named, and the rest comes back all the same.
TEST(TavoUninstallAsRoot, AnUndoPutsBackTheWholeRemovalOrNamesWhatItCannot) {
  TAVO_REQUIRE_THROWAWAY_ROOT();
  std::optional<TestUser> user = makeUser("tavo-undo", "/home/tavo-undo");
  ASSERT_TRUE(user) << "useradd failed";
  TempDir tree(rootsHome());
  const std::string home = user->home, bundle = tree / "T.app", trash = home + "/.local/share/Trash/files/";
  const std::string records = home + "/.local/share/TAVO_Uninstaller/removals";
  layBundle(bundle);
  tree.write("T.app/Contents/Resources/Products/p.txt",
             "Glass Harp\nK\n-\n~/Harp Library\n~/Harp Read Me.rtf\n~/Harp Extras\n$_pkg(com.t.pkg.Harp)$\n"
             "~/Library/Preferences/com.t.P.plist$_var(Banks/Glass Harp)$\n-\n");
  const std::string userPrefs = home + "/Library/Preferences/com.t.P.plist", anyPrefs = "/Library/Preferences/com.t.P.plist";
  const std::string receipt = "/var/db/receipts/com.t.pkg.Harp";
  const PlistDict banks = dict({{"Banks", dict({{"Glass Harp", richDomain()}, {"Iron Drums", dict({{"n", 1}})}})}});
  // What meddles between the removal and the undo; the exit status and the lines naming what stayed.
  struct Row { std::function<void()> meddle; int status; std::vector<std::string> named; };
  const Row rows[] = {
      {[] {}, 0, {}},
      {[&] {
         fs::remove(trash + "Harp Read Me.rtf");
         writeFile(home + "/Harp Extras/new", "n");
       }, 1, {home + "/Harp Read Me.rtf: it is no longer in the trash", home + "/Harp Extras: its place is taken"}},
      {[&] {  // the user's record, edited to put the library into /etc
         const std::string record = records + "/" + *entriesOf(records).begin();
         PlistFile file = readPlistFile(record);
         PlistArray steps = *file.dict.find("Steps")->array();
         steps.front().dict()->set("Path", "/etc/Harp Library");
         file.dict.set("Steps", steps);
         ASSERT_TRUE(writePlistFile(record, file.dict, PlistFormat::Binary));
       }, 1, {"/etc/Harp Library: the user may not put it at /etc/Harp Library"}},
  };
  for (const Row& row : rows) {
    fs::remove_all(home);
    writeFile(home + "/Harp Library/Samples/a.wav", "a", 0640);
    writeFile(home + "/Harp Library/Samples/b.wav", "b", 0600);
    writeFile(home + "/Harp Read Me.rtf", "r");
    writeFile(home + "/Harp Extras/x", "x", 0755);
    ::chmod((home + "/Harp Library").c_str(), 0750);
    writeFile(receipt + ".plist", "<plist/>");
    writeFile(receipt + ".bom", "Library/Harp\n");
    fs::create_directories(fs::path(userPrefs).parent_path());
    fs::create_directories("/Library/Preferences");
    ASSERT_TRUE(writePlistFile(userPrefs, banks, PlistFormat::Binary) && writePlistFile(anyPrefs, banks, PlistFormat::Xml));
    ASSERT_EQ(runTool("/bin/chown", {"-R", user->name + ":", home}).status, 0);
    const Snapshot before = snapshot(home + "/Harp Library");
    const std::vector<std::string> env = {"HOME=" + home, "PATH=/usr/bin:/bin"};
    const std::string uninstall = bundle + "/Contents/MacOS/tavo-uninstall";
    ASSERT_EQ(runTool(uninstall, {"Glass Harp", "--yes"}, env).status, 0);
    row.meddle();
    ToolRun undo = runTool(uninstall, {"--undo", "--yes"}, env);
    EXPECT_EQ(undo.status, row.status) << undo.out << undo.err;
    for (const std::string& line : row.named) EXPECT_NE(undo.out.find(line), std::string::npos) << line << "\n" << undo.out;
    EXPECT_EQ(readFile(receipt + ".plist") + readFile(receipt + ".bom"), "<plist/>Library/Harp\n");
    EXPECT_EQ(readPlistFile(userPrefs).dict, banks);
    EXPECT_EQ(readPlistFile(anyPrefs).dict, banks);
    EXPECT_FALSE(exists("/etc/Harp Library"));
    if (!row.named.empty()) {  // the new folder in the place of one stays as it was
      if (exists(home + "/Harp Extras/new")) EXPECT_EQ(entriesOf(home + "/Harp Extras"), std::set<std::string>{"new"});
      continue;
    }
    EXPECT_EQ(snapshot(home + "/Harp Library"), before);
    // Undone once: the record says so, and a second undo of it changes nothing.
    ToolRun history = runTool(uninstall, {"--history", "--json"}, env);
    std::smatch id;
    ASSERT_TRUE(std::regex_search(history.out, id, std::regex("\"id\": \"([^\"]+)\".*\"undone\": \"")));
    struct stat st {};
    EXPECT_EQ(::stat((records + "/" + id[1].str() + ".plist").c_str(), &st) | (st.st_mode & 07777) ^ 0600, 0);
    EXPECT_EQ(st.st_uid, user->uid);
    ToolRun again = runTool(uninstall, {"--undo", id[1], "--yes"}, env);
    EXPECT_EQ(again.status, 1);
    EXPECT_NE(again.err.find("this removal was undone on "), std::string::npos) << again.err;
    EXPECT_EQ(snapshot(home + "/Harp Library"), before);
  }
}

}  // namespace
}  // namespace tavo::testing
