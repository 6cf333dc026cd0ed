#include "core/privileged_runs.h"

#include <gtest/gtest.h>

#include <tuple>

#include "core/log_lines.h"
#include "platform/log_lines.h"
#include "tests/support/capturing_log.h"
#include "tests/support/fake_authorization.h"

namespace tavo::testing {
namespace {

using Runs = PrivilegedRuns;
using Lines = std::vector<std::string>;
constexpr RunResult kSucceeded = RunResult::Succeeded, kNotRun = RunResult::NotRun;

class PrivilegedRunsTest : public ::testing::Test {
 protected:
  PrivilegedRunsTest() {
    auth.polkit.installPolicy({"/opt/pkgutil", "/app/sweeper", "/app/keyscrub"});
  }

  FakeAuthorization auth;
  CapturingLog log;
  std::unique_ptr<Runs> runs = std::make_unique<Runs>(
      auth, log, PrivilegedTools{"/opt/pkgutil", "/app/sweeper", "/app/keyscrub"});
};

/// sweeper's run over `list` into the fixture's Trash.
RunResult sweep(Runs& runs, const std::string& list) {
  return runs.rmAdmin("/home/u/Trash", list).result;
}

TEST_F(PrivilegedRunsTest, TheFirstRunAlwaysRequestsAndAGrantCoversTheNext) {
  EXPECT_FALSE(runs->freeAuth());
  EXPECT_EQ(runs->forgetPkg("com.k.player"), kSucceeded);
  EXPECT_TRUE(runs->freeAuth());
  EXPECT_EQ(runs->deleteAnyUserPrefKey("com.k.P", {"Banks", "Strings"}), kSucceeded);
  EXPECT_EQ(auth.calls, (Lines{
                            "test /opt/pkgutil", "create", "request /opt/pkgutil",
                            "run /opt/pkgutil --forget com.k.player",
                            "test /app/keyscrub", "run /app/keyscrub com.k.P Banks Strings"}));
  EXPECT_EQ(auth.polkit.prompts, Lines{FakePolkit::kRemoveAction});
}

TEST_F(PrivilegedRunsTest, ARefusalRunsNothingAndTheNextRunAsksAgain) {
  auth.polkit.answers = {false, false, true};
  EXPECT_EQ(sweep(*runs, "/tmp/list"), kNotRun);
  EXPECT_EQ(runs->unlinkPkg("com.k.x"), kNotRun);
  EXPECT_EQ(runs->forgetPkg("com.k.x"), kSucceeded);
  EXPECT_EQ(auth.calls, (Lines{
                            "test /app/sweeper", "create", "request /app/sweeper",
                            "test /opt/pkgutil", "release", "create", "request /opt/pkgutil",
                            "test /opt/pkgutil", "release", "create", "request /opt/pkgutil",
                            "run /opt/pkgutil --forget com.k.x"}));
  EXPECT_TRUE(log.lines().empty());
  EXPECT_TRUE(runs->freeAuth());
}

TEST_F(PrivilegedRunsTest, AnExpiredGrantIsRequestedAgainOnANewReference) {
  runs->forgetPkg("a");
  auth.polkit.expireKeep();
  auth.calls.clear();
  EXPECT_EQ(runs->forgetPkg("b"), kSucceeded);
  EXPECT_EQ(auth.calls, (Lines{"test /opt/pkgutil", "release", "create",
                                                  "request /opt/pkgutil",
                                                  "run /opt/pkgutil --forget b"}));
}

TEST_F(PrivilegedRunsTest, NoKeyNamesOrAMissingToolRunNothingAndAskNobody) {
  EXPECT_EQ(runs->deleteAnyUserPrefKey("com.k.P", {}), kNotRun);
  Runs noTools(auth, log, PrivilegedTools{"/opt/pkgutil", "", ""});
  EXPECT_EQ(sweep(noTools, "/tmp/list"), kNotRun);
  EXPECT_EQ(noTools.deleteAnyUserPrefKey("d", {"a", "b"}), kNotRun);
  EXPECT_TRUE(auth.calls.empty());
  EXPECT_FALSE(runs->freeAuth());
}

TEST_F(PrivilegedRunsTest, ArgumentsArePassedWholeHoweverLong) {
  std::string longPath = "/" + std::string(600, 'x') + "/list.txt";
  std::string longId(300, 'p');
  sweep(*runs, longPath);
  runs->forgetPkg(longId);
  EXPECT_EQ(auth.calls[3], "run /app/sweeper /home/u/Trash " + longPath + " (stream)");
  EXPECT_EQ(auth.calls.back(), "run /opt/pkgutil --forget " + longId);
}

TEST_F(PrivilegedRunsTest, SweeperLogsItsPassesInTheTextOfItsBranchAndReturnsItsLines) {
  auth.programOutput = "moved /a\nmoved /b\nunfinished";
  EXPECT_EQ(sweep(*runs, "/tmp/list"), kSucceeded);  // right newly obtained
  EXPECT_EQ(log.lines(), (Lines{"From sweeper: moved /a", "From sweeper: moved /b",
                                "rmAdmin:Tell 28", "From sweeper: unfinished"}));
  log.clear();
  SweeperRun held = runs->rmAdmin("/home/u/Trash", "/tmp/list");  // right already held
  EXPECT_EQ(held.result, kSucceeded);
  EXPECT_EQ(held.lines, (Lines{"moved /a", "moved /b", "unfinished"}));  // this run's alone
  EXPECT_EQ(log.lines()[2], "rmAdmin: Tell 28");
  auth.canStart = false;
  EXPECT_EQ(sweep(*runs, "/tmp/list"), kNotRun);
  EXPECT_EQ(log.lines().back(), "rmAdmin: error -1");
}

// sweeper's passes are logged only for a run that happened: pkexec refusing
// (a helper no installed action names) writes nothing and logs nothing.
TEST_F(PrivilegedRunsTest, SweeperLogsPassesOnlyForARunThatHappened) {
  Runs fromBuildFolder(auth, log, PrivilegedTools{"/opt/pkgutil", "/build/sweeper", ""});
  for (const auto& [password, output, result, lines] :
       std::vector<std::tuple<bool, std::string, RunResult, Lines>>{
           {false, "", kNotRun, {}},
           {true, "", kSucceeded, {"rmAdmin:Tell 0"}},
           {true, "moved /a\n", kSucceeded, {"From sweeper: moved /a", "rmAdmin:Tell 9"}}}) {
    auth.polkit.answers = {password};
    auth.programOutput = output;
    log.clear();
    EXPECT_EQ(sweep(fromBuildFolder, "/tmp/list"), result) << output;
    EXPECT_EQ(log.lines(), lines) << output;
  }
  // pkexec asked each time; the application never did.
  EXPECT_EQ(auth.polkit.prompts, Lines(3, FakePolkit::kExecAction));
  std::string unnamed = "Authorization: /build/sweeper" + std::string(loglines::kPkexecAsksAlone);
  EXPECT_EQ(auth.log.count(unnamed), 3u);
}

TEST_F(PrivilegedRunsTest, TheEndReleasesTheReferenceOnlyWhenOneWasMade) {
  runs.reset();
  EXPECT_TRUE(auth.calls.empty());
  runs = std::make_unique<Runs>(auth, log, PrivilegedTools{"/p", "/s", "/k"});
  runs->forgetPkg("x");
  runs.reset();
  EXPECT_EQ(auth.calls.back(), "release");
}

}  // namespace
}  // namespace tavo::testing
