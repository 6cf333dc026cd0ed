#include "tests/core/core_fixture.h"

namespace tavo::testing {
namespace {

class UninstallerTest : public CoreFixture {};

TEST_F(UninstallerTest, CreationFindsResourcesAndLogsInOrder) {
  description("b.txt", "");
  description("a.txt", "");
  tree.mkdirs("T.app/Contents/Resources/Products/folder.txt");
  processInfo.version = "Version 10.5 and 10.6";
  Uninstaller unins(collaborators());
  std::string products = bundle.resourcePath() + "/Products/";
  EXPECT_EQ(unins.configPaths(), (Lines{products + "a.txt", products + "b.txt"}));
  EXPECT_EQ(unins.products(), nullptr);
  EXPECT_EQ(log.lines(), (Lines{"ConfigPath: (null)", "OS X : 7", "OS name : TestOS",
                                "OS version : Version 10.5 and 10.6", "10.5 !"}));

  tree.write("T.app/Contents/Resources/unins.txt");
  processInfo.version = "Test 1.0";
  log.clear();
  Uninstaller found(collaborators());
  EXPECT_EQ(log.lines().front(), "ConfigPath: " + bundle.resourcePath() + "/unins.txt");
  EXPECT_EQ(log.lines().size(), 4u);  // no version line
}

TEST_F(UninstallerTest, ScanHandsItsClosingStepsToTheMainThreadAsOneUnit) {
  std::string a = tree.write("a"), b = tree.write("b");
  description("p.txt", "A\nV\n-\n" + a + "\n-\nB\nV\n-\n" + b + "\n-\n\nV\n-\n" + a + "\n-\n");
  scan();
  EXPECT_EQ(ui.handOvers, 1);
  EXPECT_EQ(ui.events, (Lines{"item 0 A", "item 1 B", "item 2 ", "text", "enabled", "finished"}));
  EXPECT_EQ(ui.text, "\n\nPaths:\n\n" + a + "\n");
}

TEST_F(UninstallerTest, ScanThatFindsNothingStillFinishes) {
  scan();
  EXPECT_EQ(ui.events, (Lines{"text", "disabled", "finished"}));
  EXPECT_EQ(ui.text, "There is nothing to uninstall");
}

// The tool's own output must not reach ours, where tavo-scan prints JSON.
TEST_F(UninstallerTest, ReceiptTestAnswersFromTheExitStatusAlone) {
  ::testing::internal::CaptureStdout();
  bool yes = controller().recpExists("com.ok.player");
  bool no = controller().recpExists("com.other");
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_TRUE(yes);
  EXPECT_FALSE(no);
  UninstallerCollaborators missing = collaborators();
  missing.packageTool = tree / "no-such-tool";
  EXPECT_FALSE(Uninstaller(missing).recpExists("com.ok.player"));
}

}  // namespace
}  // namespace tavo::testing
