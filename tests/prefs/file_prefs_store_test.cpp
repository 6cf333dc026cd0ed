#include "prefs/file_prefs_store.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "prefs/key_path.h"
#include "tests/support/capturing_log.h"
#include "tests/support/prefs_fixture.h"

namespace tavo::testing {
namespace {

class FilePrefsStoreTest : public ::testing::Test {
 protected:
  TempPrefs prefs;
  CapturingLog log;
  FilePrefsStore store{prefs.roots(), log};
};

TEST_F(FilePrefsStoreTest, SearchListTakesTheFirstScopeThatHoldsTheKey) {
  // Every place the search list looks, in its order.
  const std::string u = prefs.roots().userPrefs, a = prefs.roots().anyUserPrefs;
  const std::vector<std::string> files = {
      u + "/ByHost/com.t.HOSTID.plist", u + "/com.t.plist", u + "/ByHost/.GlobalPreferences.HOSTID.plist",
      u + "/.GlobalPreferences.plist", a + "/com.t.plist", a + "/Network/com.t.plist",
      a + "/.GlobalPreferences.plist", a + "/Network/.GlobalPreferences.plist"};
  for (std::size_t i = 0; i < files.size(); ++i)
    ASSERT_TRUE(writePlistFile(files[i], dict({{"k", PlistValue(static_cast<int>(i))}}),
                               PlistFormat::Xml));
  for (std::size_t i = 0; i < files.size(); ++i) {
    auto value = store.copyAppValue("k", "com.t");
    ASSERT_TRUE(value) << i;
    EXPECT_EQ(value->integer()->asInt64(), static_cast<std::int64_t>(i));
    std::filesystem::remove(files[i]);
  }
  EXPECT_FALSE(store.copyAppValue("k", "com.t"));
}

TEST_F(FilePrefsStoreTest, DomainsThatNameNoFileReadEmptyAndAreNeverWritten) {
  for (const std::string& domain : std::vector<std::string>{"", ".", "..", "../escape", "a/b", std::string("a\0b", 3)}) {
    EXPECT_FALSE(store.pathFor(domain, PrefUser::Current, PrefHost::Any)) << domain;
    store.setValue("k", PlistValue("v"), domain, PrefUser::Current, PrefHost::Any);
    EXPECT_FALSE(store.synchronize(domain, PrefUser::Current, PrefHost::Any));
    EXPECT_FALSE(store.copyAppValue("k", domain));
  }
  EXPECT_FALSE(std::filesystem::exists(prefs.root() + "/escape.plist"));
}

TEST_F(FilePrefsStoreTest, SetIsPendingUntilSynchronised) {
  store.setValue("k", PlistValue("v"), "com.t", PrefUser::Current, PrefHost::Any);
  EXPECT_FALSE(std::filesystem::exists(prefs.userFile("com.t")));
  ASSERT_TRUE(store.synchronize("com.t", PrefUser::Current, PrefHost::Any));
  EXPECT_EQ(*readPlistFile(prefs.userFile("com.t")).dict.find("k")->string(), "v");
}

// Under a hold a file is read once, a missing one too; our own write, a lock
// and the next hold read it afresh, and a pending value hides the file's.
TEST_F(FilePrefsStoreTest, AReadHoldKeepsEachFileUntilAWriteALockOrItsEnd) {
  const std::string path = prefs.userFile("com.t");
  auto read = [&] {
    auto value = store.copyValue("k", "com.t", PrefUser::Current, PrefHost::Any);
    return value ? *value->string() : std::string("none");
  };
  auto elsewhere = [&](const char* k) { ASSERT_TRUE(writePlistFile(path, dict({{"k", k}}), PlistFormat::Xml)); };
  auto set = [&](const char* k, const char* v) {
    store.setValue(k, PlistValue(v), "com.t", PrefUser::Current, PrefHost::Any);
  };
  auto hold = store.holdReads();
  EXPECT_EQ(read(), "none");
  elsewhere("1");
  EXPECT_EQ(read(), "none");
  {
    auto lock = store.lockDomain("com.t", PrefUser::Current, PrefHost::Any);
    EXPECT_EQ(read(), "1");
  }
  elsewhere("2");
  set("j", "x");
  EXPECT_EQ(read(), "1");
  ASSERT_TRUE(store.synchronize("com.t", PrefUser::Current, PrefHost::Any));
  EXPECT_EQ(read(), "2");
  elsewhere("3");
  hold.reset();
  hold = store.holdReads();
  EXPECT_EQ(read(), "3");
  set("k", "mine");
  EXPECT_EQ(read(), "mine");
}

// Every kind of value at every level is written back as read, in the file's
// own format, mode and (where we may change it) owner.
TEST_F(FilePrefsStoreTest, SynchroniseKeepsOtherWritersKeysAndTheFileFormat) {
  const bool root = ::geteuid() == 0;
  for (PlistFormat format : {PlistFormat::Binary, PlistFormat::Xml}) {
    std::string path = prefs.userFile("com.t");
    ASSERT_TRUE(writePlistFile(path, richDomain(), format));
    ::chmod(path.c_str(), 0640);
    ASSERT_TRUE(!root || ::chown(path.c_str(), 4321, 4322) == 0);
    store.setValue("mine", PlistValue("x"), "com.t", PrefUser::Current, PrefHost::Any);
    // Another process writes after our set but before our synchronisation.
    PlistDict other = richDomain();
    other.set("theirs", PlistValue("y"));
    ASSERT_TRUE(writePlistFile(path, other, format));
    ASSERT_TRUE(store.synchronize("com.t", PrefUser::Current, PrefHost::Any));

    PlistFile file = readPlistFile(path);
    EXPECT_EQ(file.format, format);
    other.set("mine", PlistValue("x"));
    EXPECT_EQ(file.dict, other);
    struct stat st {};
    ::stat(path.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    if (root) {  // the owner is kept too
      EXPECT_EQ(std::pair(st.st_uid, st.st_gid), std::pair(4321u, 4322u));
    }
  }
}

TEST_F(FilePrefsStoreTest, AFileThatIsNotADictionaryReadsEmptyAndIsNeverOverwritten) {
  std::string binary;
  ASSERT_TRUE(serializePlist(richDomain(), PlistFormat::Binary, binary));
  std::string array =
      "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><string>a</string></array></plist>";
  for (const std::string& bytes :
       {binary.substr(0, binary.size() / 2), std::string("not a property list"), array,
        std::string("bplist00\xff\xff", 10)}) {
    std::string path = prefs.userFile("com.t");
    writeFile(path, bytes);
    EXPECT_FALSE(store.copyValue("base_dir", "com.t", PrefUser::Current, PrefHost::Any));
    store.setValue("k", PlistValue("v"), "com.t", PrefUser::Current, PrefHost::Any);
    EXPECT_FALSE(store.synchronize("com.t", PrefUser::Current, PrefHost::Any));
    EXPECT_EQ(readFile(path), bytes);
  }
  // The reads are passed over with one line for the file, each refused write with its own.
  ASSERT_EQ(log.lines().size(), 5u);
  EXPECT_EQ(log.lines()[0].rfind("Preferences: skipping " + prefs.userFile("com.t") + ": ", 0), 0u)
      << log.lines()[0];
  for (const std::string& line : log.lines()) EXPECT_EQ(line.back(), ')') << line;  // the reason
}

TEST_F(FilePrefsStoreTest, AValueTheFileFormatCannotHoldIsRefusedAndLogged) {
  std::string path = prefs.userFile("com.t");
  ASSERT_TRUE(writePlistFile(path, richDomain(), PlistFormat::Xml));
  const std::string before = readFile(path);
  store.setValue("k", PlistValue(std::string("a\0b", 3)), "com.t", PrefUser::Current, PrefHost::Any);
  EXPECT_FALSE(store.synchronize("com.t", PrefUser::Current, PrefHost::Any));
  EXPECT_EQ(readFile(path), before);
  ASSERT_EQ(log.lines().size(), 1u);
  EXPECT_NE(log.lines()[0].find("not writing " + path + ": XML cannot hold a NUL"), std::string::npos)
      << log.lines()[0];
}

// The lock is the folder's, and leaves no file. A failed write-back is
// reported, the file left whole; a killed one leaves its temporary file, which
// the next writer clears, and only that: a user's copies beside it stay.
TEST_F(FilePrefsStoreTest, AFailedOrKilledWriteLeavesTheFileWholeAndOnlyItsTemporaryIsCleared) {
  { auto lock = store.lockDomain("com.t", PrefUser::Any, PrefHost::Current); }
  EXPECT_FALSE(exists(prefs.anyUserFile("com.t")));
  const std::string path = prefs.userFile("com.t");
  const PlistDict stored = dict({{"Banks", PlistValue(dict({{"Harp", "h"}, {"Drums", "d"}}))}});
  ASSERT_TRUE(writePlistFile(path, stored, PlistFormat::Binary));
  for (const char* copy : {".backup", ".Backup", ".2024ab"}) writeFile(path + copy, copy);
  const std::string before = readFile(path);
  const std::set<std::string> copies = entriesOf(prefs.roots().userPrefs);
  for (bool killed : {false, true}) {
    pid_t writer = ::fork();
    if (writer == 0) {  // no file may grow, as on a full disk
      ::signal(SIGXFSZ, killed ? SIG_DFL : SIG_IGN);
      rlimit none{0, 0};
      ::setrlimit(RLIMIT_FSIZE, &none);
      store.setValue("Banks", PlistValue("x"), "com.t", PrefUser::Current, PrefHost::Any);
      ::_exit(!store.synchronize("com.t", PrefUser::Current, PrefHost::Any) &&
              log.lines().back() == "Preferences: cannot write " + path + ": File too large");
    }
    int status = 0;
    ASSERT_EQ(::waitpid(writer, &status, 0), writer);
    EXPECT_TRUE(killed ? WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ
                       : WIFEXITED(status) && WEXITSTATUS(status) == 1)  // reported and logged
        << status;
    EXPECT_EQ(readFile(path), before);
    EXPECT_EQ(entriesOf(prefs.roots().userPrefs).size(), copies.size() + (killed ? 1 : 0));
  }
  EXPECT_TRUE(prefs::deleteCurrentUserPrefKey(store, "com.t", {"Banks", "Harp"}));
  EXPECT_EQ(entriesOf(prefs.roots().userPrefs), copies);
  for (const char* copy : {".backup", ".Backup", ".2024ab"}) EXPECT_EQ(readFile(path + copy), copy);
  EXPECT_EQ(readPlistFile(path).dict, withoutEntry(stored, {"Banks", "Harp"}));
}

}  // namespace
}  // namespace tavo::testing
