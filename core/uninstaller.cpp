// The controller's creation, scan, summary and remove button; the rest is
// forwarded to the session.

#include "core/uninstaller.h"

#include <algorithm>

#include "core/disk_usage.h"
#include "core/summary.h"
#include "core/log_lines.h"
#include "core/startup_log.h"
#include "prefs/key_path.h"

namespace tavo {

Uninstaller::Uninstaller(std::unique_ptr<RemovalSession> session, const ProcessInfo& processInfo,
                         MainThread& mainThread)
    : session_(std::move(session)), processInfo_(processInfo), mainThread_(mainThread) {
  _configPath = logStartup(session_->log(), session_->bundle(), processInfo_);
}

Uninstaller::~Uninstaller() { stopSizeCount(); }

void Uninstaller::parse() { session_->scan(); }

void Uninstaller::scan(ScanRelay& relay) {
  const ProductList& products = session_->scan(&relay);
  session_->log().line(loglines::kProductsFound + std::to_string(products.size()));
  // Everything that touches a control runs on the main thread, in one unit,
  // after the list is complete.
  mainThread_.runAndWait([this, &relay, &products] {
    if (_rescanLine) _rescanLine->setText("");
    if (_listButton) {
      _listButton->removeAllItems();
      for (std::size_t i = 0; i < products.size(); ++i)
        _listButton->addItem(products[i]->name().value_or(""), static_cast<long>(i));
    }
    listButtonValueChanged();
    updateUndoItem();
    relay.scanFinished();
  });
}

void Uninstaller::runWithConfigPath(std::optional<std::string> path) {
  _configPath = std::move(path);
  parse();
}

const Product* Uninstaller::selected() const {
  long tag = _listButton ? _listButton->selectedTag() : -1;
  const ProductList* products = session_->products();
  if (!products || tag < 0 || static_cast<std::size_t>(tag) >= products->size()) return nullptr;
  return (*products)[static_cast<std::size_t>(tag)].get();
}

void Uninstaller::listButtonValueChanged() {
  const Product* product = selected();
  std::string text = product ? summaryText(*product) : std::string(kNothingToUninstall);
  if (_textView) _textView->setString(text);
  if (_removeButton) _removeButton->setEnabled(product != nullptr);
  if (product) {
    countSize(*product);
    return;
  }
  // A count still under way, or done and not yet shown, is of a product no
  // longer selected.
  stopSizeCount();
  ++sizeGeneration_;
  if (_sizeLine) _sizeLine->setText("");
}

void Uninstaller::countSize(const Product& product) {
  stopSizeCount();
  if (!_sizeLine) return;
  _sizeLine->setText("Counting…");
  std::vector<std::string> roots = product.dirs();
  roots.insert(roots.end(), product.prefFiles().begin(), product.prefFiles().end());
  auto cancelled = sizeCancelled_ = std::make_shared<std::atomic<bool>>(false);
  unsigned long generation = ++sizeGeneration_;
  // The worker never waits for the main thread, so stopping it can join it.
  sizeThread_ = std::thread([this, roots = std::move(roots), cancelled, generation] {
    std::string text = usageText(diskUsage(roots, *cancelled));
    if (*cancelled) return;
    mainThread_.post([this, text, generation] {
      if (generation == sizeGeneration_ && _sizeLine) _sizeLine->setText(text);
    });
  });
}

void Uninstaller::stopSizeCount() {
  if (sizeCancelled_) *sizeCancelled_ = true;
  if (sizeThread_.joinable()) sizeThread_.join();
}

void Uninstaller::removeClicked() {
  if (_removeButton) _removeButton->setEnabled(false);
  const Product* product = selected();
  if (!product) {
    listButtonValueChanged();
    return;
  }
  long tag = _listButton->selectedTag();
  RemovalOutcome outcome = session_->remove(*product);
  updateUndoItem();
  if (!outcome.removed) {
    if (_removeButton) _removeButton->setEnabled(true);
    return;
  }
  _listButton->removeItemWithTag(tag);
  if (_rescanLine && !outcome.touched.empty()) _rescanLine->setText(kRescanOffer);
  listButtonValueChanged();
}

namespace {

// The newest record not undone, or end().
std::vector<RemovalRecord>::iterator undoable(std::vector<RemovalRecord>& records) {
  return std::find_if(records.begin(), records.end(), [](const RemovalRecord& r) { return !r.undone; });
}

}  // namespace

void Uninstaller::updateUndoItem() {
  if (!_undoItem) return;
  std::vector<RemovalRecord> records = session_->records();
  auto newest = undoable(records);
  _undoItem->setTitle(newest == records.end() ? "Undo Removal" : "Undo Removal of " + newest->product);
  _undoItem->setEnabled(newest != records.end());
}

bool Uninstaller::undoClicked() {
  std::vector<RemovalRecord> records = session_->records();
  auto newest = undoable(records);
  const bool confirmed = newest != records.end() && session_->undo(*newest).confirmed;
  updateUndoItem();
  return confirmed;
}

bool Uninstaller::readConfigStringValue(const std::string& domain, const std::string& WithKeyName,
                                        std::string& StrValue) {
  return prefs::readConfigStringValue(session_->store(), domain, WithKeyName, StrValue);
}

bool Uninstaller::readConfigStringValue(const std::string& domain,
                                        const std::vector<std::string>& WithKeyNames,
                                        std::string& StrValue) {
  return prefs::readConfigStringValue(session_->store(), domain, WithKeyNames, StrValue);
}

bool Uninstaller::read1stBankPath(const std::string& domain, std::string& strValue) {
  return prefs::read1stBankPath(session_->store(), domain, strValue);
}

bool Uninstaller::read1stBankSamplePath(const std::string& domain, std::string& strValue) {
  return prefs::read1stBankSamplePath(session_->store(), domain, strValue);
}

bool Uninstaller::prefExists(const std::string& domain, const std::string& WithKey) {
  return prefs::prefExists(session_->store(), domain, WithKey);
}

bool Uninstaller::deleteCurrentUserPrefKey(const std::string& domain,
                                           const std::vector<std::string>& WithKeyNames) {
  return prefs::deleteCurrentUserPrefKey(session_->store(), domain, WithKeyNames);
}

}  // namespace tavo
