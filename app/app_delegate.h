#pragma once
// The application delegate: brings the application up, runs the one scan on
// a worker thread, shows the main window when the scan has finished, and
// releases the controller when the application terminates.

#include <QProgressBar>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "app/main_window.h"
#include "app/progress_dialog.h"
#include "app/qt_main_thread.h"
#include "core/scan_relay.h"
#include "core/uninstaller.h"
#include "base/system_log.h"

namespace tavo {

class TAVO_UninstallerAppDelegate;

/// Tells the delegate, on the thread it is told on, that the scan has ended,
/// and has the progress dialog show the product being scanned.
class ScanObj final : public ScanRelay {
 public:
  TAVO_UninstallerAppDelegate* delegate() const { return delegate_.load(); }
  void setDelegate(TAVO_UninstallerAppDelegate* delegate) { delegate_.store(delegate); }
  void scanningProduct(const std::string& name) override;
  void scanFinished() override;

 private:
  std::atomic<TAVO_UninstallerAppDelegate*> delegate_{nullptr};
};

class TAVO_UninstallerAppDelegate {
 public:
  /// `bundlePath` names the application; `mainThread` is what the scan hands
  /// its closing steps to.
  TAVO_UninstallerAppDelegate(std::string bundlePath, SystemLog& log, QtMainThread& mainThread);
  ~TAVO_UninstallerAppDelegate();

  MainWindow* window() const { return _window; }
  void setWindow(MainWindow* window) { _window = window; }
  Uninstaller* unins() const { return _unins.get(); }
  void setUnins(std::unique_ptr<Uninstaller> unins) { _unins = std::move(unins); }
  ProgressDialog* dialog() const { return _dialog; }
  void setDialog(ProgressDialog* dialog) { _dialog = dialog; }
  QProgressBar* dialogProgress() const { return _dialogProgress; }
  void setDialogProgress(QProgressBar* bar) { _dialogProgress = bar; }

  /// Titles and hides the main window, shows the animated dialog, renames
  /// the menus and starts the scan worker thread.
  void applicationDidFinishLaunching();
  /// Stops the scan if it still runs and releases the controller, once.
  void applicationWillTerminate();
  /// Replaces "TAVO_Uninstaller" in the titles of the main menu's submenu
  /// items with the application name; top-level titles stay.
  void updateMenus();
  /// Stops the animation, closes the dialog and brings the main window front.
  void delegScanFinished();
  /// Scans again, as at launch: the animated dialog is up and the main
  /// window takes no input until the new list and summary are shown.
  /// Nothing happens while a scan is under way.
  void rescan();

  /// The bundle's last path component without its four-character extension;
  /// a component shorter than that is the name itself.
  static std::string applicationName(const std::string& bundlePath);
  /// `name` as a menu title shows it: "&" would otherwise mark a shortcut.
  static QString menuText(const std::string& name);

 private:
  std::string bundlePath_;
  SystemLog& log_;
  QtMainThread& mainThread_;
  MainWindow* _window = nullptr;
  std::unique_ptr<Uninstaller> _unins;
  ProgressDialog* _dialog = nullptr;
  QProgressBar* _dialogProgress = nullptr;
  std::unique_ptr<ScanObj> _scanObj;
  /// Starts the scan worker thread over the controller.
  void startScan();

  std::thread scanThread_;
  bool scanning_ = false;
};

}  // namespace tavo
