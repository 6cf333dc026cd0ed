// The controller's creation, scan, summary and remove button; the rest is
// forwarded to its parts.

#include "core/uninstaller.h"

#include "core/disk_usage.h"
#include "core/summary.h"
#include "core/log_lines.h"
#include "prefs/key_path.h"

namespace tavo {
namespace {

PrivilegedTools toolsOf(const UninstallerCollaborators& c) {
  return PrivilegedTools{c.packageTool, c.bundle.pathForResource("sweeper", "").value_or(""),
                         c.bundle.pathForResource("keyscrub", "").value_or(""), c.trash};
}

}  // namespace

Uninstaller::Uninstaller(UninstallerCollaborators collaborators)
    : c_(std::move(collaborators)),
      lister_(c_.log, _cancelled),
      receipts_(c_.packageTool, c_.log, _cancelled),
      parser_({c_.store, c_.log, lister_, receipts_, _cancelled}),
      remover_({.store = c_.store,
                .log = c_.log,
                .bundle = c_.bundle,
                .alert = c_.alert,
                .authorization = c_.authorization,
                .tools = toolsOf(c_),
                .home = c_.home,
                .privateFolder = c_.privateFolder,
                .helperWait = c_.helperWait}) {
  _configPath = c_.bundle.pathForResource("unins", "txt");
  // Sorted by name, so the products come in the same order on every run.
  _configPaths = c_.bundle.pathsForResourcesOfType("txt", "Products");
  c_.log.line(loglines::kConfigPath + loglines::text(_configPath));
  logStartup();
}

Uninstaller::~Uninstaller() { stopSizeCount(); }

void Uninstaller::logStartup() {
  const ProcessInfo& info = c_.processInfo;
  std::string version = info.operatingSystemVersionString();
  c_.log.line(loglines::kOsNumber + std::to_string(info.operatingSystem()));
  c_.log.line(loglines::kOsName + info.operatingSystemName());
  c_.log.line(loglines::kOsVersion + version);
  if (version.find("10.5") != std::string::npos)
    c_.log.line(loglines::kOs105);
  else if (version.find("10.6") != std::string::npos)
    c_.log.line(loglines::kOs106);
}

void Uninstaller::parse() { _products = parser_.parse(_configPaths); }

void Uninstaller::scan(ScanRelay& relay) {
  _products = parser_.parse(_configPaths, &relay);
  c_.log.line(loglines::kProductsFound + std::to_string(_products->size()));
  // Everything that touches a control runs on the main thread, in one unit,
  // after the list is complete.
  c_.mainThread.runAndWait([this, &relay] {
    _removedTags.clear();
    if (_rescanLine) _rescanLine->setText("");
    if (_listButton) {
      _listButton->removeAllItems();
      for (std::size_t i = 0; i < _products->size(); ++i)
        _listButton->addItem((*_products)[i]->name().value_or(""), static_cast<long>(i));
    }
    listButtonValueChanged();
    relay.scanFinished();
  });
}

void Uninstaller::runWithConfigPath(std::optional<std::string> path) {
  _configPath = std::move(path);
  parse();
}

void Uninstaller::listButtonValueChanged() {
  long tag = _listButton ? _listButton->selectedTag() : -1;
  bool known = _products && tag >= 0 && static_cast<std::size_t>(tag) < _products->size();
  std::string text = known ? summaryText(*(*_products)[static_cast<std::size_t>(tag)])
                           : std::string(kNothingToUninstall);
  if (_textView) _textView->setString(text);
  if (_removeButton) _removeButton->setEnabled(known);
  if (known)
    countSize(*(*_products)[static_cast<std::size_t>(tag)]);
  else if (_sizeLine)
    _sizeLine->setText("");
}

std::vector<const Product*> Uninstaller::listedBesides(const Product* except) const {
  std::vector<const Product*> listed;
  if (!_products) return listed;
  for (std::size_t i = 0; i < _products->size(); ++i) {
    const Product* p = (*_products)[i].get();
    if (p != except && !_removedTags.count(static_cast<long>(i))) listed.push_back(p);
  }
  return listed;
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
    c_.mainThread.post([this, text, generation] {
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
  long tag = _listButton ? _listButton->selectedTag() : -1;
  if (!_products || tag < 0 || static_cast<std::size_t>(tag) >= _products->size()) {
    listButtonValueChanged();
    return;
  }
  if (!removeProduct(*(*_products)[static_cast<std::size_t>(tag)])) {
    if (_removeButton) _removeButton->setEnabled(true);
    return;
  }
  _listButton->removeItemWithTag(tag);
  _removedTags.insert(tag);
  if (_rescanLine && !remover_.lastPreview().shared.empty()) _rescanLine->setText(kRescanOffer);
  listButtonValueChanged();
}

bool Uninstaller::readConfigStringValue(const std::string& domain, const std::string& WithKeyName,
                                        std::string& StrValue) {
  return prefs::readConfigStringValue(c_.store, domain, WithKeyName, StrValue);
}

bool Uninstaller::readConfigStringValue(const std::string& domain,
                                        const std::vector<std::string>& WithKeyNames,
                                        std::string& StrValue) {
  return prefs::readConfigStringValue(c_.store, domain, WithKeyNames, StrValue);
}

bool Uninstaller::read1stBankPath(const std::string& domain, std::string& strValue) {
  return prefs::read1stBankPath(c_.store, domain, strValue);
}

bool Uninstaller::read1stBankSamplePath(const std::string& domain, std::string& strValue) {
  return prefs::read1stBankSamplePath(c_.store, domain, strValue);
}

bool Uninstaller::prefExists(const std::string& domain, const std::string& WithKey) {
  return prefs::prefExists(c_.store, domain, WithKey);
}

bool Uninstaller::deleteCurrentUserPrefKey(const std::string& domain,
                                           const std::vector<std::string>& WithKeyNames) {
  return prefs::deleteCurrentUserPrefKey(c_.store, domain, WithKeyNames);
}

}  // namespace tavo
