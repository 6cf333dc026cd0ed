#pragma once
// The application's controller: drives the product chooser, the summary text
// and the remove button over a removal session, which holds the scan and the
// removal. The controller keeps the operations the rest of the system calls
// by name and forwards them to the session and its parts: DescriptionParser
// (the scan), FolderLister (folder expansion), ReceiptCheck (receipts),
// PrivilegedRuns (the runs with administrator rights) and the prefs module
// (preference values).

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/product.h"
#include "core/removal_session.h"
#include "core/scan_relay.h"
#include "core/interfaces/controls.h"
#include "core/interfaces/main_thread.h"
#include "platform/process_info.h"

namespace tavo {

class Uninstaller {
 public:
  /// Finds the resource "unins.txt" of the session's bundle and writes the
  /// start-up log lines. The product list stays null until the first parse.
  /// `processInfo` and `mainThread` must outlive the controller.
  Uninstaller(std::unique_ptr<RemovalSession> session, const ProcessInfo& processInfo,
              MainThread& mainThread);
  /// Stops a size count under way.
  ~Uninstaller();
  Uninstaller(const Uninstaller&) = delete;
  Uninstaller& operator=(const Uninstaller&) = delete;

  /// The body of a scan worker thread: parses, telling `relay` each product
  /// it starts on, then hands the menu items (replacing any from an earlier
  /// scan), the summary and `relay.scanFinished()` to the main thread as one
  /// unit and waits for them. While it runs, nothing on the main thread may
  /// use the controller.
  void scan(ScanRelay& relay);

  /// Keeps `path` as the logged resource path and parses again; the menu is
  /// not rebuilt.
  void runWithConfigPath(std::optional<std::string> path);

  /// Replaces the product list by reading every description file in turn.
  void parse();

  /// Shows the selected product's summary in the text view and enables the
  /// remove button; with nothing selected, "There is nothing to uninstall"
  /// and a disabled button. The size line follows when it has been counted,
  /// off the main thread.
  void listButtonValueChanged();

  /// Removes the selected product; on success its item leaves the chooser
  /// and the next selection's summary is shown, and when paths of other
  /// products went with it the rescan line offers a rescan; otherwise the
  /// remove button is usable again and nothing else changes.
  void removeClicked();

  /// Undoes the newest removal whose record is not undone, as the session
  /// does, asking first; true when it was confirmed (what is on the machine
  /// has changed: the caller rescans). The undo item follows.
  bool undoClicked();
  /// Titles the undo item after the newest removal not undone ("Undo Removal
  /// of NAME"), usable only when there is one.
  void updateUndoItem();

  /// Asks a running scan to stop at its next step and ends a package tool
  /// it waits for; the closing steps still run. Safe from any thread.
  void cancelScan() { session_->cancelScan(); }
  /// Lets the next scan run after a cancelled one; on the main thread,
  /// before the scan starts.
  void resumeScans() { session_->resumeScans(); }

  // Forwarders to the session and its parts, under the names the rest of
  // the system uses.
  void listnadd(const std::string& path, Product& toProduct) {
    session_->lister().listnadd(path, toProduct);
  }
  void FileLister(const std::string& path, const std::string& Ext,
                  std::vector<std::string>& FilesArray, bool SeeBundleAsFile) {
    session_->lister().FileLister(path, Ext, FilesArray, SeeBundleAsFile);
  }
  bool recpExists(const std::string& identifier) {
    return session_->receipts().recpExists(identifier);
  }
  /// The session's removal, with its confirmation; true when it answered yes.
  bool removeProduct(const Product& product) { return session_->remove(product).removed; }
  RunResult forgetPkg(const std::string& id) { return session_->runs().forgetPkg(id); }
  RunResult unlinkPkg(const std::string& id) { return session_->runs().unlinkPkg(id); }
  /// sweeper over `listPath`, into the user's Trash.
  SweeperRun rmAdmin(const std::string& listPath) {
    return session_->runs().rmAdmin(session_->trash(), listPath);
  }
  RunResult deleteAnyUserPrefKey(const std::string& domain,
                                 const std::vector<std::string>& WithKeyNames) {
    return session_->runs().deleteAnyUserPrefKey(domain, WithKeyNames);
  }
  bool readConfigStringValue(const std::string& domain, const std::string& WithKeyName,
                             std::string& StrValue);
  bool readConfigStringValue(const std::string& domain,
                             const std::vector<std::string>& WithKeyNames, std::string& StrValue);
  bool read1stBankPath(const std::string& domain, std::string& strValue);
  bool read1stBankSamplePath(const std::string& domain, std::string& strValue);
  bool prefExists(const std::string& domain, const std::string& WithKey);
  bool deleteCurrentUserPrefKey(const std::string& domain,
                                const std::vector<std::string>& WithKeyNames);

  /// The live product list, or nullptr before the first parse.
  const ProductList* products() const { return session_->products(); }
  const std::vector<std::string>& configPaths() const { return session_->configPaths(); }
  bool freeAuth() { return session_->runs().freeAuth(); }
  RemovalSession& session() { return *session_; }

  TextView* textView() const { return _textView; }
  void setTextView(TextView* textView) { _textView = textView; }
  PopUpButton* listButton() const { return _listButton; }
  void setListButton(PopUpButton* listButton) { _listButton = listButton; }
  Button* removeButton() const { return _removeButton; }
  void setRemoveButton(Button* removeButton) { _removeButton = removeButton; }
  /// The selected product's item count and size on disk.
  void setSizeLine(TextLine* line) { _sizeLine = line; }
  /// The offer to rescan after a removal took other products' paths.
  void setRescanLine(TextLine* line) { _rescanLine = line; }
  /// The menu item that undoes the newest removal.
  void setUndoItem(MenuItem* item) { _undoItem = item; }

  /// The text of the rescan line.
  static constexpr const char* kRescanOffer =
      "Paths listed for other products went with it: rescan to see what is left.";

 private:
  /// The selected product, or nullptr.
  const Product* selected() const;
  void countSize(const Product& product);
  void stopSizeCount();

  std::unique_ptr<RemovalSession> session_;
  const ProcessInfo& processInfo_;
  MainThread& mainThread_;
  std::optional<std::string> _configPath;  // "unins.txt": logged, read by nothing
  TextView* _textView = nullptr;
  PopUpButton* _listButton = nullptr;
  Button* _removeButton = nullptr;
  TextLine* _sizeLine = nullptr;
  TextLine* _rescanLine = nullptr;
  MenuItem* _undoItem = nullptr;
  // The size count of the selection: a worker that posts its result unless
  // a newer selection (a higher generation) came first.
  std::thread sizeThread_;
  std::shared_ptr<std::atomic<bool>> sizeCancelled_;
  unsigned long sizeGeneration_ = 0;
};

}  // namespace tavo
