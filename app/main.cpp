// The application's entry: builds the windows and the controller, starts the
// scan once the event loop runs, and releases the controller on the way out.

#include <QApplication>
#include <QTimer>

#include <cstdio>

#include "app/application.h"
#include "platform/home_folder.h"

int main(int argc, char** argv) {
  QApplication qtApp(argc, argv);
  auto bundle = tavo::Bundle::mainBundle();
  if (!bundle) {
    std::fprintf(stderr, "TAVO_Uninstaller: cannot find the application bundle\n");
    return 1;
  }
  qtApp.setApplicationName(QString::fromStdString(bundle->applicationName()));
  tavo::Application app({.bundlePath = bundle->bundlePath(),
                         .prefsRoots = tavo::PrefsRoots::forCurrentUser(),
                         .authorization = tavo::makeSystemAuthorization(),
                         .trash = tavo::currentUserTrash()});
  QObject::connect(&qtApp, &QCoreApplication::aboutToQuit, [&app] { app.terminate(); });
  QTimer::singleShot(0, [&app] { app.finishLaunching(); });
  return qtApp.exec();
}
