// tavo-uninstall run as root for real, as an administrator over SSH would:
// the shipped sweeper, pkgutil and keyscrub on the machine's own places.
// Only inside the throwaway root, whose machine is a disposable copy.

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/prefs_fixture.h"
#include "tests/support/throwaway_root.h"
#include "tests/support/tool_run.h"

namespace tavo::testing {
namespace {

namespace fs = std::filesystem;

TEST(TavoUninstallAsRoot, RemovesAProductEverywhereAndReportsIt) {
  TAVO_REQUIRE_THROWAWAY_ROOT();
  TempDir tree(rootsHome());
  const std::string home = tree.mkdirs("home"), bundle = tree / "T.app";
  for (const auto& [from, to] : {std::pair{TAVO_UNINSTALL, "Contents/MacOS/tavo-uninstall"},
                                 {TAVO_PKGUTIL, "Contents/MacOS/pkgutil"},
                                 {TAVO_SWEEPER, "Contents/Resources/sweeper"},
                                 {TAVO_KEYSCRUB, "Contents/Resources/keyscrub"}}) {
    fs::create_directories(fs::path(bundle + "/" + to).parent_path());
    fs::copy_file(from, bundle + "/" + to);
  }
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

}  // namespace
}  // namespace tavo::testing
