// tavo-uninstall's choices: which products a name picks, what it asks on the
// terminal, its exit statuses and its JSON report. The privileged runs are
// the fake's; the command run as root for real is tested in the throwaway root.

#include <sstream>

#include "cli/uninstall.h"
#include "tests/core/core_fixture.h"

namespace tavo::testing {
namespace {

TEST(UninstallArgumentsTest, AcceptsAListOrOneNameWithItsOptions) {
  const std::pair<Lines, bool> cases[] = {
      {{"--list"}, true},        {{"--list", "--json"}, true}, {{"Glass Harp"}, true},
      {{"X", "--yes", "--all", "--json"}, true},
      {{"X", "--user", "a", "--user", "b", "--dry-run", "--verbose"}, true}, {{"--list", "--all-users"}, true},
      {{}, false},               {{"--list", "X"}, false},     {{"A", "B"}, false},
      {{"X", "--force"}, false}, {{"--json"}, false},          {{"X", "--user"}, false},
      {{"X", "--user", "--yes"}, false}, {{"X", "--user", "a", "--all-users"}, false},
      {{"--history", "--all-users"}, true}, {{"--undo"}, true}, {{"--undo", "ID", "--yes", "--user", "a"}, true},
      {{"--history", "X"}, false}, {{"--undo", "--list"}, false}, {{"--undo", "--all-users"}, false},
  };
  for (const auto& [args, ok] : cases) {
    UninstallOptions options;
    std::string error;
    EXPECT_EQ(parseUninstallArguments(args, options, error), ok) << ::testing::PrintToString(args);
    EXPECT_EQ(error.empty(), ok) << error;
  }
}

class TavoUninstallTest : public CoreFixture {
 protected:
  TavoUninstallTest() {
    tree.write("T.app/Contents/Resources/sweeper");
    tree.write("T.app/Contents/Resources/keyscrub");
    harp1 = tree.write("one/Glass Harp/a");
    harp2 = tree.write("two/Glass Harp/b");
    description("p.txt", "Glass Harp\nK\n-\n" + tree / "one/Glass Harp" + "\n$_pkg(com.ok.harp)$\n"
                         "-\nGlass Harp\nOther\n-\n" + tree / "two/Glass Harp" + "\n-\n"
                         "Iron Drums\nK\n-\n" + tree.write("drums") + "\n-\n"
                         "Velvet Choir\nK\n-\n" + tree / "none" + "\n-\n");
  }
  /// Runs the command over the fixture's machine, answering `typed` on the terminal.
  int run(const Lines& args, const std::string& typed = "") {
    UninstallOptions options;
    std::string error;
    EXPECT_TRUE(parseUninstallArguments(args, options, error)) << error;
    std::istringstream in(typed);
    TerminalAlert terminal(in, options.json ? err : out, options.yes);
    SessionSetup s = setup();
    s.alert = &terminal;
    return runUninstall(options, *openRemovalSession(s), out, err);
  }
  std::string harp1, harp2;
  std::ostringstream out, err;
};

TEST_F(TavoUninstallTest, ANameOfSeveralProductsIsRefusedUnlessAllAreAskedFor) {
  EXPECT_EQ(run({"Glass Harp", "--yes"}), 2);
  EXPECT_NE(err.str().find("2 products are named \"Glass Harp\""), std::string::npos) << err.str();
  EXPECT_NE(err.str().find("Glass Harp (Other), 2 paths"), std::string::npos) << err.str();
  EXPECT_TRUE(authorization.started.empty());
  EXPECT_EQ(run({"Glass Piano", "--yes"}), 2);
  // The fake's sweeper says the same of every run: each removal reports its own entry.
  const std::string one = tree / "one/Glass Harp", two = tree / "two/Glass Harp";
  authorization.programOutput = "moved: " + one + " -> /t/files/Glass Harp\nrefused: /x: no\n" +
                                "moved: " + two + " -> /t/files/Glass Harp.2\n";
  EXPECT_EQ(run({"Glass Harp", "--yes", "--all", "--json"}), 0);
  // Both removed, each with what it reported; the questions stayed off the document.
  EXPECT_EQ(out.str(),
            "{\"removals\": [{\"name\": \"Glass Harp\", \"vendor\": \"K\", \"removed\": true, "
            "\"moved\": [\"" + one + "\"], \"forgotten\": [\"com.ok.harp\"], \"deleted\": [], "
            "\"kept\": []}, {\"name\": \"Glass Harp\", \"vendor\": \"Other\", \"removed\": true, "
            "\"moved\": [\"" + two + "\"], \"forgotten\": [], \"deleted\": [], \"kept\": []}]}\n");
  EXPECT_NE(err.str().find("You are about to remove this product:"), std::string::npos);
}

TEST_F(TavoUninstallTest, AsksOnTheTerminalAndSkipsUnlessTheAnswerIsYes) {
  const std::pair<std::string, int> answers[] = {
      {"r\n", 0}, {"YES\n", 0}, {"n\n", 1}, {"\n", 1}, {"", 1}};  // "" : end of input
  for (const auto& [typed, status] : answers) {
    out.str("");
    authorization.started.clear();
    EXPECT_EQ(run({"Iron Drums"}, typed), status) << typed;
    EXPECT_EQ(authorization.started.size(), status == 0 ? 1u : 0u) << typed;
    EXPECT_NE(out.str().find("\n\nPaths:\n\n" + tree / "drums"), std::string::npos);
    EXPECT_NE(out.str().find("Remove or Skip? [r/S] "), std::string::npos);
  }
  out.str("");
  EXPECT_EQ(run({"Iron Drums", "--json"}, "n\n"), 1);
  EXPECT_EQ(out.str(), "{\"removals\": [{\"name\": \"Iron Drums\", \"vendor\": \"K\", "
                       "\"removed\": false, \"skipped\": true}]}\n");
}

TEST_F(TavoUninstallTest, ListAndDryRunChangeNothing) {
  EXPECT_EQ(run({"--list"}), 0);
  EXPECT_EQ(out.str().rfind("Glass Harp\n  vendor: K\n", 0), 0u) << out.str();
  out.str("");
  EXPECT_EQ(run({"Glass Harp", "--all", "--dry-run"}), 0);
  EXPECT_EQ(out.str(), "Glass Harp (K)\n  would move: " + tree / "one/Glass Harp" + "\n  would forget: com.ok.harp\n"
                       "Glass Harp (Other)\n  would move: " + tree / "two/Glass Harp" + "\n") << out.str();
  EXPECT_TRUE(authorization.started.empty());
}

// For several accounts: one that holds nothing of a product is no mistake; a
// name no description knows is.
TEST_F(TavoUninstallTest, ForAccountsAProductInstalledNowhereIsReportedSo) {
  std::unique_ptr<RemovalSession> session = openRemovalSession(setup());
  std::istringstream none;
  TerminalAlert terminal(none, err, true);
  for (const auto& [name, status] : {std::pair{"Iron Drums", 0}, {"Velvet Choir", 0}, {"Oboe", 2}}) {
    UninstallOptions options{.allUsers = true, .users = {}, .name = name};
    EXPECT_EQ(runForAccounts(options, {{"eve", "/home/eve", session.get()}}, terminal, out, err, false), status);
  }
  EXPECT_EQ(out.str(), "eve (/home/eve): \"Iron Drums\" is not installed\n"
                       "eve (/home/eve): \"Velvet Choir\" is not installed\n");
  EXPECT_EQ(err.str(), "tavo-uninstall: no product is named \"Oboe\"\n");
  EXPECT_TRUE(authorization.started.empty());
}

}  // namespace
}  // namespace tavo::testing
