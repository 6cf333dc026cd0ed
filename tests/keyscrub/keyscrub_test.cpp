// keyscrub run as a real process against a temporary any-user folder.

#include <thread>

#include "tests/fakes/tool_process.h"
#include "tests/prefs/prefs_test_support.h"

namespace tavo {
namespace {

using testing::dictOf;
using testing::fileBytes;

class KeyscrubTest : public ::testing::Test {
 protected:
  // keyscrub prints nothing and always exits 0, whatever the outcome.
  void run(const std::vector<std::string>& args) {
    const std::string env = "TAVO_TEST_ANY_USER_PREFS=" + prefs.roots().anyUserPrefs;
    test::ToolRun r = test::runTool(KEYSCRUB_PATH, args, {env});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out + r.err, "");
  }
  std::string file() const { return prefs.anyUserFile(domain); }

  testing::TempPrefs prefs;
  const std::string domain = "com.Korvelin.TAVO Player";
};

TEST_F(KeyscrubTest, Outcomes) {
  PlistDict a = dictOf({{"B", PlistValue(dictOf({{"C", "bc"}}))}, {"C", "ac"}, {"S", "s"}});
  PlistDict p = dictOf({{"A", PlistValue(a)}, {"keep", PlistValue(1.5)}});
  PlistDict stored = dictOf({{"P", PlistValue(p)}, {"N", PlistValue(4)}, {"other", "o"}});
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
    const std::string before = fileBytes(file());
    run(args);
    if (removed.empty()) {
      EXPECT_EQ(fileBytes(file()), before);
      continue;
    }
    PlistFile after = readPlistFile(file());
    EXPECT_EQ(after.format, PlistFormat::Binary);
    EXPECT_EQ(after.dict, testing::withoutEntry(stored, removed));
  }
  EXPECT_FALSE(std::filesystem::exists(prefs.root() + "/escape.plist"));
}

TEST_F(KeyscrubTest, LeavesAnUnreadableFileAsItWasAndWritesNoneWhereThereWasNone) {
  testing::writeBytes(file(), "bplist00 truncated");
  run({domain, "Banks", "x"});
  EXPECT_EQ(fileBytes(file()), "bplist00 truncated");
  std::filesystem::remove(file());
  run({domain, "Banks", "x"});
  EXPECT_FALSE(std::filesystem::exists(file()));
}

TEST_F(KeyscrubTest, RunsStartedTogetherAllTakeEffect) {
  PlistDict banks;
  auto bank = [](int i) { return "Bank " + std::to_string(i); };
  for (int i = 0; i < 12; ++i) banks.set(bank(i), PlistValue(dictOf({{"bank_path", "/b"}})));
  PlistDict stored = dictOf({{"Banks", PlistValue(banks)}, {"base_dir", "/x"}});
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

}  // namespace
}  // namespace tavo
