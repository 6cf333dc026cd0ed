// What sweeper moves, as an independent Trash client (trash-cli) run by the
// user whose Trash it is sees it: listed, put back whole, or emptied, though root's.

#include <signal.h>

#include <chrono>
#include <thread>

#include "tests/tools/sweeper/sweeper_fixture.h"

namespace tavo::testing {
namespace {

// Root's library folder: files and folders of several modes, a link.
void layOutRootsLibrary(const std::string& at) {
  writeFile(at + "/Read Me.rtf", "read me", 0644);
  writeFile(at + "/Samples/kick.wav", std::string(5000, 'k'), 0640);
  writeFile(at + "/Samples/Private/key.dat", "key", 0600);
  writeFile(at + "/bin/tool", "#!/bin/sh\n", 0755);
  fs::create_directory_symlink("Samples", at + "/Linked");
  chmod((at + "/Samples/Private").c_str(), 0700);
  chmod((at + "/Samples").c_str(), 0750);
  chmod(at.c_str(), 0755);
}

class TrashCli : public SweeperTest {
 protected:
  TrashCli() : SweeperTest("") {}  // in /tmp, where the user may pass
  void SetUp() override {
    SweeperTest::SetUp();
    if (IsSkipped()) return;
    if (!exists("/usr/bin/trash-list") || !exists("/usr/bin/trash-restore")) {
      GTEST_SKIP() << "trash-cli is not installed (scripts/setup installs it)";
    }
    user_ = makeUser("tavo-trash", dir_ / "home/tavo-trash");
    ASSERT_TRUE(user_) << "useradd failed";
    chmod(dir_.path().c_str(), 0755);
    chmod((dir_ / "home").c_str(), 0755);
  }
  ToolRun asUser(const Strings& argv, const std::string& input = "") const {
    return runArgv(testing::asUser(*user_, argv), {"HOME=" + user_->home, "XDG_DATA_HOME=" + user_->home +
                   "/.local/share", "PATH=/usr/bin:/bin", "LANG=C.UTF-8"}, input);
  }
  std::string homeTrash() const { return user_->home + "/.local/share/Trash"; }
  Strings pkexec() const { return {"PKEXEC_UID=" + std::to_string(user_->uid)}; }

  std::optional<TestUser> user_;
};

TEST_F(TrashCli, ListsRestoresAndEmptiesWhatSweeperMovedIntoEveryTrash) {
  // A drive mounted for the user, as a desktop mounts one, and another where nothing is theirs.
  Volume drive(dir_ / "drive", "mode=0755,uid=" + std::to_string(user_->uid)), other(dir_ / "other");
  if (!drive.mounted() || !other.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
  const std::string uid = std::to_string(user_->uid);
  ASSERT_EQ(symlink("/", (other / (".Trash-" + uid)).c_str()), 0);  // copied into the home Trash
  // Restored: one item in each trash, one of them copied. Emptied: the others.
  const Strings restored = {Users::own(dir_ / "apps", *user_) + "/Library A",
                            Users::own(drive / "libs", *user_) + "/Library B",
                            Users::own(other / "libs", *user_) + "/Library C"};
  const Strings emptied = {dir_ / "apps/Library D", drive / "libs/Library E",
                           other / "libs/Library F"};
  std::map<std::string, Tree> before;
  for (const std::string& item : restored) {
    layOutRootsLibrary(item);
    before[item] = treeOf(item);
  }
  for (const std::string& item : emptied) layOutRootsLibrary(item);
  Strings all = restored;
  all.insert(all.end(), emptied.begin(), emptied.end());
  claim(all);  // root's: moved for the user because a product names them
  ToolRun run = sweep(all, homeTrash(), pkexec(), &*user_);
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_TRUE(exists(drive / (".Trash-" + uid + "/files/Library B"))) << run.out;

  ToolRun listed = asUser({"/usr/bin/trash-list"});
  EXPECT_EQ(listed.status, 0) << listed.err;
  for (const std::string& item : all) {
    const std::regex line("(^|\n)\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d " + item + "\n");
    EXPECT_TRUE(std::regex_search(listed.out, line)) << item << " not in\n" << listed.out;
  }
  for (const std::string& item : restored) {
    ToolRun restore = asUser({"/usr/bin/trash-restore", item}, "0\n");
    EXPECT_EQ(restore.status, 0) << restore.out << restore.err;
    EXPECT_EQ(treeOf(item), before[item]) << item;
    EXPECT_EQ(statOf(item + "/Samples/Private/key.dat").st_uid, user_->uid) << item;
  }
  ToolRun empty = asUser({"/usr/bin/trash-empty"});
  EXPECT_EQ(empty.status, 0) << empty.err;
  for (const std::string& trash : {homeTrash(), drive / (".Trash-" + uid)}) {
    EXPECT_EQ(namesIn(trash + "/files"), Strings{}) << trash;
    EXPECT_EQ(namesIn(trash + "/info"), Strings{}) << trash;
  }
  EXPECT_EQ(asUser({"/usr/bin/trash-list"}).out, "");
}

// What a copy killed half-way leaves is the user's to remove.
TEST_F(TrashCli, WhatAKilledCopyLeavesIsTheUsers) {
  Volume other(dir_ / "other");
  if (!other.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
  ASSERT_EQ(symlink("/", (other / (".Trash-" + std::to_string(user_->uid))).c_str()), 0);
  for (int i = 0; i < 2000; ++i) writeFile(other / "Big/" + std::to_string(i), std::string(4096, 'x'));
  claim({other / "Big"});
  const std::string listFile = list({other / "Big"}, user_->home);
  ASSERT_EQ(chown(listFile.c_str(), user_->uid, user_->gid), 0);
  Started sweeper = start(homeTrash(), listFile, pkexec());
  const std::string staging = homeTrash() + "/.sweeper-staging";
  for (int i = 0; i < 2000 && namesIn(staging).empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  ::kill(sweeper.child.pid(), SIGKILL);
  sweeper.child.wait();
  if (!outcomes(sweeper.output()).empty()) {
    GTEST_SKIP() << "the copy ended before it could be killed";
  }
  EXPECT_EQ(asUser({"/bin/rm", "-rf", staging}).status, 0);
  EXPECT_FALSE(exists(staging));
  EXPECT_EQ(fs::directory_iterator(other / "Big") != fs::directory_iterator(), true);  // nothing lost
}

}  // namespace
}  // namespace tavo::testing
