// Sweeper runs as root here: every path a test hands it lies in the test's own
// folder or is missing there, so that a refusal that fails cannot touch the system.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>

#include <chrono>
#include <thread>

#include "safety/sweeper_lines.h"
#include "tests/tools/sweeper/sweeper_fixture.h"

namespace tavo::testing {
namespace {

constexpr uid_t kNobody = 65534;

// A folder at `path`, with `mode`.
bool folder(const std::string& path, mode_t mode) {
  fs::create_directories(path);
  return chmod(path.c_str(), mode) == 0;
}

// The first line of `out` that begins with `start`, decoded.
std::optional<sweeperlines::Line> decodedLine(const std::string& out, const std::string& start) {
  const std::size_t at = ("\n" + out).find("\n" + start);
  return at == std::string::npos ? std::nullopt : sweeperlines::decode(out.substr(at, out.find('\n', at) - at));
}

std::string replaceAll(std::string text, const std::string& key, const std::string& value) {
  for (std::size_t at = 0; (at = text.find(key, at)) != std::string::npos; at += value.size()) {
    text.replace(at, key.size(), value);
  }
  return text;
}

class Sweeper : public SweeperTest {
 protected:
  bool infoMatches(const std::string& name, const std::string& path) const {
    const std::regex info("\\[Trash Info\\]\nPath=" + dir_.path() + path +
                          "\nDeletionDate=\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\n");
    return std::regex_match(readFile(trash() + "/info/" + name + ".trashinfo"), info);
  }
};

// A name's control bytes and ":" come back escaped in the output line, which
// decodes to the very path.
TEST_F(Sweeper, MovesAFileAFolderAndALinkAsALinkWithTheirInfoFiles) {
  const std::string name = "my file%\x01:.txt", shown = "my file%\\x01\\x3A.txt";
  writeFile(dir_ / "src/" + name, "data");
  writeFile(dir_ / "src/folder/sub/inner", "x");
  ASSERT_EQ(symlink("/", (dir_ / "src/link").c_str()), 0);

  ToolRun run = sweep({dir_ / "src/" + name, dir_ / "src/folder", dir_ / "src/link"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "moved: " + dir_ / "src/" + shown + " -> " + trash() + "/files/" + shown + "\n" +
                         "moved: " + dir_ / "src/folder -> " + trash() + "/files/folder\n" +
                         "moved: " + dir_ / "src/link -> " + trash() + "/files/link\n");
  const std::optional<sweeperlines::Line> line = decodedLine(run.out, "moved: ");
  ASSERT_TRUE(line);
  EXPECT_EQ(line->path + " " + line->where, dir_ / "src/" + name + " " + trash() + "/files/" + name);
  EXPECT_FALSE(exists(dir_ / "src/" + name) || exists(dir_ / "src/folder") || exists(dir_ / "src/link"));
  EXPECT_EQ(readFile(trash() + "/files/" + name), "data");
  EXPECT_EQ(readFile(trash() + "/files/folder/sub/inner"), "x");
  std::error_code ec;
  EXPECT_EQ(fs::read_symlink(trash() + "/files/link", ec), "/");
  EXPECT_TRUE(infoMatches(name, "/src/my%20file%25%01%3A.txt"));
  EXPECT_TRUE(infoMatches("folder", "/src/folder") && infoMatches("link", "/src/link"));
}

TEST_F(Sweeper, NeverOverwritesAndGivesEveryItemANameOfItsOwn) {
  writeFile(trash() + "/files/a", "old item without info");
  writeFile(trash() + "/info/a.2.trashinfo", "old info without item");
  writeFile(dir_ / "x/a", "from x");
  writeFile(dir_ / "y/a", "from y");
  std::string longName = "x";
  for (int i = 0; i < 125; ++i) longName += "\xC3\xA9";  // "x" and 125 times "é"
  writeFile(dir_ / longName, "long");

  EXPECT_EQ(sweep({dir_ / "x/a", dir_ / "y/a", dir_ / longName}).status, 0);
  EXPECT_EQ(readFile(trash() + "/files/a"), "old item without info");
  EXPECT_EQ(readFile(trash() + "/info/a.2.trashinfo"), "old info without item");
  EXPECT_EQ(readFile(trash() + "/files/a.3"), "from x");
  EXPECT_EQ(readFile(trash() + "/files/a.4"), "from y");
  // A name too long for its info file is shortened, on a character boundary.
  EXPECT_EQ(readFile(trash() + "/files/" + longName.substr(0, 239)), "long");
  EXPECT_TRUE(infoMatches("a.3", "/x/a") && infoMatches("a.4", "/y/a"));
  EXPECT_TRUE(exists(trash() + "/info/" + longName.substr(0, 239) + ".trashinfo"));
  // With every name it may take in use, an item stays where it is.
  for (int n = 1; n <= 9999; ++n) writeFile(trash() + "/files/full" + (n > 1 ? "." + std::to_string(n) : ""), "");
  writeFile(dir_ / "full", "f");
  EXPECT_EQ(sweep({dir_ / "full"}).out, "not moved: " + dir_ / "full: no free name left in the trash for full\n");
  EXPECT_EQ(readFile(dir_ / "full"), "f");
}

// Gone while the run waited for the trash's lock: passed over as missing.
TEST_F(Sweeper, AnItemGoneWhileTheRunWaitedForTheTrashIsSkipped) {
  writeFile(dir_ / "f", "f");
  fs::create_directories(trash());
  UniqueFd held(open(trash().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  ASSERT_EQ(flock(held.get(), LOCK_EX), 0);
  Started run = start(trash(), list({dir_ / "f"}));
  const std::string syscallFile = "/proc/" + std::to_string(run.child.pid()) + "/syscall";
  for (int i = 0; i < 4000 && readFile(syscallFile).rfind(std::to_string(SYS_flock) + " ", 0) != 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_EQ(readFile(syscallFile).rfind(std::to_string(SYS_flock) + " ", 0), 0u) << "sweeper never waited";
  fs::remove(dir_ / "f");
  held.reset();
  EXPECT_EQ(run.child.wait(), 0);
  EXPECT_EQ(run.output(), "skipped: " + dir_ / "f: does not exist\n");
}

TEST_F(Sweeper, PassesOverMissingPathsAndCountsRefusedOnesAsNotMoved) {
  // The list file ("$D" is the case's own folder), the exit status, whether $D/f went to the
  // Trash and how the output begins.
  struct Case { std::string list; int status; bool fileMoved; std::string firstLine; };
  const Case cases[] = {
      {"$D/none\n", 0, false, "skipped: $D/none: does not exist"},
      // $D/tolink leads into the Trash, which is refused; $D/Trash/files/x is missing.
      {"$D/tolink/files/x\n$D/f\n", 1, true, "refused: $D/tolink/files/x: resolves to "},
      {"$D/f", 1, false, "refused: $D/f: the line is not ended by a line feed"},
      {"\n$D/f\n", 1, true, "refused: : is empty"},
      {"$D/bad\xFF\n", 1, false, "refused: $D/bad\xFF: is not valid UTF-8"},
  };
  for (const Case& c : cases) {
    TempDir dir(rootsHome());
    writeFile(dir / "f", "f");
    writeFile(dir / "bad\xFF", "bad");
    ASSERT_EQ(symlink("Trash", (dir / "tolink").c_str()), 0);
    writeFile(dir / "list.txt", replaceAll(c.list, "$D", dir.path()), 0600);
    ToolRun run = runTool(TAVO_SWEEPER, {dir / "Trash", dir / "list.txt"});
    EXPECT_EQ(run.status, c.status) << c.list << "\n" << run.out;
    EXPECT_EQ(!exists(dir / "f"), c.fileMoved) << c.list;
    EXPECT_TRUE(exists(dir / "bad\xFF") && exists(dir / "tolink")) << c.list;
    EXPECT_EQ(run.out.rfind(replaceAll(c.firstLine, "$D", dir.path()), 0), 0u) << run.out;
  }
}

// Acting for alice, sweeper moves what she could move herself and what an
// installed product names, and refuses the rest, whatever the list says.
TEST_F(Sweeper, MovesOnlyWhatTheUserCouldMoveOrAProductNames) {
  Users users;
  ASSERT_TRUE(users.made()) << "useradd failed";
  const TestUser &alice = *users.alice, &bob = *users.bob;
  const std::string m = users.dir.path(), bobs = bob.home;
  claim({m + "/opt/Product"});
  writeFile(m + "/opt/Product/lib.so", "l", 0600);
  writeFile(m + "/opt/Product/sub/data", "d");
  writeFile(m + "/etc/shadow", "root:*:19000::::::\n", 0640);
  writeFile(Users::own(Users::own(bobs + "/.ssh", bob, 0700) + "/id", bob, 0600), "");
  Users::own(Users::own(Users::own(bobs + "/private", bob, 0700) + "/pub", bob, 0777) + "/f", bob);
  Users::own(m + "/drop", *users.eve, 01777);
  Users::own(m + "/drop/bobs", bob);
  Users::own(m + "/drop/alices", alice);
  writeFile(Users::own(alice.home + "/Lib", alice) + "/secret", "s", 0600);  // root's, in her folder
  // A killed run's marker to give files/NAME, which she renamed to name her own folder of root's files.
  const std::string t = users.trash();
  writeFile(Users::own(t + "/files/evil", alice) + "/secret", "s", 0600);
  for (const char* folder : {"", "/files", "/info", "/.sweeper-staging"}) Users::own(t + folder, alice, 0700);
  writeFile(t + "/.sweeper-staging/m.evil/give", std::to_string(statOf(t + "/files/evil").st_dev) + ":1");
  // Each path, and whether it goes.
  const std::pair<std::string, bool> rows[] = {
      {m + "/opt/Product", true}, {m + "/etc/shadow", false},
      {bobs + "/.ssh", false}, {bobs + "/private/pub/f", false}, {m + "/drop/bobs", false},
      {m + "/drop/alices", true}, {alice.home + "/Lib", true},
  };
  Strings paths;
  for (const auto& row : rows) paths.push_back(row.first);
  ToolRun run = sweep(paths, users.trash(), users.pkexec(), &alice);
  EXPECT_EQ(run.status, 1);
  for (const auto& [path, goes] : rows) {
    EXPECT_NE(run.out.find((goes ? "moved: " : "refused: ") + path + (goes ? " -> " : ": the user may not")),
              std::string::npos) << path << "\n" << run.out;
    EXPECT_EQ(exists(path), !goes) << path;
  }
  // Hers: what it made, and a product's files whole; what she moved herself keeps its owners.
  for (const char* made : {"", "/files", "/info", "/.sweeper-staging", "/info/Product.trashinfo",
                           "/files/Product/lib.so", "/files/Product/sub/data", "/files/Lib"}) {
    EXPECT_EQ(statOf(t + made).st_uid, alice.uid) << made;
  }
  EXPECT_EQ(statOf(t + "/files/Lib/secret").st_uid + statOf(t + "/files/evil/secret").st_uid, 0u);
  EXPECT_NE(readFile(t + "/info/Product.trashinfo").find("\nX-TAVO-OriginalOwner=0:0:0755\n"),
            std::string::npos);
  EXPECT_EQ(readFile(t + "/info/Lib.trashinfo").find("X-TAVO"), std::string::npos);
  // Root's own run for her, as under sudo keeping her home, writes the list itself.
  EXPECT_EQ(sweep({Users::own(alice.home + "/Mine", alice)}, t).status, 0);
  EXPECT_TRUE(exists(t + "/files/Mine") && !exists(alice.home + "/Mine"));
  // Named by root, she is the one it acts for, wherever she made her Trash's folders lead.
  fs::create_directory_symlink(bob.home, alice.home + "/bobs");
  const std::string named = list({Users::own(alice.home + "/Named", alice)});
  run = runTool(sweeper_, {"--for", std::to_string(alice.uid), alice.home + "/bobs/Trash", named});
  EXPECT_NE(run.out.find("does not lie inside the home folder " + alice.home), std::string::npos) << run.out;
  EXPECT_FALSE(exists(bob.home + "/Trash"));
  EXPECT_EQ(runTool(sweeper_, {"--for", std::to_string(alice.uid), t, named}).status, 0);
  EXPECT_TRUE(exists(t + "/files/Named") && !exists(alice.home + "/Named"));
}

// Put back for alice: what she could place goes back as it was; a product's
// item comes back root's, with nothing set-ID or writable by others; the rest stays, named.
TEST_F(Sweeper, RestorePutsBackWhatItMayAndNamesWhatItLeaves) {
  Users users;
  ASSERT_TRUE(users.made()) << "useradd failed";
  const TestUser& alice = *users.alice;
  const std::string m = users.dir.path(), h = alice.home, t = users.trash() + "/files/";
  claim({m + "/opt/Product"});
  writeFile(m + "/opt/Product/tool", "t", 04755);
  writeFile(m + "/opt/Product/sub/data", "d");
  for (const char* name : {"Mine/a", "Gone", "Taken", "Elsewhere", "Etc", "Fifo"}) writeFile(h + "/" + name, name, 0640);
  ASSERT_EQ(::chmod((h + "/Mine").c_str(), 0750) | runTool("/bin/chown", {"-R", "tavo-alice:", h}).status, 0);
  const Tree mine = treeOf(h + "/Mine");
  const Strings items = {m + "/opt/Product", h + "/Mine", h + "/Gone", h + "/Taken", h + "/Elsewhere", h + "/Etc", h + "/Fifo"};
  ASSERT_EQ(sweep(items, users.trash(), users.pkexec(), &alice).status, 0);
  ASSERT_EQ(::chmod((t + "Product/sub/data").c_str(), 0666), 0);
  fs::remove(t + "Gone");
  Users::own(h + "/Taken", alice);
  const std::string info = users.trash() + "/info/";
  writeFile(info + "Elsewhere.trashinfo", "[Trash Info]\nPath=" + h + "/Other\n");
  writeFile(info + "Etc.trashinfo", "[Trash Info]\nPath=/etc/evil\n");
  ASSERT_TRUE(fs::remove(info + "Fifo.trashinfo") && ::mkfifo((info + "Fifo.trashinfo").c_str(), 0600) == 0 &&
              ::chown((info + "Fifo.trashinfo").c_str(), alice.uid, alice.gid) == 0);
  // The list's pairs, and how the line for each begins.
  const std::pair<Strings, std::string> rows[] = {
      {{t + "Product", m + "/opt/Product"}, "moved: " + t + "Product -> " + m + "/opt/Product (copied: "},
      {{t + "Mine", h + "/Mine"}, "moved: " + t + "Mine -> " + h + "/Mine\n"},
      {{t + "Gone", h + "/Gone"}, "not moved: " + t + "Gone: it is no longer in the trash"},
      {{t + "Taken", h + "/Taken"}, "not moved: " + t + "Taken: its place is taken"},
      {{t + "Elsewhere", h + "/Elsewhere"}, "not moved: " + t + "Elsewhere: the item of that name in the trash came from " + h + "/Other"},
      {{t + "Fifo", h + "/Fifo"}, "not moved: " + t + "Fifo: its info file cannot be read"},  // and no hang
      {{t + "Etc", "/etc/evil"}, "refused: " + t + "Etc: the user may not put it at /etc/evil, and no installed product names it"},
      {{"/etc/passwd", h + "/passwd"}, "refused: /etc/passwd: is not an item of a trash"},
      {{m + "/files/x", h + "/x"}, "refused: " + m + "/files/x: it is not in a trash of the user's"},
  };
  Strings list;
  for (const auto& row : rows) list.insert(list.end(), row.first.begin(), row.first.end());
  const std::string listFile = this->list(list, h);
  ASSERT_EQ(::chown(listFile.c_str(), alice.uid, alice.gid), 0);
  ToolRun run = runTool(sweeper_, {"--restore", users.trash(), listFile}, users.pkexec());
  EXPECT_EQ(run.status, 1);
  for (const auto& [pair, line] : rows) EXPECT_NE(outcomes(run.out).find(line), std::string::npos) << line << "\n" << run.out;
  EXPECT_EQ(treeOf(h + "/Mine"), mine);
  EXPECT_EQ(statOf(h + "/Mine/a").st_uid, alice.uid);
  for (const auto& [rel, mode] : {std::pair{"", 0755u}, {"/tool", 0755u}, {"/sub/data", 0644u}}) {
    const struct stat st = statOf(m + "/opt/Product" + rel);
    EXPECT_EQ(st.st_uid + st.st_gid, 0u) << rel;
    EXPECT_EQ(st.st_mode & 07777, mode) << rel;
  }
  EXPECT_EQ(namesIn(t), (Strings{"Elsewhere", "Etc", "Fifo", "Taken"}));
  EXPECT_FALSE(exists(users.trash() + "/info/Mine.trashinfo") || exists("/etc/evil") || exists(h + "/Other"));
  EXPECT_TRUE(namesIn(h + "/Taken").empty());
}

// The Trash and the list file come from the caller: neither may make root
// create, open or read anything that is not alice's own.
TEST_F(Sweeper, RefusesATrashOrAListThatIsNotTheUsersOwn) {
  Users users;
  ASSERT_TRUE(users.made()) << "useradd failed";
  const TestUser& alice = *users.alice;
  const std::string m = users.dir.path(), home = alice.home;
  fs::create_directories(m + "/etc/cron.d");
  writeFile(m + "/etc/shadow", "root:*:19000::::::\n", 0600);
  fs::create_directory_symlink(m + "/etc", home + "/link");
  Users::own(home + "/open", alice, 0777);
  Users::own(home + "/loose/Trash", alice, 0777);
  const std::string list = home + "/list", t = users.trash(), bobs = users.bob->home;
  auto hers = [&](const std::string& path) { return lchown(path.c_str(), alice.uid, alice.gid) == 0; };
  writeFile(list, "x\n");
  writeFile(home + "/shared", "x\n", 0620);
  writeFile(bobs + "/list", "x\n");
  ASSERT_TRUE(symlink((m + "/etc/shadow").c_str(), (home + "/shadow-list").c_str()) == 0 && hers(list) &&
              hers(home + "/shadow-list") && hers(home + "/shared") &&
              mkfifo((home + "/fifo").c_str(), 0600) == 0 && hers(home + "/fifo"));
  // The arguments, and how the one line ends.
  const std::pair<Strings, std::string> rows[] = {
      {{}, "usage: sweeper [--for UID] [--restore] TRASH_DIR LIST_FILE"}, {{t}, "usage"}, {{t, list, "x"}, "usage"},
      {{"--for", "0", t, list}, "--for names the user only on a run that root started itself"},
      {{"relative/Trash", list}, "must be an absolute path"}, {{home + "/a/../Trash", list}, "must be an absolute path"},
      {{t, home + "/none.txt"}, "No such file or directory"}, {{t, home}, "is not a regular file"},
      {{t, home + "/shared"}, "is not the user's alone"},
      {{t, home + "/fifo"}, "is not a regular file"},  // must not wait for a writer
      {{m + "/etc/cron.d", list}, "does not lie inside the home folder " + home + " of the user it is for"},
      {{bobs + "/.local/share/Trash", list}, "does not lie inside the home folder"},
      {{home + "/link/Trash", list}, "does not lie inside the home folder"},
      {{home + "/open/Trash", list}, "open belongs to another user or may be written by others"},
      {{home + "/loose/Trash", list}, "Trash belongs to another user or may be written by others"},
      {{t, home + "/shadow-list"}, "cannot open the list file " + home + "/shadow-list: Too many levels of symbolic links"},
      {{t, bobs + "/list"}, "the list file " + bobs + "/list is not the user's alone"},
      {{t, home + "/big"}, "the list file " + home + "/big is too large"},  // refused unread
  };
  writeFile(home + "/big", list + "\n", 0600);  // read, it would move the list beside it
  ASSERT_TRUE(hers(home + "/big") && truncate((home + "/big").c_str(), (16 << 20) + 1) == 0);
  for (const auto& [args, why] : rows) {
    ToolRun run = runTool(sweeper_, args, users.pkexec());
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_TRUE(std::regex_match(run.out, std::regex("sweeper: [^\n]*\n"))) << run.out;
    EXPECT_NE(run.out.find(why), std::string::npos) << run.out;
  }
  for (const std::string uid : {"", "x", "-1", "1000x", "99999999999999999999", "4294967295"}) {
    EXPECT_EQ(runTool(sweeper_, {t, list}, {"PKEXEC_UID=" + uid}).out, "sweeper: PKEXEC_UID is not a user id\n") << uid;
  }
  EXPECT_TRUE(exists(home + "/big") && exists(list));
  EXPECT_TRUE(namesIn(m + "/etc/cron.d").empty() && namesIn(home + "/open").empty());
  EXPECT_FALSE(exists(users.bob->home + "/.local") || exists(m + "/etc/Trash") || exists(users.trash()));
  EXPECT_EQ(namesIn(home + "/loose/Trash"), Strings{});
}

// A second filesystem's items go by one rename to the trash the freedesktop.org
// rules pick there, or are copied into the home Trash when none can be used.
TEST_F(Sweeper, ItemsOfAnotherFilesystemGoToItsOwnTrashByOneRename) {
  // How the top folder is laid out, and the trash its items go to ("": the home Trash).
  struct Case { const char* what; bool (*layOut)(const Volume&); std::string trash; };
  const Case cases[] = {
      {"no trash yet", [](const Volume&) { return true; }, ".Trash-0"},
      {"a sticky .Trash", [](const Volume& v) { return folder(v / ".Trash", 01777); }, ".Trash/0"},
      {"a .Trash not sticky", [](const Volume& v) { return folder(v / ".Trash", 0777); }, ".Trash-0"},
      {"a .Trash linked to a sticky folder", [](const Volume& v) {
         return folder(v / "shared", 01777) && symlink("shared", (v / ".Trash").c_str()) == 0;
       }, ".Trash-0"},
      {"a .Trash-0 that is a link", [](const Volume& v) {
         return symlink("/tmp", (v / ".Trash-0").c_str()) == 0;
       }, ""},  // copied into the home Trash
      {"a .Trash-0 of someone else's", [](const Volume& v) {
         return folder(v / ".Trash-0", 0700) && chown((v / ".Trash-0").c_str(), kNobody, kNobody) == 0;
       }, ""},
  };
  for (const Case& c : cases) {
    TempDir dir(rootsHome());
    Volume vol(dir / "vol");
    if (!vol.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(c.layOut(vol));
    writeFile(vol / "lib/Library X/a.wav", "a");
    writeFile(vol / "top.txt", "t");
    const ino_t inode = statOf(vol / "lib/Library X").st_ino;

    writeFile(dir / "list.txt", vol / "lib/Library X\n" + vol / "top.txt\n", 0600);
    ToolRun run = runTool(TAVO_SWEEPER, {dir / "Trash", dir / "list.txt"});
    EXPECT_EQ(run.status, 0) << run.out;
    const std::string where = c.trash.empty() ? dir / "Trash" : vol / c.trash;
    EXPECT_EQ(readFile(where + "/files/Library X/a.wav"), "a");
    EXPECT_EQ(readFile(where + "/files/top.txt"), "t");
    EXPECT_FALSE(exists(vol / "lib/Library X") || exists(vol / "top.txt"));
    std::map<std::string, std::string> info = infoFiles(where);
    // Relative to the top folder in its trash, absolute in the home Trash.
    const std::string prefix = c.trash.empty() ? vol.path() + "/" : "";
    EXPECT_EQ(infoPath(info["Library X"]), prefix + "lib/Library%20X");
    EXPECT_EQ(infoPath(info["top.txt"]), prefix + "top.txt");
    if (c.trash.empty()) {
      EXPECT_EQ(outcomes(run.out).rfind("moved: " + vol / "lib/Library X -> " + where + "/files/Library X (copied: ", 0), 0u)
          << run.out;
    } else {
      EXPECT_EQ(statOf(where + "/files/Library X").st_ino, inode);  // renamed, not copied
      EXPECT_EQ(run.out, "moved: " + vol / "lib/Library X -> " + where + "/files/Library X\n" +
                             "moved: " + vol / "top.txt -> " + where + "/files/top.txt\n");
      EXPECT_EQ(statOf(where).st_mode & 07777, 0700u);
    }
  }
}

TEST_F(Sweeper, MountPointsTopDirectoryTrashesAndReadOnlyFilesystemsStay) {
  Volume vol(dir_ / "vol"), ro(dir_ / "ro");
  if (!vol.mounted() || !ro.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
  writeFile(vol / ".Trash-0/files/old", "old");
  writeFile(vol / ".Trash/1000/files/old", "old");
  writeFile(ro / "product", "p");
  ASSERT_TRUE(ro.remountReadOnly());
  const std::pair<std::string, std::string> cases[] = {
      {vol.path(), "refused: " + vol.path() + ": is a mount point"},
      {vol / ".Trash-0/files/old", "refused: " + vol / ".Trash-0/files/old: is a top-directory trash"},
      {vol / ".Trash/1000", "refused: " + vol / ".Trash/1000: is a top-directory trash"},
      {ro / "product", "not moved: " + ro / "product: its filesystem is read-only"},
  };
  for (const auto& [path, line] : cases) {
    ToolRun run = sweep({path});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out.rfind(line, 0), 0u) << run.out;
  }
  EXPECT_EQ(readFile(vol / ".Trash-0/files/old") + readFile(vol / ".Trash/1000/files/old") +
                readFile(ro / "product"), "oldoldp");
}

// A copy keeps what it may; what a drive holds must not become more on the
// home filesystem (a device, a set-ID bit), nor crash the copy.
TEST_F(Sweeper, ACopyKeepsContentsModesTimesAndOwnersButNoDeviceOrSetIdBit) {
  Volume vol(dir_ / "vol");
  if (!vol.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
  ASSERT_EQ(symlink("/", (vol / ".Trash-0").c_str()), 0);  // so that it is copied
  writeFile(vol / "devs/tool", "t", 04755);
  writeFile(vol / "devs/group", "g", 02755);
  ASSERT_EQ(mknod((vol / "devs/di\nsk").c_str(), S_IFBLK | 0600, makedev(7, 0)) |
                mknod((vol / "devs/mem").c_str(), S_IFCHR | 0666, makedev(1, 1)), 0);
  UniqueFd deep(open(vol.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  for (int i = 0; i < 100000 && deep.valid(); ++i) {
    mkdirat(deep.get(), "d", 0700);
    deep.reset(openat(deep.get(), "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  }
  writeFile(vol / "item/file", "contents", 0604);
  writeFile(vol / "item/sub/deep", "deep", 0600);
  ASSERT_EQ(symlink("../elsewhere", (vol / "item/link").c_str()), 0);
  ASSERT_EQ(mkfifo((vol / "item/fifo").c_str(), 0640), 0);
  writeFile(vol / "top.txt", "top", 0755);
  ASSERT_EQ(chmod((vol / "item").c_str(), 0751), 0);
  ASSERT_EQ(chown((vol / "item/file").c_str(), kNobody, kNobody), 0);
  ASSERT_EQ(lchown((vol / "item/link").c_str(), kNobody, kNobody), 0);
  // Times long past, which a copy that does not keep them cannot match.
  const char* names[] = {"item",      "item/file", "item/sub/deep", "item/link",
                         "item/fifo", "item/sub",  "top.txt"};
  const timespec old[2] = {{1000000000, 5}, {1000000000, 123456789}};
  for (const char* name : names)
    ASSERT_EQ(utimensat(AT_FDCWD, (vol / name).c_str(), old, AT_SYMLINK_NOFOLLOW), 0);
  const Tree item = treeOf(vol / "item"), top = treeOf(vol / "top.txt");
  ToolRun run = sweep({vol / "item", vol / "top.txt", vol / "devs"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out.rfind("copying: " + vol / "item: 0 of 12 bytes\n", 0), 0u) << run.out;
  // The line feed in a device's name comes back escaped, and decodes to the name.
  const std::optional<sweeperlines::Line> partly = decodedLine(run.out, "partly moved: " + vol / "devs -> " +
                                                   trash() + "/files/devs: devices are never copied, and stay: ");
  ASSERT_TRUE(partly) << run.out;
  EXPECT_NE(partly->detail.find("devs/di\nsk"), std::string::npos) << run.out;
  EXPECT_EQ(namesIn(trash() + "/files/devs"), (Strings{"group", "tool"}));
  EXPECT_EQ(statOf(trash() + "/files/devs/tool").st_mode & 07777, 0755u);
  EXPECT_EQ(statOf(trash() + "/files/devs/group").st_mode & 07777, 0755u);
  EXPECT_EQ(namesIn(vol / "devs"), (Strings{"di\nsk", "mem"}));
  EXPECT_FALSE(exists(vol / "item") || exists(vol / "top.txt"));
  EXPECT_EQ(treeOf(trash() + "/files/item"), item);
  EXPECT_EQ(treeOf(trash() + "/files/top.txt"), top);
  for (const char* name : names) {  // root's copy keeps its owners, nobody's too
    const bool nobodys = std::string(name) == "item/file" || std::string(name) == "item/link";
    EXPECT_EQ(statOf(trash() + "/files/" + name).st_uid, nobodys ? kNobody : 0u) << name;
  }
  EXPECT_TRUE(namesIn(trash() + "/.sweeper-staging").empty());
  EXPECT_NE(sweep({vol / "d"}).out.find("not moved: " + vol / "d: cannot copy it to the trash: its folders are "
                                        "nested more than 1000 deep\n"), std::string::npos);
  EXPECT_TRUE(exists(vol / "d/d/d"));
}

TEST_F(Sweeper, ACopyThatFailsHalfWayLeavesTheOriginalAndNoPartialCopy) {
  Volume small(dir_ / "small", "size=256k,mode=0755"), vol(dir_ / "vol");
  if (!small.mounted() || !vol.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
  ASSERT_EQ(symlink("/", (vol / ".Trash-0").c_str()), 0);
  const std::string smallTrash = small / "Trash";
  const std::string big(1 << 20, 'b');
  writeFile(vol / "product/a.txt", "a");
  writeFile(vol / "product/big.bin", big);
  writeFile(vol / "product/z/c.txt", "c");

  ToolRun run = sweep({vol / "product"}, smallTrash);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(outcomes(run.out).rfind("not moved: " + vol / "product", 0), 0u) << run.out;
  EXPECT_EQ(readFile(vol / "product/a.txt"), "a");
  EXPECT_EQ(readFile(vol / "product/big.bin"), big);
  EXPECT_EQ(readFile(vol / "product/z/c.txt"), "c");
  for (const char* folder : {"/files", "/info", "/.sweeper-staging"}) {
    EXPECT_TRUE(namesIn(smallTrash + folder).empty()) << folder;
  }
}

// On an overlay root (live sessions, containers) a file's device number is
// its layer's, though nothing is mounted there: copied or renamed, its items
// are given like any other.
TEST_F(Sweeper, AnOverlaysFilesAreCopiedAndGivenLikeAnyOther) {
  Users users;
  ASSERT_TRUE(users.made()) << "useradd failed";
  const TestUser& alice = *users.alice;
  Volume home(alice.home, "mode=0700,uid=" + std::to_string(alice.uid) + ",gid=" + std::to_string(alice.gid));
  TempDir src("/var/tmp");  // the overlay, not the throwaway root's /tmp
  if (!home.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
  claim({src / "Product"});
  for (const bool shared : {false, true}) {  // copied into the home Trash, then renamed into /.Trash/UID
    ASSERT_TRUE(!shared || folder("/.Trash", 01777));
    writeFile(src / "Product/a", "a", 0600);
    writeFile(src / "Product/sub/b", "b");
    ToolRun run = sweep({src / "Product"}, users.trash(), users.pkexec(), &alice);
    EXPECT_EQ(run.status, 0) << run.out;
    const std::string where = shared ? "/.Trash/" + std::to_string(alice.uid) : users.trash();
    for (const char* rel : {"", "/a", "/sub", "/sub/b"}) {
      EXPECT_EQ(statOf(where + "/files/Product" + rel).st_uid, alice.uid) << where << rel << run.out;
    }
  }
  fs::remove_all("/.Trash");
}

}  // namespace
}  // namespace tavo::testing
