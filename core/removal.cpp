// Removing the selected product: the confirmation, then its files, receipts,
// preference files and preference values, in that order.

#include "core/uninstaller.h"
#include "platform/home_folder.h"
#include "prefs/key_path.h"  // splitKeyPath
#include "privileged/list_file.h"

namespace tavo {

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

// Writes `entries` to the list file and has sweeper move them. False when
// the list could not be written or sweeper's run was not made; entries that
// may never be removed are logged, left alone and clear `complete`.
bool Uninstaller::moveToTrash(const Product::List& entries, bool& complete) {
  SystemLog& log = _collaborators.log;
  auto bundleFile = _collaborators.bundle.pathForResource("listPath", "txt");
  auto listFile = chooseListFile(bundleFile.value_or(""), defaultPrivateFolder(), log);
  if (!listFile) return false;
  SafetyContext safety{currentHomeFolder(), tools().trash};
  int written = writeListFile(*listFile, entries, safety, log);
  if (written < 0) return false;
  if (written != static_cast<int>(entries.size())) complete = false;
  return written == 0 || rmAdmin(*listFile);
}

bool Uninstaller::removeProduct(const Product& product) {
  Alert* alert = _collaborators.alert;
  if (!alert || alert->runModal("You are about to remove this product:", product.name().value_or(""),
                                "Remove", "Skip") == Alert::kSecondButtonReturn)
    return false;

  bool complete = true;
  if (!product.dirs().empty() && !moveToTrash(product.dirs(), complete)) return false;
  for (const std::string& receipt : product.recps())
    if (!forgetPkg(receipt)) return false;
  if (!product.prefFiles().empty() && !moveToTrash(product.prefFiles(), complete)) return false;
  for (const std::string& entry : product.prefVars()) {
    auto colons = entry.find("::");
    if (colons == std::string::npos) {
      _collaborators.log.line("Not a preference value: " + entry);
      complete = false;
      continue;
    }
    std::string domain = entry.substr(0, colons);
    std::vector<std::string> names = prefs::splitKeyPath(entry.substr(colons + 2));
    deleteCurrentUserPrefKey(domain, names);
    if (!deleteAnyUserPrefKey(domain, names)) return false;
  }
  return complete;
}

}  // namespace tavo
