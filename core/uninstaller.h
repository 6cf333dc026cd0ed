#pragma once
// The application's controller: finds the description files in the bundle,
// scans the machine for the products they describe, and drives the product
// chooser, the summary text and the remove button. The work itself lives in
// its parts: DescriptionParser (the scan), FolderLister (folder expansion),
// ReceiptCheck (receipts), Remover (the removal and its privileged runs) and
// the prefs module (preference values); the controller forwards to them
// under the names the rest of the system calls.

#include <atomic>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/description_parser.h"
#include "core/folder_lister.h"
#include "core/product.h"
#include "core/receipt_check.h"
#include "core/remover.h"
#include "core/scan_relay.h"
#include "core/interfaces/alert.h"
#include "platform/authorization.h"
#include "platform/bundle.h"
#include "core/interfaces/controls.h"
#include "core/interfaces/main_thread.h"
#include "prefs/prefs_store.h"
#include "platform/process_info.h"
#include "base/system_log.h"

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
  HelperWait* helperWait = nullptr;  // follows sweeper's runs; null: poll(2)
};

class Uninstaller {
 public:
  /// Finds the resource "unins.txt" and the description files
  /// (Products/*.txt) and writes the start-up log lines. The product list
  /// stays null until the first parse.
  explicit Uninstaller(UninstallerCollaborators collaborators);
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

  /// Asks a running scan to stop at its next step and ends a package tool
  /// it waits for; the closing steps still run. Safe from any thread.
  void cancelScan() { _cancelled = true; }
  /// Lets the next scan run after a cancelled one; on the main thread,
  /// before the scan starts.
  void resumeScans() { _cancelled = false; }

  // Forwarders to the parts, under the names the rest of the system uses.
  void listnadd(const std::string& path, Product& toProduct) { lister_.listnadd(path, toProduct); }
  void FileLister(const std::string& path, const std::string& Ext,
                  std::vector<std::string>& FilesArray, bool SeeBundleAsFile) {
    lister_.FileLister(path, Ext, FilesArray, SeeBundleAsFile);
  }
  bool recpExists(const std::string& identifier) { return receipts_.recpExists(identifier); }
  bool removeProduct(const Product& product) {
    return remover_.removeProduct(product, listedBesides(&product));
  }
  /// What the last removal did, and whether the user confirmed it.
  const RemovalReport& lastReport() const { return remover_.lastReport(); }
  bool removalConfirmed() const { return remover_.lastConfirmed(); }
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
  /// The selected product's item count and size on disk.
  void setSizeLine(TextLine* line) { _sizeLine = line; }
  /// The offer to rescan after a removal took other products' paths.
  void setRescanLine(TextLine* line) { _rescanLine = line; }

  /// The text of the rescan line.
  static constexpr const char* kRescanOffer =
      "Paths listed for other products went with it: rescan to see what is left.";

 private:
  void logStartup();
  /// The products whose items are still in the chooser, but `except`.
  std::vector<const Product*> listedBesides(const Product* except) const;
  void countSize(const Product& product);
  void stopSizeCount();

  UninstallerCollaborators c_;
  std::atomic<bool> _cancelled{false};
  FolderLister lister_;
  ReceiptCheck receipts_;
  DescriptionParser parser_;
  Remover remover_;
  std::optional<std::string> _configPath;  // "unins.txt": logged, read by nothing
  std::vector<std::string> _configPaths;   // the description files, sorted by name
  std::optional<ProductList> _products;
  std::set<long> _removedTags;  // items taken out of the chooser since the scan
  TextView* _textView = nullptr;
  PopUpButton* _listButton = nullptr;
  Button* _removeButton = nullptr;
  TextLine* _sizeLine = nullptr;
  TextLine* _rescanLine = nullptr;
  // The size count of the selection: a worker that posts its result unless
  // a newer selection (a higher generation) came first.
  std::thread sizeThread_;
  std::shared_ptr<std::atomic<bool>> sizeCancelled_;
  unsigned long sizeGeneration_ = 0;
};

}  // namespace tavo
