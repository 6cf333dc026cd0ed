// The summary, the remove button and the removal sequence, with the fake
// authorisation: nothing is ever started, every start is only recorded.

#include <fstream>
#include <sstream>

#include "tests/core/core_fixture.h"

namespace tavo::testing {
namespace {

using Lines = std::vector<std::string>;
using Runs = std::vector<Lines>;

class SilentRelay final : public ScanRelay {
 public:
  void scanFinished() override {}
};

class RemovalTest : public CoreFixture {
 protected:
  RemovalTest() {
    // The tools need only exist: the fake authorisation starts nothing.
    file("T.app/Contents/Resources/sweeper");
    file("T.app/Contents/Resources/keyscrub");
    tree.write("T.app/Contents/Resources/listPath.txt", "old\n");
    // The bundle's own list file, used only while it and its folder are ours alone.
    ::chmod(bundle.resourcePath().c_str(), 0755);
    ::chmod(listFile.c_str(), 0600);
  }

  // Lays out a file or a folder; its path as the scan sees it.
  std::string file(const std::string& rel) {
    tree.write(rel);
    return at(rel);
  }
  std::string folder(const std::string& rel) {
    tree.mkdirs(rel);
    return at(rel);
  }
  // The current user's "com.t" with the key path Banks/Harp.
  void harpPreferences() {
    PlistDict harp;
    harp.set("k", "v");
    PlistDict banks;
    banks.set("Harp", harp);
    PlistDict top;
    top.set("Banks", banks);
    prefs("com.t", top);
  }
  // The closing steps run at once on this thread, which plays the main thread.
  void scan() {
    SilentRelay relay;
    controller().scan(relay);
  }
  const Product& product(std::size_t index) { return *(*controller().products())[index]; }
  std::string listText() const {
    std::ostringstream text;
    text << std::ifstream(listFile, std::ios::binary).rdbuf();
    return text.str();
  }
  // The programs started, in order, without their arguments.
  Lines programs() const {
    Lines out;
    for (const Lines& run : authorization.started) out.push_back(run.front());
    return out;
  }

  std::string resources = bundle.resourcePath();
  std::string sweeper = resources + "/sweeper";
  std::string keyscrub = resources + "/keyscrub";
  std::string listFile = resources + "/listPath.txt";
  std::string trash = root + "/home/.local/share/Trash";
  std::string pkgutil = root + "/pkgutil";
  // Should the bundle's list file ever be passed over, the private one stays in here too.
  ScopedEnv runtimeEnv{"XDG_RUNTIME_DIR", root + "/run"};
};

TEST_F(RemovalTest, SummaryShowsEachNonEmptyListUnderItsHeadingInAFixedOrder) {
  std::string a = file("a"), b = file("b"), pf = file("p.plist");
  harpPreferences();
  description("p.txt", "Receipts\nV\n-\n$_pkg(com.ok.a)$\n$_pkg(com.ok.b)$\n-\n"
                       "Paths\nV\n-\n" + a + "\n-\n"
                       "Both\nV\n-\n" + a + "\n$_pkg(com.ok.a)$\n-\n"
                       "All\nV\n-\n" + b + "\n$_plist(" + pf + ")$\ncom.t.plist$_var(Banks/Harp)$\n"
                       "$_pkg(com.ok.c)$\n-\n");
  scan();
  const std::string expected[] = {
      "\nReceipts:\n\ncom.ok.a\ncom.ok.b\n",
      "\n\nPaths:\n\n" + a + "\n",
      "\nReceipts:\n\ncom.ok.a\n\n\nPaths:\n\n" + a + "\n",
      "\nReceipts:\n\ncom.ok.c\n\n\nPreference Vars:\n\ncom.t::Banks/Harp\n"
      "\n\nPreference Files:\n\n" + pf + "\n\n\nPaths:\n\n" + b + "\n",
  };
  ASSERT_EQ(controller().products()->size(), std::size(expected));
  for (long tag = 0; tag < static_cast<long>(std::size(expected)); ++tag) {
    removeButton.setEnabled(false);
    listButton.select(tag);
    controller().listButtonValueChanged();
    EXPECT_EQ(textView.text(), expected[tag]) << tag;
    EXPECT_TRUE(removeButton.enabled()) << tag;
  }
}

TEST_F(RemovalTest, SkipRunsNothingAndLeavesTheSameProductSelected) {
  description("p.txt", "A\nV\n-\n" + file("a") + "\n-\nB\nV\n-\n" + file("b") + "\n-\n");
  scan();
  listButton.select(1);
  controller().listButtonValueChanged();
  std::string summary = textView.text();
  alert.answers = {Alert::kSecondButtonReturn};

  controller().removeClicked();
  EXPECT_EQ(alert.shown, (std::vector<Lines>{
                             {"You are about to remove this product:", "B", "Remove", "Skip"}}));
  EXPECT_TRUE(authorization.calls.empty());
  EXPECT_EQ(listText(), "old\n");
  EXPECT_EQ(listButton.itemCount(), 2u);
  EXPECT_EQ(listButton.selectedTag(), 1);
  EXPECT_EQ(textView.text(), summary);
  Lines events = journal.events();
  EXPECT_EQ(Lines(events.end() - 2, events.end()), (Lines{"disabled", "enabled"}));
}

TEST_F(RemovalTest, RemovedItemsLeaveTheOthersTagsAloneUntilNothingIsLeft) {
  std::string a = file("a"), b = file("b"), c = file("c");
  description("p.txt", "A\nV\n-\n" + a + "\n-\nB\nV\n-\n" + b + "\n-\nC\nV\n-\n" + c + "\n-\n");
  scan();
  listButton.select(1);
  controller().removeClicked();
  EXPECT_EQ(listText(), b + "\n");
  EXPECT_EQ(listButton.itemCount(), 2u);
  EXPECT_EQ(textView.text(), "\n\nPaths:\n\n" + a + "\n");  // the fake selects the first left
  listButton.select(2);
  controller().listButtonValueChanged();
  EXPECT_EQ(textView.text(), "\n\nPaths:\n\n" + c + "\n");

  controller().removeClicked();
  controller().removeClicked();
  EXPECT_EQ(listText(), a + "\n");
  EXPECT_EQ(listButton.itemCount(), 0u);
  EXPECT_EQ(textView.text(), "There is nothing to uninstall");
  EXPECT_FALSE(removeButton.enabled());
  EXPECT_EQ(controller().products()->size(), 3u);  // records stay; only items go
}

TEST_F(RemovalTest, ListFileHoldsEveryTopLevelEntryOnALineOfItsOwn) {
  std::string dirA = folder("A"), dirB = folder("B b"), dirC = folder("C");
  file("A/inner");
  description("p.txt", "P\nV\n-\n" + dirA + "\n" + dirB + "\n" + dirC + "\n-\n");
  scan();
  ASSERT_EQ(product(0).dirs(), (Lines{dirA, dirB, dirC}));

  EXPECT_TRUE(controller().removeProduct(product(0)));
  EXPECT_EQ(listText(), dirA + "\n" + dirB + "\n" + dirC + "\n");
  EXPECT_EQ(authorization.started, (Runs{{sweeper, trash, listFile}}));
}

TEST_F(RemovalTest, SweeperRunsOncePerNonEmptyListAroundTheReceipts) {
  std::string dir = folder("d"), prefFile = file("f.plist");
  struct Case {
    bool dirs, prefFiles;
    Lines programs;
  };
  // Receipts alone come first, on a controller that has made no privileged
  // run yet: they must still be forgotten.
  const Case cases[] = {
      {false, false, {pkgutil}},
      {true, false, {sweeper, pkgutil}},
      {false, true, {pkgutil, sweeper}},
      {true, true, {sweeper, pkgutil, sweeper}},
  };
  for (const Case& c : cases) {
    Product p;
    p.setName("P");
    if (c.dirs) p.addDir(dir);
    if (c.prefFiles) p.addPrefFile(prefFile);
    p.addRecp("com.ok.r");
    authorization.started.clear();
    EXPECT_TRUE(controller().removeProduct(p)) << c.dirs << c.prefFiles;
    EXPECT_EQ(programs(), c.programs) << c.dirs << c.prefFiles;
    if (c.prefFiles) {
      EXPECT_EQ(listText(), prefFile + "\n");  // the second write replaces the first
    }
  }
}

TEST_F(RemovalTest, PreferenceValuesSplitAtTheFirstDoubleColonThenAtEverySlash) {
  PlistDict banks;
  banks.set("Glass Harp", "/lib/Glass Harp");
  banks.set("Strings", "/lib/Strings");
  PlistDict top;
  top.set("Banks", banks);
  prefs("dom", top);
  Product p;
  p.addPrefVar("dom::Banks/Glass Harp");
  p.addPrefVar("dom::Banks::Old/Glass Harp");

  EXPECT_TRUE(controller().removeProduct(p));
  EXPECT_EQ(authorization.started, (Runs{{keyscrub, "dom", "Banks", "Glass Harp"},
                                         {keyscrub, "dom", "Banks::Old", "Glass Harp"}}));
  // The current user's value got the same two names.
  PlistDict left = top;
  left.find("Banks")->dict()->remove("Glass Harp");
  EXPECT_EQ(readPlistFile(home + "/Library/Preferences/dom.plist").dict, left);
}

TEST_F(RemovalTest, ARefusedCredentialStopsTheRemovalAndKeepsTheProduct) {
  harpPreferences();
  description("p.txt", "P\nV\n-\n" + file("a") + "\n$_pkg(com.ok.a)$\n$_plist(" +
                           file("p.plist") + ")$\ncom.t.plist$_var(Banks/Harp)$\n-\n");
  scan();
  authorization.requestAnswers = {false, false};

  EXPECT_FALSE(controller().removeProduct(product(0)));
  EXPECT_EQ(authorization.calls, (Lines{"test " + sweeper, "create", "request " + sweeper}));

  controller().removeClicked();
  EXPECT_TRUE(authorization.started.empty());
  EXPECT_TRUE(controller().prefExists("com.t", "Banks/Harp"));
  EXPECT_EQ(listButton.itemCount(), 1u);
  EXPECT_EQ(listButton.selectedTag(), 0);
  EXPECT_TRUE(removeButton.enabled());
}

}  // namespace
}  // namespace tavo::testing
