// keyscrub run as a real process against a temporary any-user folder.

#include "tests/support/prefs_fixture.h"
#include "tests/support/throwaway_root.h"
#include "tests/support/tool_run.h"

namespace tavo::testing {
namespace {

// Root-level: the real keyscrub, run as root.
class KeyscrubTest : public ::testing::Test {
 protected:
  void SetUp() override { TAVO_REQUIRE_THROWAWAY_ROOT(); }
  // keyscrub prints nothing and exits 0 whether or not there was an entry.
  void run(const std::vector<std::string>& args) {
    ToolRun r = runTool(KEYSCRUB_PATH, args, {env()});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out + r.err, "");
  }
  std::string env() const { return "TAVO_TEST_ANY_USER_PREFS=" + prefs.roots().anyUserPrefs; }
  std::string file() const { return prefs.anyUserFile(domain); }

  TempPrefs prefs;
  const std::string domain = "com.Korvelin.TAVO Player";
};

// What the command line adds over the deletion itself (tests/prefs): too few
// arguments change nothing, the any-user file of the current host is the one
// changed, and only a failed write-back gives status 1, with or without an entry.
TEST_F(KeyscrubTest, ArgumentsScopeAndExitStatuses) {
  const PlistDict stored = dict({{"P", PlistValue(dict({{"A", PlistValue(dict({{"C", "ac"}}))}}))}});
  const std::pair<std::vector<std::string>, bool> cases[] = {  // the arguments, and whether P/A/C goes
      {{}, false}, {{domain}, false}, {{domain, "P", "A", "C"}, true}};
  for (const auto& [args, removed] : cases) {
    SCOPED_TRACE(::testing::PrintToString(args));
    ASSERT_TRUE(writePlistFile(file(), stored, PlistFormat::Binary));
    const std::string before = readFile(file());
    run(args);
    if (!removed) {
      EXPECT_EQ(readFile(file()), before);
      continue;
    }
    const PlistFile after = readPlistFile(file());
    EXPECT_EQ(after.format, PlistFormat::Binary);
    EXPECT_EQ(after.dict, withoutEntry(stored, {"P", "A", "C"}));
  }
  // A full disk: SIGXFSZ ignored fails the write-back, which the status reports.
  EXPECT_EQ(runTool("/bin/sh", {"-c", "trap '' XFSZ; ulimit -f 0; exec \"$0\" \"$@\"", KEYSCRUB_PATH, domain,
                                "P", "A"}, {env()}).status, 1);
}

// A value comes back exactly, at its old place among its neighbours, and never
// over another. Through pkexec it acts only on what an installed product names.
TEST_F(KeyscrubTest, RestoresAValueExactlyAndUnderPkexecActsOnlyOnWhatIsNamed) {
  TempDir bundle;
  const std::string named = bundled(KEYSCRUB_PATH, bundle / "B.app", "Resources",
                                    "P\nV\n-\n~/Library/Preferences/" + domain + ".plist$_var(Banks/Harp)$\n-\n");
  const PlistValue harp = PlistValue(richDomain()), other = PlistValue(7);
  std::string value;
  ASSERT_TRUE(serializePlist(dict({{"Value", harp}, {"Position", 0}}), PlistFormat::Binary, value));
  const PlistDict drums = dict({{"Banks", dict({{"Drums", other}})}});
  const PlistDict both = dict({{"Banks", dict({{"Harp", harp}, {"Drums", other}})}});  // first, as it was
  struct Row { std::string tool; std::vector<std::string> args; std::optional<PlistDict> before, after; int status; };
  const Row rows[] = {
      {KEYSCRUB_PATH, {"--restore", domain, "Banks", "Harp"}, drums, both, 0},
      {KEYSCRUB_PATH, {"--restore", domain, "Banks", "Harp"}, both, both, 1},  // there now: it stays
      {KEYSCRUB_PATH, {"--restore", domain, "Banks", "Harp"}, std::nullopt, dict({{"Banks", dict({{"Harp", harp}})}}), 0},
      {KEYSCRUB_PATH, {"--restore", domain, "Banks"}, drums, drums, 1},
      {named, {"--restore", domain, "Banks", "Harp"}, drums, both, 0},
      {named, {"--restore", domain, "Banks", "Drum"}, dict({}), dict({}), 1},
      {named, {domain, "Banks", "Harp"}, both, drums, 0},
      {named, {"com.other", "Banks", "Harp"}, both, both, 1},  // would be absent: 0 if not refused
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.args) + row.tool);
    std::filesystem::remove(file());
    if (row.before) {
      ASSERT_TRUE(writePlistFile(file(), *row.before, PlistFormat::Binary));
    }
    std::vector<std::string> argv = row.args;
    argv.insert(argv.begin(), row.tool);
    ToolRun r = runArgv(argv, {env(), row.tool == named ? "PKEXEC_UID=0" : "X=1"}, value);
    EXPECT_EQ(r.status, row.status) << r.err;
    EXPECT_EQ(readPlistFile(file()).dict, row.after.value_or(PlistDict())) << r.err;
  }
}

}  // namespace
}  // namespace tavo::testing
