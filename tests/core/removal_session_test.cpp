// The summary, the remove button and the removal session's sequence, with
// the fake authorisation: nothing is ever started, every start is only
// recorded.

#include <signal.h>
#include <sys/resource.h>

#include <functional>

#include "tests/core/core_fixture.h"

namespace tavo::testing {
namespace {

using Runs = std::vector<Lines>;

class RemovalTest : public CoreFixture {
 protected:
  RemovalTest() {
    // The tools need only exist: the fake authorisation starts nothing.
    tree.write("T.app/Contents/Resources/sweeper");
    tree.write("T.app/Contents/Resources/keyscrub");
    tree.write("T.app/Contents/Resources/listPath.txt", "old\n");
    // The bundle's own list file, used only while it and its folder are ours
    // alone, and never by root, whose own it is the package's.
    ::chmod(resources.c_str(), 0755);
    writeFile(listFile, "old\n");
    ::chmod(listFile.c_str(), 0600);
    authorization.polkit.installPolicy({sweeper, keyscrub, pkgutil});
  }

  std::string resources = bundle.resourcePath();
  std::string sweeper = resources + "/sweeper", keyscrub = resources + "/keyscrub";
  std::string listFile = ::geteuid() == 0 ? tree.mkdirs("run/TAVO_Uninstaller") + "/listPath.txt"
                                          : resources + "/listPath.txt";
  std::string pkgutil = root + "/pkgutil";

  /// The programs started so far, without their arguments.
  Lines programs() const {
    Lines out;
    for (const Lines& run : authorization.started) out.push_back(run.front());
    return out;
  }
};

TEST_F(RemovalTest, SummaryShowsEachNonEmptyListUnderItsHeadingInAFixedOrder) {
  std::string b = tree.write("b"), pf = tree.write("p.plist");
  firstBank("Harp", dict({{"k", "v"}}));
  description("p.txt", "Receipts\nV\n-\n$_pkg(com.ok.a)$\n$_pkg(com.ok.b)$\n-\nAll\nV\n-\n" + b +
                           "\n$_plist(" + pf + ")$\ncom.t.plist$_var(Banks/Harp)$\n"
                           "$_pkg(com.ok.c)$\n-\n");
  scan();
  EXPECT_EQ(ui.text, "\nReceipts:\n\ncom.ok.a\ncom.ok.b\n");
  ui.enabled = false;
  select(1);
  EXPECT_EQ(ui.text, "\nReceipts:\n\ncom.ok.c\n\n\nPreference Vars:\n\ncom.t::Banks/Harp\n"
                     "\n\nPreference Files:\n\n" + pf + "\n\n\nPaths:\n\n" + b + "\n");
  EXPECT_TRUE(ui.enabled);
}

TEST_F(RemovalTest, SkipChangesNothingAndRemovingTheMiddleKeepsTheOthersTags) {
  std::string a = tree.write("a"), c = tree.write("c");
  Lines b{tree.write("b1"), tree.mkdirs("b 2"), tree.write("b3")};
  description("p.txt", "A\nV\n-\n" + a + "\n-\nB\nV\n-\n" + b[0] + "\n" + b[1] + "\n" + b[2] +
                           "\n-\nC\nV\n-\n" + c + "\n-\n");
  scan();
  select(1);
  alert.answers = {Alert::kSecondButtonReturn};
  controller().removeClicked();
  EXPECT_EQ(alert.shown, (Runs{{"You are about to remove this product:", "B", "Remove", "Skip"}}));
  EXPECT_TRUE(authorization.calls.empty());
  EXPECT_EQ(readFile(listFile), "old\n");
  EXPECT_EQ(ui.tags, (std::vector<long>{0, 1, 2}));
  EXPECT_EQ(Lines(ui.events.end() - 2, ui.events.end()), (Lines{"disabled", "enabled"}));

  controller().removeClicked();
  EXPECT_EQ(readFile(listFile), b[0] + "\n" + b[1] + "\n" + b[2] + "\n");
  EXPECT_EQ(authorization.started, (Runs{{sweeper, home + "/.local/share/Trash", listFile}}));
  EXPECT_EQ(ui.tags, (std::vector<long>{0, 2}));
  EXPECT_EQ(ui.text, "\n\nPaths:\n\n" + a + "\n");  // the fake selects the first left
  select(2);
  EXPECT_EQ(ui.text, "\n\nPaths:\n\n" + c + "\n");
  controller().removeClicked();
  controller().removeClicked();
  EXPECT_EQ(readFile(listFile), a + "\n");
  EXPECT_TRUE(ui.tags.empty());
  EXPECT_EQ(ui.text, "There is nothing to uninstall");
  EXPECT_FALSE(ui.enabled);
}

TEST_F(RemovalTest, SweeperRunsOncePerNonEmptyListAroundTheReceipts) {
  std::string dir = tree.mkdirs("d"), prefFile = tree.write("f.plist");
  // With dirs, with preference files, the programs started. Receipts alone come first,
  // on a controller that has made no privileged run yet: they must still be forgotten.
  for (const auto& [dirs, prefFiles, expected] : std::vector<std::tuple<bool, bool, Lines>>{
           {false, false, {pkgutil}}, {true, false, {sweeper, pkgutil}},
           {false, true, {pkgutil, sweeper}}, {true, true, {sweeper, pkgutil, sweeper}}}) {
    Product p;
    if (dirs) p.addDir(dir);
    if (prefFiles) p.addPrefFile(prefFile);
    p.addRecp("com.ok.r");
    authorization.started.clear();
    EXPECT_TRUE(controller().removeProduct(p)) << dirs << prefFiles;
    EXPECT_EQ(programs(), expected) << dirs << prefFiles;
    // An empty list is never written; the second write replaces the first.
    EXPECT_EQ(readFile(listFile), prefFiles ? prefFile + "\n" : dirs ? dir + "\n" : "old\n");
  }
}

TEST_F(RemovalTest, PreferenceValuesSplitAtTheFirstDoubleColonThenAtEverySlash) {
  PlistDict top = dict({{"Banks", dict({{"Glass Harp", "/lib/Glass Harp"}, {"Strings", "/s"}})}});
  prefs("dom", top);
  Product p;
  p.addPrefVar("dom::Banks/Glass Harp");
  p.addPrefVar("dom::Banks::Old/Glass Harp");
  RemovalOutcome outcome = controller().session().remove(p);
  EXPECT_TRUE(outcome.removed);
  EXPECT_EQ(authorization.started, (Runs{{keyscrub, "dom", "Banks", "Glass Harp"},
                                         {keyscrub, "dom", "Banks::Old", "Glass Harp"}}));
  // The user's value is kept for the record; the second entry named nothing there.
  ASSERT_EQ(outcome.deleted.size(), 4u);
  EXPECT_EQ(outcome.deleted[0].keyPath, "Banks/Glass Harp");
  EXPECT_EQ(outcome.deleted[0].removed, PlistValue("/lib/Glass Harp"));
  EXPECT_EQ(outcome.deleted[2].removed, std::nullopt);
  // The current user's value got the same two names.
  top.find("Banks")->dict()->remove("Glass Harp");
  EXPECT_EQ(readPlistFile(home + "/Library/Preferences/dom.plist").dict, top);
}

// A step that runs and fails, and a value entry that names no value, answer
// NO and say which in the log; the steps before them stay done.
TEST_F(RemovalTest, AStepThatRunsButFailsAnswersNoAndSaysWhich) {
  const std::string dir = tree.mkdirs("d");
  const struct {
    std::string failing;  // the program exiting 1
    std::function<void(Product&)> lay;
    std::string logged;
  } cases[] = {
      {sweeper, [&](Product& p) { p.addDir(dir); }, "Removal: sweeper reported a failure"},
      {pkgutil, [](Product& p) { p.addRecp("com.ok.a"); },
       "Removal: pkgutil --forget com.ok.a reported a failure"},
      {keyscrub, [](Product& p) { p.addPrefVar("com.t::Banks/Harp"); },
       "Removal: keyscrub for com.t::Banks/Harp reported a failure"},
      {"", [](Product& p) { p.addPrefVar("com.t"); }, "Not a preference value: com.t"},
  };
  {  // a list file that cannot be written stops the removal before the receipt
    Product p;
    p.addDir(dir);
    p.addRecp("com.ok.a");
    ::unlink(listFile.c_str());
    ASSERT_EQ(::symlink(dir.c_str(), listFile.c_str()), 0);
    EXPECT_FALSE(controller().session().remove(p).removed);
    EXPECT_TRUE(authorization.started.empty());
    ::unlink(listFile.c_str());
  }
  for (const auto& c : cases) {
    Product p;
    c.lay(p);
    authorization.exitStatus = {{c.failing, 1}};
    log.clear();
    EXPECT_FALSE(controller().session().remove(p).removed) << c.logged;
    EXPECT_EQ(log.count(c.logged), 1u) << c.logged;
  }
}

// The current user's value stays, and the removal answers NO, when its file
// cannot be written back.
TEST_F(RemovalTest, AValueWhoseFileCannotBeWrittenBackIsAFailure) {
  firstBank("Harp", dict({{"k", "v"}}));
  const std::string file = home + "/Library/Preferences/com.t.plist", before = readFile(file);
  Product p;
  p.addPrefVar("com.t::Banks/Harp");
  ::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  ::getrlimit(RLIMIT_FSIZE, &old);
  rlimit tiny = old;
  tiny.rlim_cur = 1;  // every write of more than a byte fails
  ::setrlimit(RLIMIT_FSIZE, &tiny);
  RemovalOutcome outcome = controller().session().remove(p);
  ::setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_FALSE(outcome.removed);
  ASSERT_EQ(outcome.failed.size(), 1u);
  EXPECT_EQ(outcome.failed[0].message, "could not be written back");
  EXPECT_EQ(readFile(file), before);
  EXPECT_TRUE(controller().prefExists("com.t", "Banks/Harp"));
}

// One password per removal: the request asks for the removal action, whose
// kept grant covers every helper run. A refused password runs nothing and
// keeps the product; then files, a receipt, a preference file and a value for
// the current user and for all users ask once.
TEST_F(RemovalTest, ARefusalRunsNothingAndARemovalAsksOnce) {
  firstBank("Harp", dict({{"k", "v"}}));
  const std::string pf = tree.write("p.plist");
  description("p.txt", "P\nV\n-\n" + tree.write("a") + "\n$_pkg(com.ok.a)$\n$_plist(" + pf +
                           ")$\ncom.t.plist$_var(Banks/Harp)$\n" + tree.mkdirs("home/Documents") + "\n-\n");
  scan();
  const ProductList& products = *controller().products();
  ASSERT_EQ(products.size(), 1u);
  authorization.polkit.answers = {false, false};
  EXPECT_FALSE(controller().removeProduct(*products[0]));
  EXPECT_EQ(authorization.calls, (Lines{"test " + sweeper, "create", "request " + sweeper}));
  controller().removeClicked();
  EXPECT_TRUE(authorization.started.empty());
  EXPECT_TRUE(alert.informed.empty());  // a stopped removal keeps nothing by decision
  EXPECT_TRUE(controller().prefExists("com.t", "Banks/Harp"));
  EXPECT_EQ(ui.tags, (std::vector<long>{0}));
  EXPECT_TRUE(ui.enabled);
  Product receipts;  // refused at the receipts: the preference files stay
  receipts.addDir(home + "/Documents");
  receipts.addRecp("com.ok.a");
  receipts.addPrefFile(pf);
  authorization.polkit.answers = {false};
  EXPECT_FALSE(controller().removeProduct(receipts));
  EXPECT_TRUE(authorization.started.empty());
  EXPECT_TRUE(alert.informed.empty());

  authorization.polkit.prompts.clear();
  EXPECT_TRUE(controller().removeProduct(*products[0]));
  EXPECT_EQ(programs(), (Lines{sweeper, pkgutil, sweeper, keyscrub}));
  EXPECT_EQ(authorization.polkit.prompts, Lines{FakePolkit::kRemoveAction});
  EXPECT_FALSE(controller().prefExists("com.t", "Banks/Harp"));
}

// An entry the safety table keeps is a decision: the removal answers yes, the
// user is told once afterwards, and the product leaves the chooser.
TEST_F(RemovalTest, AProductWhoseOnlyLeftoverIsProtectedLeavesAfterOneRemoval) {
  tree.mkdirs("home/Documents/x");
  prefs("com.t", dict({{"base_dir", home + "/Documents"}}));
  description("p.txt", "P\nV\n-\ncom.t.plist$_path(base_dir)$\n-\n");
  scan();
  ASSERT_EQ(controller().products()->front()->dirs(), (Lines{home + "/Documents"}));
  controller().removeClicked();
  EXPECT_TRUE(authorization.started.empty());
  EXPECT_EQ(alert.shown.at(0).at(1), "P\n\nThese entries will be kept:\n  " + home +
                                         "/Documents: is a standard folder of a home folder\n");
  EXPECT_EQ(alert.informed, (Runs{{"These entries were kept where they are:",
                                   "  " + home + "/Documents: is a standard folder of a home folder\n"}}));
  EXPECT_EQ(log.count("Not removing " + home + "/Documents: is a standard folder of a home folder"), 1u);
  EXPECT_TRUE(ui.tags.empty());
  EXPECT_EQ(rescanLine.text, "");
}

// The size follows the selection off the main thread; a count overtaken by
// a newer selection, or by none, never shows.
TEST_F(RemovalTest, TheSizeLineFollowsTheSelection) {
  tree.write("a/1", std::string(5000, 'a'));
  description("p.txt", "A\nV\n-\n" + tree.write("a/2") + "\n" + tree / "a" + "\n-\nB\nV\n-\n" +
                           tree.mkdirs("b") + "\n-\n");
  scan();
  auto counted = [&] {
    for (int i = 0; i < 500 && sizeLine.text == "Counting…"; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      ui.runPosted();
    }
  };
  for (long then : {1L, -1L}) {
    select(0);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // A's count is done, not yet shown
    sizeLine.shown.clear();
    select(then);
    counted();
    ui.runPosted();
    if (then == 1) {
      ASSERT_EQ(sizeLine.shown.size(), 2u) << sizeLine.text;
      EXPECT_EQ(sizeLine.shown[0], "Counting…");
      EXPECT_EQ(sizeLine.shown[1].rfind("1 item, ", 0), 0u) << sizeLine.shown[1];  // the empty folder alone
    } else {
      EXPECT_EQ(sizeLine.shown, Lines{""});
    }
  }
}

}  // namespace
}  // namespace tavo::testing
