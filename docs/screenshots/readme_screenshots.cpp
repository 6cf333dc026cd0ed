// The README's pictures: the built bundle over a demo home that
// scripts/demo-home laid out, the main window and the confirmation of
// removing the player, saved as PNG files. Nothing is removed.
// Usage: readme_screenshots DEMO_HOME FOLDER (scripts/screenshots runs it).

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

#include "app/application.h"
#include "base/system_log.h"
#include "platform/authorization.h"
#include "ui_main_window.h"

int main(int argc, char** argv) {
  using namespace tavo;
  if (argc != 3) {
    std::fprintf(stderr, "usage: readme_screenshots DEMO_HOME FOLDER\n");
    return 2;
  }
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication qt(argc, argv);
  const std::string demoHome = argv[1];
  const QString shots = argv[2];
  ::setenv("HOME", demoHome.c_str(), 1);
  NullLog log;
  Application app({.bundlePath = TAVO_BUNDLE,
                   .prefsRoots = {demoHome + "/Library/Preferences", "/nonexistent", "host"},
                   .authorization = std::make_unique<NoAuthorization>(),
                   .home = demoHome,
                   .trash = demoHome + "/.local/share/Trash",
                   .privateFolder = demoHome + "/.cache/TAVO_Uninstaller",
                   .log = log});
  app.finishLaunching();
  for (int i = 0; i < 500 && !app.window().isVisible(); ++i) QTest::qWait(10);
  QComboBox& products = *app.window().ui().listButton;
  products.setCurrentIndex(products.findText("Glass Harp"));
  app.delegate().unins()->listButtonValueChanged();
  app.window().resize(760, 520);
  for (int i = 0; i < 100 && app.window().ui().sizeLine->text().startsWith("Counting"); ++i)
    QTest::qWait(10);
  const bool window = app.window().grab().save(shots + "/main-window.png");

  products.setCurrentIndex(products.findText("TAVO Player"));
  app.delegate().unins()->listButtonValueChanged();
  bool confirmation = false;
  QTimer::singleShot(300, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    confirmation = box->grab().save(shots + "/removal-confirmation.png");
    for (QAbstractButton* button : box->buttons())
      if (button->text() == "Skip") button->click();
  });
  app.window().ui().removeButton->click();
  if (!window || !confirmation) {
    std::fprintf(stderr, "readme_screenshots: %s not saved in %s\n",
                 window ? "the confirmation was" : "the main window was", argv[2]);
    return 1;
  }
  return 0;
}
