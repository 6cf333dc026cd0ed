#pragma once
// The application's controller: finds the description files in the bundle,
// scans the machine for the products they describe, and drives the product
// chooser, the summary text and the remove button.

#include <optional>
#include <string>
#include <vector>

#include "core/product.h"
#include "core/scan_relay.h"
#include "platform/alert.h"
#include "platform/authorization.h"
#include "platform/bundle.h"
#include "platform/controls.h"
#include "platform/main_thread.h"
#include "platform/prefs_store.h"
#include "platform/process_info.h"
#include "platform/system_log.h"
#include "privileged/privileged_runs.h"

#include <atomic>

namespace tavo {

/// What the controller works through; none of it is owned, and each must
/// outlive the controller. The controls may also be connected later.
struct UninstallerCollaborators {
  PrefsStore& store;
  SystemLog& log;
  const Bundle& bundle;
  const ProcessInfo& processInfo;
  MainThread& mainThread;
  std::string packageTool = {};  // path of the package tool run by recpExists
  PopUpButton* listButton = nullptr;
  TextView* textView = nullptr;
  Button* removeButton = nullptr;
  Authorization& authorization;
  Alert* alert = nullptr;  // the removal's confirmation; without one, nothing is removed
  std::string trash = {};  // the current user's Trash; "" for the default
};

class Uninstaller : public PrivilegedRuns {
 public:
  /// Finds the resource "unins.txt" and the description files
  /// (Products/*.txt) and writes the start-up log lines. The product list
  /// stays null until the first parse.
  explicit Uninstaller(UninstallerCollaborators collaborators);
  ~Uninstaller();
  Uninstaller(const Uninstaller&) = delete;
  Uninstaller& operator=(const Uninstaller&) = delete;

  /// The body of the scan worker thread: parses, then hands the menu items,
  /// the summary and `relay.scanFinished()` to the main thread as one unit
  /// and waits for them.
  void scan(ScanRelay& relay);

  /// Keeps `path` as the logged resource path and parses again; the menu is
  /// not rebuilt.
  void runWithConfigPath(std::optional<std::string> path);

  /// Replaces the product list by reading every description file in turn.
  /// A file that cannot be read or decoded adds nothing; a malformed line is
  /// skipped; nothing stops the scan.
  void parse();

  /// Adds the folder's immediate entries, each immediate folder followed by
  /// the files below it, then the folder itself to `paths`, and the folder
  /// to `dirs`. A path that does not exist adds nothing; a file, only itself
  /// to `paths`.
  void listnadd(const std::string& path, Product& toProduct);

  /// Appends to `FilesArray`, in ascending byte order, the absolute paths of
  /// the entries below `path` whose names contain the text taken from `Ext`,
  /// walking breadth-first. With `SeeBundleAsFile` a matching folder is one
  /// entry not descended into; without it no folder is listed. The paths lie
  /// under the folder's resolved location. Appends nothing when the folder
  /// cannot be resolved or opened.
  void FileLister(const std::string& path, const std::string& Ext,
                  std::vector<std::string>& FilesArray, bool SeeBundleAsFile);

  /// Shows the selected product's summary in the text view and enables the
  /// remove button; with nothing selected, "There is nothing to uninstall"
  /// and a disabled button.
  void listButtonValueChanged();

  /// Removes the selected product; on success its item leaves the chooser
  /// and the next selection's summary is shown, otherwise the remove button
  /// is usable again and nothing else changes.
  void removeClicked();

  /// Asks for confirmation, then moves the product's top-level files and
  /// folders to the Trash, forgets its receipts, moves its preference files
  /// to the Trash and deletes its preference values for the current user and
  /// for all users. True only when every step ran; false for "Skip", and as
  /// soon as a privileged run was refused or could not be made, in which
  /// case nothing after it is run.
  bool removeProduct(const Product& product);

  /// Asks a running scan to stop at its next step; the closing steps still
  /// run. Safe from any thread.
  void cancelScan() { _cancelled = true; }

  /// True when the package tool, run with "--files" and `identifier`, exits
  /// with status 0; false for any other end and when it cannot be started.
  bool recpExists(const std::string& identifier);

  // Preference routines, forwarded to the preferences module with this
  // controller's store; each answers false and leaves `StrValue` untouched
  // when the value is not there.
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
  const std::optional<std::string>& configPath() const { return _configPath; }
  const std::vector<std::string>& configPaths() const { return _configPaths; }
  bool freeAuth() const { return _freeAuth; }
  const Bundle& bundle() const { return _collaborators.bundle; }

  TextView* textView() const { return _textView; }
  void setTextView(TextView* textView) { _textView = textView; }
  PopUpButton* listButton() const { return _listButton; }
  void setListButton(PopUpButton* listButton) { _listButton = listButton; }
  Button* removeButton() const { return _removeButton; }
  void setRemoveButton(Button* removeButton) { _removeButton = removeButton; }

 private:
  void logStartup();
  void parseFile(const std::string& configPath);
  void parseBodyLine(const std::string& line, Product& product);
  void parsePathLine(const std::string& domain, const std::string& key, Product& product);
  void parseEnsLine(const std::string& presetName, Product& product);
  void parsePlainPathLine(const std::string& line, Product& product);
  bool moveToTrash(const Product::List& entries, bool& complete);

  UninstallerCollaborators _collaborators;
  std::optional<std::string> _configPath;  // "unins.txt": logged, read by nothing
  std::vector<std::string> _configPaths;   // the description files, sorted by name
  std::optional<ProductList> _products;
  TextView* _textView;
  PopUpButton* _listButton;
  Button* _removeButton;
  std::atomic<bool> _cancelled{false};
};

}  // namespace tavo
