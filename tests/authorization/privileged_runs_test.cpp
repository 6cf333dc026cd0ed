#include "privileged/privileged_runs.h"

#include <gtest/gtest.h>

#include "tests/fakes/fake_authorization.h"

namespace tavo {
namespace {

struct Lines : SystemLog {
  std::vector<std::string> lines;
  void line(const std::string& text) override { lines.push_back(text); }
};

// Exposes the authorisation state that the controller holds.
class Runs : public PrivilegedRuns {
 public:
  using PrivilegedRuns::PrivilegedRuns;
  bool freeAuth() const { return _freeAuth; }
};

class PrivilegedRunsTest : public ::testing::Test {
 protected:
  testing::FakeAuthorization auth;
  Lines log;
  std::unique_ptr<Runs> runs = std::make_unique<Runs>(
      auth, log, PrivilegedTools{"/opt/pkgutil", "/app/sweeper", "/app/keyscrub", "/home/u/Trash"});
};

TEST_F(PrivilegedRunsTest, TheFirstRunAlwaysRequestsAndAGrantCoversTheNext) {
  EXPECT_FALSE(runs->freeAuth());
  EXPECT_TRUE(runs->forgetPkg("com.k.player"));
  EXPECT_TRUE(runs->freeAuth());
  EXPECT_TRUE(runs->deleteAnyUserPrefKey("com.k.P", {"Banks", "Strings"}));
  EXPECT_EQ(auth.calls, (std::vector<std::string>{
                            "test /opt/pkgutil", "create", "request /opt/pkgutil",
                            "run /opt/pkgutil --forget com.k.player",
                            "test /app/keyscrub", "run /app/keyscrub com.k.P Banks Strings"}));
}

TEST_F(PrivilegedRunsTest, ARefusalRunsNothingAndTheNextRunAsksAgain) {
  auth.requestAnswers = {false, false, true};
  EXPECT_FALSE(runs->rmAdmin("/tmp/list"));
  EXPECT_FALSE(runs->unlinkPkg("com.k.x"));
  EXPECT_TRUE(runs->forgetPkg("com.k.x"));
  EXPECT_EQ(auth.calls, (std::vector<std::string>{
                            "test /app/sweeper", "create", "request /app/sweeper",
                            "test /opt/pkgutil", "release", "create", "request /opt/pkgutil",
                            "test /opt/pkgutil", "release", "create", "request /opt/pkgutil",
                            "run /opt/pkgutil --forget com.k.x"}));
  EXPECT_TRUE(log.lines.empty());
  EXPECT_TRUE(runs->freeAuth());
}

TEST_F(PrivilegedRunsTest, AnExpiredGrantIsRequestedAgainOnANewReference) {
  runs->forgetPkg("a");
  auth.expireGrants();
  auth.calls.clear();
  EXPECT_TRUE(runs->forgetPkg("b"));
  EXPECT_EQ(auth.calls, (std::vector<std::string>{"test /opt/pkgutil", "release", "create",
                                                  "request /opt/pkgutil",
                                                  "run /opt/pkgutil --forget b"}));
}

TEST_F(PrivilegedRunsTest, EmptyKeyNamesRunNothingAndAskNobody) {
  EXPECT_FALSE(runs->deleteAnyUserPrefKey("com.k.P", {}));
  EXPECT_TRUE(auth.calls.empty());
  EXPECT_FALSE(runs->freeAuth());
}

TEST_F(PrivilegedRunsTest, ArgumentsArePassedWholeHoweverLong) {
  std::string longPath = "/" + std::string(600, 'x') + "/list.txt";
  std::string longId(300, 'p');
  runs->rmAdmin(longPath);
  runs->forgetPkg(longId);
  EXPECT_EQ(auth.calls[3], "run /app/sweeper /home/u/Trash " + longPath + " (stream)");
  EXPECT_EQ(auth.calls.back(), "run /opt/pkgutil --forget " + longId);
}

TEST_F(PrivilegedRunsTest, SweeperLogsItsPassesInTheTextOfItsBranch) {
  auth.programOutput = "moved /a\nmoved /b\n";
  EXPECT_TRUE(runs->rmAdmin("/tmp/list"));   // right newly obtained
  EXPECT_TRUE(runs->rmAdmin("/tmp/list"));   // right already held
  ASSERT_GE(log.lines.size(), 2u);
  EXPECT_EQ(log.lines.front(), "rmAdmin:Tell 18");
  EXPECT_EQ(log.lines.back(), "rmAdmin: Tell 18");
  auth.canStart = false;
  EXPECT_FALSE(runs->rmAdmin("/tmp/list"));
  EXPECT_EQ(log.lines.back(), "rmAdmin: error -1");
}

TEST_F(PrivilegedRunsTest, AMissingToolRunsNothing) {
  Runs noTools(auth, log, PrivilegedTools{"/opt/pkgutil", "", "", "/t"});
  EXPECT_FALSE(noTools.rmAdmin("/tmp/list"));
  EXPECT_FALSE(noTools.deleteAnyUserPrefKey("d", {"a", "b"}));
  EXPECT_TRUE(auth.calls.empty());
}

TEST_F(PrivilegedRunsTest, TheEndReleasesTheReferenceOnlyWhenOneWasMade) {
  runs.reset();
  EXPECT_TRUE(auth.calls.empty());
  runs = std::make_unique<Runs>(auth, log, PrivilegedTools{"/p", "/s", "/k", "/t"});
  runs->forgetPkg("x");
  runs.reset();
  EXPECT_EQ(auth.calls.back(), "release");
}

}  // namespace
}  // namespace tavo
