// The application's entry: builds the windows and the controller, starts the
// scan once the event loop runs, and releases the controller on the way out.

#include <QApplication>
#include <QTimer>

#include <cstdio>

#include "app/application.h"
#include "base/home.h"
#include "platform/syslog_system_log.h"
#include "platform/user_folders.h"

int main(int argc, char** argv) {
  QApplication qtApp(argc, argv);
  auto bundle = tavo::Bundle::mainBundle();
  if (!bundle) {
    std::fprintf(stderr, "TAVO_Uninstaller: cannot find the application bundle\n");
    return 1;
  }
  qtApp.setApplicationName(QString::fromStdString(bundle->applicationName()));
  tavo::SyslogSystemLog log(bundle->applicationName());
  // Without a home folder there is nothing to protect it by: every removal
  // is then refused by the safety table.
  std::string home = tavo::homeFolder().value_or("");
  if (home.empty()) log.line("No home folder: $HOME is not set and the user is unknown");
  tavo::Application app({.bundlePath = bundle->bundlePath(),
                         .prefsRoots = tavo::PrefsRoots::forUser(home),
                         .authorization = tavo::makeSystemAuthorization(log),
                         .home = home,
                         .trash = tavo::homeTrashFolder(home),
                         .privateFolder = tavo::privateFolder(home),
                         .records = tavo::removalRecordsFolder(home),
                         .log = log});
  QObject::connect(&qtApp, &QCoreApplication::aboutToQuit, [&app] { app.terminate(); });
  QTimer::singleShot(0, [&app] { app.finishLaunching(); });
  return qtApp.exec();
}
