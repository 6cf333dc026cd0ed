#pragma once
// A machine in a temporary folder: a home (HOME points at it), preference
// folders read through the real store, a bundle whose Products folder the
// test fills, and a package tool script that knows the receipts "com.ok.*"
// (listing those the tests name) and notes each run in "pkgutil.runs".

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <thread>
#include <tuple>

#include "core/uninstaller.h"
#include "tests/support/capturing_log.h"
#include "tests/support/fake_alert.h"
#include "tests/support/fake_authorization.h"
#include "tests/support/fake_controls.h"
#include "tests/support/prefs_fixture.h"
#include "tests/support/temp_dir.h"
#include "tests/support/throwaway_root_check.h"

namespace tavo::testing {

using Lines = std::vector<std::string>;

class CoreFixture : public ::testing::Test, public ScanRelay {
 protected:
  CoreFixture() {
    tree.mkdirs("home/Library/Preferences");
    tree.mkdirs("T.app/Contents/Resources/Products");
    tree.write("pkgutil", "#!/bin/sh\necho \"$@\" >>\"$0.runs\"\n"
                          "[ \"$1\" = --pkgs ] && exec printf 'com.ok.%s\\n' a b c p q r harp player\n"
                          "echo noise; echo noise >&2\n"
                          "case \"$2\" in com.ok.*) exit 0;; *) exit 1;; esac\n", 0755);
  }

  void description(const std::string& name, const std::string& text) {
    tree.write("T.app/Contents/Resources/Products/" + name, text);
  }
  void prefs(const std::string& domain, const PlistDict& top) {
    writePlistFile(home + "/Library/Preferences/" + domain + ".plist", top, PlistFormat::Xml);
  }
  // The current user's "com.t" with `bank` as its first bank.
  void firstBank(const std::string& name, PlistDict bank) {
    prefs("com.t", dict({{"Banks", dict({{name, std::move(bank)}})}}));
  }
  SessionSetup setup() {
    PrivilegedTools tools = bundleTools(bundle);
    tools.packageTool = tree / "pkgutil";
    return {.store = store, .authorization = authorization, .tools = tools, .log = log,
            .bundle = bundle, .trash = home + "/.local/share/Trash",
            .privateFolder = root + "/run/TAVO_Uninstaller", .home = home, .alert = &alert};
  }
  std::unique_ptr<Uninstaller> makeController(SessionSetup s) {
    return std::make_unique<Uninstaller>(openRemovalSession(std::move(s)), processInfo, ui);
  }
  /// The controller with the fake controls connected, created on first use;
  /// its start-up lines are cleared.
  Uninstaller& controller() {
    if (!unins) {
      unins = makeController(setup());
      unins->setListButton(&ui);
      unins->setTextView(&ui);
      unins->setRemoveButton(&ui);
      unins->setSizeLine(&sizeLine);
      unins->setRescanLine(&rescanLine);
      log.clear();
    }
    return *unins;
  }
  void scan() {
    Uninstaller& u = controller();
    std::thread([&] { u.scan(*this); }).join();
  }
  void scanFinished() override { ui.note("finished"); }
  void scanningProduct(const std::string& name) override {
    scanned.push_back(std::this_thread::get_id() == mainThreadId ? name + " (on main)" : name);
  }
  void select(long tag) {
    ui.selected = tag;
    controller().listButtonValueChanged();
  }
  /// Parses the one description file `text` and returns what was kept.
  const ProductList& parseOne(const std::string& text) {
    description("a.txt", text);
    controller().parse();
    return *controller().products();
  }

  TempDir tree{rootsHome()};  // a removal as root needs its Trash in root's home
  std::string root = tree.path(), home = root + "/home";
  ScopedEnv homeEnv{"HOME", home};
  CapturingLog log;
  FilePrefsStore store{{home + "/Library/Preferences", root + "/Library/Preferences", "host"}, log};
  Bundle bundle{root + "/T.app"};
  FakeProcessInfo processInfo;
  FakeControls ui;
  FakeTextLine sizeLine, rescanLine;
  FakeAuthorization authorization;
  FakeAlert alert;
  std::unique_ptr<Uninstaller> unins;
  std::thread::id mainThreadId = std::this_thread::get_id();
  Lines scanned;  // the products the scan said it started on, in order
};

}  // namespace tavo::testing
