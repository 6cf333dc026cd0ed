// keyscrub run as a real process against a temporary any-user folder.

#include <sys/syscall.h>

#include <thread>

#include "tests/support/capturing_log.h"

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

TEST_F(KeyscrubTest, Outcomes) {
  PlistDict a = dict({{"B", PlistValue(dict({{"C", "bc"}}))}, {"C", "ac"}, {"S", "s"}});
  PlistDict p = dict({{"A", PlistValue(a)}, {"keep", PlistValue(1.5)}});
  PlistDict stored = dict({{"P", PlistValue(p)}, {"N", PlistValue(4)}, {"other", "o"}});
  const std::pair<std::vector<std::string>, std::vector<std::string>> cases[] = {
      // the arguments, and the key path removed (none: the file stays byte for byte)
      {{}, {}}, {{domain}, {}}, {{domain, "P"}, {}}, {{domain, "absent", "x"}, {}},
      {{domain, "N", "x"}, {}}, {{domain, "P", "A", "S", "C"}, {}}, {{"../escape", "P", "A"}, {}},
      {{domain, "P", "A", "B", "X"}, {}}, {{domain, "P", "A", "B", "C"}, {"P", "A", "B", "C"}},
      {{domain, "P", "A", "X", "C"}, {"P", "A", "C"}},
  };
  for (const auto& [args, removed] : cases) {
    SCOPED_TRACE(::testing::PrintToString(args));
    ASSERT_TRUE(writePlistFile(file(), stored, PlistFormat::Binary));
    const std::string before = readFile(file());
    run(args);
    if (removed.empty()) {
      EXPECT_EQ(readFile(file()), before);
      continue;
    }
    PlistFile after = readPlistFile(file());
    EXPECT_EQ(after.format, PlistFormat::Binary);
    EXPECT_EQ(after.dict, withoutEntry(stored, removed));
  }
  EXPECT_FALSE(std::filesystem::exists(prefs.root() + "/escape.plist"));
}

TEST_F(KeyscrubTest, LeavesAnUnreadableFileAsItWasAndWritesNoneWhereThereWasNone) {
  writeFile(file(), "bplist00 truncated");
  run({domain, "Banks", "x"});
  EXPECT_EQ(readFile(file()), "bplist00 truncated");
  std::filesystem::remove(file());
  run({domain, "Banks", "x"});
  EXPECT_FALSE(std::filesystem::exists(file()));
}

TEST_F(KeyscrubTest, RunsStartedTogetherAllTakeEffect) {
  PlistDict banks;
  auto bank = [](int i) { return "Bank " + std::to_string(i); };
  for (int i = 0; i < 12; ++i) banks.set(bank(i), PlistValue(dict({{"bank_path", "/b"}})));
  PlistDict stored = dict({{"Banks", PlistValue(banks)}, {"base_dir", "/x"}});
  ASSERT_TRUE(writePlistFile(file(), stored, PlistFormat::Xml));
  std::vector<std::thread> runs;
  for (int i = 0; i < 8; ++i) runs.emplace_back([&, i] { run({domain, "Banks", bank(i)}); });
  for (std::thread& t : runs) t.join();
  PlistFile after = readPlistFile(file());
  EXPECT_EQ(after.format, PlistFormat::Xml);
  const PlistDict& left = *after.dict.find("Banks")->dict();
  ASSERT_EQ(left.size(), 4u);
  for (int i = 8; i < 12; ++i) EXPECT_TRUE(left.find(bank(i)));
  EXPECT_EQ(*after.dict.find("base_dir")->string(), "/x");
}

// Held here, the domain's lock keeps keyscrub from reading until it is let go.
TEST_F(KeyscrubTest, WaitsForTheDomainsLockBeforeItReads) {
  PlistDict stored = dict({{"Banks", PlistValue(dict({{"Harp", "h"}, {"Drums", "d"}}))}});
  ASSERT_TRUE(writePlistFile(file(), stored, PlistFormat::Binary));
  const std::string before = readFile(file());
  CapturingLog log;
  FilePrefsStore store(prefs.roots(), log);
  auto lock = store.lockDomain(domain, PrefUser::Any, PrefHost::Current);
  Child run = Child::start({.argv = {KEYSCRUB_PATH, domain, "Banks", "Harp"},
                            .environment = std::vector<std::string>{env()}});
  ASSERT_TRUE(run.started());
  // Its system call of the moment tells that it waits in flock.
  const std::string waiting = std::to_string(SYS_flock) + " ";
  const std::string syscallFile = "/proc/" + std::to_string(run.pid()) + "/syscall";
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (readFile(syscallFile).rfind(waiting, 0) != 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_EQ(readFile(syscallFile).rfind(waiting, 0), 0u) << "keyscrub never waited for the lock";
  EXPECT_EQ(readFile(file()), before);
  lock.reset();
  EXPECT_EQ(run.wait(), 0);
  EXPECT_EQ(readPlistFile(file()).dict, withoutEntry(stored, {"Banks", "Harp"}));
}

// A failed write-back is reported by the exit status, the file left whole; a
// killed one leaves its temporary file, which the next run clears, and only
// that: an administrator's copies beside the domain's file stay.
TEST_F(KeyscrubTest, AFailedOrKilledWriteLeavesTheFileWholeAndOnlyItsTemporaryIsCleared) {
  PlistDict stored = dict({{"Banks", PlistValue(dict({{"Harp", "h"}, {"Drums", "d"}}))}});
  ASSERT_TRUE(writePlistFile(file(), stored, PlistFormat::Xml));
  for (const char* copy : {".backup", ".Backup", ".2024ab"}) writeFile(file() + copy, copy);
  const std::string before = readFile(file());
  const std::set<std::string> copies = entriesOf(prefs.roots().anyUserPrefs);
  for (bool killed : {false, true}) {  // a full disk: SIGXFSZ ignored fails the write, else kills
    const std::string shell = std::string(killed ? "" : "trap '' XFSZ; ") + "ulimit -f 0; exec \"$0\" \"$@\"";
    ToolRun r = runTool("/bin/sh", {"-c", shell, KEYSCRUB_PATH, domain, "Banks", "Harp"}, {env()});
    EXPECT_EQ(r.status, killed ? -1 : 1);
    EXPECT_EQ(readFile(file()), before);
    EXPECT_EQ(entriesOf(prefs.roots().anyUserPrefs).size(), copies.size() + (killed ? 1 : 0));
  }
  run({domain, "Banks", "Harp"});
  EXPECT_EQ(entriesOf(prefs.roots().anyUserPrefs), copies);
  for (const char* copy : {".backup", ".Backup", ".2024ab"}) EXPECT_EQ(readFile(file() + copy), copy);
  EXPECT_EQ(readPlistFile(file()).dict, withoutEntry(stored, {"Banks", "Harp"}));
}

// A value comes back exactly as it was recorded, where it was taken from (its
// place among its neighbours too: the player's first bank is its own), and
// never over another; through pkexec only a value an installed product names.
TEST_F(KeyscrubTest, RestorePutsAValueBackExactlyAndNeverOverAnother) {
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

// Through pkexec it acts only on a domain that an installed product names.
TEST_F(KeyscrubTest, UnderPkexecChangesOnlyANamedDomain) {
  TempDir bundle;
  const std::string tool = bundled(KEYSCRUB_PATH, bundle / "B.app", "Resources",
                                   "P\nV\n-\n~/Library/Preferences/" + domain + ".plist$_var(B/x)$\n-\n");
  const PlistDict stored = dict({{"B", PlistValue(dict({{"x", "1"}}))}});
  const std::string other = prefs.anyUserFile("com.other");
  ASSERT_TRUE(writePlistFile(file(), stored, PlistFormat::Xml) && writePlistFile(other, stored, PlistFormat::Xml));
  const std::string before = readFile(other);
  ToolRun named = runTool(tool, {domain, "B", "x"}, {env(), "PKEXEC_UID=0"});
  ToolRun refused = runTool(tool, {"com.other", "B", "x"}, {env(), "PKEXEC_UID=0"});
  EXPECT_EQ(readPlistFile(file()).dict, withoutEntry(stored, {"B", "x"}));
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err, "keyscrub: com.other is not a domain that an installed product names\n");
  EXPECT_EQ(readFile(other), before);
}

}  // namespace
}  // namespace tavo::testing
