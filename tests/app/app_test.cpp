// The application shell, headless: the launch sequence, the menus, and a
// whole removal as root under temporary folders.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QElapsedTimer>
#include <QLabel>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <filesystem>
#include <thread>

#include "app/application.h"
#include "tests/support/capturing_log.h"
#include "tests/support/fake_alert.h"
#include "tests/support/fake_authorization.h"
#include "tests/support/prefs_fixture.h"
#include "tests/support/throwaway_root.h"
#include "ui_main_window.h"

namespace tavo::testing {
namespace {

namespace fs = std::filesystem;

// A machine in a temporary folder: a home, preference folders, a receipts
// folder and a bundle whose tools are the built ones.
class AppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("HOME", home().c_str(), 1);
    tree.mkdirs("home/Library/Preferences");
    tree.mkdirs("any");
    tree.mkdirs("receipts");
  }
  std::string home() const { return tree / "home"; }
  std::string bundlePath(const std::string& name = "T.app") const { return tree / name; }

  void makeBundle(const std::string& products, const std::string& name = "T.app") {
    std::string res = name + "/Contents/Resources/";
    tree.write(res + "Products/products.txt", products);
    tree.write(res + "listPath.txt");
    tree.mkdirs(name + "/Contents/MacOS");
    const auto over = fs::copy_options::overwrite_existing;
    fs::copy_file(TAVO_SWEEPER, tree / (res + "sweeper"), over);
    fs::copy_file(TAVO_KEYSCRUB_TESTROOT, tree / (res + "keyscrub"), over);
    fs::copy_file(TAVO_PKGUTIL_TESTROOT, tree / (name + "/Contents/MacOS/pkgutil"), over);
    ::chmod((tree / name).c_str(), 0755);
    ::chmod((tree / res).c_str(), 0755);
  }

  std::unique_ptr<Application> start(std::unique_ptr<Authorization> auth,
                                     const std::string& name = "T.app") {
    auto app = std::make_unique<Application>(ApplicationSetup{
        .bundlePath = bundlePath(name),
        .prefsRoots = {home() + "/Library/Preferences", tree / "any", "host"},
        .authorization = std::move(auth),
        .home = home(),
        .trash = home() + "/.local/share/Trash",
        .privateFolder = tree / "run/TAVO_Uninstaller",
        .records = tree / "records",
        .log = log,
        .alert = &alert});
    return app;
  }

  static void waitForScan(Application& app) {
    for (int i = 0; i < 500 && !app.window().isVisible(); ++i) QTest::qWait(10);
  }

  TempDir tree{rootsHome()};  // the root removal's Trash must lie in root's home
  CapturingLog log;
  FakeAlert alert;
};

TEST_F(AppTest, LaunchHidesTheWindowWhileTheDialogAnimatesThenShowsTheProducts) {
  tree.write("home/Documents/Harp/a.wav", "a");
  tree.write("home/Documents/Drums/b.wav", "b");
  makeBundle("Harp\nK\n-\n~/Documents/Harp\n-\nNone\nK\n-\n~/none\n-\nDrums\nK\n-\n~/Documents/Drums\n-\n");
  auto app = start(std::make_unique<FakeAuthorization>());
  app->window().show();
  app->finishLaunching();
  EXPECT_FALSE(app->window().isVisible());
  EXPECT_TRUE(app->dialog().isVisible());
  EXPECT_EQ(app->dialog().dialogProgress().maximum(), 0);  // indeterminate: animating

  waitForScan(*app);
  ASSERT_TRUE(app->window().isVisible());
  EXPECT_FALSE(app->dialog().isVisible());
  EXPECT_NE(app->dialog().dialogProgress().maximum(), 0);
  Ui::MainWindow& ui = app->window().ui();
  ASSERT_EQ(ui.listButton->count(), 2);
  EXPECT_EQ(ui.listButton->itemText(1), "Drums");
  EXPECT_EQ(ui.listButton->itemData(1).toLongLong(), 1);
  EXPECT_TRUE(ui.textView->toPlainText().startsWith("\n\nPaths:\n\n"));
  EXPECT_TRUE(ui.removeButton->isEnabled());
  EXPECT_EQ(log.lines().front().rfind("ConfigPath: ", 0), 0u);
  // The dialog was told each product; the last one stays.
  QLabel* product = app->dialog().findChild<QLabel*>("product");
  ASSERT_NE(product, nullptr);
  EXPECT_TRUE(QTest::qWaitFor([&] { return product->text() == "Drums"; }))
      << product->text().toStdString();
}

// The dialog changes at most ten times a second, always to the latest name,
// and the scan never waits for it.
TEST_F(AppTest, TheProductShownKeepsUpWithoutHoldingTheScanBack) {
  ProgressDialog dialog;
  QLabel* product = dialog.findChild<QLabel*>("product");
  ASSERT_NE(product, nullptr);
  dialog.showProduct("first");
  QCoreApplication::processEvents();  // nothing was shown before: at once
  QElapsedTimer shown;
  shown.start();
  EXPECT_EQ(product->text(), QString("first"));
  dialog.showProduct("second");
  QCoreApplication::processEvents();
  if (shown.elapsed() < 50) {
    EXPECT_EQ(product->text(), QString("first"));  // held back
  }
  EXPECT_TRUE(QTest::qWaitFor([&] { return product->text() == "second"; }, 2000));
  EXPECT_GE(shown.elapsed(), 50);  // waited for the rest of the interval
  // The event loop does not run while the worker reports: had the worker to
  // wait for it, the join would never return.
  std::thread worker([&] {
    for (int i = 0; i < 10000; ++i) dialog.showProduct("p" + std::to_string(i));
  });
  worker.join();
  EXPECT_TRUE(QTest::qWaitFor([&] { return product->text() == "p9999"; }));
}

TEST_F(AppTest, TheBundleNameTitlesTheWindowAndTheMenuItems) {
  makeBundle("", "R&D Remover.app");
  auto app = start(std::make_unique<FakeAuthorization>(), "R&D Remover.app");
  QMenuBar* bar = app->window().menuBar();
  QMenu* extra = bar->addMenu("TAVO_Uninstaller Tools");
  extra->addAction("TAVO_Uninstaller and TAVO_Uninstaller");
  app->finishLaunching();
  waitForScan(*app);

  EXPECT_EQ(app->window().windowTitle(), "R&D Remover");
  EXPECT_EQ(log.count("Test R&D Remover"), 1u);
  // "&&" is how a menu shows one "&" rather than underlining the next letter.
  EXPECT_EQ(app->window().ui().actionAbout->text(), "About R&&D Remover");
  EXPECT_EQ(app->window().ui().actionQuit->text(), "Quit R&&D Remover");
  EXPECT_EQ(extra->actions().front()->text(), "R&&D Remover and R&&D Remover");
  EXPECT_EQ(extra->title(), "TAVO_Uninstaller Tools");
  // Nothing found: the window still comes up, with nothing to remove.
  EXPECT_EQ(app->window().ui().listButton->count(), 0);
  EXPECT_EQ(app->window().ui().textView->toPlainText(), "There is nothing to uninstall");
  EXPECT_FALSE(app->window().ui().removeButton->isEnabled());
}

TEST_F(AppTest, ClosingTheDialogDuringTheScanQuitsAtOnce) {
  // A receipt test whose tool never answers keeps the scan busy.
  makeBundle("P\nK\n-\n$_pkg(a)$\n$_pkg(b)$\n$_pkg(c)$\n-\n");
  fs::remove(tree / "T.app/Contents/MacOS/pkgutil");
  tree.write("T.app/Contents/MacOS/pkgutil", "#!/bin/sh\nexec sleep 60\n", 0755);
  auto app = start(std::make_unique<FakeAuthorization>());
  app->finishLaunching();
  QTimer::singleShot(200, &app->dialog(), [&] { app->dialog().close(); });
  QTimer::singleShot(20000, qApp, [] { ADD_FAILURE() << "closing the dialog did not quit"; qApp->quit(); });
  qApp->exec();
  auto quitting = std::chrono::steady_clock::now();
  app->terminate();
  EXPECT_LT(std::chrono::steady_clock::now() - quitting, std::chrono::seconds(10));
  EXPECT_FALSE(app->window().isVisible());
  EXPECT_TRUE(alert.shown.empty());
}

// The confirmation tells what goes with the player, a protected entry does
// not keep a product listed, and a rescan lists what is left.
TEST_F(AppTest, RemovingThePlayerToldWhatGoesWithItThenARescanRebuildsTheList) {
  tree.write("home/Content/Presets/Harp/soft.preset", "p");
  tree.write("home/Documents/readme.txt", "r");
  ASSERT_TRUE(writePlistFile(home() + "/Library/Preferences/com.k.P.plist",
                            dict({{"base_dir", home() + "/Content"}}), PlistFormat::Xml));
  makeBundle("Player\nK\n-\n~/Library/Preferences/com.k.P.plist$_path(base_dir)$\n-\n"
             "Harp\nK\n-\n~/Content/Presets/Harp\n-\nDocs\nK\n-\n~/Documents\n-\n");
  auto app = start(std::make_unique<FakeAuthorization>());
  app->finishLaunching();
  waitForScan(*app);
  Ui::MainWindow& ui = app->window().ui();
  auto removeProduct = [&](const char* name) {
    ui.listButton->setCurrentIndex(ui.listButton->findText(name));
    app->delegate().unins()->listButtonValueChanged();
    ui.removeButton->click();
  };
  ASSERT_EQ(ui.listButton->count(), 3);
  removeProduct("Docs");  // only a protected folder: kept, and the product goes
  EXPECT_EQ(alert.informed.size(), 1u);
  EXPECT_FALSE(ui.rescanLine->isVisibleTo(&app->window()));  // nothing else went with it
  removeProduct("Player");
  ASSERT_EQ(alert.shown.size(), 2u);
  EXPECT_EQ(alert.shown[1][1], "Player\n\nMoving \"" + home() +
                                   "/Content\" also moves paths listed for other products:\n"
                                   "  Harp: 2 paths\n");
  EXPECT_TRUE(ui.rescanLine->isVisibleTo(&app->window()));
  EXPECT_NE(ui.rescanLine->text().indexOf("Rescan"), -1);
  EXPECT_EQ(alert.informed.size(), 1u);
  ASSERT_EQ(ui.listButton->count(), 1);

  tree.write("home/Later/x", "x");  // installed since the scan
  makeBundle("Player\nK\n-\n~/Library/Preferences/com.k.P.plist$_path(base_dir)$\n-\n"
             "Later\nK\n-\n~/Later\n-\n");
  log.clear();
  ui.actionRescan->trigger();
  EXPECT_FALSE(app->window().isEnabled());
  ui.actionRescan->trigger();  // while it scans: no second scan
  for (int i = 0; i < 500 && !app->window().isEnabled(); ++i) QTest::qWait(10);
  ASSERT_TRUE(app->window().isEnabled());
  ASSERT_EQ(ui.listButton->count(), 2);
  EXPECT_EQ(ui.listButton->itemText(1), "Later");
  EXPECT_EQ(log.count("ConfigPath: " + bundlePath() + "/Contents/Resources/Products/products.txt"), 1u);
  EXPECT_FALSE(ui.rescanLine->isVisibleTo(&app->window()));
  EXPECT_TRUE(ui.sizeLine->isVisibleTo(&app->window()));
}

// A long move keeps the window drawing (the samples are taken while sweeper
// runs) and waits for sweeper's end before going on. From half a second until
// that end, and never outside it, a dialog counts the items sweeper reported
// and moves within a long copy, whose progress stays out of the log.
TEST_F(AppTest, TheWindowStaysAliveAndShowsProgressWhileSweeperRuns) {
  tree.write("home/A/a", "a");
  tree.write("home/B/b", "b");
  makeBundle("P\nK\n-\n~/A\n~/B\n$_pkg(com.x)$\n-\n");
  tree.write("T.app/Contents/MacOS/pkgutil", "#!/bin/sh\necho com.x\n", 0755);
  using namespace std::chrono_literals;
  const std::string a = "moved: " + home() + "/A -> files/A", b = "moved: " + home() + "/B -> files/B";
  const std::string copying = "copying: " + home() + "/B: ", shown = "Moving 2 of 2 to the Trash\n";
  using Seen = std::tuple<int, double, std::string>;  // when (ms); the bar's part (-1: no dialog); its text
  const std::pair<decltype(FakeAuthorization::programScript), std::vector<Seen>> cases[] = {
      // the last line long before the end; every line before half a second; the whole run by then
      {{{300ms, a + "\n"}, {700ms, b + "\n"}, {600ms, ""}},
       {{200, -1, ""}, {750, 0.5, shown + a}, {1300, 1, shown + b}}},
      {{{100ms, a + "\n"}, {100ms, b + "\n"}, {800ms, ""}}, {{750, 1, shown + b}}},
      {{{100ms, a + "\n"}, {100ms, b + "\n"}}, {{400, -1, ""}, {700, -1, ""}}},
      {{{100ms, a + "\n"}, {200ms, copying + "0 of 4000 bytes\n"}, {300ms, copying + "3000 of 4000 bytes\n"},
        {500ms, b + "\n"}, {500ms, ""}},  // a long copy of B
       {{850, 0.875, shown + "Copying " + home() + "/B: 75%"}, {1350, 1, shown + b}}},
  };
  for (const auto& [script, expected] : cases) {
    auto fake = std::make_unique<FakeAuthorization>();
    FakeAuthorization& auth = *fake;
    auth.programScript = script;
    log.clear();
    auto app = start(std::move(fake));
    app->finishLaunching();
    waitForScan(*app);
    std::vector<Seen> seen;
    for (const auto& [at, part, text] : expected)
      QTimer::singleShot(at, [&, at] {
        QProgressDialog* d = app->helperWait().dialog();
        bool up = d && d->isVisible();
        seen.emplace_back(at, up ? double(d->value()) / d->maximum() : -1,
                          up ? d->labelText().toStdString() : "");
      });
    app->window().ui().removeButton->click();
    EXPECT_EQ(app->helperWait().dialog(), nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return seen.size() == expected.size(); }));  // a dialog shown late too
    EXPECT_EQ(seen, expected);
    for (const std::string& line : log.lines()) EXPECT_EQ(line.find("copying"), line.npos) << line;
    ASSERT_EQ(auth.started.size(), 2u);  // the receipt forgotten after sweeper's end
    EXPECT_EQ(auth.started[1][1], "--forget");
  }
}

TEST_F(AppTest, ARemovalAsRootMovesFilesForgetsReceiptsAndDeletesValues) {
  TAVO_REQUIRE_THROWAWAY_ROOT();  // the real tools, started directly as root
  tree.write("home/Documents/Harp/Samples/a.wav", "a");
  tree.write("home/Documents/Harp Read Me.rtf", "r");
  tree.write("home/Library/Preferences/com.k.Harp.plist", "");
  tree.write("receipts/com.k.pkg.Harp.plist", "<plist/>");
  tree.write("receipts/com.k.pkg.Harp.bom", "");
  const PlistDict bank = dict({{"bank_path", "/x"}});
  const PlistDict banks = dict({{"Banks", dict({{"Harp", bank}, {"Drums", bank}})}});
  ASSERT_TRUE(writePlistFile(home() + "/Library/Preferences/com.k.P.plist", banks, PlistFormat::Binary));
  ASSERT_TRUE(writePlistFile(tree / "any/com.k.P.plist", banks, PlistFormat::Xml));
  makeBundle("Harp\nK\n-\n~/Documents/Harp\n~/Documents/Harp Read Me.rtf\n"
             "~/Library/Preferences/com.k.P.plist$_var(Banks/Harp)$\n"
             "$_plist(~/Library/Preferences/com.k.Harp.plist)$\n$_pkg(com.k.pkg.Harp)$\n-\n"
             "Other\nK\n-\n~/Library/Preferences/com.k.P.plist$_var(Banks/Drums)$\n-\n");
  // The receipt test runs the package tool with the application's environment.
  ::setenv("TAVO_TEST_RECEIPTS_DIR", (tree / "receipts").c_str(), 1);
  auto app = start(makeRootAuthorization({"TAVO_TEST_RECEIPTS_DIR=" + tree / "receipts",
                                          "TAVO_TEST_ROOT=" + tree / "root",
                                          "TAVO_TEST_ANY_USER_PREFS=" + tree / "any"},
                                         log));
  app->finishLaunching();
  waitForScan(*app);
  Ui::MainWindow& ui = app->window().ui();
  ASSERT_EQ(ui.listButton->count(), 2);
  ASSERT_NE(ui.textView->toPlainText().indexOf("com.k.pkg.Harp"), -1);
  ui.removeButton->click();

  ASSERT_EQ(alert.shown.size(), 1u);
  EXPECT_EQ(alert.shown[0], (std::vector<std::string>{"You are about to remove this product:", "Harp",
                                                      "Remove", "Skip"}));
  std::string trash = home() + "/.local/share/Trash";
  for (const char* name : {"Harp", "Harp Read Me.rtf", "com.k.Harp.plist"}) {
    EXPECT_TRUE(fs::exists(trash + "/files/" + name)) << name;
    EXPECT_TRUE(fs::exists(trash + "/info/" + std::string(name) + ".trashinfo")) << name;
  }
  EXPECT_FALSE(fs::exists(home() + "/Documents/Harp"));
  EXPECT_FALSE(fs::exists(tree / "receipts/com.k.pkg.Harp.plist"));
  EXPECT_EQ(banksIn(home() + "/Library/Preferences/com.k.P.plist"), "Drums");
  EXPECT_EQ(banksIn(tree / "any/com.k.P.plist"), "Drums");
  ASSERT_EQ(ui.listButton->count(), 1);
  EXPECT_EQ(ui.listButton->itemText(0), "Other");
  EXPECT_EQ(ui.listButton->itemData(0).toLongLong(), 1);
  EXPECT_EQ(readFile(bundlePath() + "/Contents/Resources/listPath.txt"), "");  // the package's: root's list is its own

  // The menu undoes it, asking the same way, and the rescan lists it again.
  ASSERT_TRUE(ui.actionUndo->isEnabled());
  EXPECT_EQ(ui.actionUndo->text(), "Undo Removal of Harp");
  ui.actionUndo->trigger();
  EXPECT_EQ(alert.shown.back().front(), "You are about to undo the removal of this product:");
  EXPECT_TRUE(QTest::qWaitFor([&] { return ui.listButton->count() == 2 && app->window().isEnabled(); }));
  EXPECT_TRUE(fs::exists(home() + "/Documents/Harp/Samples/a.wav"));
  EXPECT_TRUE(fs::exists(tree / "receipts/com.k.pkg.Harp.plist"));
  EXPECT_EQ(banksIn(tree / "any/com.k.P.plist"), "Harp|Drums");
  EXPECT_FALSE(ui.actionUndo->isEnabled());
}

}  // namespace
}  // namespace tavo::testing

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
