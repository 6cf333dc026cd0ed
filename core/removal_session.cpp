#include "core/removal_session.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "base/home.h"
#include "base/path.h"
#include "core/list_file.h"
#include "core/log_lines.h"
#include "core/user_scope.h"
#include "prefs/key_path.h"
#include "safety/path_safety.h"
#include "safety/sweeper_lines.h"

namespace tavo {
namespace {

constexpr const char* kNotRun =
    "not run: the right was refused or the program could not be started";
constexpr const char* kNotAsTheUser = "it could not be looked at as the user it belongs to";

bool holds(const Product::List& list, const std::string& entry) {
  return std::find(list.begin(), list.end(), entry) != list.end();
}

// The records are kept for the user the session acts for, or else for the
// owner of the home, as sweeper acts for the owner of the Trash's folders:
// root removing for a user keeps the record in their folder, as them.
RecordFolder recordFolder(const SessionSetup& setup) {
  struct stat st;
  if (setup.actingFor) return {setup.records, *setup.actingFor};
  if (setup.home.empty() || ::stat(setup.home.c_str(), &st) != 0 || st.st_uid == ::geteuid())
    return {setup.records, std::nullopt};
  return {setup.records, userIdsOf(st.st_uid)};
}

}  // namespace

PrivilegedTools bundleTools(const Bundle& bundle) {
  return {bundle.pathForAuxiliaryExecutable("pkgutil").value_or(""),
          bundle.pathForResource("sweeper", "").value_or(""),
          bundle.pathForResource("keyscrub", "").value_or("")};
}

std::unique_ptr<RemovalSession> openRemovalSession(SessionSetup setup) {
  return std::unique_ptr<RemovalSession>(new RemovalSession(std::move(setup)));
}

RemovalSession::RemovalSession(SessionSetup setup)
    : setup_(std::move(setup)),
      user_{setup_.home, setup_.trash, setup_.privateFolder, setup_.store, recordFolder(setup_)},
      lister_(setup_.log, cancelled_),
      receipts_(setup_.tools.packageTool, setup_.log, cancelled_),
      parser_({setup_.store, setup_.log, lister_, receipts_, cancelled_}),
      runs_(setup_.authorization, setup_.log, setup_.tools, setup_.helperWait),
      // Sorted by name, so the products come in the same order on every run.
      configPaths_(setup_.bundle.pathsForResourcesOfType("txt", "Products")) {}

RemovalSession::~RemovalSession() = default;

const ProductList& RemovalSession::scan(ScanRelay* relay) {
  removed_.clear();
  UserScope scope(setup_.actingFor, user_.home);
  if (!scope.ok()) {
    setup_.log.line(loglines::kCannotActFor + user_.home);
    products_.emplace();
    return *products_;
  }
  products_ = parser_.parse(configPaths_, relay);
  return *products_;
}

bool RemovalSession::listed(const Product& product) const {
  if (!products_ || removed_.count(&product)) return false;
  return std::any_of(products_->begin(), products_->end(),
                     [&](const auto& p) { return p.get() == &product; });
}

std::vector<const Product*> RemovalSession::listedBesides(const Product* except) const {
  std::vector<const Product*> listed;
  if (!products_) return listed;
  for (const auto& p : *products_)
    if (p.get() != except && !removed_.count(p.get())) listed.push_back(p.get());
  return listed;
}

RemovalPreview RemovalSession::preview(const Product& product) const {
  UserScope scope(setup_.actingFor, user_.home);
  if (scope.ok())
    return previewRemoval(product, listedBesides(&product), SafetyCheck({user_.home, user_.trash}));
  // Not looked at as the user: nothing of it may move.
  setup_.log.line(loglines::kCannotActFor + user_.home);
  RemovalPreview keepAll;
  for (const Product::List* list : {&product.dirs(), &product.prefFiles()})
    for (const std::string& entry : *list) keepAll.kept.push_back({entry, kNotAsTheUser});
  return keepAll;
}

RemovalOutcome RemovalSession::remove(const Product& product) {
  RemovalOutcome out;
  Alert* alert = setup_.alert;
  if (!alert) return out;
  // One check for the whole removal: what the confirmation says is kept is
  // what the list files leave out and what the report names.
  RemovalPreview preview = this->preview(product);
  std::string informative = product.name().value_or("");
  if (std::string extra = previewText(preview); !extra.empty()) informative += "\n\n" + extra;
  if (alert->runModal("You are about to remove this product:", informative, "Remove", "Skip") ==
      Alert::kSecondButtonReturn)
    return out;
  out.confirmed = true;
  out.touched = preview.shared;
  out.kept = preview.kept;
  if (!startRecord(product, out)) return out;
  const bool made = runSteps(product, preview.kept, out);
  endRecord();
  record_.reset();
  if (!made) return out;
  if (!preview.kept.empty())
    alert->showInformation("These entries were kept where they are:", keptText(preview.kept));
  out.removed = out.failed.empty();
  if (out.removed && listed(product)) removed_.insert(&product);
  return out;
}

// The steps in their fixed order, for the one user of the session.
bool RemovalSession::runSteps(const Product& product, const std::vector<KeptEntry>& kept,
                              RemovalOutcome& out) {
  if (!product.dirs().empty() && !moveToTrash(user_, product.dirs(), kept, out)) return false;
  for (const std::string& receipt : product.recps())
    if (!forgetReceipt(receipt, out)) return false;
  if (!product.prefFiles().empty() && !moveToTrash(user_, product.prefFiles(), kept, out))
    return false;
  for (const std::string& entry : product.prefVars()) {
    std::optional<ValueEntry> value = valueEntry(entry, out);
    if (!value) continue;
    deleteUserValue(user_, *value, out);
    if (!deleteAnyUserValue(*value, out)) return false;
  }
  return true;
}

RemovalOutcome RemovalSession::removeUserTraces(const Product& product,
                                                const RemovalPreview& preview) {
  RemovalOutcome out;
  out.confirmed = true;
  out.touched = preview.shared;
  out.kept = preview.kept;
  if (!startRecord(product, out)) return out;
  bool made = (product.dirs().empty() || moveToTrash(user_, product.dirs(), preview.kept, out)) &&
              (product.prefFiles().empty() ||
               moveToTrash(user_, product.prefFiles(), preview.kept, out));
  for (const std::string& entry : product.prefVars()) {
    if (!made) break;
    if (std::optional<ValueEntry> value = valueEntry(entry, out)) deleteUserValue(user_, *value, out);
  }
  endRecord();  // left open for the machine-wide steps that may follow
  out.removed = made && out.failed.empty();
  return out;
}

RemovalOutcome RemovalSession::removeMachineTraces(const Product::List& receipts,
                                                   const Product::List& values) {
  RemovalOutcome out;
  out.confirmed = true;
  if (record_ && record_->id.empty()) saveQuietly(user_, *record_);  // before anything changes
  bool made = true;
  for (const std::string& receipt : receipts) {
    if (!(made = forgetReceipt(receipt, out))) break;
  }
  for (const std::string& entry : values) {
    if (!made) break;
    if (std::optional<ValueEntry> value = valueEntry(entry, out)) made = deleteAnyUserValue(*value, out);
  }
  out.removed = made && out.failed.empty();
  return out;
}

void RemovalSession::reportedFailure(RemovalOutcome& out, const std::string& step, bool record) {
  setup_.log.line(loglines::kStepFailedBefore + step + loglines::kStepFailedAfter);
  if (record) out.failed.push_back({step, "reported a failure"});
}

void RemovalSession::saveQuietly(const UserSpace& user, RemovalRecord& record) {
  std::string error;
  if (!saveRecord(user.records, record, error)) setup_.log.line(loglines::kRecordNotWritten + error);
}

std::optional<uid_t> RemovalSession::sweeperFor() const {
  // Root acting for another user names them: a Trash of theirs tells nothing.
  if (setup_.actingFor && setup_.actingFor->uid != ::geteuid()) return setup_.actingFor->uid;
  return std::nullopt;
}

bool RemovalSession::startRecord(const Product& product, RemovalOutcome& out) {
  record_.reset();
  if (user_.records.path.empty()) return true;
  // Kept before anything changes, so that whatever the removal does can be undone.
  record_ = RemovalRecord{"", product.name().value_or(""), product.vendor().value_or(""),
                          recordTimeNow(), std::nullopt, {}};
  std::string error;
  if (saveRecord(user_.records, *record_, error)) return true;
  setup_.log.line(loglines::kRecordNotWritten + error);
  record_.reset();
  // Nothing is removed that could not be undone; other users' removals go on.
  out.failed.push_back({"removal record", error});
  return false;
}

void RemovalSession::endRecord() {
  if (!record_ || !record_->steps.empty() || record_->id.empty()) return;
  removeRecord(user_.records, record_->id);  // it did nothing
  record_->id.clear();
}

void RemovalSession::recordStep(RecordStep step) {
  if (!record_) return;
  record_->steps.push_back(std::move(step));
  saveQuietly(user_, *record_);
}

bool RemovalSession::notMade(RemovalOutcome& out, const std::string& step, const std::string& why) {
  out.failed.push_back({step, why});
  out.stopped = true;
  return false;
}

// Writes the entries that are not kept to the list file and has sweeper
// move them to the user's Trash.
bool RemovalSession::moveToTrash(const UserSpace& user, const Product::List& entries,
                                 const std::vector<KeptEntry>& kept, RemovalOutcome& out) {
  auto bundleFile = setup_.bundle.pathForResource("listPath", "txt");
  auto listFile = chooseListFile(bundleFile.value_or(""), user.privateFolder, setup_.log);
  if (!listFile) return notMade(out, "list file", "no private place to write it");
  int written = writeListFile(*listFile, entries, kept, setup_.log);
  if (written < 0) return notMade(out, "list file", "cannot write " + *listFile);
  if (written == 0) return true;
  SweeperRun run =
      runs_.rmAdmin(user.trash, *listFile, static_cast<std::size_t>(written), sweeperFor());
  if (run.result == RunResult::NotRun) return notMade(out, "sweeper", kNotRun);
  std::size_t failures = out.failed.size();
  takeSweeperLines(run.lines, entries, out);
  // Its lines say what failed; its status alone, when they do not.
  if (run.result == RunResult::Failed)
    reportedFailure(out, "sweeper", out.failed.size() == failures);
  return true;
}

// What sweeper reported of the listed entries; lines about anything else,
// and lines it does not write, are passed over.
void RemovalSession::takeSweeperLines(const std::vector<std::string>& lines,
                                      const Product::List& entries, RemovalOutcome& out) {
  using sweeperlines::Kind;
  for (const std::string& text : lines) {
    std::optional<sweeperlines::Line> line = sweeperlines::decode(text);
    if (!line || line->kind == Kind::Copying) continue;
    if (line->kind == Kind::Fatal) {
      out.failed.push_back({"sweeper", line->detail});
      continue;
    }
    if (!holds(entries, line->path)) continue;
    switch (line->kind) {
      case Kind::Moved:
        out.moved.push_back(
            {line->path, line->where, baseName(line->where) + ".trashinfo", line->copied});
        recordStep({.path = line->path, .trashItem = line->where, .infoName = out.moved.back().infoName});
        break;
      case Kind::Skipped:
        setup_.log.line(loglines::kAlreadyGone + line->path);
        break;
      case Kind::PartlyMoved:
        out.failed.push_back(
            {"move " + line->path, "partly moved to " + line->where + ": " + line->detail});
        break;
      default:  // Refused, NotMoved
        out.failed.push_back({"move " + line->path, line->detail});
        break;
    }
  }
}

std::optional<RemovalSession::ValueEntry> RemovalSession::valueEntry(const std::string& entry,
                                                                     RemovalOutcome& out) {
  auto colons = entry.find("::");
  if (colons == std::string::npos) {
    setup_.log.line(loglines::kNotAPreferenceValue + entry);
    out.failed.push_back({entry, "is not a preference value"});
    return std::nullopt;
  }
  std::string keyPath = entry.substr(colons + 2);
  return ValueEntry{entry, entry.substr(0, colons), keyPath, prefs::splitKeyPath(keyPath)};
}

void RemovalSession::deleteUserValue(const UserSpace& user, const ValueEntry& value,
                                     RemovalOutcome& out) {
  UserScope scope(setup_.actingFor, user.home);
  if (!scope.ok()) {
    out.failed.push_back({"preferences of " + value.entry, kNotAsTheUser});
    return;
  }
  PlistValue removed;
  // Where it stands among its neighbours is kept too: the first bank is the player's.
  std::optional<std::size_t> position =
      prefs::prefPositionAt(user.store, value.domain, value.names, PrefUser::Current, PrefHost::Any);
  prefs::KeyDeletion done = prefs::deletePrefKey(user.store, value.domain, value.names,
                                                 PrefUser::Current, PrefHost::Any, &removed);
  if (done == prefs::KeyDeletion::Deleted) {
    recordStep({.kind = RecordStep::Kind::Deleted, .domain = value.domain, .keyPath = value.keyPath,
                .scope = PrefUser::Current, .value = removed, .position = position});
    out.deleted.push_back({value.domain, value.keyPath, PrefUser::Current, std::move(removed)});
    return;
  }
  // A write-back that failed leaves the value in place; the store logged why.
  if (done != prefs::KeyDeletion::Absent &&
      prefs::prefExists(user.store, value.domain, value.keyPath)) {
    out.failed.push_back({"preferences of " + value.entry, "could not be written back"});
    return;
  }
  // A single name names a top-level value, which is never deleted.
  if (value.names.size() > 1)
    setup_.log.line(loglines::kAlreadyGone + value.entry + " for the current user");
  out.deleted.push_back({value.domain, value.keyPath, PrefUser::Current, std::nullopt});
}

// A receipt that is already gone (forgotten by an earlier removal that failed
// at a later step, or by another product that lists it) is what forgetting
// aims at.
bool RemovalSession::forgetReceipt(const std::string& identifier, RemovalOutcome& out) {
  const std::string step = "pkgutil --forget " + identifier;
  // What the forget takes is read first, for the record.
  std::optional<PlistDict> receipt = record_ ? receipts_.exportReceipt(identifier) : std::nullopt;
  RunResult result = runs_.forgetPkg(identifier);
  if (result == RunResult::NotRun) return notMade(out, step, kNotRun);
  if (result == RunResult::Succeeded) {
    recordStep({.kind = RecordStep::Kind::Forgot, .identifier = identifier, .receipt = std::move(receipt)});
    out.forgotten.push_back(identifier);
  }
  else if (receipts_.receiptGone(identifier))
    setup_.log.line(std::string(loglines::kAlreadyGone) + "receipt " + identifier);
  else
    reportedFailure(out, step);
  return true;
}

bool RemovalSession::deleteAnyUserValue(const ValueEntry& value, RemovalOutcome& out) {
  // keyscrub tells only whether it could write: what it removes is read first.
  std::optional<PlistValue> before =
      prefs::prefValueAt(setup_.store, value.domain, value.names, PrefUser::Any, PrefHost::Current);
  std::optional<std::size_t> position =
      prefs::prefPositionAt(setup_.store, value.domain, value.names, PrefUser::Any, PrefHost::Current);
  const std::string step = "keyscrub for " + value.entry;
  RunResult result = runs_.deleteAnyUserPrefKey(value.domain, value.names);
  if (result == RunResult::NotRun) return notMade(out, step, kNotRun);
  if (result == RunResult::Failed) {
    reportedFailure(out, step);
    return true;
  }
  if (!before && value.names.size() > 1)
    setup_.log.line(loglines::kAlreadyGone + value.entry + " for all users");
  if (before)
    recordStep({.kind = RecordStep::Kind::Deleted, .domain = value.domain, .keyPath = value.keyPath,
                .scope = PrefUser::Any, .value = *before, .position = position});
  out.deleted.push_back({value.domain, value.keyPath, PrefUser::Any, std::move(before)});
  return true;
}

}  // namespace tavo
