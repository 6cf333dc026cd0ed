// The controller's creation, end, scan and the summary shown after it.

#include "core/uninstaller.h"

#include "core/summary.h"
#include "platform/home_folder.h"
#include "platform/log_text.h"
#include "prefs/key_path.h"

namespace tavo {

namespace {

PrivilegedTools toolsOf(const UninstallerCollaborators& c) {
  return PrivilegedTools{c.packageTool, c.bundle.pathForResource("sweeper", "").value_or(""),
                         c.bundle.pathForResource("keyscrub", "").value_or(""),
                         c.trash.empty() ? currentUserTrash() : c.trash};
}

}  // namespace

Uninstaller::Uninstaller(UninstallerCollaborators collaborators)
    : PrivilegedRuns(collaborators.authorization, collaborators.log, toolsOf(collaborators)),
      _collaborators(std::move(collaborators)),
      _textView(_collaborators.textView),
      _listButton(_collaborators.listButton),
      _removeButton(_collaborators.removeButton) {
  _configPath = _collaborators.bundle.pathForResource("unins", "txt");
  // Sorted by name, so the products come in the same order on every run.
  _configPaths = _collaborators.bundle.pathsForResourcesOfType("txt", "Products");
  _collaborators.log.line("ConfigPath: " + logText(_configPath));
  logStartup();
}

// The authorisation reference, when one was made, is freed by PrivilegedRuns.
Uninstaller::~Uninstaller() = default;

void Uninstaller::logStartup() {
  const ProcessInfo& info = _collaborators.processInfo;
  SystemLog& log = _collaborators.log;
  std::string version = info.operatingSystemVersionString();
  log.line("OS X : " + std::to_string(info.operatingSystem()));
  log.line("OS name : " + info.operatingSystemName());
  log.line("OS version : " + version);
  if (version.find("10.5") != std::string::npos)
    log.line("10.5 !");
  else if (version.find("10.6") != std::string::npos)
    log.line("10.6 !");
}

void Uninstaller::scan(ScanRelay& relay) {
  parse();
  // Everything that touches a control runs on the main thread, in one unit,
  // after the list is complete.
  _collaborators.mainThread.runAndWait([this, &relay] {
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

bool Uninstaller::readConfigStringValue(const std::string& domain, const std::string& WithKeyName,
                                        std::string& StrValue) {
  return prefs::readConfigStringValue(_collaborators.store, domain, WithKeyName, StrValue);
}

bool Uninstaller::readConfigStringValue(const std::string& domain,
                                        const std::vector<std::string>& WithKeyNames,
                                        std::string& StrValue) {
  return prefs::readConfigStringValue(_collaborators.store, domain, WithKeyNames, StrValue);
}

bool Uninstaller::read1stBankPath(const std::string& domain, std::string& strValue) {
  return prefs::read1stBankPath(_collaborators.store, domain, strValue);
}

bool Uninstaller::read1stBankSamplePath(const std::string& domain, std::string& strValue) {
  return prefs::read1stBankSamplePath(_collaborators.store, domain, strValue);
}

bool Uninstaller::prefExists(const std::string& domain, const std::string& WithKey) {
  return prefs::prefExists(_collaborators.store, domain, WithKey);
}

bool Uninstaller::deleteCurrentUserPrefKey(const std::string& domain,
                                           const std::vector<std::string>& WithKeyNames) {
  return prefs::deleteCurrentUserPrefKey(_collaborators.store, domain, WithKeyNames);
}

}  // namespace tavo
