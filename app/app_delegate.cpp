#include "app/app_delegate.h"

#include <QMenu>
#include <QMenuBar>

#include "platform/bundle.h"
#include "core/log_lines.h"

namespace tavo {

void ScanObj::scanningProduct(const std::string& name) {
  auto* d = delegate();
  if (d && d->dialog()) d->dialog()->showProduct(name);
}

void ScanObj::scanFinished() {
  if (auto* d = delegate()) d->delegScanFinished();
}

TAVO_UninstallerAppDelegate::TAVO_UninstallerAppDelegate(std::string bundlePath, SystemLog& log,
                                                         QtMainThread& mainThread)
    : bundlePath_(std::move(bundlePath)), log_(log), mainThread_(mainThread) {}

TAVO_UninstallerAppDelegate::~TAVO_UninstallerAppDelegate() { applicationWillTerminate(); }

std::string TAVO_UninstallerAppDelegate::applicationName(const std::string& bundlePath) {
  return Bundle(bundlePath).applicationName();
}

QString TAVO_UninstallerAppDelegate::menuText(const std::string& name) {
  return QString::fromStdString(name).replace(QLatin1Char('&'), QStringLiteral("&&"));
}

void TAVO_UninstallerAppDelegate::applicationDidFinishLaunching() {
  std::string name = applicationName(bundlePath_);
  log_.line(loglines::kTest + name);
  if (_window) {
    _window->setWindowTitle(QString::fromStdString(name));
    _window->hide();
  }
  if (_dialog) _dialog->showInFront();
  if (_dialogProgress) startAnimation(*_dialogProgress);
  updateMenus();
  _scanObj = std::make_unique<ScanObj>();
  _scanObj->setDelegate(this);
  startScan();
}

void TAVO_UninstallerAppDelegate::startScan() {
  if (!_unins || scanning_) return;
  if (scanThread_.joinable()) scanThread_.join();  // the last scan, long finished
  scanning_ = true;
  scanThread_ = std::thread([unins = _unins.get(), relay = _scanObj.get()] { unins->scan(*relay); });
}

void TAVO_UninstallerAppDelegate::rescan() {
  if (scanning_ || !_scanObj || !_unins) return;
  if (_window) _window->setEnabled(false);
  if (_dialog) _dialog->showInFront();
  if (_dialogProgress) startAnimation(*_dialogProgress);
  _unins->resumeScans();
  startScan();
}

void TAVO_UninstallerAppDelegate::updateMenus() {
  if (!_window) return;
  const QString placeholder = QStringLiteral("TAVO_Uninstaller");
  const QString name = menuText(applicationName(bundlePath_));
  for (QAction* top : _window->menuBar()->actions()) {
    QMenu* submenu = top->menu();
    if (!submenu) continue;
    for (QAction* item : submenu->actions()) {
      QString title = item->text();
      if (title.contains(placeholder)) item->setText(title.replace(placeholder, name));
    }
  }
}

void TAVO_UninstallerAppDelegate::delegScanFinished() {
  scanning_ = false;
  if (_dialogProgress) stopAnimation(*_dialogProgress);
  if (_dialog) _dialog->closeQuietly();
  if (_window) {
    _window->setEnabled(true);
    _window->show();
    _window->raise();
  }
}

void TAVO_UninstallerAppDelegate::applicationWillTerminate() {
  // The worker may be waiting to hand its closing steps over, or still
  // scanning: let it go and wait for it before its controller goes.
  mainThread_.stop();
  if (_unins) _unins->cancelScan();
  if (scanThread_.joinable()) scanThread_.join();
  _unins.reset();
}

}  // namespace tavo
