// The rights of a process that is not root, over a fake polkit: which action
// the test and the request ask about for a program, and what is logged when
// polkit cannot help.

#include <gtest/gtest.h>

#include <functional>

#include "platform/authorization.h"
#include "tests/support/capturing_log.h"
#include "tests/support/fake_polkit.h"

namespace tavo::testing {
namespace {

using Lines = std::vector<std::string>;
constexpr const char* kSweeper = "/opt/T.app/Contents/Resources/sweeper";

struct Rig {
  Rig() {
    auto fake = std::make_unique<FakePolkit>();
    polkit = fake.get();
    polkit->installPolicy({kSweeper});
    authorization = makePolkitAuthorization(std::move(fake), log);
  }
  FakePolkit* polkit;
  CapturingLog log;
  std::unique_ptr<Authorization> authorization;
};

TEST(PolkitAuthorizationTest, TheRequestAsksForTheActionThatImpliesTheProgramsOwn) {
  // People read these lines and scripts search for them: each is written out.
  const char* agentMissing =
      "Authorization: no polkit authentication agent is running to ask for a password for "
      "org.tavo.uninstaller.remove";
  const char* helperUnnamed =
      "Authorization: /build/sweeper is named by no installed polkit action: pkexec will ask "
      "for a password on its own";
  struct Case {
    const char* what;
    std::function<void(FakePolkit&)> arrange;
    std::string program;
    bool granted;
    Lines prompts, logged;
    RightsPurpose purpose = RightsPurpose::Removal;
  };
  const auto nothing = [](FakePolkit&) {};
  for (const Case& c : std::vector<Case>{
           {"the shipped policy", nothing, kSweeper, true, {FakePolkit::kRemoveAction}, {}},
           {"an undo", nothing, kSweeper, true, {FakePolkit::kUndoAction}, {}, RightsPurpose::Undo},
           {"a wrong password", [](FakePolkit& p) { p.answers = {false}; }, kSweeper, false, {FakePolkit::kRemoveAction}, {}},
           {"no removal action", [](FakePolkit& p) { p.installed.resize(1); }, kSweeper, true,
            {"org.tavo.uninstaller.sweeper"}, {}},
           {"a rule saying no", [](FakePolkit& p) { p.refusedByRule = {FakePolkit::kRemoveAction}; }, kSweeper, false, {}, {}},
           {"a helper no action names", nothing, "/build/sweeper", true, {}, {helperUnnamed}},
           {"no agent", [](FakePolkit& p) { p.agent = false; }, kSweeper, false, {}, {agentMissing}},
           {"no polkit", [](FakePolkit& p) { p.reachable = false; }, kSweeper, false, {},
            {"Authorization: cannot reach polkit: no system bus"}}}) {
    Rig rig;
    c.arrange(*rig.polkit);
    auto ref = rig.authorization->create();
    EXPECT_EQ(rig.authorization->requestRight(*ref, c.program, c.purpose), c.granted) << c.what;
    EXPECT_EQ(rig.polkit->prompts, c.prompts) << c.what;
    EXPECT_EQ(rig.log.lines(), c.logged) << c.what;
  }
}

TEST(PolkitAuthorizationTest, TheTestNeverAsksAndHoldsOnlyWhatPolkitKeeps) {
  Rig rig;
  auto ref = rig.authorization->create();
  EXPECT_FALSE(rig.authorization->testRight(ref.get(), kSweeper));
  ASSERT_TRUE(rig.authorization->requestRight(*ref, kSweeper));
  EXPECT_TRUE(rig.authorization->testRight(ref.get(), kSweeper));  // implied by the removal's
  EXPECT_FALSE(rig.authorization->testRight(nullptr, kSweeper));   // nothing requested on it
  EXPECT_FALSE(rig.authorization->testRight(ref.get(), "/build/sweeper"));
  rig.polkit->expireKeep();
  EXPECT_FALSE(rig.authorization->testRight(ref.get(), kSweeper));
  EXPECT_EQ(rig.polkit->prompts, Lines{FakePolkit::kRemoveAction});
  EXPECT_TRUE(rig.log.lines().empty());
}

// pkexec's own statuses for a dismissed or refused password are the right
// refused (no status); the program's, and any status of a program root
// starts directly, are its own.
TEST(PolkitAuthorizationTest, PkexecsRefusalsAreNoStatusOfTheProgram) {
  CapturingLog log;
  // "/bin/sh -c CODE" in the place of "pkexec PROGRAM ARGS".
  auto throughPkexec = makePolkitAuthorization(std::make_unique<FakePolkit>(), log, "/bin/sh");
  auto direct = makeRootAuthorization({}, log);
  for (const auto& [status, fromPkexec] :
       {std::pair{0, 0}, {1, 1}, {2, 2}, {126, -1}, {127, -1}, {125, 125}}) {
    const std::vector<std::string> exit{"exit " + std::to_string(status)};
    auto ref = throughPkexec->create();
    EXPECT_EQ(throughPkexec->execute(*ref, "-c", exit, false)->wait(), fromPkexec) << status;
    EXPECT_EQ(direct->execute(*ref, "/bin/sh", {"-c", exit[0]}, false)->wait(), status) << status;
  }
}

}  // namespace
}  // namespace tavo::testing
