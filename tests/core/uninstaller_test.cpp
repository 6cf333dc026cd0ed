#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "tests/core/core_fixture.h"

namespace tavo::testing {
namespace {

using Lines = std::vector<std::string>;

class RecordingRelay final : public ScanRelay {
 public:
  explicit RecordingRelay(Journal& journal) : journal_(journal) {}
  void scanFinished() override { journal_.add("finished"); }

 private:
  Journal& journal_;
};

class UninstallerTest : public CoreFixture {};

TEST_F(UninstallerTest, CreationFindsResourcesAndLogsInOrder) {
  description("b.txt", "");
  description("a.txt", "");
  description("notes.rtf", "");
  tree.mkdirs("T.app/Contents/Resources/Products/folder.txt");
  FakeProcessInfo both("Version 10.5 and 10.6");
  Uninstaller unins({.store = store, .log = log, .bundle = bundle, .processInfo = both,
                     .mainThread = mainThread, .authorization = authorization});
  std::string products = bundle.resourcePath() + "/Products/";
  EXPECT_EQ(unins.configPaths(), (Lines{products + "a.txt", products + "b.txt"}));
  EXPECT_EQ(unins.products(), nullptr);
  EXPECT_FALSE(unins.freeAuth());
  EXPECT_EQ(log.lines(), (Lines{"ConfigPath: (null)", "OS X : 7", "OS name : TestOS",
                                "OS version : Version 10.5 and 10.6", "10.5 !"}));

  tree.write("T.app/Contents/Resources/unins.txt");
  log.clear();
  Uninstaller found({.store = store, .log = log, .bundle = bundle, .processInfo = processInfo,
                     .mainThread = mainThread, .authorization = authorization});
  EXPECT_EQ(log.lines().front(), "ConfigPath: " + bundle.resourcePath() + "/unins.txt");
  EXPECT_EQ(log.lines().size(), 4u);  // no version line for "Test 1.0"
}

TEST_F(UninstallerTest, ScanHandsItsClosingStepsToTheMainThreadAsOneUnit) {
  std::string a = tree.write("a");
  std::string b = tree.write("b");
  description("p.txt", "A\nV\n-\n" + a + "\n-\nB\nV\n-\n" + b + "\n-\n\nV\n-\n" + a + "\n-\n");
  RecordingRelay relay(journal);
  Uninstaller& unins = controller();
  std::thread worker([&] { unins.scan(relay); });
  mainThread.pumpOne();
  worker.join();
  EXPECT_EQ(mainThread.handOvers(), 1u);
  EXPECT_EQ(journal.events(),
            (Lines{"item 0 A", "item 1 B", "item 2 ", "text", "enabled", "finished"}));
  EXPECT_TRUE(journal.allOn(std::this_thread::get_id()));
  EXPECT_EQ(textView.text(), "\n\nPaths:\n\n" + a + "\n");

  // Tags stay indexes into the list after an item has gone.
  listButton.removeItemWithTag(1);
  listButton.select(2);
  unins.listButtonValueChanged();
  EXPECT_EQ(textView.text(), "\n\nPaths:\n\n" + a + "\n");
  listButton.select(1);
  unins.listButtonValueChanged();
  EXPECT_EQ(textView.text(), "\n\nPaths:\n\n" + b + "\n");
}

TEST_F(UninstallerTest, ScanThatFindsNothingStillFinishes) {
  RecordingRelay relay(journal);
  Uninstaller& unins = controller();
  std::thread worker([&] { unins.scan(relay); });
  mainThread.pumpOne();
  worker.join();
  EXPECT_EQ(journal.events(), (Lines{"text", "disabled", "finished"}));
  EXPECT_EQ(textView.text(), "There is nothing to uninstall");
}

TEST_F(UninstallerTest, RunWithConfigPathKeepsThePathAndParsesAgain) {
  std::string a = tree.write("a");
  description("p.txt", "A\nV\n-\n" + a + "\n-\n");
  Uninstaller& unins = controller();
  unins.runWithConfigPath(std::string("/elsewhere"));
  EXPECT_EQ(unins.configPath(), std::optional<std::string>("/elsewhere"));
  EXPECT_EQ(names(*unins.products()), (Lines{"A"}));
}

// The tool's own output must not reach ours, where tavo-scan prints JSON.
TEST_F(UninstallerTest, ReceiptTestAnswersFromTheExitStatusAlone) {
  std::string captured = at("stdout");
  fflush(stdout);
  int saved = ::dup(1);
  int file = ::open(captured.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ::dup2(file, 1);
  bool yes = controller().recpExists("com.ok.player");
  bool no = controller().recpExists("com.other");
  fflush(stdout);
  ::dup2(saved, 1);
  ::close(saved);
  ::close(file);
  EXPECT_TRUE(yes);
  EXPECT_FALSE(no);
  std::ostringstream text;
  text << std::ifstream(captured).rdbuf();
  EXPECT_EQ(text.str(), "");

  Uninstaller missingTool({.store = store, .log = log, .bundle = bundle,
                           .processInfo = processInfo, .mainThread = mainThread,
                           .packageTool = at("no-such-tool"), .authorization = authorization});
  EXPECT_FALSE(missingTool.recpExists("com.ok.player"));
}

}  // namespace
}  // namespace tavo::testing
