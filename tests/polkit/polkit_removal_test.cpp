// Whole removals against the real polkit, inside the throwaway root: a plain
// administrator removes products through the controller, with pkttyagent on
// a terminal that the test plays the user at, counting every question asked.

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

#include "tests/polkit/polkit_machine.h"
#include "tests/polkit/user_terminal.h"
#include "tests/support/prefs_fixture.h"
#include "tests/support/throwaway_root.h"

namespace tavo::testing {
namespace {

using Lines = std::vector<std::string>;
namespace fs = std::filesystem;

constexpr const char* kRemoveAction = "org.tavo.uninstaller.remove";
constexpr const char* kPkexecOwnAction = "org.freedesktop.policykit.exec";
const std::string kPlayerPrefs = "com.Korvelin.TAVO Player.plist";
const std::string kAnyUserPrefs = "/Library/Preferences/" + kPlayerPrefs;
const std::string kReceipts = "/var/db/receipts/";

/// What one removal did, as the driver and the agent's terminal tell it.
struct Outcome {
  bool removed = false;
  std::string listed;  // the products still listed afterwards, "|" between
  Lines asked;         // the actions the user was asked a password for
};

/// The driver, run as the administrator, with pkttyagent for it.
class Session {
 public:
  Session(const PolkitMachine& machine, const std::string& bundle) {
    static int sessions = 0;
    logPath_ = "/tmp/removal-driver-" + std::to_string(++sessions) + ".log";
    log_.reset(::open(logPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    const TestUser& admin = machine.admin();
    std::string error;
    driver_ = Child::start({.argv = asUser(admin, {machine.driver(), bundle}),
                            .environment = userEnvironment(admin),
                            .socket = true,
                            .err = log_.get()},
                           &error);
    if (!driver_.started()) {
      why_ = "the driver did not start: " + error;
      return;
    }
    // setpriv runs the driver in its own place: the agent serves that process.
    if (!readLine(listed_)) return;
    listed_.erase(0, std::strlen("listed: "));
    std::vector<std::string> env = userEnvironment(admin);
    env.push_back("TERM=dumb");
    why_ = agent_.start(admin, {"/usr/bin/pkttyagent", "--process", std::to_string(driver_.pid()),
                                "--notify-fd", "3"}, env, true);
  }
  ~Session() { driver_.terminate(); }

  /// Why the session could not start; "" when it runs.
  const std::string& why() const { return why_; }
  /// The first list, after the scan.
  const std::string& listedAtStart() const { return listed_; }

  /// Removes `name`, answering each password prompt with `reply`.
  Outcome remove(const std::string& name, Reply reply) {
    return exchange("remove " + name, "removed " + name, reply);
  }
  /// Undoes the newest removal; `removed` then says it was undone.
  Outcome undo(Reply reply) { return exchange("undo", "undone", reply); }

  /// The driver's log so far.
  std::string log() const { return readFile(logPath_); }

 private:
  Outcome exchange(const std::string& command, const std::string& done, Reply reply) {
    Outcome outcome;
    std::size_t askedBefore = agent_.requests().size();
    writeAll(driver_.stream(), command + "\n");
    std::string result, listed;
    if (!readLine(result, reply) || !readLine(listed, reply)) return outcome;
    agent_.serve(reply);
    outcome.removed = result == done;
    outcome.listed = listed.substr(std::min(listed.size(), std::strlen("listed: ")));
    Lines all = agent_.requests();
    outcome.asked.assign(all.begin() + static_cast<long>(askedBefore), all.end());
    return outcome;
  }

  // One line from the driver, serving the agent meanwhile; false (the test
  // failed) when none came within a minute or the driver ended.
  bool readLine(std::string& line, Reply reply = Reply::Password) {
    bool open = true;
    bool ready = waitUntil([&] {
      agent_.serve(reply);
      pollfd fd{driver_.stream(), POLLIN, 0};
      char buf[4096];
      ssize_t n = ::poll(&fd, 1, 0) == 1 ? ::read(driver_.stream(), buf, sizeof buf) : -1;
      if (n > 0) pending_.append(buf, static_cast<std::size_t>(n));
      open = n != 0;
      return !open || pending_.find('\n') != std::string::npos;
    }, 60);
    if (!ready || !open) {
      ADD_FAILURE() << "the driver did not answer; agent's terminal:\n"
                    << agent_.transcript() << "\ndriver's log:\n" << log();
      why_ = "the driver did not answer";
      return false;
    }
    std::size_t nl = pending_.find('\n');
    line = pending_.substr(0, nl);
    pending_.erase(0, nl + 1);
    return true;
  }

  std::string logPath_;
  UniqueFd log_;
  Child driver_;
  UserTerminal agent_;
  std::string why_, pending_, listed_;
};

class PolkitRemovalTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!insideThrowawayRoot()) return;
    machine_ = new PolkitMachine;
    why_ = machine_->start({.folder = TAVO_BUILD_FOLDER,
                            .bundle = TAVO_BUILT_BUNDLE,
                            .installedBundle = TAVO_INSTALLED_BUNDLE,
                            .driver = TAVO_REMOVAL_DRIVER});
    if (!why_.empty()) std::fprintf(stderr, "polkit tests: cannot start: %s\n", why_.c_str());
  }
  static void TearDownTestSuite() {
    delete machine_;
    machine_ = nullptr;
  }

  void SetUp() override {
    TAVO_REQUIRE_THROWAWAY_ROOT();
    if (!why_.empty()) {
      // Where the throwaway root must work, polkit must too.
      const char* required = std::getenv("TAVO_THROWAWAY_ROOT_REQUIRED");
      if (required && std::strcmp(required, "1") == 0) FAIL() << why_;
      GTEST_SKIP() << why_;
    }
    layMachine();
  }

  const TestUser& admin() const { return machine_->admin(); }
  std::string home(const std::string& rel) const { return admin().home + "/" + rel; }
  std::string docs(const std::string& rel) const { return home("Documents/Korvelin/" + rel); }
  std::string trash(const std::string& rel) const {
    return home(".local/share/Trash/files/" + rel);
  }

  // The demo's traces of the three libraries in the administrator's home; the
  // player's preferences name the banks of Glass Harp and Velvet Choir, which
  // also have a receipt and a bank in the preferences shared by all users.
  // Iron Drums has only its folders: its removal is one run of sweeper.
  void layMachine() {
    for (const char* rel : {"Documents", "Library", ".local", ".cache"}) fs::remove_all(home(rel));
    fs::remove_all(kReceipts);
    fs::remove_all("/Library");
    std::string content = docs("TAVO Player Content");
    PlistDict banks;
    for (const std::string lib : {"Glass Harp", "Velvet Choir", "Iron Drums"}) {
      writeFile(docs(lib + "/Library/" + lib + ".nki"), "demo data\n");
      writeFile(docs(lib + "/Samples/" + lib + " 01.ncw"), "demo data\n");
      writeFile(content + "/Presets/com.Stavek.Tavo/" + lib + "/Soft.preset", "demo data\n");
      if (lib == "Iron Drums") continue;
      banks.set(lib, dict({{"bank_path", docs(lib + "/Library")},
                             {"sample_dir", docs(lib + "/Samples")}}));
      std::string id =
          "com.Korvelin.pkg." + lib.substr(0, lib.find(' ')) + lib.substr(lib.find(' ') + 1);
      writeFile(kReceipts + id + ".plist", "");
      writeFile(kReceipts + id + ".bom", "");
    }
    writeFile(docs("Glass Harp Read Me.rtf"), "demo\n");
    fs::create_directories(home("Library/Preferences"));
    fs::create_directories("/Library/Preferences");
    writePlistFile(home("Library/Preferences/" + kPlayerPrefs),
                   dict({{"base_dir", content}, {"Banks", banks}}), PlistFormat::Xml);
    writePlistFile(home("Library/Preferences/com.Korvelin.GlassHarp.plist"),
                   dict({{"Registered", true}}), PlistFormat::Xml);
    writePlistFile(kAnyUserPrefs, dict({{"Banks", banks}}), PlistFormat::Xml);
    ASSERT_EQ(must("/bin/chown", {"-R", admin().name + ":", admin().home}), "");
  }

  // Glass Harp as laid out: nothing moved, forgotten or deleted.
  void expectGlassHarpUntouched(const Session& session) {
    EXPECT_TRUE(exists(docs("Glass Harp/Library/Glass Harp.nki")));
    EXPECT_TRUE(exists(home("Library/Preferences/com.Korvelin.GlassHarp.plist")));
    EXPECT_FALSE(exists(home(".local/share/Trash")));
    EXPECT_TRUE(exists(kReceipts + "com.Korvelin.pkg.GlassHarp.plist"));
    EXPECT_EQ(banksIn(home("Library/Preferences/" + kPlayerPrefs)), "Glass Harp|Velvet Choir");
    EXPECT_EQ(banksIn(kAnyUserPrefs), "Glass Harp|Velvet Choir");
    // A run that never happened leaves no line of a run.
    EXPECT_EQ(session.log().find("rmAdmin"), std::string::npos) << session.log();
  }

  static PolkitMachine* machine_;
  static std::string why_;
};

PolkitMachine* PolkitRemovalTest::machine_ = nullptr;
std::string PolkitRemovalTest::why_;

TEST_F(PolkitRemovalTest, OnePasswordCoversEveryRunOfARemovalAndTheNextWhileKept) {
  Session session(*machine_, machine_->installedBundle());
  ASSERT_EQ(session.why(), "");
  ASSERT_EQ(session.listedAtStart(), "TAVO Player|Glass Harp|Velvet Choir|Iron Drums");

  // sweeper for the folders, pkgutil --forget, sweeper for the preference
  // file, keyscrub: one question.
  Outcome first = session.remove("Glass Harp", Reply::Password);
  EXPECT_TRUE(first.removed) << session.log();
  EXPECT_EQ(first.asked, Lines{kRemoveAction});
  EXPECT_EQ(first.listed, "TAVO Player|Velvet Choir|Iron Drums");
  for (const std::string moved :
       {"Glass Harp", "Glass Harp Read Me.rtf", "com.Korvelin.GlassHarp.plist"}) {
    struct stat st {};
    EXPECT_EQ(::lstat(trash(moved).c_str(), &st), 0) << moved;
    EXPECT_EQ(st.st_uid, admin().uid) << moved;
    EXPECT_EQ(st.st_gid, admin().gid) << moved;
  }
  EXPECT_FALSE(exists(docs("Glass Harp")));
  EXPECT_FALSE(exists(kReceipts + "com.Korvelin.pkg.GlassHarp.plist"));
  EXPECT_TRUE(exists(kReceipts + "com.Korvelin.pkg.VelvetChoir.plist"));
  EXPECT_EQ(banksIn(home("Library/Preferences/" + kPlayerPrefs)), "Velvet Choir");
  EXPECT_EQ(banksIn(kAnyUserPrefs), "Velvet Choir");

  // The grant is kept: the next removal asks nothing.
  Outcome second = session.remove("Velvet Choir", Reply::Password);
  EXPECT_TRUE(second.removed) << session.log();
  EXPECT_EQ(second.asked, Lines{});
  EXPECT_FALSE(exists(docs("Velvet Choir")));
  EXPECT_FALSE(exists(kReceipts + "com.Korvelin.pkg.VelvetChoir.plist"));
  EXPECT_EQ(banksIn(kAnyUserPrefs), "");

  // Another process holds no grant: its undo asks once, under the undo's action.
  Session later(*machine_, machine_->installedBundle());
  ASSERT_EQ(later.why(), "");
  Outcome undone = later.undo(Reply::Password);
  EXPECT_TRUE(undone.removed) << later.log();
  EXPECT_EQ(undone.asked, Lines{"org.tavo.uninstaller.undo"});
  EXPECT_EQ(undone.listed, "TAVO Player|Velvet Choir|Iron Drums");
  EXPECT_TRUE(exists(docs("Velvet Choir")) && exists(kReceipts + "com.Korvelin.pkg.VelvetChoir.plist"));
  EXPECT_EQ(banksIn(kAnyUserPrefs), "Velvet Choir");
}

TEST_F(PolkitRemovalTest, AWrongPasswordOrADismissedPromptRunsNothing) {
  for (Reply reply : {Reply::WrongPassword, Reply::Dismiss}) {
    layMachine();
    Session session(*machine_, machine_->installedBundle());
    ASSERT_EQ(session.why(), "");
    Outcome outcome = session.remove("Glass Harp", reply);
    EXPECT_FALSE(outcome.removed);
    EXPECT_EQ(outcome.asked, Lines{kRemoveAction});
    EXPECT_EQ(outcome.listed, "TAVO Player|Glass Harp|Velvet Choir|Iron Drums");
    expectGlassHarpUntouched(session);
  }
}

// Run from its build folder, the helpers are named by no installed action:
// the application asks nothing of its own, and pkexec asks once per run.
TEST_F(PolkitRemovalTest, FromTheBuildFolderOnlyPkexecAsksOncePerRun) {
  Session session(*machine_, machine_->builtBundle());
  ASSERT_EQ(session.why(), "");
  Outcome refused = session.remove("Iron Drums", Reply::WrongPassword);
  EXPECT_FALSE(refused.removed);
  EXPECT_EQ(refused.asked, Lines{kPkexecOwnAction});
  EXPECT_TRUE(exists(docs("Iron Drums")));
  EXPECT_EQ(session.log().find("rmAdmin"), std::string::npos) << session.log();

  Outcome once = session.remove("Iron Drums", Reply::Password);
  EXPECT_TRUE(once.removed) << session.log();
  EXPECT_EQ(once.asked, Lines{kPkexecOwnAction});
  EXPECT_FALSE(exists(docs("Iron Drums")));
  EXPECT_NE(session.log().find("pkexec will ask"), std::string::npos) << session.log();

  // Four runs: sweeper, pkgutil --forget, sweeper, keyscrub.
  Outcome several = session.remove("Glass Harp", Reply::Password);
  EXPECT_TRUE(several.removed) << session.log();
  EXPECT_EQ(several.asked, Lines(4, kPkexecOwnAction));
}

// tavo-uninstall in a terminal session of the administrator's, as over SSH:
// with no desktop agent it starts polkit's text agent on its terminal, which
// asks once for the whole removal.
TEST_F(PolkitRemovalTest, TavoUninstallOnATerminalAsksOnceForTheWholeRemoval) {
  UserTerminal terminal;
  ASSERT_EQ(terminal.start(admin(),
                           {machine_->installedBundle() + "/Contents/MacOS/tavo-uninstall",
                            "Glass Harp", "--yes"},
                           userEnvironment(admin())),
            "");
  std::optional<int> status;
  EXPECT_TRUE(waitUntil([&] {
    terminal.serve(Reply::Password);
    return (status = terminal.exited()).has_value();
  }, 60));
  terminal.serve(Reply::Password);  // what it wrote last
  EXPECT_EQ(status, 0) << terminal.transcript();
  EXPECT_EQ(terminal.requests(), Lines{kRemoveAction}) << terminal.transcript();
  EXPECT_FALSE(exists(docs("Glass Harp")));
  EXPECT_TRUE(exists(trash("Glass Harp")));
  EXPECT_FALSE(exists(kReceipts + "com.Korvelin.pkg.GlassHarp.plist"));
  EXPECT_EQ(banksIn(kAnyUserPrefs), "Velvet Choir");
}

}  // namespace
}  // namespace tavo::testing
