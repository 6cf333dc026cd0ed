#include "core/remover.h"

#include "core/log_lines.h"
#include "safety/sweeper_lines.h"
#include "prefs/key_path.h"
#include "core/list_file.h"

namespace tavo {
namespace {

// True when sweeper reported `entry` moved whole.
bool reportedMoved(const std::vector<std::string>& lines, const std::string& entry) {
  for (const std::string& text : lines) {
    std::optional<sweeperlines::Line> line = sweeperlines::decode(text);
    if (line && line->kind == sweeperlines::Kind::Moved && line->path == entry) return true;
  }
  return false;
}

}  // namespace

Remover::Remover(RemoverCollaborators collaborators)
    : c_(std::move(collaborators)), runs_(c_.authorization, c_.log, c_.tools, c_.helperWait) {}

bool Remover::ran(RunResult result, const std::string& what, bool& complete) {
  if (result == RunResult::NotRun) return false;
  if (result == RunResult::Failed) {
    c_.log.line("Removal: " + what + " reported a failure");
    complete = false;
  }
  return true;
}

// Writes `entries` to the list file and has sweeper move them. False when
// the list could not be written or sweeper's run was not made; entries that
// may never be removed are logged and left alone.
bool Remover::moveToTrash(const Product::List& entries, bool& complete) {
  auto bundleFile = c_.bundle.pathForResource("listPath", "txt");
  auto listFile = chooseListFile(bundleFile.value_or(""), c_.privateFolder, c_.log);
  if (!listFile) return false;
  int written = writeListFile(*listFile, entries, safety(), c_.log);
  if (written < 0) return false;
  if (written == 0) return true;
  if (!ran(runs_.rmAdmin(*listFile, static_cast<std::size_t>(written)), "sweeper", complete))
    return false;
  for (const std::string& entry : entries)
    if (reportedMoved(runs_.sweeperLines(), entry)) lastReport_.moved.push_back(entry);
  return true;
}

// Splits "domain::A/B" at its first "::" and deletes the value for the
// current user, then for all users.
bool Remover::deletePreferenceValue(const std::string& entry, bool& complete) {
  auto colons = entry.find("::");
  if (colons == std::string::npos) {
    c_.log.line(loglines::kNotAPreferenceValue + entry);
    complete = false;
    return true;
  }
  std::string domain = entry.substr(0, colons);
  std::vector<std::string> names = prefs::splitKeyPath(entry.substr(colons + 2));
  bool gone = prefs::deleteCurrentUserPrefKey(c_.store, domain, names) ||
              !prefs::prefExists(c_.store, domain, entry.substr(colons + 2));
  if (!gone) complete = false;  // still there: the store logged why it could not write
  RunResult anyUser = runs_.deleteAnyUserPrefKey(domain, names);
  if (gone && anyUser == RunResult::Succeeded) lastReport_.deleted.push_back(entry);
  return ran(anyUser, "keyscrub for " + entry, complete);
}

bool Remover::removeProduct(const Product& product, const std::vector<const Product*>& others) {
  lastConfirmed_ = false;
  if (!c_.alert) return false;
  RemovalPreview preview = previewRemoval(product, others, safety());
  std::string informative = product.name().value_or("");
  if (std::string extra = previewText(preview); !extra.empty()) informative += "\n\n" + extra;
  if (c_.alert->runModal("You are about to remove this product:", informative, "Remove", "Skip") ==
      Alert::kSecondButtonReturn)
    return false;
  lastConfirmed_ = true;
  lastPreview_ = preview;
  lastReport_ = RemovalReport();
  lastReport_.kept = preview.kept;

  bool complete = true;
  if (!product.dirs().empty() && !moveToTrash(product.dirs(), complete)) return false;
  for (const std::string& receipt : product.recps()) {
    RunResult result = runs_.forgetPkg(receipt);
    if (!ran(result, "pkgutil --forget " + receipt, complete)) return false;
    if (result == RunResult::Succeeded) lastReport_.forgotten.push_back(receipt);
  }
  if (!product.prefFiles().empty() && !moveToTrash(product.prefFiles(), complete)) return false;
  for (const std::string& entry : product.prefVars())
    if (!deletePreferenceValue(entry, complete)) return false;
  if (!preview.kept.empty())
    c_.alert->showInformation("These entries were kept where they are:", keptText(preview.kept));
  return complete;
}

}  // namespace tavo
