// The controller's creation, scan, summary and remove button; the rest is
// forwarded to its parts.

#include "core/uninstaller.h"

#include "core/summary.h"
#include "platform/log_lines.h"
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
                .privateFolder = c_.privateFolder}) {
  _configPath = c_.bundle.pathForResource("unins", "txt");
  // Sorted by name, so the products come in the same order on every run.
  _configPaths = c_.bundle.pathsForResourcesOfType("txt", "Products");
  c_.log.line(loglines::kConfigPath + loglines::text(_configPath));
  logStartup();
}

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
  // Everything that touches a control runs on the main thread, in one unit,
  // after the list is complete.
  c_.mainThread.runAndWait([this, &relay] {
    if (_listButton) {
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
