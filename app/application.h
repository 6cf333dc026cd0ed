#pragma once
// The whole application as its user-interface description would create it:
// the windows, the controller and the delegate, connected.

#include <memory>
#include <string>

#include "app/app_delegate.h"
#include "app/main_window.h"
#include "app/progress_dialog.h"
#include "app/qt_controls.h"
#include "app/qt_helper_wait.h"
#include "app/qt_main_thread.h"
#include "core/uninstaller.h"
#include "platform/authorization.h"
#include "platform/bundle.h"
#include "prefs/file_prefs_store.h"
#include "platform/process_info.h"
#include "base/system_log.h"

namespace tavo {

/// Where the application finds its world; tests point it at temporary folders.
struct ApplicationSetup {
  std::string bundlePath;                        // the .app folder
  PrefsRoots prefsRoots;                          // the preference folders
  std::unique_ptr<Authorization> authorization;  // administrator rights
  std::string home;                               // the user's home folder
  std::string trash;                              // the user's Trash folder
  std::string privateFolder;                      // private to the user, for the list file
  std::string records = {};                       // the folder of the user's removal records
  SystemLog& log;                                 // outlives the application
  Alert* alert = nullptr;                         // null: a QMessageBox
};

class Application {
 public:
  explicit Application(ApplicationSetup setup);
  ~Application();

  /// What the platform does once launching has finished.
  void finishLaunching() { delegate_->applicationDidFinishLaunching(); }
  /// What the platform does when the application terminates.
  void terminate() { delegate_->applicationWillTerminate(); }

  TAVO_UninstallerAppDelegate& delegate() { return *delegate_; }
  MainWindow& window() { return window_; }
  QtHelperWait& helperWait() { return helperWait_; }
  ProgressDialog& dialog() { return dialog_; }

 private:
  SystemLog& log_;
  Bundle bundle_;
  FilePrefsStore store_;
  SystemProcessInfo processInfo_;
  std::unique_ptr<Authorization> authorization_;
  MainWindow window_;
  ProgressDialog dialog_;
  QtPopUpButton listButton_;
  QtTextView textView_;
  QtButton removeButton_;
  QtTextLine sizeLine_;
  QtTextLine rescanLine_;
  QtMenuItem undoItem_;
  QtAlert qtAlert_;
  QtHelperWait helperWait_;
  QtMainThread mainThread_;
  std::unique_ptr<TAVO_UninstallerAppDelegate> delegate_;
};

}  // namespace tavo
