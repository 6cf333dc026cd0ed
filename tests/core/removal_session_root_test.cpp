// Removals through the session with the real sweeper, pkgutil and keyscrub
// as root: only inside the throwaway root, whose machine is a disposable copy.

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
  }
  std::unique_ptr<RemovalSession> open() {
    return openRemovalSession({.store = store, .authorization = *rootRights,
                               .tools = {TAVO_PKGUTIL_TESTROOT, TAVO_SWEEPER,
                                         TAVO_KEYSCRUB_TESTROOT},
                               .log = log, .bundle = bundle, .trash = trash,
                               .privateFolder = root + "/run/TAVO_Uninstaller", .home = home,
                               .alert = &alert});
  }
  std::string receipts = tree / "receipts", allUsers = tree / "Library/Preferences";
  std::string trash = home + "/.local/share/Trash";
  std::unique_ptr<Authorization> rootRights = makeRootAuthorization(
      {"TAVO_TEST_RECEIPTS_DIR=" + receipts, "TAVO_TEST_ANY_USER_PREFS=" + allUsers}, log);
};

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
