// keyscrub run as a real process against a temporary any-user folder.

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/prefs/prefs_test_support.h"

namespace tavo {
namespace {

using testing::dictOf;
using testing::fileBytes;

struct ToolRun {
  int status = -1;
  std::string output;  // standard output and error together
};

class KeyscrubTest : public ::testing::Test {
 protected:
  // Starts keyscrub with `args`; the caller waits with finish().
  pid_t start(const std::vector<std::string>& args, int outFd) {
    std::string env = "TAVO_TEST_ANY_USER_PREFS=" + prefs.roots().anyUserPrefs;
    std::vector<char*> argv{const_cast<char*>(KEYSCRUB_PATH)};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    char* envp[] = {env.data(), nullptr};
    pid_t pid = ::fork();
    if (pid == 0) {
      ::dup2(outFd, 1);
      ::dup2(outFd, 2);
      ::execve(KEYSCRUB_PATH, argv.data(), envp);
      ::_exit(99);
    }
    return pid;
  }
  ToolRun run(const std::vector<std::string>& args) {
    int fds[2];
    EXPECT_EQ(::pipe(fds), 0);
    pid_t pid = start(args, fds[1]);
    ::close(fds[1]);
    ToolRun r;
    char buf[256];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) r.output.append(buf, n);
    ::close(fds[0]);
    ::waitpid(pid, &r.status, 0);
    return r;
  }
  void writeDomain(const PlistDict& d, PlistFormat format = PlistFormat::Binary) {
    ASSERT_TRUE(writePlistFile(file(), d, format));
  }
  std::string file() const { return prefs.anyUserFile("com.Korvelin.TAVO Player"); }

  testing::TempPrefs prefs;
  const std::string domain = "com.Korvelin.TAVO Player";
};

TEST_F(KeyscrubTest, Outcomes) {
  PlistDict p = dictOf({{"A", PlistValue(dictOf({{"B", PlistValue(dictOf({{"C", "bc"}}))},
                                                 {"C", "ac"},
                                                 {"S", "s"}}))},
                        {"keep", PlistValue(1.5)}});
  PlistDict stored = dictOf({{"P", PlistValue(p)}, {"N", PlistValue(4)}, {"other", "o"}});
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> removed;  // empty: the file stays byte for byte
  };
  const Case cases[] = {
      {{}, {}},
      {{domain}, {}},
      {{domain, "P"}, {}},
      {{domain, "absent", "x"}, {}},
      {{domain, "N", "x"}, {}},
      {{domain, "P", "A", "S", "C"}, {}},
      {{domain, "P", "A", "B", "X"}, {}},
      {{domain, "P", "A", "B", "C"}, {"P", "A", "B", "C"}},
      {{domain, "P", "A", "X", "C"}, {"P", "A", "C"}},
      {{"../escape", "P", "A"}, {}},
  };
  for (const Case& c : cases) {
    writeDomain(stored);
    std::string before = fileBytes(file());
    ToolRun r = run(c.args);
    EXPECT_TRUE(WIFEXITED(r.status) && WEXITSTATUS(r.status) == 0);
    EXPECT_EQ(r.output, "");
    if (c.removed.empty()) {
      EXPECT_EQ(fileBytes(file()), before);
      continue;
    }
    PlistFile after = readPlistFile(file());
    EXPECT_EQ(after.format, PlistFormat::Binary);
    PlistDict expected = stored;
    PlistValue* node = expected.find(c.removed[0]);
    for (std::size_t i = 1; i + 1 < c.removed.size(); ++i) node = node->dict()->find(c.removed[i]);
    node->dict()->remove(c.removed.back());
    EXPECT_EQ(after.dict, expected);
  }
  EXPECT_FALSE(std::filesystem::exists(prefs.root() + "/escape.plist"));
}

TEST_F(KeyscrubTest, LeavesAnUnreadableFileAsItWasAndWritesNoneWhereThereWasNone) {
  testing::writeBytes(file(), "bplist00 truncated");
  EXPECT_EQ(run({domain, "Banks", "x"}).status, 0);
  EXPECT_EQ(fileBytes(file()), "bplist00 truncated");
  std::filesystem::remove(file());
  EXPECT_EQ(run({domain, "Banks", "x"}).status, 0);
  EXPECT_FALSE(std::filesystem::exists(file()));
}

TEST_F(KeyscrubTest, RunsStartedTogetherAllTakeEffect) {
  PlistDict banks;
  for (int i = 0; i < 12; ++i) banks.set("Bank " + std::to_string(i), PlistValue(dictOf({{"bank_path", "/b"}})));
  writeDomain(dictOf({{"Banks", PlistValue(banks)}, {"base_dir", "/x"}}), PlistFormat::Xml);
  int devnull = ::open("/dev/null", O_WRONLY);
  std::vector<pid_t> pids;
  for (int i = 0; i < 8; ++i) pids.push_back(start({domain, "Banks", "Bank " + std::to_string(i)}, devnull));
  for (pid_t pid : pids) {
    int status = -1;
    ::waitpid(pid, &status, 0);
    EXPECT_EQ(status, 0);
  }
  ::close(devnull);
  PlistFile after = readPlistFile(file());
  EXPECT_EQ(after.format, PlistFormat::Xml);
  const PlistDict& left = *after.dict.find("Banks")->dict();
  ASSERT_EQ(left.size(), 4u);
  for (int i = 8; i < 12; ++i) EXPECT_TRUE(left.find("Bank " + std::to_string(i)));
  EXPECT_EQ(*after.dict.find("base_dir")->string(), "/x");
}

}  // namespace
}  // namespace tavo
