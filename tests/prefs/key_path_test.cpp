#include "prefs/key_path.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <thread>

#include "tests/support/prefs_fixture.h"

namespace tavo::testing {
namespace {

using namespace tavo::prefs;

class KeyPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A is a dictionary holding B (a dictionary whose only member is D),
    // C (a number) and S (a string).
    PlistDict a = dict({{"B", PlistValue(dict({{"D", "d"}}))},
                          {"C", PlistValue(7)},
                          {"S", "text"},
                          {"", "empty name"}});
    PlistDict domain = dict({{"A", PlistValue(a)}, {"top", "value"}, {"num", PlistValue(3)}});
    ASSERT_TRUE(writePlistFile(prefs.userFile("com.t"), domain, PlistFormat::Binary));
  }
  void writeUser(const PlistDict& d) {
    ASSERT_TRUE(writePlistFile(prefs.userFile("com.t"), d, PlistFormat::Binary));
  }
  bool read(const std::vector<std::string>& names, std::string& out) {
    return readConfigStringValue(store, "com.t", names, out);
  }

  TempPrefs prefs;
  NullLog log;
  FilePrefsStore store{prefs.roots(), log};
};

TEST_F(KeyPathTest, SplitKeepsEmptyNames) {
  EXPECT_EQ(splitKeyPath(""), (std::vector<std::string>{""}));
  EXPECT_EQ(splitKeyPath("A/"), (std::vector<std::string>{"A", ""}));
  EXPECT_EQ(splitKeyPath("/A//B"), (std::vector<std::string>{"", "A", "", "B"}));
}

TEST_F(KeyPathTest, StrictAndLenientWalks) {
  struct Case {
    std::string path;
    bool exists;       // lenient walk, current user only
    std::string text;  // what the strict walk to a string reads; "" when it fails
  };
  const Case cases[] = {
      {"A/B", true, ""},    // present, but not a string
      {"A/X/C", true, ""},  // absent middle name passed over / ends the strict walk
      {"A/B/C", false, ""},
      {"A", false, ""},  // one name: never exists
      {"A/S", true, "text"}, {"A/X/S", true, ""},
      {"A/S/C", false, ""},          // a string in the middle
      {"A/", true, "empty name"},    // the empty name after a trailing "/"
      {"top/x", false, ""},          // top-level value not a dictionary
      {"missing/x", false, ""},
      {"top", false, "value"},       // one name: the top-level string itself
  };
  for (const Case& c : cases) {
    EXPECT_EQ(prefExists(store, "com.t", c.path), c.exists) << c.path;
    std::string out = "untouched";
    EXPECT_EQ(read(splitKeyPath(c.path), out), !c.text.empty()) << c.path;
    EXPECT_EQ(out, c.text.empty() ? "untouched" : c.text) << c.path;
  }
  std::string out = "untouched";
  EXPECT_FALSE(read({}, out));  // no name at all
}

// The existence test sees only the current user's host-independent values;
// string reads follow the search list, where a number found first hides a string.
TEST_F(KeyPathTest, ScopesOfTheExistenceTestAndOfStringReads) {
  ASSERT_TRUE(writePlistFile(prefs.anyUserFile("com.t"), dict({{"G", PlistValue(dict({{"x", "1"}}))}}),
                             PlistFormat::Xml));
  ASSERT_TRUE(writePlistFile(prefs.roots().userPrefs + "/ByHost/com.t.HOSTID.plist",
                             dict({{"top", PlistValue(5)}, {"host", "h"}}), PlistFormat::Xml));
  EXPECT_FALSE(prefExists(store, "com.t", "G/x") || prefExists(store, "com.t", "host/x"));
  std::string out = "untouched";
  EXPECT_FALSE(readConfigStringValue(store, "com.t", "top", out));
  EXPECT_EQ(out, "untouched");
  EXPECT_TRUE(readConfigStringValue(store, "com.t", "host", out));
  EXPECT_EQ(out, "h");
  EXPECT_TRUE(read({"G", "x"}, out));
  EXPECT_EQ(out, "1");
}

TEST_F(KeyPathTest, StringsUpTo2047BytesAreRead) {
  std::string fits(2047, 'x'), tooLong(2048, 'y');
  writeUser(dict({{"fits", PlistValue(fits)},
                    {"long", PlistValue(tooLong)},
                    {"D", PlistValue(dict({{"fits", PlistValue(fits)}, {"long", PlistValue(tooLong)}}))},
                    {"Root", PlistValue(dict({{fits, "a"}, {tooLong, "b"}}))}}));
  std::string out;
  EXPECT_TRUE(readConfigStringValue(store, "com.t", "fits", out));
  EXPECT_EQ(out, fits);
  EXPECT_FALSE(readConfigStringValue(store, "com.t", "long", out));
  EXPECT_TRUE(read({"D", "fits"}, out));
  EXPECT_FALSE(read({"D", "long"}, out));
  EXPECT_EQ(out, fits);
  std::vector<std::string> names{"already"};
  EXPECT_TRUE(listConfigKeys(store, "com.t", "", names));  // "" lists "Root"
  EXPECT_EQ(names, (std::vector<std::string>{"already", fits}));
}

TEST_F(KeyPathTest, FirstBankReads) {
  struct Case {
    const char* what;
    PlistDict domain;
    bool path, sample;
  };
  PlistDict first = dict({{"bank_path", "/p"}, {"sample_dir", "/s"}});
  const Case cases[] = {
      {"no Banks", dict({{"x", "1"}}), false, false},
      {"Banks not a dictionary", dict({{"Banks", "x"}}), false, false},
      {"empty Banks", dict({{"Banks", PlistValue(PlistDict())}}), false, false},
      {"first bank has both",
       dict({{"Banks", PlistValue(dict({{"One", PlistValue(first)}}))}}), true, true},
      {"only a later bank has them",
       dict({{"Banks", PlistValue(dict({{"One", PlistValue(dict({{"bank_path", PlistValue(1)}}))},
                                             {"Two", PlistValue(first)}}))}}),
       false, false},
  };
  for (const Case& c : cases) {
    writeUser(c.domain);
    std::string path = "untouched", sample = "untouched";
    EXPECT_EQ(read1stBankPath(store, "com.t", path), c.path) << c.what;
    EXPECT_EQ(read1stBankSamplePath(store, "com.t", sample), c.sample) << c.what;
    EXPECT_EQ(path, c.path ? "/p" : "untouched") << c.what;
    EXPECT_EQ(sample, c.sample ? "/s" : "untouched") << c.what;
  }
}

TEST_F(KeyPathTest, CurrentUserDeletionOutcomes) {
  // P holds A, which holds B and C; B holds C. P holds a P of its own too,
  // which the walk, starting inside P, never takes for the first name.
  PlistDict p = dict({{"A", PlistValue(dict({{"B", PlistValue(dict({{"C", "bc"}, {"keep", "k"}}))},
                                                 {"C", "ac"},
                                                 {"S", "string"}}))},
                        {"other", PlistValue(1)}, {"P", dict({{"other", "inner"}})}});
  PlistDict domain = dict({{"P", PlistValue(p)}, {"N", PlistValue(2)}, {"Z", "z"},
                          {"O", dict({{"Only", dict({{"x", "1"}})}})}});
  struct Case {
    std::vector<std::string> names;
    bool result;
    std::vector<std::string> removedPath;  // empty: nothing changes
  };
  const Case cases[] = {
      {{}, false, {}}, {{"absent", "x"}, true, {}}, {{"P"}, false, {}}, {{"N", "x"}, false, {}},
      {{"P", "A", "S", "C"}, false, {}}, {{"P", "A", "B", "C"}, true, {"P", "A", "B", "C"}},
      {{"P", "A", "X", "C"}, true, {"P", "A", "C"}},  // absent B: A's own C goes
      {{"P", "A", "B", "X"}, false, {}},
      {{"O", "Only"}, true, {"O", "Only"}},  // leaves O, empty
      {{"P", "other"}, true, {"P", "other"}},
  };
  for (const Case& c : cases) {
    writeUser(domain);
    std::string before = readFile(prefs.userFile("com.t"));
    EXPECT_EQ(deleteCurrentUserPrefKey(store, "com.t", c.names), c.result);
    PlistFile file = readPlistFile(prefs.userFile("com.t"));
    EXPECT_EQ(file.format, PlistFormat::Binary);
    if (c.removedPath.empty()) {
      EXPECT_EQ(readFile(prefs.userFile("com.t")), before);
      continue;
    }
    // Exactly the one entry is gone; everything else at every level stays.
    EXPECT_EQ(file.dict, withoutEntry(domain, c.removedPath));
  }
}

// A value comes back where it stood among its neighbours, never over one that
// took its place, and never as a whole top-level entry.
TEST_F(KeyPathTest, ARestoreTakesOnlyAFreePlaceInsideADictionary) {
  const auto restore = [&](const std::vector<std::string>& names) {
    return restorePrefKey(store, "com.t", names, PrefUser::Current, PrefHost::Any, PlistValue("e"), 0);
  };
  const std::string before = readFile(prefs.userFile("com.t"));
  EXPECT_EQ(prefPositionAt(store, "com.t", {"A", "C"}, PrefUser::Current, PrefHost::Any), 1u);  // kept by a removal
  for (const std::vector<std::string>& names : {std::vector<std::string>{}, {"top"}, {"num", "x"}})
    EXPECT_EQ(restore(names), KeyRestore::NotReached) << names.size();
  EXPECT_EQ(restore({"A", "B", "D"}), KeyRestore::Occupied);
  EXPECT_EQ(readFile(prefs.userFile("com.t")), before);
  EXPECT_EQ(restore({"A", "B", "E"}), KeyRestore::Restored);
  const PlistFile file = readPlistFile(prefs.userFile("com.t"));
  const PlistDict& b = *file.dict.find("A")->dict()->find("B")->dict();
  EXPECT_EQ(b.entries().front().first, "E");
  EXPECT_EQ(b.size(), 2u);
}

// Held elsewhere, the domain's lock keeps a deletion from reading until it is
// let go, so that two deletions at once never undo each other.
TEST_F(KeyPathTest, ADeletionWaitsForTheDomainsLockBeforeItReads) {
  const std::string before = readFile(prefs.userFile("com.t"));
  auto lock = store.lockDomain("com.t", PrefUser::Current, PrefHost::Any);
  std::atomic<pid_t> tid = 0;
  std::thread deletion([&] {
    tid = static_cast<pid_t>(::syscall(SYS_gettid));
    FilePrefsStore other(prefs.roots(), log);
    EXPECT_TRUE(deleteCurrentUserPrefKey(other, "com.t", {"A", "S"}));
  });
  // Its system call of the moment tells that it waits in flock.
  const std::string waiting = std::to_string(SYS_flock) + " ";
  auto syscallNow = [&] { return readFile("/proc/self/task/" + std::to_string(tid) + "/syscall"); };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while ((tid == 0 || syscallNow().rfind(waiting, 0) != 0) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(syscallNow().rfind(waiting, 0), 0u) << "the deletion never waited for the lock";
  EXPECT_EQ(readFile(prefs.userFile("com.t")), before);
  lock.reset();
  deletion.join();
  std::string out;
  EXPECT_FALSE(readConfigStringValue(store, "com.t", std::vector<std::string>{"A", "S"}, out));
}

}  // namespace
}  // namespace tavo::testing
