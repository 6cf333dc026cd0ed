#pragma once
// A machine in a temporary folder: a home (HOME points at it), preference
// folders read through the real store, a bundle whose Products folder the
// test fills, and a package tool script that knows the receipts "com.ok.*".

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

#include "core/uninstaller.h"
#include "platform/file_prefs_store.h"
#include "platform/folder_catalog.h"
#include "platform/plist_file.h"
#include "tests/fakes/capturing_log.h"
#include "tests/fakes/fake_alert.h"
#include "tests/fakes/fake_authorization.h"
#include "tests/fakes/fake_controls.h"
#include "tests/fakes/temp_tree.h"

namespace tavo::testing {

class CoreFixture : public ::testing::Test {
 protected:
  CoreFixture()
      : root(resolveFolderPath(tree.path()).value_or(tree.path())),
        home(root + "/home"),
        homeEnv("HOME", home),
        store(PrefsRoots{home + "/Library/Preferences", root + "/Library/Preferences", "host"},
              log),
        bundle(root + "/T.app") {
    tree.mkdirs("home/Library/Preferences");
    tree.mkdirs("T.app/Contents/Resources/Products");
    tree.write("pkgutil",
               "#!/bin/sh\necho noise; echo noise >&2\n"
               "case \"$2\" in com.ok.*) exit 0;; *) exit 1;; esac\n");
    ::chmod((root + "/pkgutil").c_str(), 0755);
  }

  /// A path under the temporary root.
  std::string at(const std::string& rel) const { return root + "/" + rel; }

  void description(const std::string& name, const std::string& text) {
    tree.write("T.app/Contents/Resources/Products/" + name, text);
  }

  void prefs(const std::string& domain, const PlistDict& dict) {
    writePlistFile(home + "/Library/Preferences/" + domain + ".plist", dict, PlistFormat::Xml);
  }

  /// The controller, created on first use.
  Uninstaller& controller() {
    if (!unins) {
      unins = std::make_unique<Uninstaller>(UninstallerCollaborators{
          .store = store,
          .log = log,
          .bundle = bundle,
          .processInfo = processInfo,
          .mainThread = mainThread,
          .packageTool = root + "/pkgutil",
          .listButton = &listButton,
          .textView = &textView,
          .removeButton = &removeButton,
          .authorization = authorization,
          .alert = &alert,
          .trash = root + "/home/.local/share/Trash"});
      log.clear();  // the start-up lines; the creation test reads them itself
    }
    return *unins;
  }

  /// Parses the one description file `text` and returns what was kept.
  const ProductList& parseOne(const std::string& text) {
    description("a.txt", text);
    controller().parse();
    return *controller().products();
  }

  static std::vector<std::string> names(const ProductList& products) {
    std::vector<std::string> out;
    for (const auto& p : products) out.push_back(p->name().value_or("(null)"));
    return out;
  }

  TempTree tree;
  std::string root;
  std::string home;
  ScopedEnv homeEnv;
  CapturingLog log;
  FilePrefsStore store;
  Bundle bundle;
  FakeProcessInfo processInfo;
  QueueMainThread mainThread;
  Journal journal;
  FakePopUpButton listButton{journal};
  FakeTextView textView{journal};
  FakeButton removeButton{journal};
  FakeAuthorization authorization;
  FakeAlert alert;
  std::unique_ptr<Uninstaller> unins;
};

}  // namespace tavo::testing
