// removal-driver BUNDLE: whole removals through the controller with the
// system's authorisation, for the polkit tests. It scans with BUNDLE's
// description files and helpers and prints "listed: A|B|..."; then per line
// "remove NAME" ("undo") on standard input it removes NAME (undoes the newest
// removal and scans), confirming, and prints "removed NAME" or "kept NAME"
// ("undone" or "kept") and the list again. Log lines go to standard error.

#include <cstdio>
#include <iostream>
#include <string>
#include <thread>

#include "base/home.h"
#include "core/uninstaller.h"
#include "prefs/file_prefs_store.h"
#include "platform/syslog_system_log.h"
#include "platform/user_folders.h"
#include "tests/support/fake_alert.h"
#include "tests/support/fake_controls.h"

namespace {

struct QuietRelay final : tavo::ScanRelay {
  void scanFinished() override {}
};

/// The tag of the listed product called `name`, or -1.
long tagOf(const tavo::Uninstaller& unins, const tavo::testing::FakeControls& ui,
           const std::string& name) {
  for (long tag : ui.tags)
    if ((*unins.products())[static_cast<std::size_t>(tag)]->name() == name) return tag;
  return -1;
}

void printListed(const tavo::Uninstaller& unins, const tavo::testing::FakeControls& ui) {
  std::string line = "listed: ";
  for (std::size_t i = 0; i < ui.tags.size(); ++i)
    line += (i ? "|" : "") +
            (*unins.products())[static_cast<std::size_t>(ui.tags[i])]->name().value_or("");
  std::cout << line << std::endl;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: removal-driver BUNDLE\n", stderr);
    return 2;
  }
  tavo::Bundle bundle(argv[1]);
  tavo::SyslogSystemLog log("removal-driver");
  std::string home = tavo::homeFolder().value_or("");
  tavo::FilePrefsStore store(tavo::PrefsRoots::forUser(home), log);
  tavo::SystemProcessInfo processInfo;
  tavo::testing::FakeControls ui;  // this thread plays the main thread
  tavo::testing::FakeTextLine sizeLine, rescanLine;
  tavo::testing::FakeAlert alert;  // always "Remove"
  auto authorization = tavo::makeSystemAuthorization(log);
  tavo::Uninstaller unins(
      tavo::openRemovalSession({.store = store, .authorization = *authorization,
                                .tools = tavo::bundleTools(bundle), .log = log, .bundle = bundle,
                                .trash = tavo::homeTrashFolder(home),
                                .privateFolder = tavo::privateFolder(home), .home = home,
                                .records = tavo::removalRecordsFolder(home), .alert = &alert}),
      processInfo, ui);
  unins.setListButton(&ui);
  unins.setTextView(&ui);
  unins.setRemoveButton(&ui);
  unins.setSizeLine(&sizeLine);
  unins.setRescanLine(&rescanLine);
  QuietRelay relay;
  std::thread([&] { unins.scan(relay); }).join();
  printListed(unins, ui);

  for (std::string line; std::getline(std::cin, line);) {
    if (line == "undo") {
      const bool undone = unins.undoClicked();
      std::thread([&] { unins.scan(relay); }).join();
      std::cout << (undone ? "undone" : "kept") << std::endl;
      printListed(unins, ui);
      continue;
    }
    const std::string command = "remove ";
    if (line.rfind(command, 0) != 0) {
      std::cout << "unknown: " << line << std::endl;
      continue;
    }
    std::string name = line.substr(command.size());
    long tag = tagOf(unins, ui, name);
    if (tag >= 0) {
      ui.selected = tag;
      unins.listButtonValueChanged();
      unins.removeClicked();
    }
    bool removed = tag >= 0 && tagOf(unins, ui, name) < 0;
    std::cout << (removed ? "removed " : "kept ") << name << std::endl;
    printListed(unins, ui);
  }
  return 0;
}
