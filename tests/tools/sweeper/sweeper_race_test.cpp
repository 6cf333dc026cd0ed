// Races against sweeper, run as root in the throwaway root. Each stress test
// runs for TAVO_STRESS_SECONDS (2 by default) and prints its counts.

#include <fcntl.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <random>
#include <thread>

#include "base/io.h"
#include "tests/tools/sweeper/sweeper_fixture.h"

namespace tavo::testing {
namespace {

using Clock = std::chrono::steady_clock;

// Runs `body` until the stress time is over and `enough` holds (a loaded
// machine may need another minute of runs for that), or a check failed; the count of runs.
template <typename Body>
int repeat(Body body, const std::function<bool()>& enough = [] { return true; }) {
  const char* text = std::getenv("TAVO_STRESS_SECONDS");
  const double seconds = text && std::atof(text) > 0 ? std::atof(text) : 2;
  const auto end = Clock::now() + std::chrono::duration<double>(seconds);
  int runs = 0;
  do {
    body(runs++);
  } while (!::testing::Test::HasFailure() &&
           (Clock::now() < end || (!enough() && Clock::now() < end + std::chrono::minutes(1))));
  return runs;
}

// The trash's items and info files, emptied for the next run.
void emptyTrash(const std::string& trash) {
  for (const char* folder : {"/files", "/info"}) {
    for (const std::string& name : namesIn(trash + folder)) fs::remove_all(trash + folder + "/" + name);
  }
}

/// A library folder of `folders` folders of `files` files each; its files' contents.
std::map<std::string, std::string> layOutLibrary(const std::string& at, int folders, int files) {
  std::map<std::string, std::string> contents;
  for (int f = 0; f < folders; ++f) {
    for (int i = 0; i < files; ++i) {
      const std::string rel = "part" + std::to_string(f) + "/sample" + std::to_string(i) + ".wav";
      contents[rel] = std::string(2048, static_cast<char>('a' + (f + i) % 26)) + rel;
      writeFile(at + "/" + rel, contents[rel]);
    }
  }
  return contents;
}

bool holdsAll(const std::string& at, const std::map<std::string, std::string>& contents) {
  for (const auto& [rel, bytes] : contents) {
    if (readFile(at + "/" + rel) != bytes) return false;
  }
  return true;
}

class SweeperRace : public SweeperTest {};

// Three swappers exchange the user's folder p with links to "/", "/usr" and
// her home while sweeper moves p's decoys "etc", "bin" and "Documents",
// listed under each of the four names: whatever it moves is a decoy, and the
// real /etc, /usr/bin and ~/Documents stay.
TEST_F(SweeperRace, ParentsSwappedForLinksNeverRedirectAMove) {
  Users users;
  ASSERT_TRUE(users.made()) << "useradd failed";
  const TestUser& user = *users.alice;
  const std::string dir = users.dir.path(), trash = users.trash();
  writeFile(user.home + "/Documents/canary", "the user's own");
  writeFile("/etc/tavo-canary", "the system's own");
  const std::string guarded[] = {"/etc", "/usr/bin", user.home + "/Documents"};
  std::vector<ino_t> inodes;
  for (const std::string& path : guarded) inodes.push_back(statOf(path).st_ino);
  const std::pair<std::string, std::string> links[] = {
      {"/p.root", "/"}, {"/p.usr", "/usr"}, {"/p.home", user.home}};
  const Strings decoys = {"etc", "bin", "Documents"}, folders = {"/p", "/p.root", "/p.usr", "/p.home"};
  Strings list;
  for (const std::string& folder : folders) {
    for (const std::string& decoy : decoys) list.push_back(dir + folder + "/" + decoy);
  }
  int moved = 0, refused = 0;
  const int runs = repeat([&](int) {
    for (const std::string& folder : folders) fs::remove_all(dir + folder);
    for (const std::string& decoy : decoys) {
      writeFile(Users::own(Users::own(dir + "/p", user) + "/" + decoy, user) + "/decoy", decoy);
    }
    for (const auto& [name, target] : links) fs::create_directory_symlink(target, dir + name);
    std::vector<Child> swappers;
    for (const auto& [name, target] : links) {
      swappers.push_back(Child::start({.argv = {TAVO_SWAPPER, dir + "/p", dir + name}, .environment = {}}));
    }
    ToolRun run = sweep(list, trash, users.pkexec(), &user);
    for (Child& swapper : swappers) swapper.terminate(std::chrono::milliseconds(0));
    for (std::size_t i = 0; i < std::size(guarded); ++i) {
      EXPECT_EQ(statOf(guarded[i]).st_ino, inodes[i]) << guarded[i] << "\n" << run.out;
    }
    EXPECT_EQ(readFile("/etc/tavo-canary") + readFile(user.home + "/Documents/canary"),
              "the system's ownthe user's own");
    // Every item is a decoy, its Path= the decoy under one of its folder's names.
    for (const auto& [name, info] : infoFiles(trash)) {
      const std::string decoy = readFile(trash + "/files/" + name + "/decoy");
      EXPECT_NE(std::find(decoys.begin(), decoys.end(), decoy), decoys.end()) << name << "\n" << run.out;
      EXPECT_NE(std::find(list.begin(), list.end(), infoPath(info)), list.end()) << info;
      EXPECT_EQ(fs::path(infoPath(info)).filename(), decoy) << info;
      ++moved;
    }
    const std::string lines = "\n" + run.out;
    for (std::size_t at = 0; (at = lines.find("\nrefused: ", at)) != std::string::npos; ++at) ++refused;
    emptyTrash(trash);
  }, [&] { return moved > 0; });  // else nothing was tried against the swappers
  std::cout << runs << " runs of " << list.size() << " paths with 3 swappers: " << moved
            << " decoys moved, " << refused << " paths refused\n";
  EXPECT_GT(moved, 0);
}

// Eve, who may rename within a drive's shared .Trash (hers, sticky) or within
// its top folder (anyone's, not sticky), keeps swapping her own folder with
// the one sweeper makes there as alice's trash: whatever sweeper then finds
// there, it never makes eve's folder alice's or puts anything in it.
TEST_F(SweeperRace, AFolderSwappedInWhereATrashIsMadeIsNeverUsed) {
  Users users;
  ASSERT_TRUE(users.made()) << "useradd failed";
  const TestUser &alice = *users.alice, &eve = *users.eve;
  const std::string uid = std::to_string(alice.uid);
  int hers = 0;
  const int runs = repeat([&](int run) {
    const bool shared = run % 2 == 0;
    Volume drive(users.dir / "drive", shared ? "mode=0755" : "mode=0777");
    ASSERT_TRUE(drive.mounted());
    const std::string where = shared ? Users::own(drive / ".Trash", eve, 01777) : drive.path();
    const std::string target = where + (shared ? "/" : "/.Trash-") + uid;
    Users::own(where + "/evil", eve, 0777);
    writeFile(Users::own(drive / "mine", alice) + "/item", "i");
    Child swapper = Child::start({.argv = asUser(eve, {TAVO_SWAPPER, target, where + "/evil"}),
                                  .environment = {}});
    ToolRun sweeper = sweep({drive / "mine/item"}, users.trash(), users.pkexec(), &alice);
    swapper.terminate(std::chrono::milliseconds(0));
    for (const std::string& folder : {target, where + "/evil"}) {
      const struct stat st = statOf(folder);
      const bool eves = st.st_uid == eve.uid && (st.st_mode & 07777) == 0777 && namesIn(folder).empty();
      const bool alices = st.st_uid == alice.uid && (st.st_mode & 07777) == 0700;
      EXPECT_TRUE(eves || alices) << folder << " run " << run << "\n" << sweeper.out;
      hers += alices && !namesIn(folder).empty();
    }
    EXPECT_EQ(sweeper.status, 0) << sweeper.out;
  });
  std::cout << runs << " runs against a swapper: " << hers << " used the trash sweeper made\n";
}

// A program adds files to a library folder while sweeper copies it into the
// home Trash: every file it managed to write is whole at its source or in the copy.
TEST_F(SweeperRace, AWriterAddingFilesDuringACopyLosesNothing) {
  Volume vol(dir_ / "vol");
  if (!vol.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
  ASSERT_EQ(symlink("/", (vol / ".Trash-0").c_str()), 0);
  int partly = 0, written = 0;
  const int runs = repeat([&](int run) {
    const std::map<std::string, std::string> library = layOutLibrary(vol / "lib", 4, 50);
    std::atomic<bool> stop{false};
    Strings wrote;
    std::thread writer([&] {
      for (int n = 0; !stop; ++n) {
        const std::string rel = (n % 2 ? "part1/w-" : "part3/w-") + std::to_string(n);
        UniqueFd fd(::open((vol / "lib/" + rel).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
        if (fd.valid() && writeAll(fd.get(), std::string(3000, 'w') + rel) && fd.close()) {
          wrote.push_back(rel);
        }
      }
    });
    ToolRun sweeper = sweep({vol / "lib"});
    stop = true;
    writer.join();
    const std::string outcome = outcomes(sweeper.out);
    partly += outcome.rfind("partly moved: ", 0) == 0;
    EXPECT_TRUE(outcome.rfind("moved: ", 0) == 0 || outcome.rfind("partly moved: ", 0) == 0) << sweeper.out;
    EXPECT_TRUE(holdsAll(trash() + "/files/lib", library)) << "run " << run;
    for (const std::string& rel : wrote) {
      const std::string bytes = std::string(3000, 'w') + rel;
      EXPECT_TRUE(readFile(vol / "lib/" + rel) == bytes || readFile(trash() + "/files/lib/" + rel) == bytes)
          << rel << " lost in run " << run;
    }
    written += static_cast<int>(wrote.size());
    fs::remove_all(vol / "lib");
    emptyTrash(trash());
  });
  std::cout << runs << " copies of 200 files beside a writer: " << written << " files written, "
            << partly << " runs partly moved\n";
}

// Killed at a random moment in a copy, then run again: the trash shows only
// whole items meanwhile, and the library once, whole, at the end.
TEST_F(SweeperRace, KilledAtRandomMomentsThenRunAgainLeavesOneWholeCopy) {
  Volume vol(dir_ / "vol");
  if (!vol.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
  ASSERT_EQ(symlink("/", (vol / ".Trash-0").c_str()), 0);
  const std::string listFile = list({vol / "lib"});
  auto timed = Clock::now();
  std::map<std::string, std::string> library = layOutLibrary(vol / "lib", 10, 40);
  ASSERT_EQ(sweep({vol / "lib"}).status, 0);
  const auto full = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - timed);
  emptyTrash(trash());
  std::mt19937 random(20261207);
  int killedBeforeTheEnd = 0;
  const int runs = repeat([&](int run) {
    library = layOutLibrary(vol / "lib", 10, 40);
    Started first = start(trash(), listFile);
    std::this_thread::sleep_for(std::chrono::microseconds(random() % (full.count() + 1)));
    ::kill(first.child.pid(), SIGKILL);
    first.child.wait();
    killedBeforeTheEnd += outcomes(first.output()).empty();
    for (const std::string& name : namesIn(trash() + "/files")) {
      EXPECT_TRUE(holdsAll(trash() + "/files/" + name, library)) << name << " partial, run " << run;
    }
    ToolRun second = sweep({vol / "lib"});
    EXPECT_EQ(second.status, 0) << second.out << second.err;
    EXPECT_FALSE(exists(vol / "lib")) << "run " << run << ": " << second.out;
    EXPECT_EQ(namesIn(trash() + "/files"), Strings{"lib"}) << "run " << run << ": " << second.out;
    EXPECT_EQ(namesIn(trash() + "/info"), Strings{"lib.trashinfo"}) << "run " << run;
    EXPECT_TRUE(holdsAll(trash() + "/files/lib", library)) << "run " << run;
    EXPECT_TRUE(namesIn(trash() + "/.sweeper-staging").empty()) << "run " << run;
    fs::remove_all(vol / "lib");
    emptyTrash(trash());
  });
  std::cout << runs << " runs killed within " << full.count() << " us, " << killedBeforeTheEnd
            << " before their output line\n";
}

// Two runs over one list at the same moment: each item is moved once, to the
// home Trash by a rename or a copy, or to its filesystem's trash.
TEST_F(SweeperRace, TwoRunsAtOnceMoveEachItemOnce) {
  Volume copied(dir_ / "copied"), renamed(dir_ / "renamed");
  if (!copied.mounted() || !renamed.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
  ASSERT_EQ(symlink("/", (copied / ".Trash-0").c_str()), 0);
  const Strings paths = {copied / "lib", renamed / "lib", dir_ / "src/lib"};
  const std::string listFile = list(paths);
  const int runs = repeat([&](int run) {
    std::map<std::string, std::string> library;
    for (const std::string& path : paths) library = layOutLibrary(path, 2, 20);
    Started one = start(trash(), listFile), two = start(trash(), listFile);
    one.child.wait();
    two.child.wait();
    const std::string out = one.output() + two.output();
    for (const std::string& path : paths) {
      EXPECT_FALSE(exists(path)) << path;
      EXPECT_NE(out.find("moved: " + path + " -> "), std::string::npos) << out;
      EXPECT_NE(out.find("skipped: " + path + ": "), std::string::npos) << out;
    }
    EXPECT_EQ(namesIn(trash() + "/files"), (Strings{"lib", "lib.2"})) << "run " << run << "\n" << out;
    EXPECT_EQ(namesIn(renamed / ".Trash-0/files"), Strings{"lib"}) << "run " << run;
    for (const std::string& trash : {trash(), renamed / ".Trash-0"}) {
      for (const std::string& name : namesIn(trash + "/files")) {
        EXPECT_TRUE(holdsAll(trash + "/files/" + name, library)) << name;
      }
      emptyTrash(trash);
    }
  });
  std::cout << runs << " pairs of runs over 3 items\n";
}

}  // namespace
}  // namespace tavo::testing
