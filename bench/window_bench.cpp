// The window over hundreds of found products: how soon the product menu
// opens and the summary follows a selection.
//
//   cmake --build build --target tavo_window_bench && build/bench/tavo_window_bench
//
// Lays out a home where each of N products (default 500) left a folder of a
// few files, starts the application on it (offscreen unless QT_QPA_PLATFORM
// says otherwise), waits for the scan, and then, for K selections spread over
// the menu, times opening the menu until its list has been painted, and a
// click on the product until the summary shows it and the window has been
// painted. Prints the median and the slowest of each (target: both within
// 100 ms), and the scan's time. With --large-files M, one more product holds
// M files in one folder, and its selection is timed apart.
// A smoke run: --products 20 --selections 3

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTest>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/application.h"
#include "bench/process_pairs.h"
#include "ui_main_window.h"

namespace {

namespace fs = std::filesystem;

struct Options {
  long products = 500;
  long selections = 25;
  long largeFiles = 0;
};

bool parseOptions(int argc, char** argv, Options& o) {
  return tavo::bench::parseOptions(argc, argv, {{"--products", &o.products},
                                                {"--selections", &o.selections},
                                                {"--large-files", &o.largeFiles, 0}});
}

std::string productName(long i) {
  char name[32];
  std::snprintf(name, sizeof name, "Library %03ld", i);
  return name;
}

void touch(const std::string& path) { std::ofstream(path) << "demo data\n"; }

// The products' folders in the home and their descriptions in the bundle.
void layOut(const std::string& root, const Options& o) {
  std::string products;
  for (long i = 0; i < o.products; ++i) {
    std::string name = productName(i), folder = root + "/home/" + name;
    fs::create_directories(folder + "/Samples");
    for (const char* file : {"/Library.nki", "/Samples/a.ncw", "/Samples/b.ncw"}) touch(folder + file);
    products += name + "\nKorvelin\n-\n~/" + name + "\n-\n";
  }
  if (o.largeFiles > 0) {
    std::string folder = root + "/home/Large Library";
    fs::create_directories(folder);
    char file[64];
    for (long i = 0; i < o.largeFiles; ++i) {
      std::snprintf(file, sizeof file, "/Large Library %06ld.ncw", i);
      std::ofstream(folder + file);
    }
    products += "Large Library\nKorvelin\n-\n~/Large Library\n-\n";
  }
  fs::create_directories(root + "/W.app/Contents/Resources/Products");
  fs::create_directories(root + "/home/Library/Preferences");
  std::ofstream(root + "/W.app/Contents/Resources/Products/products.txt") << products;
}

template <typename Done>
bool waitFor(Done done, int ms) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

struct Timed {
  std::vector<double> openMs, selectMs;
  bool ok = true;
};

// Opens the menu, brings the item into view (not timed: the user scrolls),
// and clicks it.
void select(QComboBox& box, QPlainTextEdit& summary, int index, Timed& t,
            std::vector<double>* selectMs) {
  QElapsedTimer timer;
  timer.start();
  box.showPopup();
  QAbstractItemView* list = box.view();
  t.ok = t.ok && waitFor([&] { return list->isVisible(); }, 5000);
  QCoreApplication::processEvents();  // the popup's paint
  t.openMs.push_back(timer.nsecsElapsed() / 1e6);
  QModelIndex item = box.model()->index(index, 0);
  list->scrollTo(item);
  QCoreApplication::processEvents();
  QString wanted = box.itemText(index);
  timer.restart();
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(item).center());
  t.ok = t.ok && waitFor([&] { return box.currentIndex() == index; }, 5000);
  QCoreApplication::processEvents();  // the summary's paint
  (selectMs ? *selectMs : t.selectMs).push_back(timer.nsecsElapsed() / 1e6);
  t.ok = t.ok && summary.toPlainText().contains(wanted);
}

void printTimes(const char* what, const std::vector<double>& ms) {
  if (ms.empty()) return;
  std::printf("%s: median %.1f ms, slowest %.1f ms of %zu (target: within 100 ms)\n", what,
              tavo::bench::median(ms), *std::max_element(ms.begin(), ms.end()), ms.size());
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!parseOptions(argc, argv, o)) {
    std::fputs("usage: tavo_window_bench [--products N] [--selections K] [--large-files M]\n", stderr);
    return 2;
  }
  if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  // What the offscreen platform cannot do (raise a window, grab the keyboard)
  // is said for every popup: not ours to print.
  qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtCriticalMsg || type == QtFatalMsg) std::fprintf(stderr, "%s\n", qPrintable(text));
  });
  QApplication qtApp(argc, argv);
  std::string root = tavo::bench::makeBenchRoot();
  if (root.empty()) return 1;
  layOut(root, o);
  std::string home = root + "/home";
  ::setenv("HOME", home.c_str(), 1);
  tavo::NullLog log;
  QElapsedTimer scanTimer;
  int status = 1;
  {
    tavo::Application app({.bundlePath = root + "/W.app",
                           .prefsRoots = {home + "/Library/Preferences", root + "/any", "host"},
                           .authorization = std::make_unique<tavo::NoAuthorization>(),
                           .home = home,
                           .trash = home + "/.local/share/Trash",
                           .privateFolder = root + "/run",
                           .records = root + "/records",
                           .log = log});
    scanTimer.start();
    app.finishLaunching();
    Ui::MainWindow& ui = app.window().ui();
    bool scanned = waitFor([&] { return app.window().isVisible(); }, 120000);
    double scanMs = scanTimer.nsecsElapsed() / 1e6;
    QComboBox& box = *ui.listButton;
    long found = box.count();
    Timed t;
    std::vector<double> largeMs;
    for (long k = 0; scanned && k < o.selections; ++k)
      select(box, *ui.textView, static_cast<int>((k * 97 + 1) % std::min(found, o.products)), t, nullptr);
    if (scanned && o.largeFiles > 0) select(box, *ui.textView, static_cast<int>(found - 1), t, &largeMs);
    tavo::bench::printLoad();
    std::printf("window with %ld products found (%ld listed); scan and window shown after %.0f ms\n",
                o.products + (o.largeFiles > 0), found, scanMs);
    printTimes("the product menu opened and painted", t.openMs);
    printTimes("a click on a product until its summary is painted", t.selectMs);
    if (!largeMs.empty())
      std::printf("the summary of the product with %ld files: %.1f ms\n", o.largeFiles, largeMs.front());
    bool ok = scanned && t.ok && found == o.products + (o.largeFiles > 0);
    if (!ok) std::puts("A SELECTION DID NOT SHOW ITS SUMMARY, or the scan did not finish");
    status = ok ? 0 : 1;
    app.terminate();
  }
  std::error_code ignored;
  fs::remove_all(root, ignored);
  return status;
}
