// Removals through the session with the real sweeper, pkgutil and keyscrub
// as root: only inside the throwaway root, whose machine is a disposable copy.

#include <sys/mount.h>

#include "base/path.h"
#include "tests/core/core_fixture.h"
#include "tests/support/throwaway_root.h"

namespace tavo::testing {
namespace {

class SessionAsRoot : public CoreFixture {
 protected:
  SessionAsRoot() {
    tree.mkdirs("receipts");
    tree.mkdirs("Library/Preferences");
    // The scan's receipt test runs the package tool with this process's environment.
    ::setenv("TAVO_TEST_RECEIPTS_DIR", receipts.c_str(), 1);
  }
  std::unique_ptr<RemovalSession> open() {
    return openRemovalSession({.store = store, .authorization = *rootRights,
                               .tools = {TAVO_PKGUTIL_TESTROOT, TAVO_SWEEPER,
                                         TAVO_KEYSCRUB_TESTROOT},
                               .log = log, .bundle = bundle, .trash = trash,
                               .privateFolder = root + "/run/TAVO_Uninstaller", .home = home,
                               .records = root + "/records", .alert = &alert});
  }
  std::string receipts = tree / "receipts", allUsers = tree / "Library/Preferences";
  std::string trash = home + "/.local/share/Trash";
  std::unique_ptr<Authorization> rootRights = makeRootAuthorization(
      {"TAVO_TEST_RECEIPTS_DIR=" + receipts, "TAVO_TEST_ANY_USER_PREFS=" + allUsers}, log);
};

// Each step aims at a state: a receipt, a path or a value already gone counts
// as removed, so a removal that failed after forgetting the receipt can be
// completed, and so can another product that lists the same receipt.
TEST_F(SessionAsRoot, ARemovalThatFailedPartWayIsCompletedByTheNext) {
  TAVO_REQUIRE_THROWAWAY_ROOT();
  tree.write("home/Harp/a.wav", "a");
  tree.write("home/Harp Extra/b.wav", "b");
  tree.write("receipts/com.t.pkg.Harp.plist", "<plist/>");
  const PlistDict harp = dict({{"bank_path", "/x"}});
  const PlistDict banks = dict({{"Banks", dict({{"Harp", harp}, {"Drums", harp}})}});
  prefs("com.t", banks);
  ASSERT_TRUE(writePlistFile(allUsers + "/com.t.plist", banks, PlistFormat::Xml));
  description("p.txt", "Harp\nK\n-\n~/Harp\n$_pkg(com.t.pkg.Harp)$\ncom.t.plist$_var(Banks/Harp)$\n"
                       "-\nHarp Extra\nK\n-\n~/Harp Extra\n$_pkg(com.t.pkg.Harp)$\n-\n");
  auto session = open();
  const ProductList& products = session->scan();
  ASSERT_EQ(products.size(), 2u);
  ASSERT_EQ(products[1]->recps(), Lines{"com.t.pkg.Harp"});

  // All users' preferences read-only: keyscrub fails after the receipt is forgotten.
  ASSERT_EQ(::mount(allUsers.c_str(), allUsers.c_str(), nullptr, MS_BIND, nullptr), 0);
  ASSERT_EQ(::mount(nullptr, allUsers.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr),
            0);
  RemovalOutcome failed = session->remove(*products[0]);
  ASSERT_EQ(::umount2(allUsers.c_str(), 0), 0);
  EXPECT_FALSE(failed.removed);
  EXPECT_EQ(failed.forgotten, Lines{"com.t.pkg.Harp"});
  ASSERT_EQ(failed.failed.size(), 1u);
  EXPECT_EQ(failed.failed[0].step, "keyscrub for com.t::Banks/Harp");
  EXPECT_TRUE(session->listed(*products[0]));
  // Its record holds what it did, in order, and no more.
  using Kind = RecordStep::Kind;
  std::vector<Kind> done;
  const std::vector<RemovalRecord> records = session->records();
  for (const RecordStep& step : records.at(0).steps) done.push_back(step.kind);
  EXPECT_EQ(done, (std::vector<Kind>{Kind::Moved, Kind::Forgot, Kind::Deleted}));

  RemovalOutcome again = session->remove(*products[0]);
  EXPECT_TRUE(again.removed) << (again.failed.empty() ? "" : again.failed[0].step);
  EXPECT_FALSE(session->listed(*products[0]));
  for (const std::string& gone : Lines{"receipt com.t.pkg.Harp", home + "/Harp",
                                       "com.t::Banks/Harp for the current user"})
    EXPECT_EQ(log.count("Already gone: " + gone), 1u) << gone;
  // What all users' preferences held is kept for the record; the user's was gone.
  ASSERT_EQ(again.deleted.size(), 2u);
  EXPECT_EQ(again.deleted[0].removed, std::nullopt);
  EXPECT_EQ(again.deleted[1].removed, PlistValue(harp));
  EXPECT_EQ(banksIn(allUsers + "/com.t.plist"), "Drums");
  EXPECT_TRUE(session->remove(*products[1]).removed);
}

// sweeper escapes what would split its lines; the session reads them back.
TEST_F(SessionAsRoot, NamesHoldingATabOrAnArrowAreReportedMoved) {
  TAVO_REQUIRE_THROWAWAY_ROOT();
  Product product;
  product.addDir(tree.write("home/Tab\there"));
  product.addDir(tree.mkdirs("home/A -> B"));
  RemovalOutcome outcome = open()->remove(product);
  EXPECT_TRUE(outcome.removed);
  ASSERT_EQ(outcome.moved.size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    const MovedItem& item = outcome.moved[i];
    EXPECT_EQ(item.path, product.dirs()[i]);
    EXPECT_EQ(item.trashPath, trash + "/files/" + baseName(item.path));
    EXPECT_EQ(item.infoName, baseName(item.path) + ".trashinfo");
    EXPECT_TRUE(exists(item.trashPath) && exists(trash + "/info/" + item.infoName)) << item.path;
  }
}

}  // namespace
}  // namespace tavo::testing
