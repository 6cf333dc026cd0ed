// tavo-uninstall run as root for real, as an administrator over SSH would:
// the shipped sweeper, pkgutil and keyscrub on the machine's own places.
// Only inside the throwaway root, whose machine is a disposable copy.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <tuple>

#include "tests/support/prefs_fixture.h"
#include "tests/support/test_machine.h"
#include "tests/support/throwaway_root.h"
#include "tests/support/tool_run.h"

namespace tavo::testing {
namespace {

namespace fs = std::filesystem;

const std::string kReceipt = "/var/db/receipts/com.t.pkg.Harp.plist";
const std::string kAnyUserPrefs = "/Library/Preferences/com.t.P.plist";

/// The programs laid out as an installed bundle at `app`, root's, with the
/// description `description`; the path of its tavo-uninstall.
std::string installBundle(const std::string& app, const std::string& description) {
  for (const auto& [from, to] : {std::pair{TAVO_UNINSTALL, "Contents/MacOS/tavo-uninstall"},
                                 {TAVO_PKGUTIL, "Contents/MacOS/pkgutil"},
                                 {TAVO_SWEEPER, "Contents/Resources/sweeper"},
                                 {TAVO_KEYSCRUB, "Contents/Resources/keyscrub"}}) {
    fs::create_directories(fs::path(app + "/" + to).parent_path());
    fs::copy_file(from, app + "/" + to);
  }
  writeFile(app + "/Contents/Resources/Products/p.txt", description);
  return app + "/Contents/MacOS/tavo-uninstall";
}

/// Banks of the player's shape, one per name; none of their paths names the product.
PlistDict banks(const Strings& names) {
  PlistDict found;
  for (const std::string& name : names) found.set(name, PlistValue(dict({{"bank_path", "/none"}})));
  return dict({{"Banks", PlistValue(found)}});
}

// For other accounts: alice holds the product in her home and on a second
// drive, bob in his home, eve nowhere; the machine holds a receipt and a
// value for all users, and root a library of its own.
class ForAccounts : public ::testing::Test {
 protected:
  void SetUp() override {
    TAVO_REQUIRE_THROWAWAY_ROOT();
    ASSERT_TRUE(users.emplace().made()) << "useradd failed";
    if (!drive.emplace(users->dir / "drive", "mode=1777").mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
    // Root's in a folder of root's alone, as a build of the administrator's would be.
    const std::string description =
        "Glass Harp\nK\n-\n~/Harp Library\n~/Library/Preferences/com.t.P.plist$_path(harp_dir)$\n"
        "$_pkg(com.t.pkg.Harp)$\n~/Library/Preferences/com.t.P.plist$_var(Banks/Glass Harp)$\n-\n";
    program = installBundle(rootsTree.emplace(rootsHome()) / "T.app", description);
    usersProgram = installBundle(users->dir / "T.app", description);
    writeFile(rootsHome() + "/Harp Library/r.wav", "r");
  }
  void TearDown() override {
    if (users) fs::remove_all(rootsHome() + "/Harp Library");
  }

  void layOut() {
    for (const TestUser* user : {&alice(), &bob(), &eve()}) {
      fs::remove_all(user->home);
      writeFile(user->home + "/notes.txt", "n");
    }
    fs::remove_all(*drive / ".Trash-" + std::to_string(alice().uid));
    writeFile(alice().home + "/Harp Library/a.wav", "a");
    writeFile(*drive / "alice/Harp/x.wav", "x");
    writeFile(bob().home + "/Harp Library/b.wav", "b");
    PlistDict hers = banks({"Glass Harp", "Iron Drums"});
    hers.set("harp_dir", *drive / "alice/Harp");
    for (const auto& [user, prefs] : {std::pair{&alice(), hers}, {&bob(), banks({"Glass Harp"})}}) {
      fs::create_directories(user->home + "/Library/Preferences");
      ASSERT_TRUE(writePlistFile(prefsOf(*user), prefs, PlistFormat::Binary));
      ::chmod(prefsOf(*user).c_str(), 0640);
    }
    for (const auto& [path, user] : {std::pair{alice().home, &alice()}, {*drive / "alice", &alice()},
                                     {bob().home, &bob()}, {eve().home, &eve()}}) {
      ASSERT_EQ(::lchown(path.c_str(), user->uid, user->gid), 0);
      for (const auto& entry : fs::recursive_directory_iterator(path))
        ASSERT_EQ(::lchown(entry.path().c_str(), user->uid, user->gid), 0);
    }
    writeFile(kReceipt, "<plist/>");
    fs::create_directories("/Library/Preferences");
    ASSERT_TRUE(writePlistFile(kAnyUserPrefs, banks({"Glass Harp", "Iron Drums"}), PlistFormat::Xml));
  }
  /// Each account's places and the machine's: alice, bob, eve, root, the drive, receipts, preferences.
  std::map<char, Tree> state() const {
    return {{'a', treeOf(alice().home)}, {'b', treeOf(bob().home)}, {'e', treeOf(eve().home)},
            {'r', treeOf(rootsHome() + "/Harp Library")}, {'v', treeOf(drive->path())},
            {'m', treeOf("/var/db/receipts")}, {'p', treeOf("/Library/Preferences")}};
  }
  ToolRun run(const Strings& args, const TestUser* as = nullptr) {
    Strings argv{as ? usersProgram : program};
    argv.insert(argv.end(), args.begin(), args.end());
    // Root's own data folders must name none of the users' places.
    return as ? runArgv(asUser(*as, argv), userEnvironment(*as))
              : runArgv(argv, {"HOME=" + rootsHome(), "PATH=/usr/bin:/bin", "XDG_RUNTIME_DIR=" + users->dir.path(),
                               "XDG_DATA_HOME=" + rootsHome() + "/xdg-data"});
  }
  const TestUser& alice() const { return *users->alice; }
  const TestUser& bob() const { return *users->bob; }
  const TestUser& eve() const { return *users->eve; }
  static std::string prefsOf(const TestUser& user) { return user.home + "/Library/Preferences/com.t.P.plist"; }
  static std::string trashOf(const TestUser& user) { return user.home + "/.local/share/Trash"; }

  // Made only inside the throwaway root: they add users and mount.
  std::optional<Users> users;
  std::optional<Volume> drive;
  std::optional<TempDir> rootsTree;
  std::string program, usersProgram;
};

TEST_F(ForAccounts, EachUserLosesTheirOwnTracesAndTheMachineItsOnce) {
  struct Case { const char* what; Strings args; const TestUser* as; int status; std::string changes; };
  const Case cases[] = {
      {"every account", {"Glass Harp", "--all-users", "--yes", "--json"}, nullptr, 0, "abvmp"},
      {"one account", {"Glass Harp", "--user", "tavo-bob", "--yes"}, nullptr, 0, "bmp"},
      {"a plain user naming another", {"Glass Harp", "--user", "tavo-bob", "--yes"}, &alice(), 2, ""},
      {"a plain user asking for all", {"Glass Harp", "--all-users", "--yes"}, &alice(), 2, ""},
      {"a dry run", {"Glass Harp", "--all-users", "--dry-run", "--json"}, nullptr, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    layOut();
    const std::map<char, Tree> before = state();
    const ToolRun done = run(c.args, c.as);
    EXPECT_EQ(done.status, c.status) << done.out << done.err;
    const std::map<char, Tree> after = state();
    for (const auto& [place, tree] : before)
      EXPECT_EQ(tree != after.at(place), c.changes.find(place) != std::string::npos) << place;
    EXPECT_EQ(done.err.find("ConfigPath"), std::string::npos) << done.err;  // log lines go to the system log
    const std::string refusal = "tavo-uninstall: " + c.args[1] + (c.args[1] == "--user" ? " tavo-bob" : "") + " needs root\n";
    EXPECT_EQ(done.err == refusal, c.as != nullptr) << done.err;
  }
  EXPECT_NE(run({"Glass Harp", "--all-users", "--dry-run"}).out.find("  would move: " + *drive / "alice/Harp\n"),
            std::string::npos);
  // Then what went where, after a removal for every account.
  layOut();
  const ToolRun done = run(cases[0].args);
  const std::string uid = std::to_string(alice().uid);
  EXPECT_EQ(readFile(trashOf(alice()) + "/files/Harp Library/a.wav"), "a");
  EXPECT_EQ(statOf(trashOf(alice()) + "/files/Harp Library").st_uid, alice().uid);
  EXPECT_NE(readFile(trashOf(alice()) + "/info/Harp Library.trashinfo").find("\nPath=" + alice().home + "/Harp%20Library\n"),
            std::string::npos);
  EXPECT_EQ(readFile(*drive / ".Trash-" + uid + "/files/Harp/x.wav"), "x");
  EXPECT_EQ(namesIn(trashOf(bob()) + "/files"), Strings{"Harp Library"});
  EXPECT_EQ(banksIn(prefsOf(alice())) + ";" + banksIn(prefsOf(bob())) + ";" + banksIn(kAnyUserPrefs),
            "Iron Drums;;Iron Drums");
  for (const TestUser* user : {&alice(), &bob()}) {
    EXPECT_EQ(statOf(prefsOf(*user)).st_uid, user->uid);
    EXPECT_EQ(statOf(prefsOf(*user)).st_mode & 07777, 0640u);
  }
  EXPECT_NE(done.out.find("{\"name\": \"tavo-eve\", \"home\": \"" + eve().home + "\", \"products\": []}"),
            std::string::npos) << done.out;
  EXPECT_NE(done.out.find("\"machine\": {\"removed\": true, \"forgotten\": [\"com.t.pkg.Harp\"], "
                          "\"deleted\": [\"com.t.P::Banks/Glass Harp\"], \"failed\": []}}\n"),
            std::string::npos) << done.out;
  EXPECT_FALSE(exists(rootsHome() + "/xdg-data"));
}

// Links alice plants lead root nowhere: her preferences into a folder of
// root's, her Trash into bob's.
TEST_F(ForAccounts, LinksInAUsersHomeLeadNowhereElse) {
  layOut();
  const std::string secret = users->dir.mkdirs("secret");
  ASSERT_TRUE(writePlistFile(secret + "/com.t.P.plist", banks({"Glass Harp"}), PlistFormat::Xml));
  ::chmod(secret.c_str(), 0700);
  fs::remove_all(alice().home + "/Library/Preferences");
  fs::create_directory_symlink(secret, alice().home + "/Library/Preferences");
  Users::own(bob().home + "/.local", bob());
  fs::create_directory_symlink(bob().home + "/.local", alice().home + "/.local");
  const ToolRun done = run({"Glass Harp", "--all-users", "--yes"});
  EXPECT_EQ(done.status, 1);
  // Acting for her, not for whoever owns where her data folders lead: no record, so nothing moves.
  EXPECT_NE(done.out.find("failed: removal record: cannot open " + alice().home + "/.local/share/"), std::string::npos)
      << done.out;
  EXPECT_EQ(banksIn(secret + "/com.t.P.plist"), "Glass Harp");
  EXPECT_EQ(namesIn(trashOf(bob()) + "/files"), Strings{"Harp Library"});
  EXPECT_TRUE(exists(alice().home + "/Harp Library/a.wav"));
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

// An administrator removes a plain user's library from their home and undoes
// it: the record is the user's, and sweeper puts back for them what they
// could put back themselves. What the Trash or the record no longer backs
// stays, each named, and the rest comes back all the same.
TEST(TavoUninstallAsRoot, AnUndoPutsBackTheWholeRemovalOrNamesWhatItCannot) {
  TAVO_REQUIRE_THROWAWAY_ROOT();
  std::optional<TestUser> user = makeUser("tavo-undo", "/home/tavo-undo");
  ASSERT_TRUE(user) << "useradd failed";
  TempDir tree(rootsHome());
  const std::string home = user->home, trash = home + "/.local/share/Trash/files/";
  const std::string records = home + "/.local/share/TAVO_Uninstaller/removals";
  const std::string uninstall = installBundle(tree / "T.app",
      "Glass Harp\nK\n-\n~/Harp Library\n~/Harp Read Me.rtf\n~/Harp Extras\n$_pkg(com.t.pkg.Harp)$\n"
      "~/Library/Preferences/com.t.P.plist$_var(Banks/Glass Harp)$\n-\n");
  const std::string userPrefs = home + "/Library/Preferences/com.t.P.plist", anyPrefs = kAnyUserPrefs;
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
    const Strings env = {"HOME=" + rootsHome(), "PATH=/usr/bin:/bin"};
    ASSERT_EQ(runTool(uninstall, {"Glass Harp", "--yes", "--user", user->name}, env).status, 0);
    row.meddle();
    ToolRun undo = runTool(uninstall, {"--undo", "--yes", "--user", user->name}, env);
    EXPECT_EQ(undo.status, row.status) << undo.out << undo.err;
    for (const std::string& line : row.named) EXPECT_NE(undo.out.find(line), std::string::npos) << line << "\n" << undo.out;
    EXPECT_EQ(readFile(receipt + ".plist") + readFile(receipt + ".bom"), "<plist/>Library/Harp\n");
    EXPECT_EQ(readPlistFile(userPrefs).dict, banks);
    EXPECT_EQ(readPlistFile(anyPrefs).dict, banks);
    EXPECT_FALSE(exists("/etc/Harp Library"));
    if (!row.named.empty()) {  // the new folder in the place of one stays as it was
      if (exists(home + "/Harp Extras/new")) {
        EXPECT_EQ(entriesOf(home + "/Harp Extras"), std::set<std::string>{"new"});
      }
      continue;
    }
    EXPECT_EQ(snapshot(home + "/Harp Library"), before);
    // Undone once: the record says so, and a second undo of it changes nothing.
    ToolRun history = runTool(uninstall, {"--history", "--json", "--user", user->name}, env);
    std::smatch id;
    ASSERT_TRUE(std::regex_search(history.out, id, std::regex("\"id\": \"([^\"]+)\".*\"undone\": \"")));
    const struct stat st = statOf(records + "/" + id[1].str() + ".plist");
    EXPECT_EQ(st.st_uid, user->uid);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    ToolRun again = runTool(uninstall, {"--undo", id[1], "--yes", "--user", user->name}, env);
    EXPECT_EQ(again.status, 1);
    EXPECT_NE(again.err.find("this removal was undone on "), std::string::npos) << again.err;
    EXPECT_EQ(snapshot(home + "/Harp Library"), before);
  }
}

}  // namespace
}  // namespace tavo::testing
