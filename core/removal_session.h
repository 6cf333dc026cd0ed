#pragma once
// A removal session: the scan of the machine and the removal of what it
// found, the same for every front end (the window's controller, tavo-scan,
// tavo-uninstall). It shows nothing itself: the confirmation goes to an
// Alert, sweeper's progress to a HelperWait, and each call returns what it
// did as a value.
//
// A removal has steps in one user's space (the files and folders moved to
// that user's Trash, the preference files, the values in that user's own
// preferences) and machine-wide steps (receipts forgotten, values deleted
// for all users). Each step is a function of its own, so that a removal can
// act for several users and make the machine-wide steps once; the goal of
// each is a state, so a trace already gone counts as removed.

#include <atomic>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/home.h"
#include "base/system_log.h"
#include "core/description_parser.h"
#include "core/folder_lister.h"
#include "core/interfaces/alert.h"
#include "core/interfaces/helper_wait.h"
#include "core/privileged_runs.h"
#include "core/product.h"
#include "core/receipt_check.h"
#include "core/removal_preview.h"
#include "core/removal_record.h"
#include "core/scan_relay.h"
#include "platform/authorization.h"
#include "platform/bundle.h"
#include "plist/plist_value.h"
#include "prefs/prefs_store.h"
#include "safety/product_claims.h"

namespace tavo {

/// What a session works through. None of the references is owned; each must
/// outlive the session.
struct SessionSetup {
  PrefsStore& store;  // the user's own preferences; all users' are read through it too
  Authorization& authorization;
  PrivilegedTools tools;  // the package tool (also for the scan's receipt test), sweeper, keyscrub
  SystemLog& log;
  const Bundle& bundle;             // its description files (Products/*.txt) and listPath.txt
  std::string trash = {};           // the user's Trash folder
  std::string privateFolder = {};   // a folder private to the user, for the list file
  std::string home = {};            // the user's home folder
  std::string records = {};         // the folder of the user's removal records; "": none kept
  Alert* alert = nullptr;           // the confirmation; without one nothing is removed
  HelperWait* helperWait = nullptr;  // follows sweeper's runs; null: poll(2)
  /// The account the session acts for, when root acts for another user:
  /// the scan, the preview and the deletions in the user's preferences then
  /// see the file system with that user's file-system ids and `home` as
  /// HOME, and sweeper is told whom it acts for. Null: the process's own user.
  const UserIds* actingFor = nullptr;
};

/// The tools a bundle carries: the package tool beside its programs, sweeper
/// and keyscrub among its resources; "" for each one that is missing.
PrivilegedTools bundleTools(const Bundle& bundle);

/// An item sweeper moved to a trash, with what it takes to put it back.
struct MovedItem {
  std::string path;       // as the product lists it
  std::string trashPath;  // where it lies now: TRASH/files/NAME
  std::string infoName;   // its record in TRASH/info: NAME.trashinfo
  std::string copied;     // why it was copied into the home Trash; empty when renamed
};

/// A preference value gone from one scope.
struct DeletedValue {
  std::string domain;
  std::string keyPath;                // the key names joined by "/"
  PrefUser scope;                     // Current: the user's own; Any: all users'
  std::optional<PlistValue> removed;  // what it held; nullopt when it was gone already
};

/// A step that did not reach its goal.
struct FailedStep {
  std::string step;     // "sweeper", "move PATH", "pkgutil --forget ID", "keyscrub for ENTRY"...
  std::string message;  // what went wrong
};

/// What one undo did.
struct UndoOutcome {
  bool confirmed = false;  // the user confirmed; false after "Skip", without an alert, or for a record undone before
  bool complete = false;   // every step of the record is undone
  std::vector<std::string> restored;  // what came back: paths, "receipt ID", "DOMAIN::KEY/PATH for ..."
  std::vector<FailedStep> failed;     // what did not, each named, and why
};

/// What one removal did.
struct RemovalOutcome {
  bool removed = false;    // the answer: every step ran and reached its goal
  bool confirmed = false;  // the user confirmed; false after "Skip" and without an alert
  std::vector<SharedPaths> touched;    // other products' paths inside what moves, as confirmed
  std::vector<KeptEntry> kept;         // what the safety table kept, and why
  std::vector<MovedItem> moved;        // in the order sweeper reported them
  std::vector<std::string> forgotten;  // receipts this removal forgot
  std::vector<DeletedValue> deleted;   // values gone, one per scope
  std::vector<FailedStep> failed;
  bool stopped = false;  // a privileged run could not be made: the removal ended there
};

class RemovalSession {
 public:
  ~RemovalSession();
  RemovalSession(const RemovalSession&) = delete;
  RemovalSession& operator=(const RemovalSession&) = delete;

  /// Reads every description file in turn and keeps the products found,
  /// all listed, in place of an earlier scan's. `relay`, when given, is told
  /// each product's name as its entry is read. While it runs nothing else
  /// may use the session, but cancelScan().
  const ProductList& scan(ScanRelay* relay = nullptr);
  /// The products of the last scan; nullptr before the first.
  const ProductList* products() const { return products_ ? &*products_ : nullptr; }
  /// True for a product of the last scan that no removal has taken since.
  bool listed(const Product& product) const;

  /// What removing `product` moves, keeps (and why) and takes from the other
  /// listed products, as the confirmation of remove() tells it.
  RemovalPreview preview(const Product& product) const;

  /// Asks for confirmation, naming what else goes and what the safety table
  /// keeps; then moves the product's top-level files and folders to the
  /// Trash, forgets its receipts, moves its preference files to the Trash,
  /// deletes each preference value for the user and then for all users, and
  /// shows the kept entries once more. A trace already gone counts as
  /// removed; an entry kept is a decision, not a failure. The removal stops
  /// at a privileged run that was refused or could not be made. When every
  /// step has reached its goal the outcome says removed, and the product is
  /// no longer listed.
  RemovalOutcome remove(const Product& product);

  /// The steps in the user's space alone, without asking, for a removal
  /// that acts for several users: the product's files and folders, then its
  /// preference files, moved to the user's Trash (what `preview` keeps
  /// stays), then each of its values deleted from the user's own
  /// preferences. The outcome says removed when each reached its goal. Like
  /// remove(), it keeps a record of the product's removal in the user's
  /// folder, which the machine-wide steps that follow in this session join.
  RemovalOutcome removeUserTraces(const Product& product, const RemovalPreview& preview);
  /// The machine-wide steps, made once however many users a removal acts
  /// for: each receipt forgotten, then each value entry ("domain::key/path")
  /// deleted for all users.
  RemovalOutcome removeMachineTraces(const Product::List& receipts, const Product::List& values);

  /// The records of the user's removals, newest first.
  std::vector<RemovalRecord> records() const;

  /// Asks for confirmation, naming what will come back; then undoes what the
  /// record says the removal did, in the reverse order, each step on its own:
  /// puts the values back (never over one that is there now), the items back
  /// from the Trash (sweeper --restore) and the receipts back (the package
  /// tool's --restore), refusing a receipt or value that the product's
  /// description does not name. Each step undone is marked in the record as
  /// it finishes; once every step has been tried the record is marked undone,
  /// and an undo of it does nothing more. It stops at a privileged run that
  /// was refused or could not be made, the rest left for the next undo.
  UndoOutcome undo(RemovalRecord& record);

  /// Asks a running scan to stop at its next step and ends a package tool it
  /// waits for. Safe from any thread.
  void cancelScan() { cancelled_ = true; }
  /// Lets the next scan run after a cancelled one.
  void resumeScans() { cancelled_ = false; }

  // The parts and the setup, for the controller's operations of the same names.
  FolderLister& lister() { return lister_; }
  ReceiptCheck& receipts() { return receipts_; }
  PrivilegedRuns& runs() { return runs_; }
  PrefsStore& store() { return setup_.store; }
  SystemLog& log() { return setup_.log; }
  const Bundle& bundle() const { return setup_.bundle; }
  const std::string& trash() const { return user_.trash; }
  const std::vector<std::string>& configPaths() const { return configPaths_; }

 private:
  friend std::unique_ptr<RemovalSession> openRemovalSession(SessionSetup setup);
  explicit RemovalSession(SessionSetup setup);

  /// Where the per-user steps act.
  struct UserSpace {
    std::string home, trash, privateFolder;
    PrefsStore& store;     // that user's own preferences
    RecordFolder records;  // path "" when none are kept
  };
  /// A preference value entry, "domain::key/path", taken apart.
  struct ValueEntry {
    std::string entry, domain, keyPath;
    std::vector<std::string> names;
  };

  std::vector<const Product*> listedBesides(const Product* except) const;
  /// False when a privileged run was not made: the removal stops there.
  bool runSteps(const Product& product, const std::vector<KeptEntry>& kept, RemovalOutcome& out);

  // The steps in one user's space.
  bool moveToTrash(const UserSpace& user, const Product::List& entries,
                   const std::vector<KeptEntry>& kept, RemovalOutcome& out);
  void takeSweeperLines(const std::vector<std::string>& lines, const Product::List& entries,
                        RemovalOutcome& out);
  void deleteUserValue(const UserSpace& user, const ValueEntry& value, RemovalOutcome& out);
  // The machine-wide steps.
  bool forgetReceipt(const std::string& identifier, RemovalOutcome& out);
  bool deleteAnyUserValue(const ValueEntry& value, RemovalOutcome& out);

  std::optional<ValueEntry> valueEntry(const std::string& entry, RemovalOutcome& out);
  /// Opens the record of a removal of `product` and writes it; false, the
  /// removal stopped, when it cannot be written.
  bool startRecord(const Product& product, RemovalOutcome& out);
  /// Removes the record again when no step was made.
  void endRecord();
  /// Adds a finished step to the open record and writes it.
  void recordStep(RecordStep step);
  /// Whom sweeper is told it acts for: the user root acts for, if any.
  std::optional<uid_t> sweeperFor() const;

  // The undo's steps, each a run of the record's steps of one kind.
  bool restoreItems(const UserSpace& user, RemovalRecord& record, const std::vector<std::size_t>& steps,
                    UndoOutcome& out);
  bool restoreReceipt(RecordStep& step, const ProductClaims& named, UndoOutcome& out);
  bool restoreValue(const UserSpace& user, RecordStep& step, const ProductClaims& named,
                    UndoOutcome& out);
  /// What the description files name for the product `name`.
  ProductClaims describedBy(const std::string& name) const;
  /// Writes the record, logging when it cannot be.
  void saveQuietly(const UserSpace& user, RemovalRecord& record);
  /// Logs a step whose program reported a failure, and records it unless
  /// `record` is false.
  void reportedFailure(RemovalOutcome& out, const std::string& step, bool record = true);
  /// Records a step that could not be made; false, which ends the removal.
  bool notMade(RemovalOutcome& out, const std::string& step, const std::string& why);

  SessionSetup setup_;
  UserSpace user_;
  std::atomic<bool> cancelled_{false};
  FolderLister lister_;
  ReceiptCheck receipts_;
  DescriptionParser parser_;
  PrivilegedRuns runs_;
  std::vector<std::string> configPaths_;  // the description files, sorted by name
  std::optional<ProductList> products_;
  std::set<const Product*> removed_;  // of products_, since the scan
  // The record of the removal under way, in the user's folder; the
  // machine-wide steps of a removal for several users join the last one.
  std::optional<RemovalRecord> record_;
};

/// The session every front end opens: it finds the bundle's description
/// files and starts with nothing scanned.
std::unique_ptr<RemovalSession> openRemovalSession(SessionSetup setup);

}  // namespace tavo
