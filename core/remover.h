#pragma once
// Removing one product: the confirmation, then its top-level files and
// folders, its receipts, its preference files and its preference values,
// in that order.

#include <string>

#include "core/product.h"
#include "core/removal_preview.h"
#include "core/interfaces/alert.h"
#include "platform/authorization.h"
#include "platform/bundle.h"
#include "core/interfaces/helper_wait.h"
#include "prefs/prefs_store.h"
#include "base/system_log.h"
#include "core/privileged_runs.h"

namespace tavo {

/// What the removal works through; none of it is owned.
struct RemoverCollaborators {
  PrefsStore& store;
  SystemLog& log;
  const Bundle& bundle;  // holds the list file "listPath.txt"
  Alert* alert;          // the confirmation; without one, nothing is removed
  Authorization& authorization;
  PrivilegedTools tools;
  std::string home;           // the user's home folder, whose data the safety table protects
  std::string privateFolder;  // where the list file goes when the bundle's cannot be used
  HelperWait* helperWait = nullptr;  // follows sweeper's runs; null: poll(2)
};

/// What the last removal did, as far as the tools reported it.
struct RemovalReport {
  std::vector<std::string> moved;      // entries sweeper reported as moved to a Trash
  std::vector<std::string> forgotten;  // receipts the package tool forgot
  std::vector<std::string> deleted;    // preference values gone for the current user and for all users
  std::vector<KeptEntry> kept;         // entries the safety table kept
};

class Remover {
 public:
  explicit Remover(RemoverCollaborators collaborators);

  /// Asks for confirmation, telling beside the product's name which paths of
  /// `others` (the products still listed) go with it and which entries the
  /// safety table keeps; then moves the product's top-level files and
  /// folders to the Trash, forgets its receipts, moves its preference files
  /// to the Trash and deletes its preference values for the current user and
  /// for all users, and shows the kept entries once more. An entry the table
  /// keeps is a decision, not a failure. True when every step ran and
  /// succeeded; false for "Skip", as soon as a privileged run was refused or
  /// could not be made (nothing after it is run), and at the end when a step
  /// reported a failure.
  bool removeProduct(const Product& product, const std::vector<const Product*>& others = {});

  /// What the last confirmed removal found beforehand.
  const RemovalPreview& lastPreview() const { return lastPreview_; }
  /// What the last confirmed removal did.
  const RemovalReport& lastReport() const { return lastReport_; }
  /// Whether the user confirmed the last removal asked for.
  bool lastConfirmed() const { return lastConfirmed_; }
  PrivilegedRuns& runs() { return runs_; }

 private:
  SafetyContext safety() const { return {c_.home, c_.tools.trash}; }
  bool moveToTrash(const Product::List& entries, bool& complete);
  bool deletePreferenceValue(const std::string& entry, bool& complete);
  /// False when the run was not made; clears `complete` when it reported a failure.
  bool ran(RunResult result, const std::string& what, bool& complete);

  RemoverCollaborators c_;
  PrivilegedRuns runs_;
  RemovalPreview lastPreview_;
  RemovalReport lastReport_;
  bool lastConfirmed_ = false;
};

}  // namespace tavo
