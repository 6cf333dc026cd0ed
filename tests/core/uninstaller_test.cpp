#include "tests/core/core_fixture.h"

namespace tavo::testing {
namespace {

class UninstallerTest : public CoreFixture {};

TEST_F(UninstallerTest, CreationFindsResourcesAndLogsInOrder) {
  description("b.txt", "");
  description("a.txt", "");
  tree.mkdirs("T.app/Contents/Resources/Products/folder.txt");
  processInfo.version = "Version 10.5 and 10.6";
  auto unins = makeController(setup());
  std::string products = bundle.resourcePath() + "/Products/";
  EXPECT_EQ(unins->configPaths(), (Lines{products + "a.txt", products + "b.txt"}));
  EXPECT_EQ(unins->products(), nullptr);
  EXPECT_EQ(log.lines(), (Lines{"ConfigPath: (null)", "OS X : 7", "OS name : TestOS",
                                "OS version : Version 10.5 and 10.6", "10.5 !"}));

  tree.write("T.app/Contents/Resources/unins.txt");
  processInfo.version = "Test 1.0";
  log.clear();
  auto found = makeController(setup());
  EXPECT_EQ(log.lines().front(), "ConfigPath: " + bundle.resourcePath() + "/unins.txt");
  EXPECT_EQ(log.lines().size(), 4u);  // no version line
}

TEST_F(UninstallerTest, ScanHandsItsClosingStepsToTheMainThreadAsOneUnit) {
  std::string a = tree.write("a"), b = tree.write("b");
  description("p.txt", "A\nV\n-\n" + a + "\n-\nB\nV\n-\n" + b + "\n-\n\nV\n-\n" + a + "\n-\n");
  description("q.txt", "Absent\nV\n-\n" + tree / "none" + "\n-\n");
  scan();
  EXPECT_EQ(ui.handOvers, 1);
  EXPECT_EQ(ui.events,
            (Lines{"cleared", "item 0 A", "item 1 B", "item 2 ", "text", "enabled", "finished"}));
  // Each product as the worker starts on it, also one that is not found.
  EXPECT_EQ(scanned, (Lines{"A", "B", "", "Absent"}));
  EXPECT_EQ(ui.text, "\n\nPaths:\n\n" + a + "\n");
}

// The tool's own output must not reach ours, where tavo-scan prints JSON.
TEST_F(UninstallerTest, ReceiptCheckAnswersFromTheExitStatusAlone) {
  ::testing::internal::CaptureStdout();
  bool yes = controller().recpExists("com.ok.player");
  bool no = controller().recpExists("com.other");
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_TRUE(yes);
  EXPECT_FALSE(no);
  EXPECT_TRUE(log.lines().empty());
  // A tool that cannot be started is no answer about the receipt: it is logged.
  SessionSetup missing = setup();
  missing.tools.packageTool = tree / "no-such-tool";
  description("a.txt", "A\nV\n-\n$_pkg(com.ok.a)$\n-\nB\nV\n-\n$_pkg(com.ok.b)$\n-\n");
  log.clear();
  auto noTool = makeController(missing);
  EXPECT_FALSE(noTool->recpExists("com.ok.player"));
  const std::string notStarted =
      "Receipt test: cannot start " + tree / "no-such-tool" + ": No such file or directory";
  EXPECT_EQ(log.lines().back(), notStarted);
  noTool->parse();  // asks once for both lines, and says so once
  EXPECT_EQ(log.count(notStarted), 2u);
  EXPECT_TRUE(noTool->products()->empty());
}

// A package tool that never ends must not keep a cancelled scan waiting, and
// the entry being read when the scan is cancelled leaves nothing behind.
TEST_F(UninstallerTest, CancellingEndsTheWaitingToolAndKeepsNoHalfEntry) {
  tree.write("slowtool", "#!/bin/sh\ntouch \"$0.started\"\nexec sleep 60\n", 0755);
  SessionSetup slow = setup();
  slow.tools.packageTool = tree / "slowtool";
  description("a.txt", "A\nV\n-\n" + tree.write("f") + "\n$_pkg(com.slow)$\n-\nB\nV\n-\n" +
                           tree / "f" + "\n-\n");
  auto unins = makeController(slow);
  std::thread cancel([&] {
    while (!exists(tree / "slowtool.started")) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    unins->cancelScan();
  });
  auto start = std::chrono::steady_clock::now();
  unins->parse();
  cancel.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  EXPECT_TRUE(unins->products()->empty());
  EXPECT_EQ(log.count("manque la liste de trucs à effacer"), 0u);
}

}  // namespace
}  // namespace tavo::testing
