#pragma once
// The application's controller: finds the description files in the bundle,
// scans the machine for the products they describe, and drives the product
// chooser, the summary text and the remove button. The work itself lives in
// its parts: DescriptionParser (the scan), FolderLister (folder expansion),
// ReceiptCheck (receipts), Remover (the removal and its privileged runs) and
// the prefs module (preference values); the controller forwards to them
// under the names the rest of the system calls.

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "core/description_parser.h"
#include "core/folder_lister.h"
#include "core/product.h"
#include "core/receipt_check.h"
#include "core/remover.h"
#include "core/scan_relay.h"
#include "platform/alert.h"
#include "platform/authorization.h"
#include "platform/bundle.h"
#include "platform/controls.h"
#include "platform/main_thread.h"
#include "platform/prefs_store.h"
#include "platform/process_info.h"
#include "platform/system_log.h"

namespace tavo {

/// What the controller works through; none of it is owned, and each must
/// outlive the controller.
struct UninstallerCollaborators {
  PrefsStore& store;
  SystemLog& log;
  const Bundle& bundle;
  const ProcessInfo& processInfo;
  MainThread& mainThread;
  Authorization& authorization;
  std::string packageTool = {};    // path of the package tool run by recpExists
  Alert* alert = nullptr;          // the removal's confirmation; without one, nothing is removed
  std::string home = {};           // the user's home folder
  std::string trash = {};          // the user's Trash folder
  std::string privateFolder = {};  // a folder private to the user, for the list file
};

class Uninstaller {
 public:
  /// Finds the resource "unins.txt" and the description files
  /// (Products/*.txt) and writes the start-up log lines. The product list
  /// stays null until the first parse.
  explicit Uninstaller(UninstallerCollaborators collaborators);
  Uninstaller(const Uninstaller&) = delete;
  Uninstaller& operator=(const Uninstaller&) = delete;

  /// The body of the scan worker thread: parses, telling `relay` each
  /// product it starts on, then hands the menu items, the summary and
  /// `relay.scanFinished()` to the main thread as one unit and waits for them.
  void scan(ScanRelay& relay);

  /// Keeps `path` as the logged resource path and parses again; the menu is
  /// not rebuilt.
  void runWithConfigPath(std::optional<std::string> path);

  /// Replaces the product list by reading every description file in turn.
  void parse();

  /// Shows the selected product's summary in the text view and enables the
  /// remove button; with nothing selected, "There is nothing to uninstall"
  /// and a disabled button.
  void listButtonValueChanged();

  /// Removes the selected product; on success its item leaves the chooser
  /// and the next selection's summary is shown, otherwise the remove button
  /// is usable again and nothing else changes.
  void removeClicked();

  /// Asks a running scan to stop at its next step and ends a package tool
  /// it waits for; the closing steps still run. Safe from any thread.
  void cancelScan() { _cancelled = true; }

  // Forwarders to the parts, under the names the rest of the system uses.
  void listnadd(const std::string& path, Product& toProduct) { lister_.listnadd(path, toProduct); }
  void FileLister(const std::string& path, const std::string& Ext,
                  std::vector<std::string>& FilesArray, bool SeeBundleAsFile) {
    lister_.FileLister(path, Ext, FilesArray, SeeBundleAsFile);
  }
  bool recpExists(const std::string& identifier) { return receipts_.recpExists(identifier); }
  bool removeProduct(const Product& product) { return remover_.removeProduct(product); }
  RunResult forgetPkg(const std::string& id) { return remover_.runs().forgetPkg(id); }
  RunResult unlinkPkg(const std::string& id) { return remover_.runs().unlinkPkg(id); }
  RunResult rmAdmin(const std::string& listPath) { return remover_.runs().rmAdmin(listPath); }
  RunResult deleteAnyUserPrefKey(const std::string& domain,
                                 const std::vector<std::string>& WithKeyNames) {
    return remover_.runs().deleteAnyUserPrefKey(domain, WithKeyNames);
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
  const ProductList* products() const { return _products ? &*_products : nullptr; }
  const std::vector<std::string>& configPaths() const { return _configPaths; }
  bool freeAuth() { return remover_.runs().freeAuth(); }

  TextView* textView() const { return _textView; }
  void setTextView(TextView* textView) { _textView = textView; }
  PopUpButton* listButton() const { return _listButton; }
  void setListButton(PopUpButton* listButton) { _listButton = listButton; }
  Button* removeButton() const { return _removeButton; }
  void setRemoveButton(Button* removeButton) { _removeButton = removeButton; }

 private:
  void logStartup();

  UninstallerCollaborators c_;
  std::atomic<bool> _cancelled{false};
  FolderLister lister_;
  ReceiptCheck receipts_;
  DescriptionParser parser_;
  Remover remover_;
  std::optional<std::string> _configPath;  // "unins.txt": logged, read by nothing
  std::vector<std::string> _configPaths;   // the description files, sorted by name
  std::optional<ProductList> _products;
  TextView* _textView = nullptr;
  PopUpButton* _listButton = nullptr;
  Button* _removeButton = nullptr;
};

}  // namespace tavo
